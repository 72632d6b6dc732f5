// Automatic cleaning through the half-spectrum modules: a picture without periodic noise comes
// back exactly, a sinusoid between spectrum samples is taken out at every depth, odd sizes, the
// last two columns and the alpha plane included, scan lines and column streaks are divided out,
// and a halftone's screens are cut where they are. The peaks listed for a spectrum picture are
// where the notch edit takes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <tuple>
#include <utility>

#include "clean.h"
#include "combs.h"
#include "descreen.h"
#include "frame_evidence.h"
#include "moire.h"
#include "edit.h"
#include "round_trip.h"
#include "screens.h"
#include "support.h"
#include "tones.h"

namespace quen {
namespace {

using host::Image;
using test::full_of;

const cleaning::CleanModules& modules() {
    static const cleaning::CleanModules pair{test::loaded_module("QuenFwdR"), test::loaded_module("QuenInvR")};
    return pair;
}

// A photograph-like picture in units of full scale: broad shading, a soft highlight and grain
// (seeded white noise), with nothing periodic in it; plus an optional sinusoid of the given
// amplitude, period (pixels) and direction (degrees) in every colour channel. Plane 3 is alpha.
template <class S>
Image photo(int32_t rows, int32_t cols, uint32_t seed, double amplitude = 0, double period = 1, double angle = 0) {
    Image im = Image::make(rows, cols, 4, test::depth_of<S>());
    std::mt19937 gen(seed);
    std::normal_distribution<double> grain(0, 0.01);
    const double a = angle * std::numbers::pi / 180, k = 2 * std::numbers::pi / period;
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            const double u = double(x) / cols, v = double(y) / rows;
            const double wave = amplitude * std::sin(k * (x * std::cos(a) + y * std::sin(a)));
            for (int32_t c = 0; c < 3; ++c) {
                const double base = 0.25 + 0.3 * u + 0.1 * c * v +
                                    0.3 * std::exp(-((u - 0.4) * (u - 0.4) + (v - 0.5) * (v - 0.5)) / 0.03);
                im.set_value(y, x, c, (base + grain(gen) + wave) * full_of<S>());
            }
            im.set_value(y, x, 3, (0.2 + 0.6 * u) * full_of<S>());
        }
    return im;
}

// The picture's tones stretched `gain` times about mid grey and raised by `lift` (0.5 keeps mid
// grey where it was), held to the range: at a high gain, black and white in large parts.
template <class S>
void stretch_tones(Image& im, double gain, double lift) {
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            for (int32_t c = 0; c < 3; ++c)
                im.set_value(y, x, c, std::clamp((im.value(y, x, c) / full_of<S>() - 0.5) * gain + lift, 0.0, 1.0) * full_of<S>());
}

// Whether some candidate was decided by the rule.
bool decided_by(const cleaning::CleanResult& r, cleaning::Reason reason) {
    return std::any_of(r.candidates.begin(), r.candidates.end(),
                       [&](const cleaning::Candidate& c) { return c.decision.reason == reason; });
}

// Every colour channel of `cleaned` stands at least `gain` dB nearer `truth` than `noisy` did.
template <class S>
void expect_gain(const Image& cleaned, const Image& noisy, const Image& truth, double gain) {
    for (int32_t c = 0; c < 3; ++c)
        EXPECT_GE(test::psnr(cleaned, c, truth, c, full_of<S>(), truth.cols),
                  test::psnr(noisy, c, truth, c, full_of<S>(), truth.cols) + gain)
            << "channel " << c;
}

// The threshold (0 to 1) of a clustered-dot screen of wavenumber k and angle a at pixel (y, x): a
// channel printed through it is full scale where its value lies above, bare paper elsewhere.
double screen(double k, double a, int32_t y, int32_t x) {
    return (2 + std::cos(k * (x * std::cos(a) + y * std::sin(a))) + std::cos(k * (y * std::cos(a) - x * std::sin(a)))) / 4;
}

// A grey picture from values in units of full scale, row by row.
template <class S>
Image grey_picture(int32_t rows, int32_t cols, const std::vector<double>& value) {
    Image im = Image::make(rows, cols, 3, test::depth_of<S>());
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            for (int32_t c = 0; c < 3; ++c) im.set_value(y, x, c, value[std::size_t(y) * cols + x] * full_of<S>());
    return im;
}

// A page of text: lines of words on white, ragged at the right, the bottom of the page blank,
// the lines rising by `tilt` pixels a column (a page scanned a little askew). The words are dark
// strokes a few pixels apart, or (solid) bars, as in a page seen from afar.
template <class S>
Image text_page(int32_t rows, int32_t cols, double tilt = 0, bool solid = false) {
    std::mt19937 gen(8);
    std::uniform_int_distribution<int32_t> word(12, 60), gap(6, 14), stroke(2, 5);
    std::vector<double> value(static_cast<std::size_t>(rows) * cols, 1.0);
    for (int32_t top = 30; top + 11 < rows - 30; top += 18) {
        const int32_t end = 250 + 3 * word(gen);
        for (int32_t x = 60; x < end;) {
            const int32_t w = word(gen);
            for (int32_t dx = 0; dx < w && x + dx < cols; dx += solid ? 1 : stroke(gen) + 2)
                for (int32_t y = top; y < top + 11; ++y) value[std::size_t(y + int32_t(tilt * (x + dx))) * cols + x + dx] = 0.05;
            x += w + gap(gen);
        }
    }
    return grey_picture<S>(rows, cols, value);
}

template <class S>
class Cleaning : public ::testing::Test {};
TYPED_TEST_SUITE(Cleaning, test::Depths);

TYPED_TEST(Cleaning, PictureWithoutPeriodicNoiseComesBackExactly) {
    using S = TypeParam;
    for (const auto& size : {std::array<int32_t, 2>{96, 128}, {101, 77}}) {
        const Image in = photo<S>(size[0], size[1], 7);
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), in);
        EXPECT_TRUE(out.removed.empty()) << size[0] << " x " << size[1];
        EXPECT_EQ(out.image.data, in.data) << size[0] << " x " << size[1];
    }
}

// Odd sizes, a frequency between samples, and waves that reach the last two columns: the seeded
// sinusoid's power must fall by 20 dB everywhere, and alpha must come back as it was.
TYPED_TEST(Cleaning, SinusoidIsRemovedFromEveryColumn) {
    using S = TypeParam;
    const Image truth = photo<S>(121, 151, 3);
    const Image noisy = photo<S>(121, 151, 3, 0.06, 7.3, 33);
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
    ASSERT_EQ(out.removed.size(), 1u);
    EXPECT_TRUE(decided_by(out, cleaning::Reason::OneWave));
    EXPECT_NEAR(out.removed[0].period, 7.3, 0.4);
    EXPECT_NEAR(out.removed[0].amplitude, 0.06, 0.02);
    ASSERT_EQ(out.image.cols, truth.cols);
    ASSERT_EQ(out.image.depth, truth.depth);
    for (int32_t c = 0; c < 3; ++c) {
        const double before = test::psnr(noisy, c, truth, c, full_of<S>(), truth.cols);
        EXPECT_GE(test::psnr(out.image, c, truth, c, full_of<S>(), truth.cols), before + 20) << "channel " << c;
        // The last two columns, which the half-spectrum filters alone would not transform.
        double worst = 0;
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = truth.cols - 2; x < truth.cols; ++x)
                worst = std::max(worst, std::fabs(out.image.value(y, x, c) - truth.value(y, x, c)) / full_of<S>());
        EXPECT_LT(worst, 0.015) << "channel " << c;
    }
    for (int32_t y = 0; y < truth.rows; ++y)
        for (int32_t x = 0; x < truth.cols; ++x) ASSERT_EQ(out.image.value(y, x, 3), noisy.value(y, x, 3));
}

// A wave two pixels long across the columns (every other column turned over) and ten down the rows
// lies on the half spectrum's highest column, which holds each frequency's mirror too: at the
// row across the zero frequency for an even width, beside it for an odd one (half a sample past
// the column). The two are one wave, fitted with its mirror and taken out once: taken as two
// waves, each was taken out whole and the wave came back turned over.
TEST(CleaningRules, WaveOnTheHighestColumnIsTakenOutOnce) {
    for (const auto& [cols, angle] : {std::pair{150, 88.0}, std::pair{151, 90.0}}) {
        const Image truth = photo<float>(120, cols, 3);
        Image noisy = truth;
        const double a = angle * std::numbers::pi / 180;
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = 0; x < truth.cols; ++x)
                for (int32_t c = 0; c < 3; ++c)
                    noisy.set_value(y, x, c, truth.value(y, x, c) + 0.05 * (x % 2 ? -1 : 1) * std::sin(0.2 * std::numbers::pi * (x * std::cos(a) + y * std::sin(a))));
        SCOPED_TRACE(cols);
        expect_gain<float>(cleaning::clean_picture(modules(), noisy).image, noisy, truth, 20);
    }
}

// A wave down the rows alone (crests across them) over an odd number of rows, a whole number of
// cycles over the frame: the forward layout puts the zero vertical frequency between two rows at an
// odd count, where the transform takes each column as going on turned over past its ends, and the
// picture's mean leaked down the whole zero column and hid the wave's peak (the picture came back
// untouched). Taken out as at an even count.
TEST(CleaningRules, WaveDownTheRowsOfAnOddCountIsTakenOut) {
    const Image truth = photo<float>(151, 121, 3);
    const Image noisy = photo<float>(151, 121, 3, 0.05, 151 / 21.0, 90);
    expect_gain<float>(cleaning::clean_picture(modules(), noisy).image, noisy, truth, 20);
}

// A wave down the rows whose period (7.3 px) is no whole fraction of the 150 rows splits its peak
// between two samples of the zero column, over a picture whose bands of rows fill that column: each
// sample alone fell short of the axis's stricter threshold, and the wave was taken for faint lines
// every 15 rows, which took a little of it and left the picture worse. Weighed as a pair, it is one
// wave, taken out.
TEST(CleaningRules, WaveSplitBetweenTwoSamplesOfAnAxisIsTakenOut) {
    Image truth = photo<float>(150, 120, 3);
    for (int32_t y = 0; y < truth.rows; ++y)
        for (int32_t x = 0; x < truth.cols; ++x)
            for (int32_t c = 0; c < 3; ++c)
                if ((y / 11 + y / 17) % 3 == 0) truth.set_value(y, x, c, truth.value(y, x, c) * 0.9);
    Image noisy = truth;
    for (int32_t y = 0; y < truth.rows; ++y)
        for (int32_t x = 0; x < truth.cols; ++x)
            for (int32_t c = 0; c < 3; ++c)
                noisy.set_value(y, x, c, truth.value(y, x, c) + 0.05 * std::sin(2 * std::numbers::pi * y / 7.3 + 0.7));
    expect_gain<float>(cleaning::clean_picture(modules(), noisy).image, noisy, truth, 15);
}

// A two-ink halftone: the first two channels printed as full-scale dots or bare paper on screens
// of their own period and angle, the dot area following the channel's value; the third channel
// (and alpha) untouched. Each printed channel's lattice of peaks must be cut by the low-pass and its
// mean tone kept; the third channel, without a screen, must come back as it was.
TYPED_TEST(Cleaning, HalftoneScreenIsCutInThePrintedChannelsOnly) {
    using S = TypeParam;
    const Image truth = photo<S>(150, 190, 11);
    Image printed = truth;
    const double periods[2] = {4.2, 6}, angles[2] = {15, 75};
    for (int32_t c = 0; c < 2; ++c) {
        const double a = angles[c] * std::numbers::pi / 180, k = 2 * std::numbers::pi / periods[c];
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = 0; x < truth.cols; ++x) {
                printed.set_value(y, x, c, truth.value(y, x, c) > screen(k, a, y, x) * full_of<S>() ? full_of<S>() : 0);
            }
    }
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), printed);
    EXPECT_GT(out.lowpass_period, 6);
    EXPECT_TRUE(decided_by(out, cleaning::Reason::Screen));
    for (int32_t c = 0; c < 2; ++c) {
        const double before = test::psnr(printed, c, truth, c, full_of<S>(), truth.cols);
        EXPECT_GE(test::psnr(out.image, c, truth, c, full_of<S>(), truth.cols), before + 15) << "channel " << c;
        double mean_in = 0, mean_out = 0;
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = 0; x < truth.cols; ++x) {
                mean_in += printed.value(y, x, c) / full_of<S>();
                mean_out += out.image.value(y, x, c) / full_of<S>();
            }
        EXPECT_NEAR(mean_out / mean_in, 1, 0.002) << "channel " << c;
    }
    EXPECT_GE(test::psnr(out.image, 2, truth, 2, full_of<S>(), truth.cols), 50);
    // Without the low-pass the screen's peaks are filled, and the result counts them as removed.
    cleaning::CleanOptions notched;
    notched.lowpass = false;
    const cleaning::CleanResult filled = cleaning::clean_picture(modules(), printed, notched);
    EXPECT_TRUE(decided_by(filled, cleaning::Reason::ScreenNotched));
    EXPECT_GE(filled.removed.size(), out.removed.size());
}

