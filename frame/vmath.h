// The maths functions of the conversions over whole arrays: xsimd's vector functions where the
// processor has AVX-512 or AVX2 with FMA (both give the same bits), the C library's scalar
// functions otherwise. Measured against quadruple precision, the vector functions err by at most
// 0.65 (log10), 2.6 (atan2), 1.8 (exp10) and 1.5 (sin, cos) units in the last place: far below
// the resolution of any sample they make.
#pragma once

#include <cstddef>

namespace quen::vmath {

// The instruction set the vector kernels run with, the widest the processor has: AVX-512, AVX2
// with FMA, or the base one. Asked once; libgcc's answers also cover the system's support for the
// registers.
enum class Kernels { Avx512, Avx2, Scalar };
Kernels kernels();

// From n complex values stored as (real, imaginary) pairs: magnitude[i] = magnitude_of(re, im)
// (the vector kernels may fuse its product and sum: within one unit in the last place),
// log10_magnitude[i] = log10(magnitude[i]), angle[i] = atan2(im, re).
void polar(const double* values, std::size_t n, double* magnitude, double* log10_magnitude, double* angle);
// y[i] = 10 to the power x[i]
void exp10(const double* x, double* y, std::size_t n);
// s[i] = sin(x[i]), c[i] = cos(x[i])
void sincos(const double* x, double* s, double* c, std::size_t n);

}  // namespace quen::vmath
