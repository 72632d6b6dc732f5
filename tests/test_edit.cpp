// Spectrum edits: their symmetry about the zero frequency in both layouts, and what the inverse
// filters make of an edited spectrum.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "edit.h"
#include "support.h"

namespace quen {
namespace {

using host::Image;
using tool::Edit;
using tool::Layout;

#define REQUIRE_MODULES(a, b)                                                                       \
    if (!test::module_exists(a) || !test::module_exists(b)) GTEST_SKIP() << a << " or " << b << " not built"

TEST(EditGeometry, ZeroFrequencyAndMagnitudeColumnsOfBothLayouts) {
    const tool::SpectrumGeometry full = tool::spectrum_geometry(6, 8, Layout::Full);
    EXPECT_EQ(full.columns, 8);
    EXPECT_EQ(full.centre_x, 4.0);
    EXPECT_EQ(full.centre_y, 3.0);
    EXPECT_EQ(full.channels, 1);
    const tool::SpectrumGeometry even = tool::spectrum_geometry(5, 8, Layout::Half);
    EXPECT_EQ(even.columns, 4);  // transform width 6, half spectrum 6 / 2 + 1
    EXPECT_EQ(even.period_x, 6);
    EXPECT_EQ(even.centre_x, 0.0);
    EXPECT_EQ(even.centre_y, 2.5);
    EXPECT_EQ(even.channels, 3);
    EXPECT_EQ(tool::spectrum_geometry(5, 9, Layout::Half).columns, 4);
    EXPECT_EQ(tool::spectrum_geometry(5, 3, Layout::Half).columns, 1);
    EXPECT_THROW(tool::spectrum_geometry(5, 2, Layout::Half), std::invalid_argument);
}

TEST(EditGeometry, NotchCentresOutsideTheMagnitudesAreRefused) {
    const auto full = tool::spectrum_geometry(6, 8, Layout::Full);
    const auto half = tool::spectrum_geometry(6, 8, Layout::Half);
    EXPECT_NO_THROW(tool::check_edit({Edit::Kind::Notch, 7, 5, 1}, full));
    EXPECT_THROW(tool::check_edit({Edit::Kind::Notch, 8, 5, 1}, full), std::invalid_argument);
    EXPECT_THROW(tool::check_edit({Edit::Kind::Notch, 3, 6, 1}, full), std::invalid_argument);
    EXPECT_THROW(tool::check_edit({Edit::Kind::Notch, 4, 1, 1}, half), std::invalid_argument);  // a phase column
    EXPECT_THROW(tool::check_edit({Edit::Kind::Lowpass, 0, 0, -1}, full), std::invalid_argument);
    EXPECT_THROW(tool::check_edit({Edit::Kind::Band, 0, 0, 3, 2}, full), std::invalid_argument);
}

// A real picture's spectrum holds each coefficient and its conjugate at the mirrored frequency;
// an edit that removed one without the other would leave the inverse a spectrum no real picture
// has. Full layout: every sample has its mirror. Half layout: only columns 0 and (even transform
// width) the last column hold both members of a pair.
TEST(EditSymmetry, EveryEditRemovesMirroredFrequenciesTogether) {
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> unit(0, 1);
    const int32_t sizes[][2] = {{8, 10}, {7, 9}, {6, 5}, {1, 12}, {9, 4}, {12, 3}};
    for (const auto& size : sizes)
        for (Layout layout : {Layout::Full, Layout::Half}) {
            const int32_t rows = size[0], cols = size[1];
            const tool::SpectrumGeometry g = tool::spectrum_geometry(rows, cols, layout);
            for (int trial = 0; trial < 40; ++trial) {
                const double r = unit(gen) * 4;
                std::vector<Edit> edits;
                switch (trial % 4) {
                case 0: edits = {{Edit::Kind::Notch, std::floor(unit(gen) * g.columns), std::floor(unit(gen) * rows), r}}; break;
                case 1: edits = {{Edit::Kind::Lowpass, 0, 0, r}}; break;
                case 2: edits = {{Edit::Kind::Highpass, 0, 0, r}}; break;
                default: edits = {{Edit::Kind::Band, 0, 0, r, r + unit(gen) * 3}}; break;
                }
                for (int32_t y = 0; y < rows; ++y)
                    for (int32_t x = 0; x < g.columns; ++x) {
                        const int32_t my = (rows - y) % rows;
                        int32_t mx = -1;
                        if (layout == Layout::Full) mx = (cols - x) % cols;
                        else if (x == 0 || 2 * x == g.period_x) mx = x;
                        if (mx < 0) continue;
                        ASSERT_EQ(tool::removes(edits, g, y, x), tool::removes(edits, g, my, mx))
                            << rows << " x " << cols << (layout == Layout::Full ? " full" : " half") << " trial "
                            << trial << " at " << y << ", " << x;
                    }
            }
        }
}

template <class S>
class SpectrumEdit : public ::testing::Test {};
TYPED_TEST_SUITE(SpectrumEdit, test::Depths);

// Only the magnitude samples of removed frequencies change: to zero. Phases, the blue luminance of
// a full spectrum and the alpha plane stay as they were.
TYPED_TEST(SpectrumEdit, ZeroesOnlyTheMagnitudesOfRemovedFrequencies) {
    using S = TypeParam;
    for (Layout layout : {Layout::Full, Layout::Half}) {
        const Image before = test::random_image<S>(10, 14, 4, 3);
        const tool::SpectrumGeometry g = tool::spectrum_geometry(10, 14, layout);
        const std::vector<Edit> edits = {{Edit::Kind::Notch, 3, 2, 1.5}, {Edit::Kind::Highpass, 0, 0, 1.2}};
        Image after = before;
        const int64_t removed = tool::apply_edits(after, layout, edits);
        int64_t zeroed = 0;
        for (int32_t y = 0; y < 10; ++y)
            for (int32_t x = 0; x < 14; ++x)
                for (int32_t p = 0; p < 4; ++p) {
                    const bool magnitude = x < g.columns && p < g.channels;
                    if (magnitude && tool::removes(edits, g, y, x)) {
                        EXPECT_EQ(after.value(y, x, p), 0.0);
                        if (p == 0) ++zeroed;
                    } else {
                        EXPECT_EQ(after.get<S>(y, x, p), before.get<S>(y, x, p)) << y << ", " << x << ", " << p;
                    }
                }
        EXPECT_EQ(removed, zeroed);
        EXPECT_GT(removed, 3);
    }
}

// A soft notch: zero within R of its centre and of the mirror, magnitudes lowered by the raised
// cosine w = (1 - cos(pi (d - R) / S)) / 2 out to R + S (in log samples: log10(w) / normaliser),
// and nothing changed beyond; near the border so that the disc wraps around the period.
TYPED_TEST(SpectrumEdit, SoftNotchLowersItsRimByARaisedCosine) {
    using S = TypeParam;
    for (Layout layout : {Layout::Full, Layout::Half}) {
        Image before = test::random_image<S>(24, 30, 3, 5);
        for (int32_t y = 0; y < 24; ++y)  // magnitudes well above 0, so none reads as absent
            for (int32_t x = 0; x < 30; ++x) before.set<S>(y, x, 0, S(test::full_of<S>() * (0.5 + 0.4 * ((x * 7 + y * 3) % 5) / 5)));
        const tool::SpectrumGeometry g = tool::spectrum_geometry(24, 30, layout);
        const Edit notch{Edit::Kind::Notch, 2, 21, 2.5, 0, 3};
        Image after = before;
        tool::apply_edits(after, layout, {notch});
        const double norm = test::log_norm<S>(double(g.rows) * g.period_x);
        for (int32_t y = 0; y < 24; ++y)
            for (int32_t x = 0; x < g.columns; ++x) {
                auto dist = [&](double cx, double cy) {
                    const double dx = std::fmod(std::fabs(x - cx), g.period_x), dy = std::fmod(std::fabs(y - cy), g.rows);
                    return std::hypot(std::min(dx, g.period_x - dx), std::min(dy, g.rows - dy));
                };
                const double d = std::min(dist(notch.x, notch.y), dist(2 * g.centre_x - notch.x, 2 * g.centre_y - notch.y));
                const double s = before.value(y, x, 0);
                double expected = s;
                if (d <= notch.radius) expected = 0;
                else if (d < notch.radius + notch.soft)
                    expected = s + std::log10(0.5 - 0.5 * std::cos(std::numbers::pi * (d - notch.radius) / notch.soft)) / norm;
                const double tolerance = sizeof(S) == 4 ? 1e-5 : 0.5 + 1e-6;
                ASSERT_NEAR(after.value(y, x, 0), std::max(expected, sizeof(S) == 4 ? expected : 0.0), tolerance)
                    << (layout == Layout::Full ? "full" : "half") << " row " << y << " column " << x << " distance " << d;
            }
    }
}

// A picture of one plane wave of (fx, fy) cycles across and down over a mid-grey, with a faint
// dither. The dither keeps every other coefficient well above magnitude 1, so none of them is
// stored as absent (integer spectrum samples hold 0 for a magnitude below 1) and the inverse gives
// back the picture but for the removed wave.
template <class S>
Image wave_picture(int32_t rows, int32_t cols, int32_t transform_cols, double fx, double fy) {
    const double full = test::full_of<S>();
    Image im = Image::make(rows, cols, 3, test::depth_of<S>());
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> dither(-0.002, 0.002);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            const double v = 0.5 + 0.2 * std::cos(2 * std::numbers::pi * (fx * x / transform_cols + fy * y / rows));
            for (int32_t p = 0; p < 3; ++p) {
                const double sample = (v + dither(gen)) * full;
                if constexpr (std::is_same_v<S, float>) im.set<S>(y, x, p, static_cast<float>(sample));
                else im.set<S>(y, x, p, static_cast<S>(std::lround(sample)));
            }
        }
    return im;
}

Image run(const std::string& name, const Image& in) {
    const host::RunResult r = host::run_filter(test::loaded_module(name), in);
    EXPECT_EQ(r.result, 0);
    return r.image;
}

TYPED_TEST(SpectrumEdit, NotchingAWavesPeakRemovesItFromTheFullInverse) {
    using S = TypeParam;
    REQUIRE_MODULES("QuenFwd", "QuenInv");
    const int32_t rows = 48, cols = 64;
    const Image picture = wave_picture<S>(rows, cols, cols, 5, 3);
    Image spectrum = run("QuenFwd", picture);
    // The wave's peaks sit 5 columns and 3 rows from the centre, and mirrored.
    double strongest = 0;
    int32_t peak_y = 0, peak_x = 0;
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            if ((y != rows / 2 || x != cols / 2) && spectrum.value(y, x, 0) > strongest) {
                strongest = spectrum.value(y, x, 0);
                peak_y = y;
                peak_x = x;
            }
    EXPECT_TRUE((peak_y == 27 && peak_x == 37) || (peak_y == 21 && peak_x == 27)) << peak_y << ", " << peak_x;

    const Image kept = run("QuenInv", spectrum);
    EXPECT_EQ(tool::apply_edits(spectrum, Layout::Full, {{Edit::Kind::Notch, 37, 27, 0.5}}), 2);
    EXPECT_EQ(spectrum.value(27, 37, 0), 0.0);
    EXPECT_EQ(spectrum.value(21, 27, 0), 0.0);
    const Image cleaned = run("QuenInv", spectrum);
    const double wave = test::wave_power(picture, cols, 5, 3);
    EXPECT_NEAR(wave, 0.02, 0.001);  // amplitude 0.2: mean square 0.02
    EXPECT_NEAR(test::wave_power(kept, cols, 5, 3), wave, wave * 0.1);
    EXPECT_LT(test::wave_power(cleaned, cols, 5, 3), wave * 1e-4);  // at least 40 dB less
    // What is left is the flat mid-grey.
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            ASSERT_NEAR(cleaned.value(y, x, 0) / test::full_of<S>(), 0.5, 0.03) << y << ", " << x;
}

TYPED_TEST(SpectrumEdit, NotchingAWavesPeakRemovesItFromTheHalfInverse) {
    using S = TypeParam;
    REQUIRE_MODULES("QuenFwdR", "QuenInvR");
    const int32_t rows = 48, cols = 66, transform_cols = 64;
    // Across: the wave's peak at column 5, row H/2 + 3 (its mirror is not stored). Down only: at
    // column 0, rows H/2 + 3 and H/2 - 3, both stored.
    const struct { double fx, fy; double x, y; int64_t removed; } waves[] = {{5, 3, 5, 27, 1}, {0, 3, 0, 27, 2}};
    for (const auto& w : waves) {
        const Image picture = wave_picture<S>(rows, cols, transform_cols, w.fx, w.fy);
        Image spectrum = run("QuenFwdR", picture);
        EXPECT_EQ(tool::apply_edits(spectrum, Layout::Half, {{Edit::Kind::Notch, w.x, w.y, 0.5}}), w.removed);
        const Image kept = run("QuenInvR", run("QuenFwdR", picture));
        const Image cleaned = run("QuenInvR", spectrum);
        const double wave = test::wave_power(picture, transform_cols, w.fx, w.fy);
        EXPECT_NEAR(test::wave_power(kept, transform_cols, w.fx, w.fy), wave, wave * 0.1);
        EXPECT_LT(test::wave_power(cleaned, transform_cols, w.fx, w.fy), wave * 1e-4);
    }
}

TEST(SpectrumEditRadial, LowpassZeroLeavesTheMeanAndBandIsBothCuts) {
    REQUIRE_MODULES("QuenFwd", "QuenInv");
    const int32_t rows = 24, cols = 32;
    const Image picture = wave_picture<uint16_t>(rows, cols, cols, 4, 2);
    const Image spectrum = run("QuenFwd", picture);

    Image flat = spectrum;
    EXPECT_EQ(tool::apply_edits(flat, Layout::Full, {{Edit::Kind::Lowpass, 0, 0, 0}}), rows * cols - 1);
    const Image mean = run("QuenInv", flat);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) ASSERT_NEAR(mean.value(y, x, 0), 16384, 16384 * 0.005);