// The picture with a screen of soft dots (wavenumber k, angle a) whose strength follows the tone
// v, 4 v (1 - v): each of its two waves `strength` (full scale) at mid grey, gone at black and white.
template <class S>
Image with_toned_screen(const Image& truth, double k, double a, double strength) {
    Image noisy = truth;
    for (int32_t y = 0; y < truth.rows; ++y)
        for (int32_t x = 0; x < truth.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                const double v = std::clamp(truth.value(y, x, c) / full_of<S>(), 0.0, 1.0);
                noisy.set_value(y, x, c, (v + strength * 4 * v * (1 - v) * (4 * screen(k, a, y, x) - 2)) * full_of<S>());
            }
    return noisy;
}

// A dot screen laid over a photograph, hard-edged dots the same in its light and dark parts (not a
// print's, which fade with the tone): its lattice, harmonics included, is fitted and subtracted,
// and the photograph's detail above the screen is kept, where a low-pass would blur it. So too
// over the photograph at high contrast, black or white in large parts, where the range's ends cut
// the dots short and leave the screen's waves weaker than the dots' swing (`swing`) would.
TYPED_TEST(Cleaning, AddedDotScreenIsSubtractedNotLowPassed) {
    using S = TypeParam;
    for (const double contrast : {1.0, 4.0}) {
        Image truth = photo<S>(150, 190, 5);
        stretch_tones<S>(truth, contrast, 0.5);
        Image noisy = truth;
        const double a = 30 * std::numbers::pi / 180, k = 2 * std::numbers::pi / 6.5, swing = contrast > 1 ? 0.09 : 0.15;
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = 0; x < truth.cols; ++x) {
                const double dot = (screen(k, a, y, x) > 0.75 ? 0.8 : -0.2) * swing;
                for (int32_t c = 0; c < 3; ++c)
                    noisy.set_value(y, x, c, std::clamp(truth.value(y, x, c) / full_of<S>() + dot, 0.0, 1.0) * full_of<S>());
            }
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
        EXPECT_TRUE(decided_by(out, cleaning::Reason::AddedScreen)) << contrast;
        EXPECT_EQ(out.lowpass_period, 0) << contrast;
        expect_gain<S>(out.image, noisy, truth, contrast > 1 ? 6 : 10);
    }
}

// One ink printed through a screen of about 3 px, scanned: each pixel the share of it the dots
// cover (rendered four times finer). So fine a screen swings less than a print's coarser dots,
// as an added screen would; and its reach into the tones, twice its mid-tone amplitude, leaves
// a photograph's tones between the ends too alike to tell whether it follows them. The whole
// picture's tones then tell: it fades with them, and is cut as a print's screen, not fitted
// point by point as one laid over the picture.
TYPED_TEST(Cleaning, FineScreenOfAPrintIsToldByTheWholePicturesTones) {
    using S = TypeParam;
    const Image truth = photo<S>(256, 256, 3);
    Image printed = truth;
    const double a = 45 * std::numbers::pi / 180, k = 2 * std::numbers::pi / 3.1;
    for (int32_t y = 0; y < truth.rows; ++y)
        for (int32_t x = 0; x < truth.cols; ++x) {
            const double grey = (truth.value(y, x, 0) + truth.value(y, x, 1) + truth.value(y, x, 2)) / (3 * full_of<S>());
            const double ink = x < 40 ? 0.04 : x >= 216 ? 0.96 : 1 - grey;
            double paper = 0;
            for (int32_t i = 0; i < 4; ++i)
                for (int32_t j = 0; j < 4; ++j) {
                    const double u = x + (j + 0.5) / 4, v = y + (i + 0.5) / 4;
                    const double spot = (std::cos(k * (u * std::cos(a) + v * std::sin(a))) + std::cos(k * (v * std::cos(a) - u * std::sin(a)))) / 2;
                    paper += (spot <= 1 - 2 * ink) / 16.0;
                }
            for (int32_t c = 0; c < 3; ++c) printed.set_value(y, x, c, paper * full_of<S>());
        }
    // The scanner's optics: a Gaussian of 0.6 px, along the rows and then the columns.
    const double w[3] = {std::exp(0.0), std::exp(-1 / 0.72), std::exp(-4 / 0.72)}, sum = w[0] + 2 * (w[1] + w[2]);
    for (const bool rows : {true, false}) {
        const Image before = printed;
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = 0; x < truth.cols; ++x)
                for (int32_t c = 0; c < 3; ++c) {
                    double v = 0;
                    for (int32_t d = -2; d <= 2; ++d)
                        v += w[std::abs(d)] * (rows ? before.value(y, std::clamp(x + d, 0, truth.cols - 1), c)
                                                    : before.value(std::clamp(y + d, 0, truth.rows - 1), x, c));
                    printed.set_value(y, x, c, v / sum);
                }
    }
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), printed);
    EXPECT_TRUE(decided_by(out, cleaning::Reason::Screen));
    EXPECT_FALSE(decided_by(out, cleaning::Reason::AddedScreen));
}

// A screen whose strength follows the tone (gone at black and white), turned 4 degrees off the
// rows, where its peaks still lie a few samples off the axes: each of its two frequencies is
// taken out with the strength it has at each place. A fabric's stripes in a corner of the picture,
// about as strong across the frame, a sample off half the difference of the screen's two
// frequencies (where a coarser lattice's own wave would lie were they its diagonals), are the
// picture's and stay.
TYPED_TEST(Cleaning, ToneModulatedScreenNearTheRowsIsTakenOutAlongItsEnvelope) {
    using S = TypeParam;
    for (const bool fabric : {false, true}) {
        Image truth = photo<S>(256, 256, 9);
        const double k = 2 * std::numbers::pi / 8.1, a = 49 * std::numbers::pi / 180;
        for (int32_t y = 0; y < 128 && fabric; ++y)
            for (int32_t x = 0; x < 128; ++x)
                for (int32_t c = 0; c < 3; ++c)
                    truth.set_value(y, x, c, truth.value(y, x, c) + 0.14 * std::sin(k * (x * std::cos(a) + y * std::sin(a))) * full_of<S>());
        const Image noisy = with_toned_screen<S>(truth, 2 * std::numbers::pi / 5.5, 4 * std::numbers::pi / 180, 0.1);
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
        EXPECT_TRUE(decided_by(out, cleaning::Reason::ScreenEnvelope)) << fabric;
        expect_gain<S>(out.image, noisy, truth, 12);
    }
}

// The same kind of screen over a picture at black or white in large parts (a poster, a façade at
// high contrast): its dots print only in the tones between, so across the frame its waves are
// weaker than a screen's in a photograph, by the strength the picture's tones leave it; and they
// swing with the tone of each pixel, which changes faster than their amplitude smoothed over a
// few periods could follow. Turned only a few degrees from the rows, its peaks lie a sample or
// two off the axes, where a table's rules put theirs: taken out all the same, its strength
// following the tone. A patch a level above black, 24 px wide, where the dots fade below a level
// at 8 bits and leave it flat, does not refute the screen.
TYPED_TEST(Cleaning, ToneModulatedScreenOverBlackAndWhiteIsTakenOut) {
    using S = TypeParam;
    Image truth = photo<S>(256, 256, 9);
    stretch_tones<S>(truth, 4, 0);
    for (int32_t y = 200; y < 224; ++y)
        for (int32_t x = 20; x < 44; ++x)
            for (int32_t c = 0; c < 3; ++c) truth.set_value(y, x, c, 1.0 / 255 * full_of<S>());
    for (const double degrees : {30.0, 2.5}) {
        const Image noisy = with_toned_screen<S>(truth, 2 * std::numbers::pi / 6.5, degrees * std::numbers::pi / 180, 0.03);
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
        EXPECT_TRUE(decided_by(out, cleaning::Reason::ScreenEnvelope)) << degrees << " degrees";
        expect_gain<S>(out.image, noisy, truth, 15);
    }
}

// A screen printed with the tones over a picture of many small hard-edged shapes, a quarter black,
// a quarter white and the rest grey: the edges in every direction raise the spectrum about the
// screen's frequencies, so that neither of its waves stands out as a peak. The spectrum's
// strongest maximum is one of them, and its partner at right angles stands out: both are taken
// out along the tone, the tone beneath them solved for at each pixel (taken as the picture less
// the waves, it leaves some of them about the shapes' edges). At half the sensitivity a screen
// this faint is left alone.
TYPED_TEST(Cleaning, ScreenTooFaintForAPeakOverBlackAndWhiteIsTakenOut) {
    using S = TypeParam;
    const int32_t rows = 256, cols = 256;
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> at(0, 256), size(2, 12), mid(0.15, 0.85);
    std::vector<double> value(std::size_t(rows) * cols, 0.5);
    for (int32_t s = 0; s < 1500; ++s) {
        const double cy = at(gen), cx = at(gen), r = size(gen), tone = s % 4 == 0 ? 0.0 : s % 4 == 1 ? 1.0 : mid(gen);
        for (int32_t y = std::max(0, int32_t(cy - r)); y < std::min(rows, int32_t(cy + r) + 1); ++y)
            for (int32_t x = std::max(0, int32_t(cx - r)); x < std::min(cols, int32_t(cx + r) + 1); ++x)
                if (s % 2 == 0 ? std::hypot(y - cy, x - cx) < r : std::fabs(y - cy) < r && std::fabs(x - cx) < r / 2)
                    value[std::size_t(y) * cols + x] = tone;
    }
    const Image truth = grey_picture<S>(rows, cols, value);
    const Image noisy = with_toned_screen<S>(truth, 2 * std::numbers::pi / 6.5, 30 * std::numbers::pi / 180, 0.03);
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
    EXPECT_TRUE(decided_by(out, cleaning::Reason::FaintScreen));
    expect_gain<S>(out.image, noisy, truth, 17.5);
    cleaning::CleanOptions less;
    less.detect.sensitivity = 0.5;
    EXPECT_FALSE(decided_by(cleaning::clean_picture(modules(), noisy, less), cleaning::Reason::FaintScreen));
}

// A screen printed with the tones over a picture whose mid tones are scattered grain among black
// and white (a star field at high contrast): the grain leaves maxima across the spectrum as high
// as the screen's waves, and the partner at right angles of the one found need not stand out of
// it, nor the fit to the tone leave less than smoothed amplitudes do. The partner, fitted where
// the screen puts it, is as strong as the wave found, and the pinned samples show both to fade:
// the screen is taken out along the tone. The grain alone, whose maxima have no partner alike at
// their right angles, is left untouched.
TYPED_TEST(Cleaning, ScreenOverScatteredGrainIsTakenOut) {
    using S = TypeParam;
    const int32_t rows = 256, cols = 256;
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> unit(0, 1), at(0, 256), size(2, 8);
    std::vector<double> value(std::size_t(rows) * cols);
    for (double& v : value) {
        const double r = unit(gen);
        v = r < 0.35 ? 0.0 : r < 0.5 ? 1.0 : unit(gen);
    }
    for (int32_t s = 0; s < 60; ++s) {
        const double cy = at(gen), cx = at(gen), r = size(gen);
        for (int32_t y = std::max(0, int32_t(cy - r)); y < std::min(rows, int32_t(cy + r) + 1); ++y)
            for (int32_t x = std::max(0, int32_t(cx - r)); x < std::min(cols, int32_t(cx + r) + 1); ++x)
                if (std::hypot(y - cy, x - cx) < r) value[std::size_t(y) * cols + x] = 1.0;
    }
    const Image truth = grey_picture<S>(rows, cols, value);
    const Image noisy = with_toned_screen<S>(truth, 2 * std::numbers::pi / 10, 70 * std::numbers::pi / 180, 0.04);
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
    EXPECT_TRUE(decided_by(out, cleaning::Reason::FaintScreen));
    expect_gain<S>(out.image, noisy, truth, 9);
    EXPECT_TRUE(cleaning::clean_picture(modules(), truth).removed.empty());
}

// A screen printed with the tones over a picture at black or white in large parts, one of its two
// waves printed weaker than the other: the weaker makes no peak alike in strength, but stands out
// of the spectrum at right angles to the stronger. The frame's tiles weigh their quietest parts
// most, here the black and white where the dots vanish, and see no wave there; but the waves'
// strength per unit of the dots' swing is one across the frame, and both are taken out along the
// tone. So too for a screen along the rows and columns, whose peaks lie on the axes as a table's
// rules would: its strength follows the tone, which a table's does not.
TYPED_TEST(Cleaning, ScreenTheTilesMissOverBlackAndWhiteIsTakenOut) {
    using S = TypeParam;
    struct Screen {
        double degrees, period, stronger;
        uint32_t seed;
        double gain;
    };
    for (const Screen& s : {Screen{25, 8, 0.06, 9, 12}, Screen{0, 5, 0.04, 5, 8}}) {
        Image truth = photo<S>(320, 320, s.seed);
        stretch_tones<S>(truth, 4, 0);
        const double k = 2 * std::numbers::pi / s.period, a = s.degrees * std::numbers::pi / 180;
        Image noisy = truth;
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = 0; x < truth.cols; ++x)
                for (int32_t c = 0; c < 3; ++c) {
                    const double v = truth.value(y, x, c) / full_of<S>();
                    const double waves = s.stronger * std::cos(k * (x * std::cos(a) + y * std::sin(a))) +
                                         0.02 * std::cos(k * (y * std::cos(a) - x * std::sin(a)));
                    noisy.set_value(y, x, c, (v + 4 * v * (1 - v) * waves) * full_of<S>());
                }
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
        EXPECT_TRUE(decided_by(out, cleaning::Reason::ScreenEnvelope)) << s.degrees;
        expect_gain<S>(out.image, noisy, truth, s.gain);
    }
}

