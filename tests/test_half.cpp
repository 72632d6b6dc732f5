// QuenFwdR and QuenInvR through their entry points: the half-spectrum image against a direct DFT
// of each row-signed channel, its special images, the inverse's special images, and colour round
// trips through both filters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <memory>

#include "half_layout.h"
#include "half_width.h"
#include "support.h"
#include "synthetic.h"

namespace quen {
namespace {

using host::Image;
using host::RunOptions;
using host::run_filter;
using test::full_of;

const host::ModuleLibrary& fwdr() { return test::loaded_module("QuenFwdR"); }
const host::ModuleLibrary& invr() { return test::loaded_module("QuenInvR"); }

template <class S>
class HalfForward : public ::testing::Test {};
TYPED_TEST_SUITE(HalfForward, test::Depths);

// Widths 8, 9 and 3 among them: even and odd rows and columns, one row, one transformed column.
// Padded rows catch writes past a row; the fourth plane must come back as supplied.
TYPED_TEST(HalfForward, MatchesDirectDftInTheRowLayout) {
    using S = TypeParam;
    const auto expect_layout = [](const Image& in, const Image& out) {
        const int32_t rows = in.rows, width = in.cols - 2;
        for (int32_t channel = 0; channel < 3; ++channel) {
            std::vector<test::Cplx> signal(std::size_t(rows) * std::size_t(width));
            test::row_signed_plane(in, channel, width, 0, signal);
            const std::vector<test::Cplx> exact = test::direct_dft(signal, {rows, width});
            test::expect_half_spectrum<S>(out, channel, exact.data(), double(rows * width), true);
        }
    };
    const int32_t sizes[][2] = {{4, 8}, {5, 9}, {3, 3}, {2, 3}, {1, 10}, {6, 7}, {7, 4}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << size[0] << " x " << size[1]);
        const auto [in, out] = test::run_random<S>(fwdr(), size[0], size[1], uint32_t(size[0] * 31 + size[1]));
        expect_layout(in, out);
    }
    // Magnitudes below 1, which random pictures never have: two unit samples two columns apart
    // give 2 cos(2 pi / 5) = 0.62 at frequency 1 of a 5-column transform.
    SCOPED_TRACE("two unit samples");
    Image sparse = test::uniform_image<S>(2, 7, 3, S(0));
    for (int32_t p = 0; p < 3; ++p) {
        sparse.set<S>(0, 0, p, S(1));
        sparse.set<S>(0, 2, p, S(1));
    }
    expect_layout(sparse, run_filter(fwdr(), sparse).image);
}

TYPED_TEST(HalfForward, PaddedRowsAndSharedBuffersChangeNothing) {
    test::expect_same_whatever_the_buffers<TypeParam>(fwdr(), test::random_image<TypeParam>(7, 9, 4, 3));
}

TYPED_TEST(HalfForward, LastTwoColumnsAndOtherChannelsHaveNoInfluence) {
    using S = TypeParam;
    for (int32_t cols : {8, 9, 3}) {
        SCOPED_TRACE(cols);
        const Image in = test::random_image<S>(5, cols, 3, uint32_t(cols));
        const auto last_columns = test::changed_channels(fwdr(), in, [](Image& im) {
            for (int32_t y = 0; y < im.rows; ++y)
                for (int32_t p = 0; p < 3; ++p) {
                    im.set<S>(y, im.cols - 2, p, S(full_of<S>()));
                    im.set<S>(y, im.cols - 1, p, S(0));
                }
        }, cols);
        EXPECT_EQ(last_columns, (std::array<bool, 3>{false, false, false}));
        const auto green = test::changed_channels(fwdr(), in, [](Image& im) {
            im.set<S>(2, 0, 1, im.value(2, 0, 1) < full_of<S>() / 2 ? S(full_of<S>()) : S(0));
        }, cols);
        EXPECT_EQ(green, (std::array<bool, 3>{false, true, false}));
    }
}

TYPED_TEST(HalfForward, ZeroChannelGivesZeroChannel) {
    using S = TypeParam;
    Image in = test::random_image<S>(6, 9, 3, 4);
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols; ++x) in.set<S>(y, x, 2, S(0));
    const Image out = run_filter(fwdr(), in).image;
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols; ++x) EXPECT_EQ(out.value(y, x, 2), 0.0) << y << ", " << x;
}

