// The sample conversions against the worked values that stored spectrum images depend on.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "samples.h"
#include "support.h"

namespace quen {
namespace {

using test::full_of;

// The full-complex encoding, which keeps the log sign at depth 32.
template <class S>
Encoded<S> enc(double re, double im, double log_normaliser) {
    return encode_spectrum<S, WriteNegativeLog::SignedOrZero>(re, im, log_normaliser);
}

TEST(RoundClamp, FoldsNegativesAndCapsAtFullScale) {
    EXPECT_EQ(to_sample<uint8_t>(255.51), 255);
    EXPECT_EQ(to_sample<uint8_t>(255.7), 255);
    EXPECT_EQ(to_sample<uint8_t>(0.49), 0);
    EXPECT_EQ(to_sample<uint8_t>(-0.6), 1);
    EXPECT_EQ(to_sample<uint8_t>(-3.2), 3);
    EXPECT_EQ(to_sample<uint8_t>(1e300), 255);
    EXPECT_EQ(to_sample<uint8_t>(-1e300), 255);
    EXPECT_EQ(to_sample<uint16_t>(32767.5), 32768);
    EXPECT_EQ(to_sample<uint16_t>(40000), 32768);
    EXPECT_EQ(to_sample<uint16_t>(std::numeric_limits<double>::infinity()), 32768);
    EXPECT_EQ(to_sample<uint8_t>(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(to_sample<float>(-3.2), -3.2f);  // floats keep sign and range
    EXPECT_EQ(to_sample<float>(7.5), 7.5f);
}

TEST(Luminance, WorkedValues) {
    EXPECT_EQ(luminance<uint8_t>(0, 0, 0), 0.01);
    EXPECT_EQ(to_sample<uint8_t>(luminance<uint8_t>(0, 0, 0)), 0);
    EXPECT_EQ(centre(luminance<uint8_t>(0, 0, 0), 0, 0), 0.009999999776482582);
    EXPECT_EQ(luminance<uint8_t>(255, 255, 255), 255.01000000000005);
    EXPECT_EQ(to_sample<uint8_t>(luminance<uint8_t>(255, 255, 255)), 255);
    EXPECT_DOUBLE_EQ(luminance<uint8_t>(100, 0, 0), 33.31);
    EXPECT_EQ(to_sample<uint8_t>(luminance<uint8_t>(100, 0, 0)), 33);
    EXPECT_DOUBLE_EQ(luminance<uint16_t>(32768, 32768, 32768), 32768.01);
    EXPECT_EQ(to_sample<uint16_t>(luminance<uint16_t>(32768, 32768, 32768)), 32768);
    EXPECT_EQ(luminance<float>(1, 1, 1), 1.0010000000000001);
    EXPECT_EQ(static_cast<double>(to_sample<float>(luminance<float>(1, 1, 1))), 1.0010000467300415);
}

TEST(Centre, SignFollowsParityOfRowPlusColumn) {
    EXPECT_EQ(centre(2.5, 0, 0), 2.5);
    EXPECT_EQ(centre(2.5, 0, 1), -2.5);
    EXPECT_EQ(centre(2.5, 1, 0), -2.5);
    EXPECT_EQ(centre(2.5, 7, 9), 2.5);
    EXPECT_EQ(centre(2.5, 32766, 32767), -2.5);
    EXPECT_EQ(centre(0.1, 0, 0), static_cast<double>(0.1f));  // single-precision value
}

TEST(LogNormaliser, FullScaleMagnitudeEncodesAsFullScale) {
    const double n = 65536;
    EXPECT_EQ(enc<uint8_t>(n * 255, 0, Sample<uint8_t>::log_normaliser(n)).magnitude, 255);
    EXPECT_EQ(enc<uint16_t>(n * 32768, 0, Sample<uint16_t>::log_normaliser(n)).magnitude,
              32768);
    EXPECT_FLOAT_EQ(enc<float>(n, 0, Sample<float>::log_normaliser(n)).magnitude, 1.0f);
    EXPECT_EQ(enc<uint8_t>(n * 1000, 0, Sample<uint8_t>::log_normaliser(n)).magnitude, 255);
    EXPECT_GT(enc<float>(n * 10, 0, Sample<float>::log_normaliser(n)).magnitude, 1.0f);
}

TEST(Encode, MagnitudesBelowOneAreAbsentOrFoldedAtIntegerDepths) {
    const double l8 = Sample<uint8_t>::log_normaliser(65536);
    // For an inverse: a magnitude below 1 stores 0, never the sample of its reciprocal.
    EXPECT_EQ(enc<uint8_t>(2, 0, l8).magnitude, 11);
    EXPECT_EQ(enc<uint8_t>(0.5, 0, l8).magnitude, 0);
    EXPECT_EQ(enc<uint8_t>(1e-10, 0, l8).magnitude, 0);
    EXPECT_EQ(enc<uint8_t>(0, 1e-10, l8).phase, 191);  // the phase is still carried
    EXPECT_EQ(enc<uint16_t>(1e-10, 0, Sample<uint16_t>::log_normaliser(65536)).magnitude, 0);
    EXPECT_EQ(enc<uint8_t>(1.032, 0, l8).magnitude, 0);
    EXPECT_EQ(enc<uint8_t>(1.04, 0, l8).magnitude, 1);
    // For looking at: |log m|, so m and 1/m show alike.
    const Encoded<uint8_t> half = encode_spectrum<uint8_t, WriteNegativeLog::Folded>(0.5, 0, l8);
    EXPECT_EQ(half.magnitude, 11);
    const Encoded<uint8_t> near_one = encode_spectrum<uint8_t, WriteNegativeLog::Folded>(1 / 1.032, 0, l8);
    EXPECT_EQ(near_one.magnitude, 0);
}

TEST(Encode, Depth32KeepsOrFoldsTheLogSign) {
    const double l = Sample<float>::log_normaliser(1000);
    const Encoded<float> kept = enc<float>(0.1, 0, l);
    const Encoded<float> folded = encode_spectrum<float, WriteNegativeLog::Folded>(0.1, 0, l);
    EXPECT_FLOAT_EQ(kept.magnitude, -1.0f / 3.0f);
    EXPECT_FLOAT_EQ(folded.magnitude, 1.0f / 3.0f);
    const Encoded<float> above = encode_spectrum<float, WriteNegativeLog::Folded>(10, 0, l);
    EXPECT_FLOAT_EQ(above.magnitude, 1.0f / 3.0f);
}

TEST(Decode, NonPositiveOrNanRedGivesZero) {
    const double l = Sample<float>::log_normaliser(16);
    for (float red : {0.0f, -0.25f, -0.0f, std::numeric_limits<float>::quiet_NaN()}) {
        const Complex c = decode_spectrum<float>(red, 0.7f, l);
        EXPECT_EQ(c.re, 0.0);
        EXPECT_EQ(c.im, 0.0);
    }
    const Complex c = decode_spectrum<uint8_t>(0, 200, Sample<uint8_t>::log_normaliser(16));
    EXPECT_EQ(c.re, 0.0);
    EXPECT_EQ(c.im, 0.0);
}

TEST(Decode, FullScaleRedGivesTheLargestMagnitude) {
    const double n = 4;
    const Complex c8 = decode_spectrum<uint8_t>(255, 128, Sample<uint8_t>::log_normaliser(n));
    EXPECT_NEAR(std::hypot(c8.re, c8.im), n * 255, 1e-9);
    EXPECT_NEAR(std::atan2(c8.im, c8.re), 0.5 / 40.58451048843332, 1e-15);  // green 128 is not phase 0
    const Complex c16 = decode_spectrum<uint16_t>(32768, 16384, Sample<uint16_t>::log_normaliser(n));
    EXPECT_NEAR(c16.re, n * 32768, 1e-7);
    EXPECT_EQ(c16.im, 0.0);
    const Complex c32 = decode_spectrum<float>(1.0f, 0.5f, Sample<float>::log_normaliser(n));
    EXPECT_EQ(c32.re, 4.0);
}

TEST(Grey, ModulusOverSampleCountNeverNegative) {
    const double n = 64;
    EXPECT_EQ(grey_sample<uint8_t>(-33.31 * n, 0, n), 33);
    EXPECT_EQ(grey_sample<uint8_t>(0, 3 * n, n), 3);
    EXPECT_EQ(grey_sample<uint16_t>(3 * n, 4 * n, n), 5);
    EXPECT_EQ(grey_sample<uint8_t>(1e9 * n, 0, n), 255);
    EXPECT_FLOAT_EQ(grey_sample<float>(-0.25 * n, 0, n), 0.25f);
}

// Phase samples and the zero value, per depth: phase 0, pi/2, +pi, -pi.
template <class S>
class PhaseEncoding : public ::testing::Test {};
TYPED_TEST_SUITE(PhaseEncoding, test::Depths);

TYPED_TEST(PhaseEncoding, WorkedPhases) {
    using S = TypeParam;
    const double l = Sample<S>::log_normaliser(64);
    const double full = full_of<S>();
    auto green = [&](double re, double im) {
        return static_cast<double>(enc<S>(re, im, l).phase);
    };
    EXPECT_EQ(green(5, 0), sizeof(S) == 1 ? 128 : sizeof(S) == 2 ? 16384 : 0.5);
    EXPECT_EQ(green(0, 5), sizeof(S) == 1 ? 191 : sizeof(S) == 2 ? 24576 : 0.75);
    EXPECT_EQ(green(-5, 0.0), full);
    EXPECT_EQ(green(-5, -0.0), 0);
    const Encoded<S> zero = enc<S>(0, 0, l);
    EXPECT_EQ(zero.magnitude, S(0));
    EXPECT_EQ(zero.phase, S(0));
    // Magnitude exactly 1: red 0, but the phase is still carried; red 0 decodes to zero.
    const Encoded<S> one = enc<S>(0, 1, l);
    EXPECT_EQ(one.magnitude, S(0));
    EXPECT_EQ(static_cast<double>(one.phase), sizeof(S) == 1 ? 191 : sizeof(S) == 2 ? 24576 : 0.75);
    const Complex back = decode_spectrum<S>(one.magnitude, one.phase, l);
    EXPECT_EQ(back.re, 0.0);
    EXPECT_EQ(back.im, 0.0);
}

TYPED_TEST(PhaseEncoding, DecodeReversesEncodeUpToQuantisation) {
    using S = TypeParam;
    const double n = 256 * 256;
    const double l = Sample<S>::log_normaliser(n);
    for (double mag : {3.0, 170.0, 9000.0, 1.5e6}) {
        for (double angle : {-3.0, -1.0, 0.2, 2.5}) {
            const Encoded<S> e = enc<S>(mag * std::cos(angle), mag * std::sin(angle), l);
            const Complex c = decode_spectrum<S>(e.magnitude, e.phase, l);
            // One magnitude step is a factor 10^L; one phase step 1/divisor radians (floats: tiny).
            const double mag_tol = Sample<S>::is_integer ? l : 1e-6;
            EXPECT_NEAR(std::log10(std::hypot(c.re, c.im)), std::log10(mag), mag_tol) << mag << " " << angle;
            const double phase_tol = Sample<S>::is_integer ? 1 / Sample<S>::phase_divisor : 1e-6;
            EXPECT_NEAR(std::remainder(std::atan2(c.im, c.re) - angle, 2 * std::numbers::pi), 0, phase_tol);
        }
    }
}

}  // namespace
}  // namespace quen