// Stripes of the picture's own, 24 px apart, printed with it through a screen of 5 px at 45
// degrees: they lie far below the screen, and descreening must keep them (filling their peaks
// as the screen's took them out of a print of a panned shot). Their amplitude, projected out of
// the cleaned picture, must be at least 80 % of the picture's.
TYPED_TEST(Cleaning, PicturesOwnStripesUnderAScreenAreKept) {
    using S = TypeParam;
    const double period = 24, angle = 80;
    const Image truth = photo<S>(160, 200, 5, 0.12, period, angle);
    Image printed = truth;
    const double k = 2 * std::numbers::pi / 5, a = std::numbers::pi / 4;
    for (int32_t y = 0; y < truth.rows; ++y)
        for (int32_t x = 0; x < truth.cols; ++x)
            for (int32_t c = 0; c < 3; ++c)
                printed.set_value(y, x, c, truth.value(y, x, c) > screen(k, a, y, x) * full_of<S>() ? full_of<S>() : 0);
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), printed);
    ASSERT_GT(out.lowpass_period, 0);
    const auto stripes = [&](const Image& im) {
        const double w = 2 * std::numbers::pi / period, ca = std::cos(angle * std::numbers::pi / 180),
                     sa = std::sin(angle * std::numbers::pi / 180);
        std::complex<double> sum = 0;
        for (int32_t y = 0; y < im.rows; ++y)
            for (int32_t x = 0; x < im.cols; ++x)
                sum += im.value(y, x, 1) * std::polar(1.0, -w * (x * ca + y * sa));
        return std::abs(sum);
    };
    EXPECT_GE(stripes(out.image), 0.8 * stripes(truth));
}

// Four waves whose peaks make a lattice no screen has: two frequencies 60 degrees apart with their
// sum and difference. Each is a sinusoid to take out, not a halftone to cut with a low-pass (which
// would blur the whole picture).
TYPED_TEST(Cleaning, WavesOnALatticeThatIsNotAScreensAreTakenOutOneByOne) {
    using S = TypeParam;
    const Image truth = photo<S>(160, 200, 13);
    Image noisy = truth;
    const double f1[2] = {std::cos(0.3) / 9, std::sin(0.3) / 9}, f2[2] = {std::cos(1.35) / 9.5, std::sin(1.35) / 9.5};
    for (int32_t y = 0; y < truth.rows; ++y)
        for (int32_t x = 0; x < truth.cols; ++x) {
            double wave = 0;
            for (const double s : {-1.0, 1.0})
                wave += 0.03 * std::cos(2 * std::numbers::pi * (x * (f1[0] + s * f2[0]) + y * (f1[1] + s * f2[1])));
            wave += 0.04 * (std::cos(2 * std::numbers::pi * (x * f1[0] + y * f1[1])) +
                            std::cos(2 * std::numbers::pi * (x * f2[0] + y * f2[1]) + 1));
            for (int32_t c = 0; c < 3; ++c) noisy.set_value(y, x, c, truth.value(y, x, c) + wave * full_of<S>());
        }
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
    EXPECT_EQ(out.lowpass_period, 0);
    expect_gain<S>(out.image, noisy, truth, 15);
}

// A panned shot: every row a streak, sky above and a band of rails and road lines below, slightly
// tilted, each line's brightness drifting along it. Its spectrum holds broad peaks beside the
// vertical axis that no sinusoid or sweep explains (a sweep fitted to the peaks about one of
// their frequencies alone keeps one phase, but only in the half of the frame the streaks fill);
// they are the picture's, and it comes back as it was.
TYPED_TEST(Cleaning, PannedShotStreaksAreLeftAlone) {
    using S = TypeParam;
    Image im = Image::make(200, 300, 3, test::depth_of<S>());
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> unit(0, 1);
    struct Line { double y, width, level, drift; };
    std::vector<Line> lines(14);
    for (Line& l : lines) l = {0.45 + 0.55 * unit(gen), 1 + 7 * unit(gen), (unit(gen) - 0.5) * 0.5, unit(gen) * 6};
    std::normal_distribution<double> grain(0, 0.005);
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x) {
            const double v = (y + 0.03 * x) / im.rows, u = double(x) / im.cols;
            double value = v < 0.45 ? 0.45 + 0.2 * v + 0.05 * std::sin(40 * v + 3 * u) : 0.3;
            for (const Line& l : lines)
                value += l.level * (0.8 + 0.2 * std::sin(l.drift + 4 * u)) /
                         (1 + std::exp(-2 * (l.width / 2 - std::fabs(v - l.y) * im.rows)));
            for (int32_t c = 0; c < 3; ++c)
                im.set_value(y, x, c, std::clamp(value * (0.9 + 0.1 * c) + grain(gen), 0.0, 1.0) * full_of<S>());
        }
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), im);
    EXPECT_TRUE(out.image.data == im.data) << out.removed.size() << " peaks removed";
}

// A page of text scanned a little askew, whose lines repeat down the page as steadily as a wave,
// but only where there is text: a sinusoid fitted to them and taken out would stripe the margins,
// and gains for their rows would lighten the words. The page comes back as it was; with scan lines
// over it, the scan lines alone are divided out.
TYPED_TEST(Cleaning, LinesOfTextAreLeftAlone) {
    using S = TypeParam;
    for (const double tilt : {0.0, 0.008}) {
        const Image askew = text_page<S>(330, 510, tilt);
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), askew);
        EXPECT_TRUE(out.image.data == askew.data) << out.removed.size() << " peaks removed, tilt " << tilt;
    }
    const Image page = text_page<S>(330, 510);
    Image scanned = page;
    for (int32_t y = 2; y < page.rows; y += 5)
        for (int32_t x = 0; x < page.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) scanned.set_value(y, x, c, 0.9 * page.value(y, x, c));
    expect_gain<S>(cleaning::clean_picture(modules(), scanned).image, scanned, page, 20);
}

// A chart: pairs of outlined boxes at a steady spacing on a flat panel, each reaching from the top
// down most of the panel, over a grainy band (none when the panel fills the picture). Ragged: the
// boxes start and end anywhere in the upper and lower parts of the panel, with whiskers above and
// below.
template <class S>
Image box_chart(int32_t side, int32_t panel, int32_t spacing, int32_t box, bool ragged = false) {
    std::vector<double> value(std::size_t(side) * side, 0.92);
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> unit(0, 1);
    std::normal_distribution<double> grain(0, 0.03);
    for (std::size_t i = std::size_t(panel) * side; i < value.size(); ++i) value[i] = 0.8 + grain(gen);
    Image chart = grey_picture<S>(side, side, value);
    for (int32_t centre = spacing / 2; centre + 2 * box < side; centre += spacing)
        for (int32_t j = 0; j < 2; ++j) {
            const int32_t x0 = centre - box + j * box;
            const int32_t top = int32_t(ragged ? panel * (0.05 + 0.2 * unit(gen)) : side * 0.02 * unit(gen));
            const int32_t bottom = std::min(side - 1, ragged ? top + int32_t(panel * (0.5 + 0.2 * unit(gen)))
                                                             : int32_t(panel * (0.7 + 0.3 * unit(gen))));
            if (ragged)
                for (int32_t y = std::max(0, top - panel / 12); y < std::min(side, bottom + panel / 12); ++y)
                    for (int32_t c = 0; c < 3; ++c) chart.set_value(y, x0 + box / 2, c, 0.1 * full_of<S>());
            for (int32_t y = top; y <= bottom; ++y)
                for (int32_t x = x0; x <= x0 + box; ++x) {
                    const bool edge = y - top < 2 || bottom - y < 2 || x - x0 < 2 || x0 + box - x < 2;
                    for (int32_t c = 0; c < 3; ++c)
                        chart.set_value(y, x, c, (edge ? 0.15 : j ? (c ? 0.7 : 0.1) : (c ? 0.4 : 0.95)) * full_of<S>());
                }
        }
    return chart;
}

// Each tile of a chart's panel holds only the boxes' upright edges, all on the horizontal axis of
// its spectrum, and so looks quiet about that axis: weighed so, one such tile outweighs the others
// and a peak of the boxes passes for a wave across the frame. Boxes that fill the panel put a comb
// of harmonics of their spacing on the axis, as stripes would; but they are the chart. Boxes of
// ragged heights 10 pixels apart also scatter weak peaks along the axis, more of them than the
// comb's, and spread each harmonic a few samples across it. The charts come back as they were.
TYPED_TEST(Cleaning, BoxesOfAChartAreLeftAlone) {
    using S = TypeParam;
    for (const auto& [side, panel, spacing, box, ragged] :
         {std::array<int32_t, 5>{512, 320, 55, 16, 0}, {512, 512, 40, 10, 0}, {640, 640, 10, 3, 1}}) {
        const Image chart = box_chart<S>(side, panel, spacing, box, ragged);
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), chart);
        EXPECT_TRUE(out.image.data == chart.data) << out.removed.size() << " peaks removed, spacing " << spacing;
    }
}

// A table: rules between columns 64 pixels wide (light grey), rows 22 high (dark grey, or none),
// and most cells holding a number, dark strokes at the same place in each. The cells repeat across
// the frame, and their peaks lie on the lattice of the combs on the two axes: taken for waves,
// they left the mean cell's number in the empty cells; and rows ruled at half the paper's
// brightness are drawn, not scan lines to divide out. The table comes back as it was.
TYPED_TEST(Cleaning, CellsOfATableAreLeftAlone) {
    using S = TypeParam;
    const int32_t rows = 396, cols = 576, high = 22, wide = 64;
    for (const double rule : {0.5, 1.0}) {
        std::mt19937 gen(4);
        std::uniform_real_distribution<double> unit(0, 1);
        std::uniform_int_distribution<int32_t> length(25, 50), stroke(2, 4);
        std::vector<double> value(std::size_t(rows) * cols, 1.0);
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x)
                if (x % wide == 0)
                    value[std::size_t(y) * cols + x] = 0.75;
                else if (y % high == 0)
                    value[std::size_t(y) * cols + x] = rule;
        for (int32_t top = 0; top < rows; top += high)
            for (int32_t left = 0; left < cols; left += wide)
                if (unit(gen) < 0.7)
                    for (int32_t x = left + 5, end = left + 5 + length(gen); x < end; x += stroke(gen) + 1)
                        for (int32_t y = top + 6; y < top + 17; ++y) value[std::size_t(y) * cols + x] = 0.1;
        const Image table = grey_picture<S>(rows, cols, value);
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), table);
        EXPECT_TRUE(out.image.data == table.data) << out.removed.size() << " peaks removed, rows ruled at " << rule;
    }
}

// A terminal: rows of monospaced characters, light on dark. The rows put a comb on the vertical
// axis; the characters' columns leave nothing on the horizontal one (each column holds every
// letter), but their peaks off the axes lie on the grid of the rows' harmonics and the columns'.
// With an advance of about half the rows' height, the columns and the rows' second harmonic make a
// square pair whose sum and difference the letters' strokes fill, as a screen's dots do; but the
// rows' own fundamental lies at half of it. Both screens come back as they were.
TYPED_TEST(Cleaning, CharactersOfATerminalAreLeftAlone) {
    using S = TypeParam;
    for (const double advance : {8.0, 8.43}) {
        const int32_t rows = advance == 8 ? 480 : 400, cols = advance == 8 ? 640 : 512;
        std::mt19937 gen(6);
        // Glyphs of 6 x 11: strokes on a few of three rows and two columns, or random dots.
        std::vector<std::array<bool, 66>> glyphs(advance == 8 ? 16 : 40);
        std::bernoulli_distribution ink(0.3);
        for (std::size_t g = 0; g < glyphs.size(); ++g)
            for (int32_t i = 0; i < 66; ++i) {
                const int32_t x = i % 6, y = i / 6;
                glyphs[g][std::size_t(i)] = advance == 8 ? (g >> (x % 4) & 1 && (y == 0 || y == 5 || y == 10)) || (g >> (y % 4) & 1 && (x == 0 || x == 5))
                                                         : ink(gen);
            }
        std::uniform_int_distribution<std::size_t> pick(0, advance == 8 ? 15 : glyphs.size() + 5);
        std::vector<double> value(std::size_t(rows) * cols, 0.12);
        for (int32_t top = 6; top + 12 < rows; top += 17)
            for (int32_t i = 0; 6 + advance * (i + 1) < cols - 40; ++i) {
                const std::size_t g = pick(gen);
                if ((advance == 8 && g < 3) || g >= glyphs.size()) continue;  // a space
                const double left = 6 + advance * i, f = left - std::floor(left);  // split between pixels
                const int32_t x0 = int32_t(left);
                for (int32_t y = 0; y < 11; ++y)
                    for (int32_t x = 0; x < 6; ++x)
                        if (glyphs[g][std::size_t(y * 6 + x)]) {
                            value[std::size_t(top + y) * cols + x0 + x] += 0.68 * (1 - f);
                            value[std::size_t(top + y) * cols + x0 + x + 1] += 0.68 * f;
                        }
            }
        for (double& v : value) v = std::min(0.8, v);
        const Image screen = grey_picture<S>(rows, cols, value);
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), screen);
        EXPECT_TRUE(out.image.data == screen.data) << out.removed.size() << " peaks removed, advance " << advance;
    }
    // A page of cells 9 x 16 whose spaces fall every ninth cell, two cells on from the row above:
    // the spaces' slanted lattice, five times coarser, makes of the rows' fundamental and one of
    // its points, 96 degrees apart and alike in length, a square pair; its peak a fifth of the
    // way between them, as strong, shows what repeats is coarser than the pair.
    const host::SpectrumGeometry g = host::spectrum_geometry(320, 302, host::Layout::Half);  // a page 300 wide
    const auto peak = [&](double u, double v, double amplitude) {
        cleaning::Peak p;
        p.column = int32_t(std::lround(g.centre_x + u * g.period_x));
        p.row = int32_t(std::lround(g.centre_y + v * g.rows));
        p.amplitude = amplitude;
        return p;
    };
    const double rows = 1 / 16.0;  // the spaces' lattice: (1/81, -1/72) and (0, 1/16)
    const cleaning::Frequency a{0, rows}, b{5 / 81.0, rows - 5 / 72.0};
    for (const double between : {0.04, 0.02}) {
        const std::vector<cleaning::Peak> peaks{peak(a.u, a.v, 0.1), peak(4 / 81.0, rows - 4 / 72.0, between), peak(b.u, b.v, 0.03)};
        const auto at = [&](const cleaning::Peak& p) { return cleaning::frequency_of(g, p.row, p.column); };
        EXPECT_EQ(cleaning::coarser_than_pair(g, peaks, at(peaks[0]), at(peaks[2]), 0.03, {}), between > 0.03);
    }
}