// Two full-scale rows: the one coefficient (1, 0) is the largest magnitude, real and positive;
// row 0 is exactly zero in both halves.
TYPED_TEST(HalfForward, UniformChannelIsOneFullScaleCoefficient) {
    using S = TypeParam;
    using E = test::HalfEncoding<S>;
    for (int32_t cols : {8, 9}) {
        const int32_t n = (cols - 2) / 2 + 1;
        const Image out = run_filter(fwdr(), test::uniform_image<S>(2, cols, 3, S(full_of<S>()))).image;
        for (int32_t channel = 0; channel < 3; ++channel) {
            EXPECT_EQ(out.value(1, 0, channel), full_of<S>());
            EXPECT_EQ(out.value(1, n, channel), E::zero_angle);
            for (int32_t x = 0; x < cols; ++x) EXPECT_EQ(out.value(0, x, channel), 0.0) << x;
        }
    }
}

template <class S>
class HalfInverse : public ::testing::Test {};
TYPED_TEST_SUITE(HalfInverse, test::Depths);

// Only (H/2, 0) carries the largest magnitude at the phase sample nearest angle 0: every written
// pixel is full scale (the row signs cancel in the absolute value). Columns cols - 2 and cols - 1,
// the unread leftover column and the fourth plane keep what the host supplied.
TYPED_TEST(HalfInverse, OneCoefficientRebuildsAFullScaleChannel) {
    using S = TypeParam;
    using E = test::HalfEncoding<S>;
    for (int32_t cols : {8, 9}) {
        SCOPED_TRACE(cols);
        const int32_t rows = 4, n = (cols - 2) / 2 + 1;
        Image in = test::uniform_image<S>(rows, cols, 4, S(0));
        for (int32_t channel = 0; channel < 3; ++channel) {
            in.set<S>(rows / 2, 0, channel, S(full_of<S>()));
            in.set<S>(rows / 2, n, channel, S(E::zero_angle));
            for (int32_t y = 0; y < rows; ++y) in.set<S>(y, cols - 1, channel, S(full_of<S>() * 0.75));
        }
        for (int32_t y = 0; y < rows; ++y) in.set<S>(y, 1, 3, S(full_of<S>() * 0.25));
        const Image out = run_filter(invr(), in).image;
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x) {
                for (int32_t p = 0; p < 4; ++p) {
                    const bool written = p < 3 && x < cols - 2;
                    EXPECT_EQ(out.value(y, x, p), written ? full_of<S>() : in.value(y, x, p))
                        << y << ", " << x << ", " << p;
                }
            }
    }
}

// Magnitude samples of 0 (and not-a-number floats) decode to zero coefficients, whatever the
// phases hold.
TYPED_TEST(HalfInverse, ZeroMagnitudesGiveZeroChannels) {
    using S = TypeParam;
    Image in = test::random_image<S>(5, 9, 3, 8);
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < 4; ++x)
            for (int32_t p = 0; p < 3; ++p) in.set<S>(y, x, p, sizeof(S) == 4 && (x + p) % 2 ? S(std::nanf("")) : S(0));
    const Image out = run_filter(invr(), in).image;
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols - 2; ++x)
            for (int32_t p = 0; p < 3; ++p) EXPECT_EQ(out.value(y, x, p), 0.0) << y << ", " << x << ", " << p;
}

