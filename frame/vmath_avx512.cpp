// The vector kernels for processors with AVX-512: eight lanes, the same bits as the AVX2 ones.
#define QUEN_VMATH_ARCH avx512f
#define QUEN_VMATH_NAMESPACE avx512
#include "vmath_kernels.h"