    Image no_mean = spectrum;
    EXPECT_EQ(tool::apply_edits(no_mean, Layout::Full, {{Edit::Kind::Highpass, 0, 0, 0.5}}), 1);
    EXPECT_EQ(no_mean.value(rows / 2, cols / 2, 0), 0.0);

    Image band = spectrum, both = spectrum;
    tool::apply_edits(band, Layout::Full, {{Edit::Kind::Band, 0, 0, 2, 5}});
    tool::apply_edits(both, Layout::Full, {{Edit::Kind::Lowpass, 0, 0, 5}, {Edit::Kind::Highpass, 0, 0, 2}});
    EXPECT_TRUE(band.data == both.data);
    // The wave is 4.47 from the zero frequency: a band to 5 keeps it, a lowpass at 4 removes it.
    Image around = spectrum, below = spectrum;
    tool::apply_edits(around, Layout::Full, {{Edit::Kind::Band, 0, 0, 0, 5}});
    tool::apply_edits(below, Layout::Full, {{Edit::Kind::Lowpass, 0, 0, 4}});
    EXPECT_NEAR(test::wave_power(run("QuenInv", around), cols, 4, 2), 0.02, 0.002);
    EXPECT_LT(test::wave_power(run("QuenInv", below), cols, 4, 2), 1e-6);
}

}  // namespace
}  // namespace quen