// A negative float magnitude sample is the log of a magnitude below 1: -0.5 with N = 24 is the
// coefficient 24^-0.5, so every written pixel is 24^-1.5.
TEST(HalfInverse, NegativeFloatMagnitudeIsBelowOne) {
    Image in = test::uniform_image<float>(4, 8, 3, 0.0f);
    for (int32_t p = 0; p < 3; ++p) {
        in.set<float>(2, 0, p, -0.5f);
        in.set<float>(2, 4, p, 0.5f);
    }
    const Image out = run_filter(invr(), in).image;
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x)
            for (int32_t p = 0; p < 3; ++p) EXPECT_FLOAT_EQ(out.get<float>(y, x, p), float(std::pow(24.0, -1.5)));
}

TYPED_TEST(HalfInverse, PaddedRowsAndSharedBuffersChangeNothing) {
    test::expect_same_whatever_the_buffers<TypeParam>(invr(), test::random_image<TypeParam>(6, 8, 4, 4));
}

TYPED_TEST(HalfInverse, ChannelsAndTheLeftoverColumnAreIndependent) {
    using S = TypeParam;
    const Image in = run_filter(fwdr(), test::random_image<S>(6, 9, 3, 12)).image;
    const auto red = test::changed_channels(invr(), in, [](Image& im) {
        im.set<S>(3, 1, 0, S(im.get<S>(3, 1, 0) * 0.5));
    }, in.cols - 2);
    EXPECT_EQ(red, (std::array<bool, 3>{true, false, false}));
    const auto leftover = test::changed_channels(invr(), in, [](Image& im) {
        for (int32_t p = 0; p < 3; ++p) im.set<S>(2, 8, p, S(full_of<S>()));
    }, in.cols - 2);
    EXPECT_EQ(leftover, (std::array<bool, 3>{false, false, false}));
}

// Floors of the round-trip PSNR, a little below the lowest channel measured on the 256 x 256
// scene: 8 bits 40.35 dB, 16 bits 75.76 dB, 32 bits 141.1 dB.
template <class S>
constexpr double kRoundTripFloor = sizeof(S) == 1 ? 39 : sizeof(S) == 2 ? 74 : 135;

template <class S>
class HalfRoundTrip : public ::testing::Test {};
TYPED_TEST_SUITE(HalfRoundTrip, test::Depths);

TYPED_TEST(HalfRoundTrip, GivesBackEachColourChannel) {
    using S = TypeParam;
    const Image in = host::synthetic_scene(256, 256, test::depth_of<S>());
    // One buffer for input and output, as some editors hand over, and padded rows.
    const host::RunResult forward = run_filter(fwdr(), in, RunOptions{int32_t(sizeof(S)) * 3, true});
    ASSERT_EQ(forward.result, 0);
    EXPECT_TRUE(forward.padding_intact);
    const host::RunResult inverse = run_filter(invr(), forward.image, RunOptions{int32_t(sizeof(S)) * 3, true});
    ASSERT_EQ(inverse.result, 0);
    EXPECT_TRUE(inverse.padding_intact);
    for (int32_t channel = 0; channel < 3; ++channel) {
        const double db = test::psnr(in, channel, inverse.image, channel, full_of<S>(), in.cols - 2);
        std::cout << "[ PSNR     ] " << test::depth_of<S>() << " bits, channel " << channel << ": " << db
                  << " dB\n";
        EXPECT_GE(db, kRoundTripFloor<S>) << "channel " << channel;
    }
}

// Small odd sizes: the row signs of an odd number of rows, the unread leftover column, and (at
// depth 32) the many coefficients below magnitude 1 of a few samples.
TYPED_TEST(HalfRoundTrip, SmallOddImagesComeBack) {
    using S = TypeParam;
    for (const auto& size : {std::array<int32_t, 2>{5, 9}, {7, 3}, {1, 6}}) {
        SCOPED_TRACE(testing::Message() << size[0] << " x " << size[1]);
        const Image in = host::synthetic_scene(size[0], size[1], test::depth_of<S>());
        const Image out = run_filter(invr(), run_filter(fwdr(), in).image).image;
        for (int32_t channel = 0; channel < 3; ++channel)
            EXPECT_GE(test::psnr(in, channel, out, channel, full_of<S>(), in.cols - 2), kRoundTripFloor<S>) << "channel " << channel;
    }
}

