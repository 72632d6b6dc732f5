// Chooses between the AVX-512 kernels, the AVX2 kernels and the C library at run time, so the
// modules still run on processors without them (and on systems that do not save their registers).
#include "vmath.h"

#include <cmath>

#include "samples.h"
#include "vmath_isa.h"

namespace quen::vmath {

namespace {
Kernels choose_kernels() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return Kernels::Avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return Kernels::Avx2;
    return Kernels::Scalar;
}
const Kernels kKernels = choose_kernels();
}  // namespace

Kernels kernels() { return kKernels; }

void polar(const double* values, std::size_t n, double* magnitude, double* log10_magnitude, double* angle) {
    if (kKernels == Kernels::Avx512) return avx512::polar(values, n, magnitude, log10_magnitude, angle);
    if (kKernels == Kernels::Avx2) return avx2::polar(values, n, magnitude, log10_magnitude, angle);
    for (std::size_t i = 0; i < n; ++i) {
        const double re = values[2 * i], im = values[2 * i + 1];
        magnitude[i] = magnitude_of(re, im);
        log10_magnitude[i] = std::log10(magnitude[i]);
        angle[i] = std::atan2(im, re);
    }
}

void exp10(const double* x, double* y, std::size_t n) {
    if (kKernels == Kernels::Avx512) return avx512::exp10(x, y, n);
    if (kKernels == Kernels::Avx2) return avx2::exp10(x, y, n);
    for (std::size_t i = 0; i < n; ++i) y[i] = std::pow(10.0, x[i]);
}

void sincos(const double* x, double* s, double* c, std::size_t n) {
    if (kKernels == Kernels::Avx512) return avx512::sincos(x, s, c, n);
    if (kKernels == Kernels::Avx2) return avx2::sincos(x, s, c, n);
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = std::sin(x[i]);
        c[i] = std::cos(x[i]);
    }
}

}  // namespace quen::vmath
