// The kernels of each instruction set behind vmath.h (vmath_kernels.h defines them), for the
// dispatcher that chooses among them and for the test that compares them.
#pragma once

#include <cstddef>

namespace quen::vmath {

#define QUEN_VMATH_DECLARE_KERNELS                                                                           \
    void polar(const double* values, std::size_t n, double* magnitude, double* log10_magnitude, double* angle); \
    void exp10(const double* x, double* y, std::size_t n);                                                   \
    void sincos(const double* x, double* s, double* c, std::size_t n);
namespace avx512 {
QUEN_VMATH_DECLARE_KERNELS
}
namespace avx2 {
QUEN_VMATH_DECLARE_KERNELS
}
#undef QUEN_VMATH_DECLARE_KERNELS

}  // namespace quen::vmath