// Flat channels: the coefficients that cancel exactly must not come back as magnitudes.
TYPED_TEST(HalfRoundTrip, FlatPictureComesBackFlat) {
    using S = TypeParam;
    for (const auto& size : {std::array<int32_t, 2>{60, 90}, {37, 51}}) {
        SCOPED_TRACE(testing::Message() << size[0] << " x " << size[1]);
        Image in = test::uniform_image<S>(size[0], size[1], 3, S(full_of<S>() * 0.6));
        const Image out = run_filter(invr(), run_filter(fwdr(), in).image).image;
        for (int32_t y = 0; y < size[0]; ++y)
            for (int32_t x = 0; x < size[1] - 2; ++x)
                ASSERT_NEAR(out.value(y, x, 1), in.value(y, x, 1), in.value(y, x, 1) * 0.03 + 1) << y << " " << x;
    }
}

// Widened by two columns before the forward filter and cropped after the inverse, a picture comes
// back whole: its last two columns (here unlike the rest) and its fourth plane too.
TYPED_TEST(HalfRoundTrip, WidenedPictureComesBackWithEveryColumn) {
    using S = TypeParam;
    Image in = host::synthetic_scene(33, 40, test::depth_of<S>(), 4);
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = in.cols - 2; x < in.cols; ++x) in.set<S>(y, x, 1, S(full_of<S>() * ((x + y) % 3) / 3));
    const Image wide = run_filter(invr(), run_filter(fwdr(), host::widen_for_half_spectrum(in)).image).image;
    const Image out = host::crop_after_half_spectrum(wide);
    ASSERT_EQ(out.cols, in.cols);
    for (int32_t channel = 0; channel < 3; ++channel)
        EXPECT_GE(test::psnr(in, channel, out, channel, full_of<S>(), in.cols), kRoundTripFloor<S>) << "channel " << channel;
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols; ++x) ASSERT_EQ(out.value(y, x, 3), in.value(y, x, 3)) << y << " " << x;
}

// The frame refuses an image whose scratch arrays (about 68 GB for 32767 x 32767) cannot be had,
// before it touches either buffer.
class HalfSpectrumFrame : public ::testing::TestWithParam<const char*> {};

TEST_P(HalfSpectrumFrame, HugeImageIsOutOfMemoryAndTouchesNothing) {
    const std::size_t cells = std::size_t(kLargestSide + 4) * std::size_t(kLargestSide - 2 + 4);
    if (void* p = std::malloc((4 * cells + 4) * 16)) {
        std::free(p);
        GTEST_SKIP() << "this machine can allocate the scratch arrays of a 32767 x 32767 image";
    }
    const host::ModuleLibrary& module = test::loaded_module(GetParam());
    std::vector<std::byte> in(64, std::byte{0x11}), out(64, std::byte{0x22});
    auto block = std::make_unique<host::RecordBlock>();
    FilterRecord& rec = block->record;
    rec.imageSize = Point{kLargestSide, kLargestSide};
    rec.planes = 3;
    rec.depth = 8;
    rec.inData = in.data();
    rec.outData = out.data();
    rec.inRowBytes = rec.outRowBytes = kLargestSide * 3;
    int16_t result = 0;
    module.entry()(filterSelectorContinue, &rec, nullptr, &result);
    EXPECT_EQ(result, memFullErr);
    EXPECT_EQ(in, std::vector<std::byte>(64, std::byte{0x11}));
    EXPECT_EQ(out, std::vector<std::byte>(64, std::byte{0x22}));
    const Rect r = rec.outRect;
    EXPECT_TRUE(r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0);
}

std::vector<const char*> short_transform_modules() {
    std::vector<const char*> names;
    for (const manifest::ModuleEntry& m : manifest::kModules)
        if (m.shape == Shape::LastTwoColumnsLeftOut) names.push_back(m.name.data());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Modules, HalfSpectrumFrame, ::testing::ValuesIn(short_transform_modules()),
                         [](const auto& param_info) { return std::string(param_info.param); });

}  // namespace
}  // namespace quen