// Graph paper: lines every few pixels both ways, a curve drawn over them. Its rows and columns
// are darkened alike, as scan lines and streaks darken theirs, and where the lines cross they leave
// a lattice of peaks off the axes, as a screen's dots do, though faint beside the lines' own (and
// lines 5 pixels apart put too few harmonics on each axis for a comb). A table's columns lie
// further apart than scan lines do. The paper comes back as it was.
TYPED_TEST(Cleaning, GraphPaperIsLeftAlone) {
    using S = TypeParam;
    struct Ruling {
        int32_t across, down;  // pixels between the lines
        double level;
    };
    for (const Ruling& r : {Ruling{10, 10, 0.88}, {16, 16, 0.63}, {5, 5, 0.7}, {48, 12, 0.88}}) {
        Image paper = Image::make(400, 512, 3, test::depth_of<S>());
        for (int32_t y = 0; y < paper.rows; ++y)
            for (int32_t x = 0; x < paper.cols; ++x) {
                const bool curve = std::fabs(y - 200 - 120 * std::sin(x / 60.0)) < 1.5;
                const double v = curve ? 0.08 : x % r.across == 0 || y % r.down == 0 ? r.level : 1.0;
                for (int32_t c = 0; c < 3; ++c) paper.set_value(y, x, c, v * full_of<S>());
            }
        // Filling with zero, too: its lattice of peaks must still be known for a grid's.
        for (const cleaning::Fill fill : {cleaning::Fill::Background, cleaning::Fill::Zero}) {
            cleaning::CleanOptions options;
            options.fill = fill;
            const cleaning::CleanResult out = cleaning::clean_picture(modules(), paper, options);
            EXPECT_TRUE(out.image.data == paper.data) << out.removed.size() << " peaks removed, lines every " << r.across << " x "
                                                      << r.down << (fill == cleaning::Fill::Zero ? ", filling with zero" : "");
        }
    }
}

// A figure's panels side by side on a plain grey ground, each holding the same wave: the wave
// repeats across the frame as interference does, but the ground between the panels holds none.
// The figure comes back as it was.
TYPED_TEST(Cleaning, PanelsOfAFigureAreLeftAlone) {
    using S = TypeParam;
    Image figure = Image::make(200, 800, 3, test::depth_of<S>());
    const double k = 2 * std::numbers::pi / 30, a = 20 * std::numbers::pi / 180;
    for (int32_t y = 0; y < figure.rows; ++y)
        for (int32_t x = 0; x < figure.cols; ++x) {
            const int32_t px = (x - 40) % 200, py = y - 40;  // place in the panel, panels 200 px apart
            const bool inside = x >= 40 && px < 120 && py >= 0 && py < 120;
            const double w = inside ? std::sin(k * (px * std::cos(a) + py * std::sin(a))) : 0;
            const double colour[3] = {0.55 + 0.3 * w, 0.5 + 0.2 * w, 0.6 - 0.25 * w};
            for (int32_t c = 0; c < 3; ++c) figure.set_value(y, x, c, (inside ? colour[c] : 0.92) * full_of<S>());
        }
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), figure);
    EXPECT_TRUE(out.image.data == figure.data) << out.removed.size() << " peaks removed";
}

// A barcode: black bars of one to four modules of 2.5 pixels on white, their edges antialiased.
// Its bars put peaks across the frame, but a picture black or white nearly everywhere can hold
// no wave: one would leave samples between. The barcode comes back as it was.
TYPED_TEST(Cleaning, BarcodeIsLeftAlone) {
    using S = TypeParam;
    std::mt19937 gen(5);
    std::uniform_int_distribution<int> width(1, 4);
    std::vector<double> value(140 * 480, 1.0);
    bool black = true;
    for (double x = 30; x < 420; black = !black) {
        const double x1 = x + 2.5 * width(gen);
        for (int32_t c = int32_t(x); black && c < int32_t(std::ceil(x1)); ++c) {
            const double cover = std::min(x1, c + 1.0) - std::max(x, double(c));
            for (int32_t y = 15; y < 115; ++y) value[std::size_t(y) * 480 + c] -= cover;
        }
        x = x1;
    }
    const Image barcode = grey_picture<S>(140, 480, value);
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), barcode);
    EXPECT_TRUE(out.image.data == barcode.data) << out.removed.size() << " peaks removed";
}

// A page of text with a picture printed on it through a screen: the low-pass that takes the dots
// out blurs, and belongs to the picture alone. The text further than a few screen periods from it
// comes back as it was, and the picture nearer the one before printing.
TYPED_TEST(Cleaning, PrintedPictureOnAPageIsCutAloneNotTheText) {
    using S = TypeParam;
    Image page = text_page<S>(480, 510, 0, true);
    const Image truth = photo<S>(page.rows, page.cols, 11);
    const int32_t top = 300, bottom = 460, left = 150, right = 400;
    const double k = 2 * std::numbers::pi / 5, a = std::numbers::pi / 12;
    for (int32_t y = top; y < bottom; ++y)
        for (int32_t x = left; x < right; ++x) {
            for (int32_t c = 0; c < 3; ++c)
                page.set_value(y, x, c, truth.value(y, x, 1) > screen(k, a, y, x) * full_of<S>() ? full_of<S>() : 0);
        }
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), page);
    EXPECT_GT(out.lowpass_period, 5);
    int64_t changed = 0;
    double before = 0, after = 0;
    for (int32_t y = 0; y < page.rows; ++y)
        for (int32_t x = 0; x < page.cols; ++x) {
            const bool printed = y >= top && y < bottom && x >= left && x < right;
            const bool far = y < top - 40 || x < left - 40 || x >= right + 40;
            for (int32_t c = 0; c < 3; ++c) {
                changed += far && out.image.value(y, x, c) != page.value(y, x, c);
                const double e0 = (page.value(y, x, c) - truth.value(y, x, 1)) / full_of<S>();
                const double e1 = (out.image.value(y, x, c) - truth.value(y, x, 1)) / full_of<S>();
                before += printed ? e0 * e0 : 0;
                after += printed ? e1 * e1 : 0;
            }
        }
    EXPECT_EQ(changed, 0);
    EXPECT_LT(after, before / 8);
}

// `count` soft blobs (Gaussians of `sigma` pixels, each of its own height within 0.3 of full scale
// either way) at random over the left `share` of the picture, added to every colour channel.
template <class S>
void add_soft_blobs(Image& im, int32_t count, double sigma, double share, uint32_t seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<std::array<double, 3>> centres(static_cast<std::size_t>(count));
    for (auto& b : centres) b = {unit(gen) * im.rows, unit(gen) * im.cols * share, (unit(gen) - 0.5) * 0.6};
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x) {
            double v = 0;
            for (const auto& [by, bx, h] : centres) v += h * std::exp(-((y - by) * (y - by) + (x - bx) * (x - bx)) / (2 * sigma * sigma));
            for (int32_t c = 0; c < 3; ++c) im.set_value(y, x, c, std::clamp(im.value(y, x, c) + v * full_of<S>(), 0.0, full_of<S>()));
        }
}

// A weak wave (three levels in 255) over a picture whose left half is crowded with soft blobs, so
// that the spectrum about the wave's frequency keeps its peak below the detection threshold and
// one sinusoid explains little of the samples there: found because the quiet right half holds it
// with one amplitude and phase, and taken out whole, across the blobs too; the blobs alone come
// back exactly.
TYPED_TEST(Cleaning, WeakWaveUnderTheBlobsIsTakenOut) {
    using S = TypeParam;
    Image blobs = photo<S>(160, 200, 21);
    add_soft_blobs<S>(blobs, 600, 3, 0.5, 5);
    Image noisy = blobs;
    const double a = 0.7, k = 2 * std::numbers::pi / 11.3;
    for (int32_t y = 0; y < blobs.rows; ++y)
        for (int32_t x = 0; x < blobs.cols; ++x)
            for (int32_t c = 0; c < 3; ++c)
                noisy.set_value(y, x, c, blobs.value(y, x, c) + 3.0 / 255 * std::sin(k * (x * std::cos(a) + y * std::sin(a))) * full_of<S>());
    EXPECT_EQ(cleaning::clean_picture(modules(), blobs).image.data, blobs.data);
    const Image out = cleaning::clean_picture(modules(), noisy).image;
    for (int32_t c = 0; c < 3; ++c)
        EXPECT_GE(test::psnr(out, c, blobs, c, full_of<S>(), blobs.cols),
                  test::psnr(noisy, c, blobs, c, full_of<S>(), blobs.cols) + 15)
            << "channel " << c;
}

// In a print (--print), a wave longer than the longest a print's screen is likely to fold to, and
// with no more evidence than a weak wave's or a fill's, is the photograph's own: the weak wave
// under the blobs, and a wave whose amplitude grows across the frame (a fill, one sinusoid
// explaining only part of it), are taken out while they are shorter than that longest, kept once
// they are longer.
TYPED_TEST(Cleaning, LongWavesInAPrintAreThePhotographsOwn) {
    using S = TypeParam;
    Image weak = photo<S>(160, 200, 21), growing = weak;
    add_soft_blobs<S>(weak, 600, 3, 0.5, 5);
    const double a = 0.7, k = 2 * std::numbers::pi / 11.3;
    for (int32_t y = 0; y < weak.rows; ++y)
        for (int32_t x = 0; x < weak.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                const double wave = std::sin(k * (x * std::cos(a) + y * std::sin(a))) * full_of<S>();
                weak.set_value(y, x, c, weak.value(y, x, c) + 3.0 / 255 * wave);
                growing.set_value(y, x, c, growing.value(y, x, c) + 0.03 * (0.5 + double(x) / weak.cols) * wave);
            }
    cleaning::CleanOptions print;
    print.print = true;
    for (const auto& [longest, taken] : {std::pair{12.0, true}, std::pair{10.0, false}}) {
        print.thresholds.print_own_wave = longest;
        EXPECT_EQ(decided_by(cleaning::clean_picture(modules(), weak, print), cleaning::Reason::WeakWave), taken) << longest;
        const cleaning::CleanResult r = cleaning::clean_picture(modules(), growing, print);
        EXPECT_EQ(decided_by(r, cleaning::Reason::Filled), taken) << longest;
        EXPECT_EQ(decided_by(r, cleaning::Reason::PrintsOwn), !taken) << longest;
    }
}

// A wave over a picture whose top left corner is white: there the wave was cut off at full
// scale, so a white sample says only that the picture was at least full scale less the wave.
// Cleaning must not paint the inverted wave into the white: such samples take the middle, which
// halves what is left of the wave there.
TYPED_TEST(Cleaning, WhiteThatCutTheWaveOffIsNotStriped) {
    using S = TypeParam;
    const int32_t white = 20;  // the corner, white before the wave
    Image noisy = photo<S>(121, 151, 3, 0.06, 7.3, 33);
    const double a = 33 * std::numbers::pi / 180, k = 2 * std::numbers::pi / 7.3;
    double cut = 0, left = 0;
    for (int32_t y = 0; y < white; ++y)
        for (int32_t x = 0; x < white; ++x) {
            const double wave = 0.06 * std::sin(k * (x * std::cos(a) + y * std::sin(a))) * full_of<S>();
            for (int32_t c = 0; c < 3; ++c) noisy.set_value(y, x, c, std::min(full_of<S>(), full_of<S>() + wave));
            cut += 3 * std::max(0.0, wave);
        }
    const Image out = cleaning::clean_picture(modules(), noisy).image;
    for (int32_t y = 0; y < white; ++y)
        for (int32_t x = 0; x < white; ++x)
            for (int32_t c = 0; c < 3; ++c) left += std::fabs(out.value(y, x, c) - full_of<S>());
    EXPECT_LT(left, 0.6 * cut);
}

