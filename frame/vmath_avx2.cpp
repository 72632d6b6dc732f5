// AVX2 kernels of the array maths, on SLEEF's 1-ulp functions; compiled for AVX2 alone and only
// called after the processor was found to have it.
#include <immintrin.h>
#include <sleef.h>

#include <cstddef>

namespace quen::vmath::avx2 {
namespace {

// Runs f over n elements four at a time; the last partial group goes through a padded copy.
template <class F>
void over_groups(std::size_t n, F f) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) f(i, 4);
    if (i < n) f(i, n - i);
}

__m256d load(const double* p, std::size_t count) {
    if (count == 4) return _mm256_loadu_pd(p);
    alignas(32) double tmp[4] = {1, 1, 1, 1};
    for (std::size_t k = 0; k < count; ++k) tmp[k] = p[k];
    return _mm256_load_pd(tmp);
}

void store(double* p, __m256d v, std::size_t count) {
    if (count == 4) return _mm256_storeu_pd(p, v);
    alignas(32) double tmp[4];
    _mm256_store_pd(tmp, v);
    for (std::size_t k = 0; k < count; ++k) p[k] = tmp[k];
}

}  // namespace

void log10(const double* x, double* y, std::size_t n) {
    over_groups(n, [&](std::size_t i, std::size_t c) { store(y + i, Sleef_log10d4_u10avx2(load(x + i, c)), c); });
}

void atan2(const double* y, const double* x, double* out, std::size_t n) {
    over_groups(n, [&](std::size_t i, std::size_t c) {
        store(out + i, Sleef_atan2d4_u10avx2(load(y + i, c), load(x + i, c)), c);
    });
}

void exp10(const double* x, double* y, std::size_t n) {
    over_groups(n, [&](std::size_t i, std::size_t c) { store(y + i, Sleef_exp10d4_u10avx2(load(x + i, c)), c); });
}

void sincos(const double* x, double* s, double* c, std::size_t n) {
    over_groups(n, [&](std::size_t i, std::size_t count) {
        const Sleef___m256d_2 r = Sleef_sincosd4_u10avx2(load(x + i, count));
        store(s + i, r.x, count);
        store(c + i, r.y, count);
    });
}

}  // namespace quen::vmath::avx2
