// Checks shared by the tests of the real-input filters: one output channel against exact
// coefficients in the half-spectrum row layout, and the influence of one input change.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "support.h"

namespace quen::test {

// The encoding written out independently of the modules' tables.
template <class S>
struct HalfEncoding {
    static constexpr double full = full_of<S>();
    // Angle -pi..pi onto 0..full.
    static double phase(double angle) { return (angle / (2 * 3.14159265358979323846) + 0.5) * full; }
    // The phase sample of a positive real coefficient.
    static constexpr double zero_angle = sizeof(S) == 1 ? 128 : sizeof(S) == 2 ? 16384 : 0.5;
};

// The row signs of the real-input filters over the first `width` columns of input channel `channel`,
// as plane `plane` of a row-major volume of planes x rows x width values.
inline void row_signed_plane(const host::Image& in, int32_t channel, int32_t width, int32_t plane,
                             std::vector<Cplx>& volume) {
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const long double v = in.value(y, x, channel);
            volume[(std::size_t(plane) * std::size_t(in.rows) + std::size_t(y)) * std::size_t(width) + std::size_t(x)] =
                (y % 2) ? -v : v;
        }
}

// Output channel `channel` against the rows x (cols - 2) coefficients at `exact` (full DFT, row-major):
// magnitude of (r, k) at column k, its phase at column n + k, and 0 in column cols - 1 for odd widths.
// A magnitude below 1 (a negative log magnitude) is stored as WriteNegativeLog says: with
// `signed_or_zero`, signed at 32 bits and 0 at the integer depths; otherwise folded onto |log m|.
template <class S>
void expect_half_spectrum(const host::Image& out, int32_t channel, const Cplx* exact, double sample_count,
                          bool signed_or_zero) {
    using E = HalfEncoding<S>;
    const int32_t width = out.cols - 2, n = width / 2 + 1;
    const double norm = log_norm<S>(sample_count);
    for (int32_t y = 0; y < out.rows; ++y) {
        for (int32_t k = 0; k < n; ++k) {
            SCOPED_TRACE(testing::Message() << "channel " << channel << " row " << y << " column " << k);
            const Cplx v = exact[std::size_t(y) * std::size_t(width) + std::size_t(k)];
            if (std::abs(v) < 1e-6L) continue;  // no stable logarithm or angle to compare
            const double log_magnitude = static_cast<double>(std::log10(std::abs(v))) / norm;
            const double magnitude = log_magnitude >= 0 || (signed_or_zero && sizeof(S) == 4) ? log_magnitude
                                     : signed_or_zero                                     ? 0.0
                                                                                          : -log_magnitude;
            const double phase = E::phase(static_cast<double>(std::arg(v)));
            if constexpr (sizeof(S) == 4) {
                EXPECT_NEAR(out.value(y, k, channel), magnitude, 1e-5 * std::max(1.0, std::fabs(magnitude)));
                EXPECT_LE(phase_distance(out.value(y, n + k, channel), phase, 1.0), 1e-6);
            } else {
                EXPECT_LE(std::fabs(out.value(y, k, channel) - std::min(magnitude, E::full)), 0.5 + 1e-6);
                EXPECT_LE(phase_distance(out.value(y, n + k, channel), phase, E::full), 0.5 + 1e-6);
            }
        }
        if (2 * n != out.cols) {
            EXPECT_EQ(out.value(y, out.cols - 1, channel), 0.0) << "row " << y;
        }
    }
}

// A random 4-plane picture through `module` with padded rows: the run must succeed, write no byte
// of the padding and leave the fourth plane as supplied. Returns the input and the output.
template <class S>
std::pair<host::Image, host::Image> run_random(const host::ModuleLibrary& module, int32_t rows, int32_t cols,
                                               uint32_t seed) {
    host::Image in = random_image<S>(rows, cols, 4, seed);
    const host::RunResult run = host::run_filter(module, in, host::RunOptions{int32_t(sizeof(S)) * 3, false});
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.padding_intact);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) EXPECT_EQ(run.image.get<S>(y, x, 3), in.get<S>(y, x, 3));
    return {std::move(in), run.image};
}

// Which output channels (planes 0 to 2) change in their first `columns` columns when `change` is
// applied to the input.
inline std::array<bool, 3> changed_channels(const host::ModuleLibrary& module, const host::Image& in,
                                            const std::function<void(host::Image&)>& change, int32_t columns) {
    host::Image other = in;
    change(other);
    const host::Image a = host::run_filter(module, in).image;
    const host::Image b = host::run_filter(module, other).image;
    std::array<bool, 3> changed{};
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < columns; ++x)
            for (int32_t p = 0; p < 3; ++p)
                if (a.value(y, x, p) != b.value(y, x, p)) changed[std::size_t(p)] = true;
    return changed;
}

}  // namespace quen::test
