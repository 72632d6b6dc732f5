// The vector kernels of the array maths on xsimd, written once over the batch type; each
// instruction set's source includes this with its batch and namespace, compiled for that set
// alone and only called after the processor was found to have it. The same kernels serve the
// Linux and the Windows modules, so both compute the same bits.
//
// Include after defining QUEN_VMATH_ARCH (an xsimd architecture) and QUEN_VMATH_NAMESPACE.
#include <xsimd/xsimd.hpp>

#include <cstddef>
#include <limits>

#include "vmath_isa.h"

namespace quen::vmath::QUEN_VMATH_NAMESPACE {
namespace {

using Batch = xsimd::batch<double, xsimd::QUEN_VMATH_ARCH>;
constexpr std::size_t kLanes = Batch::size;

// Runs f over n elements a batch at a time; the last partial batch goes through a padded copy
// (padding 1, a harmless argument for every function here).
template <std::size_t In, std::size_t Out, class F>
void over_batches(std::size_t n, const double* const (&in)[In], double* const (&out)[Out], F f) {
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        Batch args[In];
        for (std::size_t k = 0; k < In; ++k) args[k] = Batch::load_unaligned(in[k] + i);
        Batch results[Out];
        f(args, results);
        for (std::size_t k = 0; k < Out; ++k) results[k].store_unaligned(out[k] + i);
    }
    if (i == n) return;
    alignas(64) double pad[In > Out ? In : Out][kLanes];
    Batch args[In];
    for (std::size_t k = 0; k < In; ++k) {
        for (std::size_t j = 0; j < kLanes; ++j) pad[k][j] = i + j < n ? in[k][i + j] : 1.0;
        args[k] = Batch::load_aligned(pad[k]);
    }
    Batch results[Out];
    f(args, results);
    for (std::size_t k = 0; k < Out; ++k) {
        results[k].store_aligned(pad[k]);
        for (std::size_t j = 0; i + j < n; ++j) out[k][i + j] = pad[k][j];
    }
}

}  // namespace

// The pairs are split into a block of real and a block of imaginary parts first (a loop the
// compiler vectorises), then every function runs on whole batches.
void polar(const double* values, std::size_t n, double* magnitude, double* log10_magnitude, double* angle) {
    constexpr std::size_t kBlock = 256;
    alignas(64) double re[kBlock], im[kBlock];
    for (std::size_t start = 0; start < n; start += kBlock) {
        const std::size_t count = n - start < kBlock ? n - start : kBlock;
        const double* v = values + 2 * start;
        for (std::size_t i = 0; i < count; ++i) {
            re[i] = v[2 * i];
            im[i] = v[2 * i + 1];
        }
        over_batches(count, {re, im}, {magnitude + start, log10_magnitude + start, angle + start},
                     [](const Batch* a, Batch* r) {
                         r[0] = xsimd::sqrt(a[1] * a[1] + a[0] * a[0]);
                         r[1] = xsimd::log10(r[0]);
                         r[2] = xsimd::atan2(a[1], a[0]);
                     });
    }
}

// xsimd scales by 2 to the power of the reduced argument converted to a 64-bit integer, which is
// undefined for not-a-number, the infinities and huge arguments. Beyond +-400 the exact power is
// infinite or 0 anyway (10^308.3 overflows, 10^-323.4 underflows), so those lanes get that, and
// not-a-number stays itself.
void exp10(const double* x, double* y, std::size_t n) {
    over_batches(n, {x}, {y}, [](const Batch* a, Batch* r) {
        const Batch limit(400.0), zero(0.0), infinity(std::numeric_limits<double>::infinity());
        const auto inside = xsimd::abs(a[0]) <= limit;
        const Batch outside = xsimd::select(a[0] > zero, infinity, xsimd::select(a[0] < zero, zero, a[0]));
        r[0] = xsimd::select(inside, xsimd::exp10(xsimd::select(inside, a[0], zero)), outside);
    });
}

void sincos(const double* x, double* s, double* c, std::size_t n) {
    over_batches(n, {x}, {s, c}, [](const Batch* a, Batch* r) {
        const auto [sine, cosine] = xsimd::sincos(a[0]);
        r[0] = sine;
        r[1] = cosine;
    });
}

}  // namespace quen::vmath::QUEN_VMATH_NAMESPACE
