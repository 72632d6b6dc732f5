// QuenFwd's spectrum image against a direct DFT of the centred luminance, and its special images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "support.h"

namespace quen {
namespace {

using host::Image;
using host::run_filter;
using test::full_of;

const host::ModuleLibrary& fwd() {
    static const host::ModuleLibrary module(test::module_path("QuenFwd"));
    return module;
}

// Per-depth facts written out independently of the module's own tables.
template <class S>
struct Expect {
    static constexpr double c = sizeof(S) == 4 ? 0.001 : 0.01;
    static double lum(double r, double g, double b) { return ((r * 0.333 + c) + g * 0.333) + b * 0.334; }
    static double norm(double n) { return test::log_norm<S>(n); }
    // Phase in sample units: -pi..pi onto 0..full.
    static double phase(double angle) { return (angle / (2 * 3.14159265358979323846) + 0.5) * full_of<S>(); }
};

template <class S>
class ForwardSpectrum : public ::testing::Test {};
TYPED_TEST_SUITE(ForwardSpectrum, test::Depths);

TYPED_TEST(ForwardSpectrum, MatchesDirectDftOnEvenAndOddSizes) {
    using S = TypeParam;
    using E = Expect<S>;
    const int32_t sizes[][2] = {{4, 6}, {5, 7}, {1, 9}, {8, 1}, {3, 3}, {6, 5}};
    for (const auto& size : sizes) {
        const int32_t rows = size[0], cols = size[1];
        SCOPED_TRACE(testing::Message() << rows << " x " << cols);
        const Image in = test::random_image<S>(rows, cols, 3, uint32_t(rows * 100 + cols));
        const Image out = run_filter(fwd(), in).image;

        std::vector<test::Cplx> signal(static_cast<std::size_t>(rows * cols));
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x) {
                const double lum = E::lum(in.value(y, x, 0), in.value(y, x, 1), in.value(y, x, 2));
                const double blue = out.value(y, x, 2);
                if constexpr (sizeof(S) == 4) EXPECT_EQ(blue, static_cast<double>(static_cast<float>(lum)));
                else EXPECT_EQ(blue, std::floor(lum + 0.5));
                const float signed_lum = static_cast<float>((y + x) % 2 ? -lum : lum);
                signal[static_cast<std::size_t>(y * cols + x)] = static_cast<long double>(signed_lum);
            }
        const std::vector<test::Cplx> spectrum = test::direct_dft(signal, {rows, cols});
        const double norm = E::norm(double(rows * cols));
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x) {
                const test::Cplx v = spectrum[static_cast<std::size_t>(y * cols + x)];
                const double red = static_cast<double>(std::log10(std::abs(v))) / norm;
                const double green = E::phase(static_cast<double>(std::arg(v)));
                if constexpr (sizeof(S) == 4) {
                    EXPECT_NEAR(out.value(y, x, 0), red, 1e-5 * std::max(1.0, std::fabs(red)));
                    EXPECT_LE(test::phase_distance(out.value(y, x, 1), green, 1.0), 1e-6);
                } else {
                    // Magnitudes below 1 (negative logs) are stored as 0 at the integer depths.
                    EXPECT_LE(std::fabs(out.value(y, x, 0) - std::clamp(red, 0.0, full_of<S>())), 0.5 + 1e-6);
                    EXPECT_LE(test::phase_distance(out.value(y, x, 1), green, full_of<S>()), 0.5 + 1e-6);
                }
            }
    }
}

TYPED_TEST(ForwardSpectrum, UniformImageHasOneCentredElement) {
    using S = TypeParam;
    using E = Expect<S>;
    const int32_t rows = 4, cols = 6;
    const double n = rows * cols;
    const S white = static_cast<S>(full_of<S>());
    const S grey = static_cast<S>(full_of<S>() * 0.4);
    for (S value : {white, grey}) {
        const Image out = run_filter(fwd(), test::uniform_image<S>(rows, cols, 3, value)).image;
        const double lum = static_cast<float>(E::lum(value, value, value));
        const double red = std::log10(n * lum) / E::norm(n);
        if constexpr (sizeof(S) == 4) EXPECT_FLOAT_EQ(float(out.value(2, 3, 0)), float(red));
        else EXPECT_EQ(out.value(2, 3, 0), std::min(full_of<S>(), std::floor(red + 0.5)));
        EXPECT_EQ(out.value(2, 3, 1), sizeof(S) == 1 ? 128 : sizeof(S) == 2 ? 16384 : 0.5);  // real, positive
    }
    const Image out = run_filter(fwd(), test::uniform_image<S>(rows, cols, 3, white)).image;
    // White: the largest magnitude, full scale (above 1.0 at depth 32, where nothing is clamped).
    if constexpr (sizeof(S) == 4) EXPECT_GT(out.value(2, 3, 0), 1.0);
    else EXPECT_EQ(out.value(2, 3, 0), full_of<S>());
}

TYPED_TEST(ForwardSpectrum, BlackImageIsNotAZeroSpectrum) {
    using S = TypeParam;
    using E = Expect<S>;
    const int32_t rows = 2, cols = 12;
    const double n = rows * cols;
    const Image out = run_filter(fwd(), test::uniform_image<S>(rows, cols, 3, S(0))).image;
    const double red = std::log10(n * static_cast<float>(E::c)) / E::norm(n);
    ASSERT_LT(red, 0);  // a magnitude below 1
    // A magnitude below 1: its log keeps its sign at depth 32; integer samples store 0 (absent).
    if constexpr (sizeof(S) == 4) EXPECT_FLOAT_EQ(float(out.value(1, 6, 0)), float(red));
    else EXPECT_EQ(out.value(1, 6, 0), 0);
    EXPECT_EQ(out.value(1, 6, 2), sizeof(S) == 4 ? static_cast<double>(0.001f) : 0.0);
}

TYPED_TEST(ForwardSpectrum, OnePixelKeepsItsLuminance) {
    using S = TypeParam;
    using E = Expect<S>;
    const S value = static_cast<S>(full_of<S>() * 0.5);
    const Image out = run_filter(fwd(), test::uniform_image<S>(1, 1, 3, value)).image;
    const double lum = static_cast<float>(E::lum(value, value, value));
    EXPECT_EQ(out.value(0, 0, 1), sizeof(S) == 1 ? 128 : sizeof(S) == 2 ? 16384 : 0.5);
    if constexpr (sizeof(S) == 4) {
        EXPECT_TRUE(std::isinf(out.value(0, 0, 0)) && out.value(0, 0, 0) < 0);  // log10(lum) / log10(1)
    } else {
        EXPECT_EQ(out.value(0, 0, 0), std::min(full_of<S>(), std::floor(std::log10(lum) / E::norm(1) + 0.5)));
    }
}

TEST(ForwardSpectrum, BlueIsTheLuminanceOfTheSamePixel) {
    Image in = Image::make(1, 3, 3, 8);
    const uint8_t pixels[3][3] = {{100, 0, 0}, {255, 255, 255}, {0, 0, 0}};
    for (int32_t x = 0; x < 3; ++x)
        for (int32_t p = 0; p < 3; ++p) in.set<uint8_t>(0, x, p, pixels[x][p]);
    const Image out = run_filter(fwd(), in).image;
    EXPECT_EQ(out.get<uint8_t>(0, 0, 2), 33);
    EXPECT_EQ(out.get<uint8_t>(0, 1, 2), 255);
    EXPECT_EQ(out.get<uint8_t>(0, 2, 2), 0);
}

}  // namespace
}  // namespace quen
