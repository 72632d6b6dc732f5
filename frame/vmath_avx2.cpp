// The vector kernels for processors with AVX2 and FMA.
#define QUEN_VMATH_ARCH fma3<xsimd::avx2>
#define QUEN_VMATH_NAMESPACE avx2
#include "vmath_kernels.h"
