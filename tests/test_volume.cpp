// QuenFwd3 through its entry point: each output channel against a direct 3-D DFT of the row-signed
// colour volume, and the special images of the volume spectrum.
#include <gtest/gtest.h>

#include "half_layout.h"
#include "support.h"

namespace quen {
namespace {

using host::Image;
using host::run_filter;
using test::full_of;

const host::ModuleLibrary& fwd3() { return test::loaded_module("QuenFwd3"); }

template <class S>
class VolumeSpectrum : public ::testing::Test {};
TYPED_TEST_SUITE(VolumeSpectrum, test::Depths);

// Widths 8, 9 and 3 and single rows among them; padded rows catch writes past a row, and the
// fourth plane must come back as supplied. Float magnitudes are stored without their sign.
TYPED_TEST(VolumeSpectrum, MatchesDirect3dDftInTheRowLayout) {
    using S = TypeParam;
    const int32_t sizes[][2] = {{4, 8}, {5, 9}, {3, 3}, {1, 6}, {1, 3}, {2, 7}};
    for (const auto& size : sizes) {
        const int32_t rows = size[0], cols = size[1], width = cols - 2;
        SCOPED_TRACE(testing::Message() << rows << " x " << cols);
        const auto [in, out] = test::run_random<S>(fwd3(), rows, cols, uint32_t(rows * 17 + cols));
        std::vector<test::Cplx> volume(3 * std::size_t(rows) * std::size_t(width));
        for (int32_t channel = 0; channel < 3; ++channel) test::row_signed_plane(in, channel, width, channel, volume);
        const std::vector<test::Cplx> exact = test::direct_dft(volume, {3, rows, width});
        for (int32_t plane = 0; plane < 3; ++plane)
            test::expect_half_spectrum<S>(out, plane, exact.data() + std::size_t(plane) * std::size_t(rows * width),
                                          3.0 * rows * width, false);
    }
}

TYPED_TEST(VolumeSpectrum, PaddedRowsAndSharedBuffersChangeNothing) {
    test::expect_same_whatever_the_buffers<TypeParam>(fwd3(), test::random_image<TypeParam>(7, 9, 4, 5));
}

// A uniform volume has one coefficient, the largest magnitude, real and positive, at (0, H/2, 0).
TYPED_TEST(VolumeSpectrum, UniformImageIsOneFullScaleCoefficient) {
    using S = TypeParam;
    for (int32_t cols : {8, 9}) {
        const int32_t n = (cols - 2) / 2 + 1;
        const Image out = run_filter(fwd3(), test::uniform_image<S>(4, cols, 3, S(full_of<S>()))).image;
        EXPECT_EQ(out.value(2, 0, 0), full_of<S>());
        EXPECT_EQ(out.value(2, n, 0), test::HalfEncoding<S>::zero_angle);
    }
}

TYPED_TEST(VolumeSpectrum, ZeroImageGivesZeroChannels) {
    using S = TypeParam;
    const Image out = run_filter(fwd3(), test::uniform_image<S>(5, 9, 3, S(0))).image;
    for (int32_t y = 0; y < out.rows; ++y)
        for (int32_t x = 0; x < out.cols; ++x)
            for (int32_t p = 0; p < 3; ++p) EXPECT_EQ(out.value(y, x, p), 0.0) << y << ", " << x << ", " << p;
}

// Every frequency plane mixes all three channels; the last two columns enter none.
TYPED_TEST(VolumeSpectrum, PlanesDependOnEveryChannelAndNotOnTheLastColumns) {
    using S = TypeParam;
    const Image in = test::random_image<S>(4, 9, 3, 21);
    for (int32_t channel = 0; channel < 3; ++channel) {
        const auto changed = test::changed_channels(fwd3(), in, [channel](Image& im) {
            im.set<S>(1, 2, channel, im.value(1, 2, channel) < full_of<S>() / 2 ? S(full_of<S>()) : S(0));
        }, in.cols);
        EXPECT_EQ(changed, (std::array<bool, 3>{true, true, true})) << "channel " << channel;
    }
    const auto last_columns = test::changed_channels(fwd3(), in, [](Image& im) {
        for (int32_t y = 0; y < im.rows; ++y)
            for (int32_t p = 0; p < 3; ++p) {
                im.set<S>(y, im.cols - 2, p, S(0));
                im.set<S>(y, im.cols - 1, p, S(full_of<S>()));
            }
    }, in.cols);
    EXPECT_EQ(last_columns, (std::array<bool, 3>{false, false, false}));
}

// Red 255 everywhere, green and blue 0, 4 x 8: the coefficient 255 * 4 * 6 = 6120 at (s, 2, 0) of
// every plane; with 72 samples it encodes as magnitude 226 and phase 128.
TEST(VolumeSpectrum, RedOnlyImageReachesEveryPlane) {
    Image in = test::uniform_image<uint8_t>(4, 8, 3, 0);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 8; ++x) in.set<uint8_t>(y, x, 0, 255);
    const Image out = run_filter(fwd3(), in).image;
    for (int32_t p = 0; p < 3; ++p) {
        EXPECT_EQ(out.get<uint8_t>(2, 0, p), 226) << p;
        EXPECT_EQ(out.get<uint8_t>(2, 4, p), 128) << p;
    }
}

}  // namespace
}  // namespace quen