// A wave over a picture black in its left half: the black cut off the part of the wave below it,
// and a fit to the picture as it came is weaker than the wave (by about a quarter here), leaving
// the difference over the grey half; refitted to the picture unclipped, it leaves little there,
// and the black ground comes back black.
TYPED_TEST(Cleaning, WaveCutOffByBlackIsFittedWhole) {
    using S = TypeParam;
    const int32_t rows = 121, cols = 151, black = cols / 2;
    Image truth = photo<S>(rows, cols, 12), noisy = photo<S>(rows, cols, 12, 0.06, 7.3, 33);
    const double a = 33 * std::numbers::pi / 180, k = 2 * std::numbers::pi / 7.3;
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < black; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                truth.set_value(y, x, c, 0);
                noisy.set_value(y, x, c, std::max(0.0, 0.06 * std::sin(k * (x * std::cos(a) + y * std::sin(a)))) * full_of<S>());
            }
    const Image out = cleaning::clean_picture(modules(), noisy).image;
    double grey = 0, ground = 0;
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                const double d = (out.value(y, x, c) - truth.value(y, x, c)) / full_of<S>();
                (x < black ? ground : grey) += d * d;
            }
    // The wave's mean square is 0.0018; fitted to the clipped picture it leaves 1.3e-4 in the grey
    // half and 1.6e-4 in the black.
    EXPECT_LT(grey / (3.0 * rows * (cols - black)), 2e-5);
    EXPECT_LT(ground / (3.0 * rows * black), 2e-5);
}

// A long wave over a picture black and white in large parts (discs of either at random): their
// hard edges outshine the wave in the spectrum, and the ends cut it off where it lies over them.
// It is found by the half-waves it lifts off the black (pushes down from the white), and taken out
// whole; the picture without it comes back exactly.
TYPED_TEST(Cleaning, WaveOverBlackAndWhiteGroundIsFoundThere) {
    using S = TypeParam;
    const int32_t rows = 192, cols = 256;
    Image truth = photo<S>(rows, cols, 5), noisy = truth;
    std::mt19937 gen(8);
    std::uniform_real_distribution<double> at(0, 1);
    for (int disc = 0; disc < 24; ++disc) {
        const double cy = at(gen) * rows, cx = at(gen) * cols, r = 12 + 28 * at(gen), end = disc % 2 ? full_of<S>() : 0;
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x)
                if (std::hypot(y - cy, x - cx) < r)
                    for (int32_t c = 0; c < 3; ++c) truth.set_value(y, x, c, end);
    }
    const double a = 35 * std::numbers::pi / 180, k = 2 * std::numbers::pi / 31.3, amplitude = 0.05;
    double wave_square = 0, left = 0;
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            const double wave = amplitude * std::sin(k * (x * std::cos(a) + y * std::sin(a)));
            for (int32_t c = 0; c < 3; ++c)
                noisy.set_value(y, x, c, std::clamp(truth.value(y, x, c) + wave * full_of<S>(), 0.0, full_of<S>()));
            wave_square += 3 * wave * wave;
        }
    const cleaning::CleanResult result = cleaning::clean_picture(modules(), noisy);
    EXPECT_TRUE(decided_by(result, cleaning::Reason::GroundWave));
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            for (int32_t c = 0; c < 3; ++c) left += std::pow((result.image.value(y, x, c) - truth.value(y, x, c)) / full_of<S>(), 2);
    EXPECT_LT(left, 0.05 * wave_square);
    EXPECT_EQ(cleaning::clean_picture(modules(), truth).changed, 0);
}

// The photo-like picture with a disc a quarter of its height across darkened by half: a sharp
// edge, whose spectrum spreads far from the zero frequency.
template <class S>
Image edged_photo(int32_t rows, int32_t cols, uint32_t seed) {
    Image im = photo<S>(rows, cols, seed);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            for (int32_t c = 0; c < 3; ++c)
                if (std::hypot(y - 0.42 * rows, x - 0.5 * cols) < rows / 4.0) im.set_value(y, x, c, im.value(y, x, c) * 0.5);
    return im;
}

// Every k-th row darker, or every k-th column lighter, by 15 %, over a picture with a sharp
// edge: a gain for each class of rows (columns) is divided out, which notches at the axis peaks
// would not do, as the edge's spectrum is copied about each of them. Every 4th row raised by
// 8 levels alike in the dark disc and the light ground is an offset, subtracted: divided out as
// a gain, it would stay half in the disc and go twice over beside it. So are stripes of +2 and
// -3 levels over a dark picture (a night sky) whose tones span less than a factor of two; and
// lines too faint for any of their harmonics to stand out of the spectrum (two columns of every 9
// raised by 4 levels), found in the lines themselves.
TYPED_TEST(Cleaning, LinePatternsAreDividedOut) {
    using S = TypeParam;
    const Image light = edged_photo<S>(120, 150, 11);
    for (const int pattern : {0, 1, 2, 3, 4}) {
        Image truth = light;
        if (pattern == 3)
            for (int32_t y = 0; y < truth.rows; ++y)
                for (int32_t x = 0; x < truth.cols; ++x)
                    for (int32_t c = 0; c < 3; ++c) truth.set_value(y, x, c, 0.04 * full_of<S>() + 0.08 * light.value(y, x, c));
        Image noisy = truth;
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = 0; x < truth.cols; ++x)
                for (int32_t c = 0; c < 3; ++c) {
                    const double v = truth.value(y, x, c);
                    if (pattern == 0 && y % 6 == 2) noisy.set_value(y, x, c, v * 0.85);
                    if (pattern == 1 && x % 5 == 1) noisy.set_value(y, x, c, v * 1.15);
                    if (pattern == 2 && y % 4 == 1) noisy.set_value(y, x, c, v + 8.0 / 255 * full_of<S>());
                    if (pattern == 3) noisy.set_value(y, x, c, v + (y % 5 < 3 ? 2.0 : -3.0) / 255 * full_of<S>());
                    if (pattern == 4 && x % 9 < 2) noisy.set_value(y, x, c, v + 4.0 / 255 * full_of<S>());
                }
        const cleaning::CleanResult result = cleaning::clean_picture(modules(), noisy);
        EXPECT_TRUE(decided_by(result, pattern == 4 ? cleaning::Reason::FaintLines : cleaning::Reason::LinePattern))
            << "pattern " << pattern;
        const Image& out = result.image;
        for (int32_t c = 0; c < 3; ++c)
            EXPECT_GE(test::psnr(out, c, truth, c, full_of<S>(), truth.cols),
                      test::psnr(noisy, c, truth, c, full_of<S>(), truth.cols) + (pattern == 4 ? 6 : pattern >= 2 ? 15 : 20))
                << "pattern " << pattern << ", channel " << c;
    }
}

// A wave whose period sweeps from 16 to 6 pixels across the frame, over the picture with a sharp
// edge: taken out as a wave, its leakage at the frame's borders included, which fills along its
// ridge would leave. So is one whose frequency drifts by 12 % either way about a period of 10 px,
// which leaves no ridge but a broad peak whose phase drifts from one part of the frame to the next;
// and the same over the picture with its left third black, where the range cut off half the wave's
// swing: taken out there with its whole swing, not the half left in the picture, and rebuilt from
// an envelope smoothed wide enough that what the range cut off beside the black averages away. A
// fast sweep, 25 to 5 pixels, over a picture crowded with soft blobs whose energy hides the ridge's
// slow end: its fit refined by the wave's phase to the frequencies beyond the ridge, not stopped
// where the ridge shows (the envelope, smoothed wide, cannot follow a phase that runs off). And a
// wave drifting 10 % either way about 8 px beside stripes of the picture's own in its direction at
// 28 px, in a quarter of the frame, whose peak draws the fit of the direction's whole band: fitted
// again to the peaks about its own frequency, the stripes left alone. And a wave drifting 8 % either
// way about 12 px straight down the frame, whose peak and its mirror share the half spectrum's
// column of zero horizontal frequency: fitted along the axis, not across it.
TYPED_TEST(Cleaning, SweepingWaveIsTakenOut) {
    using S = TypeParam;
    const Image photo = edged_photo<S>(200, 240, 13);
    Image dark = photo;
    for (int32_t y = 0; y < dark.rows; ++y)
        for (int32_t x = 0; x < dark.cols / 3; ++x)
            for (int32_t c = 0; c < 3; ++c) dark.set_value(y, x, c, 0);
    Image crowded = edged_photo<S>(300, 300, 13);
    add_soft_blobs<S>(crowded, 1000, 5, 1, 5);
    const double tilted = 0.6, down = std::numbers::pi / 2;
    Image striped = photo;
    for (int32_t y = striped.rows / 2; y < striped.rows; ++y)
        for (int32_t x = striped.cols / 2; x < striped.cols; ++x)
            for (int32_t c = 0; c < 3; ++c)
                striped.set_value(y, x, c, striped.value(y, x, c) + 0.05 * full_of<S>() * std::sin(2 * std::numbers::pi * (std::cos(tilted) * x + std::sin(tilted) * y) / 28));
    using Case = std::tuple<double, double, const Image*, double>;  // from, to (cycles per pixel), over, direction
    for (const auto& [from, to, over, a] : {Case{1 / 16.0, 1 / 6.0, &photo, tilted}, Case{0.88 / 10, 1.12 / 10, &photo, tilted},
                                            Case{0.88 / 10, 1.12 / 10, &dark, tilted}, Case{1 / 25.0, 1 / 5.0, &crowded, tilted},
                                            Case{0.9 / 8, 1.1 / 8, &striped, tilted}, Case{0.92 / 12, 1.08 / 12, &photo, down}}) {
        const Image& truth = *over;
        const bool black = over == &dark;
        const double span = std::cos(a) * truth.cols + std::sin(a) * truth.rows;
        Image noisy = truth;
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = 0; x < truth.cols; ++x) {
                const double s = std::cos(a) * x + std::sin(a) * y;
                const double wave = 0.05 * std::sin(2 * std::numbers::pi * s * (from + (to - from) * s / (2 * span)));
                for (int32_t c = 0; c < 3; ++c)
                    noisy.set_value(y, x, c, std::clamp(truth.value(y, x, c) + wave * full_of<S>(), 0.0, full_of<S>()));
            }
        const cleaning::CleanResult result = cleaning::clean_picture(modules(), noisy);
        EXPECT_TRUE(decided_by(result, cleaning::Reason::Sweep)) << "period " << 1 / from;
        const Image& out = result.image;
        for (int32_t c = 0; c < 3; ++c)
            EXPECT_GE(test::psnr(out, c, truth, c, full_of<S>(), truth.cols),
                      test::psnr(noisy, c, truth, c, full_of<S>(), truth.cols) + (black ? 23 : 18))
                << "period " << 1 / from << " to " << 1 / to << (black ? " over black" : "") << ", channel " << c;
    }
}

// A wave straight along the rows or the columns whose period drifts by a few percent from one
// border to the other: from whole pixels at one border, or through them at the middle of the frame
// (both ways from it alike): as strong a line pattern as any in each part of the frame, but the
// parts' gains disagree (the wave slips out of step with the lines, one way across the frame or
// from the middle to both ends), so it is not divided out as lines, which would take little of it.
TYPED_TEST(Cleaning, WaveDriftingAlongAnAxisIsNoLinePattern) {
    using S = TypeParam;
    const Image truth = edged_photo<S>(320, 400, 17);
    for (const auto& [period, drift, columns, middle] : {std::tuple{5.0, 0.04, false, 0.0}, std::tuple{13.0, 0.06, true, 0.0},
                                                         std::tuple{17.0, 0.1, false, 0.0}, std::tuple{12.0, 0.04, true, 1.0}}) {
        Image noisy = truth;
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = 0; x < truth.cols; ++x) {
                const double s = columns ? x : y, span = columns ? truth.cols : truth.rows;
                const double wave = 0.04 * std::sin(2 * std::numbers::pi * s / period * (1 + drift * (s / span - middle)));
                for (int32_t c = 0; c < 3; ++c) noisy.set_value(y, x, c, truth.value(y, x, c) + wave * full_of<S>());
            }
        const cleaning::CleanResult result = cleaning::clean_picture(modules(), noisy);
        EXPECT_FALSE(decided_by(result, cleaning::Reason::LinePattern) || decided_by(result, cleaning::Reason::FaintLines))
            << "period " << period;
        expect_gain<S>(result.image, noisy, truth, 4);
    }
}

