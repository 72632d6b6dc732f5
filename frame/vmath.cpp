// Chooses between the AVX2 kernels and the C library at run time, so the modules still run on
// processors without AVX2 (and on systems that do not save the AVX registers).
#include "vmath.h"

#include <cmath>

namespace quen::vmath {

namespace avx2 {
void log10(const double* x, double* y, std::size_t n);
void atan2(const double* y, const double* x, double* out, std::size_t n);
void exp10(const double* x, double* y, std::size_t n);
void sincos(const double* x, double* s, double* c, std::size_t n);
}  // namespace avx2

namespace {
// Asked once; libgcc's answer also covers the operating system's support for the registers.
const bool kAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
}  // namespace

void log10(const double* x, double* y, std::size_t n) {
    if (kAvx2) return avx2::log10(x, y, n);
    for (std::size_t i = 0; i < n; ++i) y[i] = std::log10(x[i]);
}

void atan2(const double* y, const double* x, double* out, std::size_t n) {
    if (kAvx2) return avx2::atan2(y, x, out, n);
    for (std::size_t i = 0; i < n; ++i) out[i] = std::atan2(y[i], x[i]);
}

void exp10(const double* x, double* y, std::size_t n) {
    if (kAvx2) return avx2::exp10(x, y, n);
    for (std::size_t i = 0; i < n; ++i) y[i] = std::pow(10.0, x[i]);
}

void sincos(const double* x, double* s, double* c, std::size_t n) {
    if (kAvx2) return avx2::sincos(x, s, c, n);
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = std::sin(x[i]);
        c[i] = std::cos(x[i]);
    }
}

}  // namespace quen::vmath