// A faint wave along the rows, 6 levels drifting 12 % either way about 6 px: no frequency of it
// stands out as a peak, and its stretch of the axis runs over some 25 samples, so the axis line's
// median about each of its samples must reach past it for the wave to stand above its line. The
// same over a picture whose blue alone holds a patch of fine weave of its own, which stands out as
// a peak in that channel only: colour detail, not a sign that the picture's own repeating content
// shows as peaks, so the faint sweep is still searched; and over one whose every channel holds the
// weave, kept as the picture's own: its direction is left out of the search, not the whole
// spectrum. And one straight along the rows, 10 % either way about 8 px, whose stretch of the axis
// runs through the line a picture's compression blocks leave there (not searched itself): weighed
// across it, not only on either side of it; and the same along the columns, whose stretch lies on
// the half spectrum's column of zero horizontal frequency with its mirror: both notched from the
// band, or only half the wave comes back and is taken out (a gain of 6 dB at most).
TYPED_TEST(Cleaning, FaintSweepAlongAnAxisIsTakenOut) {
    using S = TypeParam;
    enum Weave { None, Blue, Every };
    for (const auto& [weave, period, drift, tilt, columns] :
         {std::tuple{None, 6.0, 0.12, 0.005, false}, std::tuple{Blue, 6.0, 0.12, 0.005, false}, std::tuple{Every, 6.0, 0.12, 0.005, false},
          std::tuple{None, 8.0, 0.1, 0.0, false}, std::tuple{None, 8.0, 0.1, 0.0, true}}) {
        Image truth = columns ? photo<S>(640, 240, 11) : photo<S>(240, 640, 11);
        for (int32_t y = 20; y < 120 && weave != None; ++y)
            for (int32_t x = 40; x < 240; ++x)
                for (int32_t c = weave == Blue ? 2 : 0; c < 3; ++c)
                    truth.set_value(y, x, c, truth.value(y, x, c) + 0.04 * std::sin(2 * std::numbers::pi * (x - 0.6 * y) / 9) * full_of<S>());
        Image noisy = truth;
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = 0; x < truth.cols; ++x) {
                const double along = columns ? y : x + tilt * y, s = along / (columns ? truth.rows : truth.cols);
                const double wave = 0.024 * std::sin(2 * std::numbers::pi * along / period * (1 - drift + drift * s));
                for (int32_t c = 0; c < 3; ++c) noisy.set_value(y, x, c, truth.value(y, x, c) + wave * full_of<S>());
            }
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
        EXPECT_TRUE(decided_by(out, cleaning::Reason::FaintSweep)) << period << " px, weave " << weave << (columns ? ", along the columns" : "");
        expect_gain<S>(out.image, noisy, truth, columns ? 9 : 6);
    }
}

// A wave whose frequency drifts by 6 % either way about a period of 9.5 px, over a picture at black
// or white in large parts, where a fabric of the picture's own, of that period and at right angles
// to it, fills a part of the frame, too weak to make a screen's pair with the wave's peak: a sweep
// explains the peak, and it is taken out as one, not with the fabric along the tone as a screen
// printed with the tones would be.
TYPED_TEST(Cleaning, SweepBesideAFabricAtRightAnglesIsNoScreen) {
    using S = TypeParam;
    const double a = 25 * std::numbers::pi / 180, k = 2 * std::numbers::pi / 9.5, drift = 0.06;
    Image truth = photo<S>(256, 256, 9);
    for (int32_t y = 0; y < truth.rows; ++y)
        for (int32_t x = 0; x < truth.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                const bool woven = y > 25 && y < 154 && x > 140;
                const double fabric = woven ? 0.03 * std::sin(k * (y * std::cos(a) - x * std::sin(a))) : 0;
                const double v = truth.value(y, x, c) / full_of<S>();
                truth.set_value(y, x, c, std::clamp((v - 0.5) * 4 + 0.5 + fabric, 0.0, 1.0) * full_of<S>());
            }
    const double span = (std::cos(a) + std::sin(a)) * truth.cols;
    Image noisy = truth;
    for (int32_t y = 0; y < truth.rows; ++y)
        for (int32_t x = 0; x < truth.cols; ++x) {
            const double s = std::cos(a) * x + std::sin(a) * y;
            const double wave = 0.05 * std::sin(k * s * (1 - drift + drift * s / span));
            for (int32_t c = 0; c < 3; ++c)
                noisy.set_value(y, x, c, std::clamp(truth.value(y, x, c) + wave * full_of<S>(), 0.0, full_of<S>()));
        }
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
    EXPECT_TRUE(decided_by(out, cleaning::Reason::Sweep));
    EXPECT_FALSE(decided_by(out, cleaning::Reason::ScreenEnvelope));
    expect_gain<S>(out.image, noisy, truth, 6);
}

// A wave drifting 6-12 % either way over a picture at black or white in large parts, taken out as
// a sweep: about 18 px, beside an axis over sharp edges and at 60 degrees over soft blobs, where the
// range cut its swing short in patches and the envelope holds less than half its band, though it
// keeps one phase and one level across the frame; and about 12 px, 3 and 2 degrees off an axis,
// whose ridge runs on along the frame's borders' own and draws the first fit far past the peaks'
// frequencies, fitted again to the peaks alone. And a faint one, 10 % either way about 14 px, 6
// degrees off an axis over sharp edges crowded with soft blobs: no frequency of it stands out as a
// peak, and the blobs' detail in its band wanders its phase from one part of the frame to the next,
// but it lifts the black ground off (pushes the white down) under its crests and leaves it pinned
// under its troughs, which the picture's own detail does not: taken out as a faint sweep. And one
// 12 % either way about 14 px, a degree off the rows' axis, over a picture whose own hard bars
// fill that axis as strongly as the wave: where the ground's spectrum shows it, one sinusoid
// agrees with the ground's samples too seldom, but a sweep fitted to them does (untouched before).
TYPED_TEST(Cleaning, SweepOverBlackAndWhiteIsTakenOut) {
    using S = TypeParam;
    enum Ground { Smooth, Edged, Blobs, Crowded, Bars };
    for (const auto& [degrees, period, drift, ground] : {std::tuple{-5.9, 18.0, -0.12, Edged}, std::tuple{60.0, 18.0, 0.12, Blobs},
                                                         std::tuple{3.0, 12.0, -0.12, Smooth}, std::tuple{2.0, 12.0, 0.06, Smooth},
                                                         std::tuple{-6.0, 14.0, 0.1, Crowded}, std::tuple{1.0, 14.0, -0.12, Bars}}) {
        const bool faint = ground == Crowded;
        Image truth = faint ? edged_photo<S>(256, 256, 13) : ground == Bars ? edged_photo<S>(240, 480, 13) : ground == Edged ? edged_photo<S>(320, 360, 13) : photo<S>(320, 360, 9);
        if (ground == Blobs || faint) add_soft_blobs<S>(truth, faint ? 1500 : 600, 5, 1, 5);
        stretch_tones<S>(truth, 4, 0.5);
        std::mt19937 gen(21);
        for (int32_t bar = 0; ground == Bars && bar < 10; ++bar) {
            const int32_t x0 = std::uniform_int_distribution<int32_t>(0, truth.cols - 12)(gen), width = std::uniform_int_distribution<int32_t>(2, 12)(gen);
            for (int32_t x = x0; x < x0 + width; ++x)
                for (int32_t y = 0; y < truth.rows; ++y)
                    for (int32_t c = 0; c < 3; ++c) truth.set_value(y, x, c, bar % 2 ? full_of<S>() : 0);
        }
        const double a = degrees * std::numbers::pi / 180, ca = std::cos(a), sa = std::sin(a);
        const double span = std::fabs(ca) * truth.cols + std::fabs(sa) * truth.rows;
        const double s0 = std::min(0.0, ca * truth.cols) + std::min(0.0, sa * truth.rows);
        Image noisy = truth;
        for (int32_t y = 0; y < truth.rows; ++y)
            for (int32_t x = 0; x < truth.cols; ++x) {
                const double s = ca * x + sa * y - s0;
                const double wave = (faint ? 0.025 : ground == Bars ? 0.035 : 0.06) * std::sin(2 * std::numbers::pi / period * s * (1 - drift + drift * s / span));
                for (int32_t c = 0; c < 3; ++c)
                    noisy.set_value(y, x, c, std::clamp(truth.value(y, x, c) + wave * full_of<S>(), 0.0, full_of<S>()));
            }
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
        EXPECT_TRUE(decided_by(out, faint ? cleaning::Reason::FaintSweep : ground == Bars ? cleaning::Reason::GroundSweep : cleaning::Reason::Sweep))
            << degrees << " degrees";
        expect_gain<S>(out.image, noisy, truth, faint ? 4 : 8);
    }
}

// A screen of soft dots whose strength follows the tone, 4 v (1 - v): two waves at right angles of
// one period (8 px at 20 degrees) with no sum or difference, neither as strong in one part of the
// frame as in another. They are the screen's and taken out, not left as the picture's own.
TYPED_TEST(Cleaning, ScreenThatFollowsTheToneIsTakenOut) {
    using S = TypeParam;
    const Image truth = edged_photo<S>(200, 240, 17);
    const Image noisy = with_toned_screen<S>(truth, 2 * std::numbers::pi / 8, 20 * std::numbers::pi / 180, 0.05);
    const cleaning::CleanResult result = cleaning::clean_picture(modules(), noisy);
    expect_gain<S>(result.image, noisy, truth, 8);
}

// The magnitudes of a 192 x 192 picture's tones printed by `inked(v, y, x, c)`: whether channel c
// takes ink at pixel (y, x), v being the tone there (0 to 1).
template <class Inked>
cleaning::LogMagnitudes printed_magnitudes(Inked inked) {
    using S = uint8_t;
    const Image tones = photo<S>(192, 192, 23);
    Image printed = tones;
    for (int32_t y = 0; y < tones.rows; ++y)
        for (int32_t x = 0; x < tones.cols; ++x)
            for (int32_t c = 0; c < 3; ++c)
                printed.set_value(y, x, c, inked(tones.value(y, x, 0) / full_of<S>(), y, x, c) ? 0 : full_of<S>());
    return cleaning::read_log_magnitudes(cleaning::forward_spectrum(modules().forward, cleaning::to_float(printed)),
                                         host::Layout::Half);
}

// Two inks printed in one channel (a black at 45 degrees over a colour ink at 15, as four-colour
// prints lay them) beat where their dots overlap, at the differences of their fundamentals below
// the screen: descreening looks for that beat in the channel they share (the difference of the
// 15 and 45 degree fundamentals, 0.52 times the screen frequency at 120 degrees, is among its
// points), and not in the channels the black prints alone.
TEST(CleaningRules, TwoInksInOneChannelBeatAtTheirFundamentalsDifference) {
    const double period = 6, k = 2 * std::numbers::pi / period;
    const cleaning::LogMagnitudes m = printed_magnitudes([&](double v, int32_t y, int32_t x, int32_t c) {
        return v < screen(k, std::numbers::pi / 4, y, x) || (c == 0 && v < screen(k, std::numbers::pi / 12, y, x));
    });
    const cleaning::Thresholds t;
    const cleaning::Detection d = cleaning::detect_peaks(m, {}, t);
    const cleaning::Screens s = cleaning::screens_of(m, d, {1 / period, 1 / period, 1 / period}, 1 / 48.0, t);
    const double beat = 2 * std::sin(std::numbers::pi / 12) / period, a = 120 * std::numbers::pi / 180;
    const cleaning::Frequency expected{beat * std::cos(a), beat * std::sin(a)};
    const auto beats = [&](const cleaning::ChannelScreen& screen) {
        return std::any_of(screen.moire.begin(), screen.moire.end(), [&](const cleaning::Frequency& f) {
            return std::min(cleaning::distance_in_samples(m.geometry, f, expected),
                            cleaning::distance_in_samples(m.geometry, f, {-expected.u, -expected.v})) <= 1.5;
        });
    };
    EXPECT_TRUE(beats(s[0]));
    EXPECT_FALSE(beats(s[1]));
    EXPECT_FALSE(beats(s[2]));
}

// A print's rosette is told by its screens' turns: square pairs of peaks of one period turned
// from one another by multiples of 15 degrees (mod 90: 15 and 75 degrees are 30 apart), three
// of them at least; a screen turned otherwise, or a table's pairs on the axes, make none.
TEST(CleaningRules, ScreenPeriodFromARosetteOrFromTheFrequencyOfADiagonalLattice) {
    const host::SpectrumGeometry g = host::spectrum_geometry(512, 514, host::Layout::Half);
    const auto detection_of = [&](const std::vector<std::array<double, 2>>& screens) {  // period, turn
        cleaning::Detection d;
        double amplitude = 0.2;
        for (const auto& [period, turn] : screens) {
            for (const double angle : {turn, turn + 90}) {
                const double a = angle * std::numbers::pi / 180, s = std::cos(a) < 0 ? -1 : 1;
                cleaning::Peak p;
                p.column = int32_t(std::lround(s * std::cos(a) / period * g.period_x));
                p.row = int32_t(std::lround(g.centre_y + s * std::sin(a) / period * g.rows));
                p.period = period;
                p.angle = std::fmod(angle, 180.0);
                p.amplitude = amplitude;
                d.peaks.push_back(p);
            }
            amplitude *= 0.8;
        }
        return d;
    };
    const auto peaks_of = [&](const std::vector<std::array<double, 2>>& screens) {
        return cleaning::rosette_period(cleaning::square_screens(detection_of(screens), g, 0.024, {}), 512, {});
    };
    EXPECT_NEAR(peaks_of({{11, 15}, {11.1, 75}, {10.9, 0}}), 11, 0.01);
    EXPECT_NEAR(peaks_of({{6, 17}, {6, 77}, {6, 47}, {4.24, 62}}), 6, 0.01);
    EXPECT_NEAR(peaks_of({{4.24, 62}, {4.24, 32}, {4.24, 47}, {6, 17}}), 6, 0.01);  // the diagonals first
    EXPECT_EQ(peaks_of({{11, 15}, {11, 75}, {11, 37}}), 0);
    EXPECT_EQ(peaks_of({{11, 15}, {8, 75}, {6, 0}}), 0);
    EXPECT_EQ(peaks_of({{11, 0}, {11.2, 0}, {10.9, 1}}), 0);
    // An ink whose own pair is lost shows itself by its diagonals (75 degrees by a pair at 30).
    EXPECT_NEAR(peaks_of({{6, 15}, {6, 0}, {4.24, 30}}), 6, 0.01);
    // Lines drawn every 31 pixels both ways (an ink at 0 degrees rules them): a rosette off their
    // lattice is a print's; one that a grid every 16 pixels makes of its own harmonics lies on it.
    cleaning::Detection print = detection_of({{4.61, 11}, {4.61, 41}, {4.61, 26}});
    print.rosette = print.screen_period = 4.61;
    EXPECT_TRUE(cleaning::screen_off_grid(print, g, 31, 31, {}));
    cleaning::Detection grid = detection_of({{4, 0}, {3.881, 14.04}, {3.771, 45}});
    grid.rosette = grid.screen_period = 3.881;
    EXPECT_FALSE(cleaning::screen_off_grid(grid, g, 16, 16, {}));
    // An ink at 0 degrees every 13 / 3 pixels lies on a grid every 13; the other inks show only by
    // their diagonals, off it.
    cleaning::Detection diagonals = detection_of({{13 / 3.0, 0}, {3.064, 30}, {3.064, 60}});
    diagonals.rosette = diagonals.screen_period = 13 / 3.0;
    EXPECT_TRUE(cleaning::screen_off_grid(diagonals, g, 13, 13, {}));
    // A lattice made out at a screen's diagonals only: the screen's own frequency, stronger and
    // sqrt 2 times coarser, turned 45 degrees, gives the period; a weaker peak there does not.
    cleaning::Detection d;
    d.screen_period = 4.31;
    for (const auto& [period, angle, amplitude] : {std::tuple{6.1, 107.4, 0.39}, {4.31, 152.4, 0.12}, {4.31, 62.4, 0.09}}) {
        d.peaks.emplace_back();
        d.peaks.back().period = period, d.peaks.back().angle = angle, d.peaks.back().amplitude = amplitude;
    }
    EXPECT_EQ(cleaning::screen_fundamental(d, {}), 6.1);
    // ... and made out at the second harmonics, twice as fine, two such steps.
    d.screen_period = 3.05;
    d.peaks.push_back(d.peaks.back());
    d.peaks.back().period = 3.05, d.peaks.back().angle = 17.4, d.peaks.back().amplitude = 0.05;
    EXPECT_EQ(cleaning::screen_fundamental(d, {}), 6.1);
    d.screen_period = 4.31;
    d.peaks.front().amplitude = 0.1;
    EXPECT_EQ(cleaning::screen_fundamental(d, {}), 4.31);
}

// Hard-edged dots laid along the rows and columns, 5.69 pixels apart, over a ramp: the line
// search finds lines every few of their periods both ways, as on graph paper, but their two waves are soft
// (no second harmonic as strong as a drawn line's sharp edges leave) and fill their crossings,
// which lines drawn both ways leave nearly empty: a screen, taken out, not a grid kept whole.
TEST(CleaningRules, DotsAlongTheAxesAreNoDrawnGrid) {
    const int32_t side = 256;
    const double k = 2 * std::numbers::pi / 5.69;
    std::vector<double> ramp(std::size_t(side) * side), value(ramp.size());
    for (int32_t y = 0; y < side; ++y)
        for (int32_t x = 0; x < side; ++x) {
            const std::size_t i = std::size_t(y) * side + x;
            ramp[i] = 0.25 + 0.5 * (x + y) / (2.0 * side);
            double dot = 0;  // the share of the pixel the dot covers, sampled 3 x 3
            for (int32_t j = 0; j < 9; ++j) dot += (screen(k / 3, 0, 3 * y + j / 3 - 1, 3 * x + j % 3 - 1) > 0.62) / 9.0;
            value[i] = ramp[i] + 0.14 * (dot - 1.0 / 3);
        }
    const Image noisy = grey_picture<uint8_t>(side, side, value);
    const cleaning::CleanResult out = cleaning::clean_picture(modules(), noisy);
    EXPECT_FALSE(decided_by(out, cleaning::Reason::DrawnGrid));
    expect_gain<uint8_t>(out.image, noisy, grey_picture<uint8_t>(side, side, ramp), 5);
}

// One ink at 15 degrees over a picture of hard-edged horizontal blinds (every 11.5 rows): the
// blinds' copies about the ink's diagonal lattice point fall on the screen's ring at about 45
// degrees, where a black ink would lie, as strong as some of the ink's own; they come in twins
// about that point, and are no second ink whose beat is taken out.
TEST(CleaningRules, StripesCopiedAboutTheScreenAreNoSecondInk) {
    const double period = 6, k = 2 * std::numbers::pi / period;
    const cleaning::LogMagnitudes m = printed_magnitudes([&](double v, int32_t y, int32_t x, int32_t c) {
        const double slat = std::fmod(y, 11.5) < 3.5 ? 0.35 : 1;
        return c == 0 && slat * v < screen(k, std::numbers::pi / 12, y, x);
    });
    const cleaning::Thresholds t;
    const cleaning::Detection d = cleaning::detect_peaks(m, {}, t);
    const cleaning::Screens s = cleaning::screens_of(m, d, {1 / period, 0, 0}, 1 / 48.0, t);
    EXPECT_TRUE(s[0].moire.empty());
}

// A print's screen finer than a low-pass can cut apart from the picture's detail (2.2 px, as a
// screen too fine for the scan folds to) is taken as folded, not low-passed; the same screen at
// 3.2 px is still low-passed.
TEST(CleaningRules, PrintScreenFinerThanTheScanIsTakenAsFolded) {
    for (const auto& [period, folded] : {std::pair{2.2, true}, std::pair{3.2, false}}) {
        const Image printed = with_toned_screen<float>(photo<float>(150, 190, 11), 2 * std::numbers::pi / period,
                                                       20 * std::numbers::pi / 180, 0.1);
        cleaning::CleanOptions options;
        options.print = true;
        const cleaning::CleanResult out = cleaning::clean_picture(modules(), printed, options);
        EXPECT_EQ(out.folded_screen > 0, folded) << period;
        EXPECT_EQ(out.lowpass_period > 0, !folded) << period;
    }
}

// A folded print is restored block by block, two channels in one transform: a picture without
// grain, each channel its own smooth wave, comes back as it was, each channel its own, up to its
// borders (within what the scanner's response lifts at the blocks' lowest frequencies).
TEST(CleaningRules, FoldedPrintRestorationKeepsSmoothChannelsApart) {
    Image im = Image::make(70, 90, 3, 32);
    const auto wave = [](int32_t y, int32_t x, int32_t c) {
        const double t = c == 0 ? x / 90.0 : c == 1 ? y / 70.0 : (x + y) / 100.0;
        return float(0.5 + 0.3 * std::sin(2 * std::numbers::pi * t));
    };
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) im.set<float>(y, x, c, wave(y, x, c));
    EXPECT_GT(cleaning::restore_folded_print(im), 0);
    double worst = 0;
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) worst = std::max(worst, double(std::fabs(im.get<float>(y, x, c) - wave(y, x, c))));
    EXPECT_LT(worst, 0.03);
}

// A folded print's grain is weighed by each pixel's tone: an edge from dark to light, neither of
// which holds grain, keeps its full step beside a grainy middle tone (the scanner's response lifted
// there), not smoothed as the middle tone its blocks average to.
TEST(CleaningRules, FoldedPrintGrainGoesByEachPixelsTone) {
    Image im = Image::make(64, 160, 3, 32);
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> grain(-0.2, 0.2);
    const auto edge = [](int32_t x) { return x < 120 ? 0.1f : 0.9f; };
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) im.set<float>(y, x, c, x < 80 ? float(0.5 + grain(gen)) : edge(x));
    EXPECT_GT(cleaning::restore_folded_print(im), 0);
    double step = 1;
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t c = 0; c < 3; ++c) step = std::min(step, double(im.get<float>(y, 120, c) - im.get<float>(y, 119, c)));
    EXPECT_GE(step, 0.8);
}

// A folded print's blocks weigh each frequency's power averaged with its neighbours', and what
// grain they leave is smoothed out last, each pixel's square taken to its mean where its spread is
// the grain's: a picture of grain alone comes back within 0.02 of its tone (0.043 of the 0.115 it
// held when each frequency's power is taken alone, whose chance highs let the grain through).
TEST(CleaningRules, FoldedPrintGrainLeftIsSmoothed) {
    Image im = Image::make(64, 64, 3, 32);
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> grain(-0.2, 0.2);
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) im.set<float>(y, x, c, float(0.5 + grain(gen)));
    EXPECT_GT(cleaning::restore_folded_print(im), 0);
    double spread = 0;
    int32_t n = 0;
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x, ++n) spread += std::pow(im.get<float>(y, x, 0) - 0.5, 2);
    EXPECT_LT(std::sqrt(spread / n), 0.02);
}

// Grain the blocks leave in the flat parts of blocks that hold an edge (the edge's power lets it
// through there) is smoothed by the final filter: on squares of two tones under light grain, the
// pixels two or more from an edge come back within 0.015 of their tone (0.021 without it).
TEST(CleaningRules, FoldedPrintGrainBesideEdgesIsSmoothed) {
    constexpr int32_t kCell = 13;
    Image im = Image::make(96, 96, 3, 32);
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> grain(-0.05, 0.05);
    auto tone = [](int32_t y, int32_t x) { return (x / kCell + y / kCell) % 2 ? 0.35 : 0.65; };
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) im.set<float>(y, x, c, float(tone(y, x) + grain(gen)));
    cleaning::restore_folded_print(im);
    double spread = 0;
    int32_t n = 0;
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            if (std::min({x % kCell, kCell - 1 - x % kCell, y % kCell, kCell - 1 - y % kCell}) >= 2) {
                spread += std::pow(im.get<float>(y, x, 0) - tone(y, x), 2);
                ++n;
            }
    EXPECT_LT(std::sqrt(spread / n), 0.015);
}

// How strongly a folded print's block is restored goes by the detail it holds beyond its tone's
// grain: of a middle tone under grain, the half that holds only grain is smoothed the most (spread
// left 0.0015, 0.0038 when every block is smoothed as little as one with detail), the half where a
// fine wave (3.2 px, dimmed by the scanner to 0.44 of 0.2) stands well above the grain is lifted
// (0.62 of the wave's amplitude back, the grain the lift raised with it smoothed after; 0.44 when
// no block is lifted). (Lifting the grain-only half
// as much as the waved one no longer shows here: the smoothing where the picture is flat, after
// the blocks, takes out what that lift leaves.)
TEST(CleaningRules, FoldedPrintStrengthGoesByEachBlocksDetail) {
    constexpr double kPeriod = 3.2, kAmplitude = 0.2, kDimmed = 0.44;
    Image im = Image::make(64, 160, 3, 32);
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> grain(-0.04, 0.04);
    const auto wave = [&](int32_t x) { return x < 80 ? 0.0 : std::sin(2 * std::numbers::pi * x / kPeriod); };
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) im.set<float>(y, x, c, float(0.5 + grain(gen) + kDimmed * kAmplitude * wave(x)));
    EXPECT_GT(cleaning::restore_folded_print(im), 0);
    double spread = 0;
    std::complex<double> sum = 0;
    int32_t flat = 0, waved = 0;
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x) {
            const double v = im.get<float>(y, x, 0) - 0.5;
            if (x < 64) spread += v * v, ++flat;
            if (x >= 96) sum += v * std::polar(1.0, -2 * std::numbers::pi * x / kPeriod), ++waved;
        }
    EXPECT_LT(std::sqrt(spread / flat), 0.002);
    EXPECT_GT(2 * std::abs(sum) / waved / kAmplitude, 0.6);
}

// A folded print's grain is told from the picture's detail by how it stands at a frequency and at
// it turned by a right angle: a screen's lattice is square, and stays one folded onto the square
// grid of samples. A 45 degree screen too fine for the scan (1.2 px, area-averaged over each
// pixel: the scan's whole grain, weaker where its high frequencies fall) printing the picture's own
// fine lines (3 px) in every block: the lines come back at 1.17 of their amplitude, lifted against
// the scanner's blur (1.03 with the grain taken as alike at every high frequency, 0.67 with a
// block's grain counting the lines, 0.02 with both).
TEST(CleaningRules, FoldedPrintGrainGoesByItsShape) {
    constexpr int32_t kFine = 4;
    constexpr double kLines = 3, kAmplitude = 0.04;
    const double k = 2 * std::numbers::pi / 1.2, a = 47 * std::numbers::pi / 180;
    Image im = Image::make(96, 96, 3, 32);
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x) {
            double paper = 0;
            for (int32_t j = 0; j < kFine; ++j)
                for (int32_t i = 0; i < kFine; ++i) {
                    const double tone = 0.5 + kAmplitude * std::sin(2 * std::numbers::pi * (y + (j + 0.5) / kFine) / kLines);
                    paper += screen(k / kFine, a, kFine * y + j, kFine * x + i) < tone;
                }
            const double v = paper / (kFine * kFine);
            for (int32_t c = 0; c < 3; ++c) im.set<float>(y, x, c, float(v));
        }
    EXPECT_GT(cleaning::restore_folded_print(im), 0);
    std::complex<double> sum = 0;
    int32_t n = 0;
    for (int32_t y = 16; y < im.rows - 16; ++y)
        for (int32_t x = 0; x < im.cols; ++x, ++n) sum += double(im.get<float>(y, x, 0) - 0.5) * std::polar(1.0, -2 * std::numbers::pi * y / kLines);
    EXPECT_GT(2 * std::abs(sum) / n / kAmplitude, 1.1);
}

// Twice the modulus of the mean of channel c times exp(-2 pi i (u x + v y)): the amplitude of the
// wave of that frequency in the picture.
double wave_amplitude(const Image& im, int32_t c, double period, double angle) {
    const double a = angle * std::numbers::pi / 180, k = 2 * std::numbers::pi / period;
    std::complex<double> sum = 0;
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            sum += im.value(y, x, c) * std::polar(1.0, -k * (x * std::cos(a) + y * std::sin(a)));
    return 2 * std::abs(sum) / (double(im.rows) * im.cols);
}

// The peaks found in a QuenFwd spectrum, given to the notch edit as they are listed (place and
// suggested radius), remove the wave from the QuenInv picture: the listed column and row are the
// spectrum picture's own.
TYPED_TEST(Cleaning, ListedPeaksNotchedOutRemoveTheWave) {
    using S = TypeParam;
    const Image noisy = photo<S>(120, 136, 5, 0.06, 9.1, 120);
    Image spectrum = host::run_filter(test::loaded_module("QuenFwd"), noisy).image;
    const cleaning::Detection found =
        cleaning::detect_peaks(cleaning::read_log_magnitudes(spectrum, host::Layout::Full));
    ASSERT_EQ(found.peaks.size(), 1u);
    const Image unnotched = host::run_filter(test::loaded_module("QuenInv"), spectrum).image;
    std::vector<tool::Edit> notches;
    for (const cleaning::Peak& p : found.peaks)
        notches.push_back({tool::Edit::Kind::Notch, double(p.column), double(p.row), p.notch});
    tool::apply_edits(spectrum, host::Layout::Full, notches);
    const Image grey = host::run_filter(test::loaded_module("QuenInv"), spectrum).image;
    EXPECT_GT(wave_amplitude(noisy, 0, 9.1, 120) / full_of<S>(), 0.05);
    EXPECT_LT(wave_amplitude(grey, 0, 9.1, 120) / full_of<S>(), 0.006);
    // The notch takes the wave and little else: the picture comes nearer the noise-free one (a
    // notch as wide as the flagged leakage, 27-30 samples here, takes the picture down to 6 dB).
    const Image truth = host::run_filter(test::loaded_module("QuenInv"),
                                         host::run_filter(test::loaded_module("QuenFwd"), photo<S>(120, 136, 5)).image).image;
    EXPECT_GT(test::psnr(grey, 0, truth, 0, full_of<S>(), truth.cols),
              test::psnr(unnotched, 0, truth, 0, full_of<S>(), truth.cols) + 10);
}

// The rules one at a time: the evidence for a candidate built by hand, and the reason that decides it.

cleaning::Peak axis_peak(const host::SpectrumGeometry& g, int32_t row, int32_t column, int32_t group) {
    const cleaning::Frequency f = cleaning::frequency_of(g, row, column);
    return {row, column, 1, 0.02, 1 / std::hypot(f.u, f.v), 90, 7u, group};
}

// Peaks at five harmonics of 8 samples on the vertical axis of a 192-row spectrum are things the
// picture repeats every 24 rows; a peak off the axis is left to the later rules, and a peak kept
// already keeps its reason.
TEST(CleaningRules, HarmonicsOfOneSpacingAreThePicturesOwnRepeatingContent) {
    const host::SpectrumGeometry g = host::spectrum_geometry(192, 258, host::Layout::Half);
    const int32_t centre = static_cast<int32_t>(g.centre_y);
    cleaning::Detection d;
    for (int32_t j = 1; j <= 5; ++j) d.peaks.push_back(axis_peak(g, centre + 8 * j, 0, j));
    d.peaks.push_back(axis_peak(g, centre + 30, 17, 6));
    cleaning::Decisions decisions(6);
    decisions.decide(5, {cleaning::Verdict::Keep, cleaning::Reason::LeftByDividedLines});
    const cleaning::Thresholds t;
    // Four free harmonics make a comb; three do not.
    cleaning::Decisions three = decisions;
    three.decide(4, {cleaning::Verdict::Keep, cleaning::Reason::DrawnGrid});
    EXPECT_EQ(cleaning::keep_comb(d, g, cleaning::Axis::Rows, three, t), 0);
    EXPECT_EQ(three[1].verdict, cleaning::Verdict::Undecided);
    EXPECT_NEAR(cleaning::keep_comb(d, g, cleaning::Axis::Rows, decisions, t), 8, 0.05);
    for (int32_t j = 1; j <= 4; ++j) {
        EXPECT_EQ(decisions[j].reason, cleaning::Reason::RepeatingContent) << j;
        EXPECT_NEAR(decisions[j].spacing, 24, 0.2) << j;
    }
    EXPECT_EQ(decisions[5].reason, cleaning::Reason::LeftByDividedLines);
    EXPECT_EQ(decisions[6].verdict, cleaning::Verdict::Undecided);
    EXPECT_EQ(cleaning::reason_text(decisions[1]),
              "kept: one of the harmonics of a 24 px spacing of the rows, the picture's own repeating content");
    // Nothing on the other axis.
    EXPECT_EQ(cleaning::keep_comb(d, g, cleaning::Axis::Columns, decisions, t), 0);
}

// A peak to be filled is still taken by a sweep found later from its ridge; a kept one is not.
TEST(CleaningRules, TheFirstRuleThatSettlesAPeakDecidesIt) {
    cleaning::Decisions decisions(2);
    decisions.decide(1, {cleaning::Verdict::Fill, cleaning::Reason::Filled});
    EXPECT_TRUE(decisions.decide(1, {cleaning::Verdict::SubtractSweep, cleaning::Reason::Sweep}));
    EXPECT_EQ(decisions[1].reason, cleaning::Reason::Sweep);
    decisions.decide(2, {cleaning::Verdict::Keep, cleaning::Reason::PartOfFrame});
    EXPECT_FALSE(decisions.decide(2, {cleaning::Verdict::SubtractSweep, cleaning::Reason::Sweep}));
    EXPECT_EQ(decisions[2].reason, cleaning::Reason::PartOfFrame);
}

// The median is the value at the middle of the sorted values (the upper middle one of an even
// count) at every count and however many values are alike: backgrounds and line gains rest on it.
TEST(CleaningRules, MedianIsTheMiddleOfTheSortedValuesWhateverTheTies) {
    std::mt19937 random(5);
    for (std::size_t n = 1; n <= 80; ++n)
        for (const int levels : {3, 1000}) {
            std::uniform_int_distribution<int> level(0, levels - 1);
            std::vector<float> values(n);
            for (float& v : values) v = float(level(random));
            std::vector<float> sorted = values;
            std::sort(sorted.begin(), sorted.end());
            EXPECT_EQ(cleaning::median(values), sorted[n / 2]) << n << " values of " << levels << " levels";
        }
}

// A sample pinned at black holds the mean of its free neighbours as cleaned, those cleaned a little
// past black as well: the cleaning errs either way about a black ground, and leaving them out
// would lift the mean off it. A brighter neighbour than the sample cleaned is other ground; a mean
// past black is black.
TEST(CleaningRules, PinnedSampleHoldsItsNeighboursMeanPastTheEndToo) {
    double cleaned[3][3] = {{-0.02, 0.03, -0.02}, {0.03, 0.1, 0.03}, {-0.02, 0.5, -0.02}};
    const auto held = [&] {
        return cleaning::held_at_end(3, 3, 1, 1, 0.0, cleaned[1][1], 1, [](int32_t j, int32_t i) { return j == 1 && i == 1; },
                                     [&](int32_t j, int32_t i) { return cleaned[j][i]; });
    };
    EXPECT_NEAR(held(), 0.01 / 7, 1e-12);
    cleaned[0][1] = cleaned[1][0] = cleaned[1][2] = -0.02;
    EXPECT_EQ(held(), 0.0);
}

// A flat square 20 px wide refutes waves of 20 px or shorter across the frame, not longer ones; a
// picture black or white nearly everywhere refutes every wave.
TYPED_TEST(Cleaning, FlatSquareRefutesWavesOfItsWidthAndAPinnedPictureAll) {
    using S = TypeParam;
    Image im = photo<S>(80, 96, 9);
    for (int32_t y = 30; y < 50; ++y)
        for (int32_t x = 40; x < 60; ++x)
            for (int32_t c = 0; c < 3; ++c) im.set_value(y, x, c, 0.5 * full_of<S>());
    const cleaning::FlatEvidence flat = cleaning::flat_evidence(im, {}, {});
    EXPECT_FALSE(flat.pinned);
    EXPECT_TRUE(flat.refutes({1 / 16.0, 0}));
    EXPECT_TRUE(flat.refutes({0, 1 / 20.0}));
    EXPECT_FALSE(flat.refutes({1 / 32.0, 0}));
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) im.set_value(y, x, c, (x / 7 + y / 5) % 2 ? full_of<S>() : 0);
    const cleaning::FlatEvidence pinned = cleaning::flat_evidence(im, {}, {});
    EXPECT_TRUE(pinned.pinned);
    EXPECT_TRUE(pinned.refutes({1 / 47.0, 0}));
}

// A wave added over black ground lifts it off black half the time: its samples left at black sit
// where the wave runs below nought, and bear it out; a picture whose black ground holds no wave
// (the wave only in its lit half) refutes it.
TYPED_TEST(Cleaning, SamplesPinnedWhereAWaveWouldLiftThemRefuteIt) {
    using S = TypeParam;
    cleaning::FittedTone tone{{1 / 10.0, 1 / 40.0}, {}};
    for (auto& a : tone.amplitude) a = std::polar(0.02, 0.3);  // 10 levels at 8 bits
    for (const bool over_black : {true, false}) {
        Image im = photo<S>(80, 96, 5);
        for (int32_t y = 0; y < im.rows; ++y)
            for (int32_t x = 0; x < im.cols; ++x)
                for (int32_t c = 0; c < 3; ++c) {
                    const bool black = x < im.cols / 2;
                    const double wave = 2 * std::real(tone.amplitude[c] * std::polar(1.0, 2 * std::numbers::pi * (tone.f.u * x + tone.f.v * y)));
                    const double v = (black ? 0 : im.value(y, x, c) / full_of<S>()) + (black && !over_black ? 0 : wave);
                    im.set_value(y, x, c, std::clamp(v, 0.0, 1.0) * full_of<S>());
                }
        EXPECT_EQ(cleaning::pinned_refute(cleaning::flat_evidence(im, {}, {}), {}, tone, {}), !over_black) << over_black;
    }
}

// Where a descreened picture runs as a ramp (a smooth photograph's shading), what is left of the
// screen is smoothed as where it is flat: the smoothing leaves a ramp as it was. On a ramp of 3
// levels a pixel under a faint wave of the screen's period, the wave comes back at 0.12 of its
// amplitude, the ramp within 0.001 of itself (0.95 of the wave when the ramp's slope counts as
// detail).
TEST(CleaningRules, DescreenedRampIsSmoothedAsFlat) {
    constexpr double kPeriod = 6, kSlope = 3.0 / 255, kWave = 0.01;
    const auto ramp = [&](int32_t x) { return 0.2 + kSlope * x; };
    Image im = Image::make(48, 64, 3, 32);
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            im.set<float>(y, x, 0, float(ramp(x) + kWave * std::cos(2 * std::numbers::pi * (x + y) / kPeriod)));
    cleaning::smooth_where_flat(im, 0, kPeriod, cleaning::Thresholds{}.descreen_flat);
    double wave = 0, off = 0;
    int32_t n = 0;
    for (int32_t y = 12; y < im.rows - 12; ++y)
        for (int32_t x = 12; x < im.cols - 12; ++x, ++n) {
            const double left = im.get<float>(y, x, 0) - ramp(x);
            wave += left * std::cos(2 * std::numbers::pi * (x + y) / kPeriod), off += left;
        }
    EXPECT_LT(2 * wave / n / kWave, 0.2);
    EXPECT_LT(std::fabs(off / n), 0.001);
}

}  // namespace
}  // namespace quen
