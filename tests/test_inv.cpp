// QuenInv against a direct inverse DFT of the decoded spectrum, its special images, and the
// forward-edit-inverse workflow through both modules' entry points.
#include <gtest/gtest.h>

#include <array>

#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <numbers>

#include "support.h"
#include "synthetic.h"

namespace quen {
namespace {

using host::Image;
using host::run_filter;
using test::full_of;

const host::ModuleLibrary& fwd() { return test::loaded_module("QuenFwd"); }
const host::ModuleLibrary& inv() { return test::loaded_module("QuenInv"); }

constexpr long double kTwoPi = 2 * std::numbers::pi_v<long double>;

template <class S>
constexpr bool is_float = sizeof(S) == 4;

template <class S>
S sample(double v) {
    if constexpr (is_float<S>) return static_cast<float>(v);
    else return static_cast<S>(std::lround(v));
}

// The spectrum value a red and a green sample stand for, written from the format's meaning: red
// is log10 of the magnitude in units of the log normaliser, green maps -pi..pi onto 0..full.
template <class S>
test::Cplx decoded(double red, double green, double n) {
    if (!(red > 0)) return 0;
    long double m = std::pow(10.0L, static_cast<long double>(test::log_norm<S>(n)) * red);
    if constexpr (is_float<S>) m = static_cast<float>(m);
    return std::polar(m, (green / full_of<S>() - 0.5L) * kTwoPi);
}

// A spectrum image with random phases and magnitudes of at most full scale (at most n at depth
// 32), a fifth of its elements absent (red 0), and random samples in blue and later planes.
template <class S>
Image random_spectrum(int32_t rows, int32_t cols, int32_t planes, uint32_t seed) {
    Image im = test::random_image<S>(rows, cols, planes, seed);
    std::mt19937 gen(seed + 1);
    const double n = double(rows) * cols;
    const double red_max = is_float<S> ? 1.0 : std::floor(std::log10(full_of<S>()) / test::log_norm<S>(n));
    std::uniform_real_distribution<double> red(is_float<S> ? 0.0 : 1.0, red_max);
    std::uniform_int_distribution<int> absent(0, 4);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            const double r = absent(gen) == 0 ? 0.0 : red(gen);
            im.set<S>(y, x, 0, r == 0 ? S(0) : sample<S>(r));
        }
    return im;
}

// The grey output the modulus of a backward transform over n gives, per pixel, in long double.
template <class S>
std::vector<long double> inverse_oracle(const Image& spectrum) {
    const int32_t rows = spectrum.rows, cols = spectrum.cols;
    const double n = double(rows) * cols;
    std::vector<test::Cplx> values(static_cast<std::size_t>(rows) * cols);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            values[static_cast<std::size_t>(y) * cols + x] =
                decoded<S>(spectrum.value(y, x, 0), spectrum.value(y, x, 1), n);
    std::vector<long double> grey;
    for (const test::Cplx& v : test::direct_dft(values, {rows, cols}, +1)) grey.push_back(std::abs(v) / n);
    return grey;
}

// Every pixel's channels 0 to 2 hold the same grey sample.
template <class S>
void expect_grey(const Image& out) {
    for (int32_t y = 0; y < out.rows; ++y)
        for (int32_t x = 0; x < out.cols; ++x) {
            const S g = out.get<S>(y, x, 0);
            ASSERT_EQ(out.get<S>(y, x, 1), g) << y << ", " << x;
            ASSERT_EQ(out.get<S>(y, x, 2), g) << y << ", " << x;
        }
}

template <class S>
class InverseSpectrum : public ::testing::Test {};
TYPED_TEST_SUITE(InverseSpectrum, test::Depths);

TYPED_TEST(InverseSpectrum, MatchesDirectInverseDft) {
    using S = TypeParam;
    // One row, one column and one pixel (n = 1: at depth 32 any red above 0 decodes to 1) among them.
    const int32_t sizes[][2] = {{4, 6}, {5, 3}, {3, 8}, {1, 7}, {6, 1}, {1, 1}};
    for (const auto& size : sizes) {
        const int32_t rows = size[0], cols = size[1];
        SCOPED_TRACE(testing::Message() << rows << " x " << cols);
        const Image in = random_spectrum<S>(rows, cols, 3, uint32_t(rows * 31 + cols));
        const host::RunResult run = run_filter(inv(), in);
        ASSERT_EQ(run.result, 0);
        expect_grey<S>(run.image);
        const std::vector<long double> grey = inverse_oracle<S>(in);
        long double largest = 1;
        for (long double g : grey) largest = std::max(largest, g);
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x) {
                const double expected = static_cast<double>(grey[static_cast<std::size_t>(y) * cols + x]);
                const double got = run.image.value(y, x, 0);
                if constexpr (is_float<S>) EXPECT_NEAR(got, expected, 1e-6 * double(largest)) << y << ", " << x;
                else EXPECT_LE(std::fabs(got - std::min(expected, full_of<S>())), 0.5 + 1e-6) << y << ", " << x;
            }
    }
}

TYPED_TEST(InverseSpectrum, RedZeroGivesBlackWhateverGreenAndBlueHold) {
    using S = TypeParam;
    Image in = test::random_image<S>(7, 10, 4, 21);
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols; ++x) in.set<S>(y, x, 0, S(0));
    const host::RunResult run = run_filter(inv(), in);
    ASSERT_EQ(run.result, 0);
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols; ++x) {
            for (int32_t p = 0; p < 3; ++p) EXPECT_EQ(run.image.get<S>(y, x, p), S(0));
            EXPECT_EQ(run.image.get<S>(y, x, 3), in.get<S>(y, x, 3));
        }
}

TYPED_TEST(InverseSpectrum, FullScaleAtTheOriginGivesFullScaleEverywhere) {
    using S = TypeParam;
    // Red full scale is the largest magnitude, n x full; green the sample nearest phase 0.
    const S green_phase_zero = is_float<S> ? S(0.5f) : sizeof(S) == 1 ? S(128) : S(16384);
    Image in = test::random_image<S>(2, 2, 3, 4);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x) in.set<S>(y, x, 0, S(0));
    in.set<S>(0, 0, 0, static_cast<S>(full_of<S>()));
    in.set<S>(0, 0, 1, green_phase_zero);
    const Image out = run_filter(inv(), in).image;
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x)
            for (int32_t p = 0; p < 3; ++p) {
                if constexpr (is_float<S>) EXPECT_FLOAT_EQ(out.get<S>(y, x, p), 1.0f);
                else EXPECT_EQ(out.get<S>(y, x, p), static_cast<S>(full_of<S>()));
            }
}

TYPED_TEST(InverseSpectrum, BlueAndFurtherPlanesHaveNoInfluence) {
    using S = TypeParam;
    const Image in = random_spectrum<S>(6, 9, 5, 33);
    const Image a = run_filter(inv(), in).image;
    Image other = in;
    const Image noise = test::random_image<S>(in.rows, in.cols, in.planes, 5);
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols; ++x)
            for (int32_t p : {2, 3, 4}) other.set<S>(y, x, p, noise.get<S>(y, x, p));
    const Image b = run_filter(inv(), other).image;
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols; ++x) {
            for (int32_t p = 0; p < 3; ++p) EXPECT_EQ(a.get<S>(y, x, p), b.get<S>(y, x, p));
            for (int32_t p : {3, 4}) EXPECT_EQ(b.get<S>(y, x, p), other.get<S>(y, x, p));
        }
}

TYPED_TEST(InverseSpectrum, SharedBufferAndPaddedRowsGiveTheSameImage) {
    test::expect_same_whatever_the_buffers<TypeParam>(inv(), random_spectrum<TypeParam>(9, 6, 4, 12));
}

// At depth 32 a red sample that is not above 0 (negative, as the forward filter writes for
// magnitudes below 1, or not a number) is an absent element, whatever green holds.
TEST(InverseSpectrumFloat, RedNotAboveZeroIsAnAbsentElement) {
    const Image in = random_spectrum<float>(6, 5, 3, 17);
    const Image reference = run_filter(inv(), in).image;
    Image edited = in;
    const float reds[] = {-0.3f, -1e-30f, -std::numeric_limits<float>::infinity(), std::nanf(""), -0.0f};
    int changed = 0;
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols; ++x)
            if (in.get<float>(y, x, 0) == 0) {
                edited.set<float>(y, x, 0, reds[changed % 5]);
                edited.set<float>(y, x, 1, 0.25f * float(changed % 4));
                ++changed;
            }
    ASSERT_GE(changed, 3);
    EXPECT_EQ(run_filter(inv(), edited).image.data, reference.data);

    Image one = test::uniform_image<float>(1, 1, 3, 0.7f);
    one.set<float>(0, 0, 0, -0.5f);
    EXPECT_EQ(run_filter(inv(), one).image.get<float>(0, 0, 0), 0.0f);
}

// Forward, optionally edit, inverse: the spectrum image and the grey picture.
struct RoundTrip {
    Image spectrum;
    Image grey;
};

RoundTrip round_trip(const Image& picture, void (*edit)(Image&) = nullptr) {
    RoundTrip trip;
    const host::RunResult forward = run_filter(fwd(), picture);
    EXPECT_EQ(forward.result, 0);
    trip.spectrum = forward.image;
    Image edited = trip.spectrum;
    if (edit) edit(edited);
    const host::RunResult inverse = run_filter(inv(), edited);
    EXPECT_EQ(inverse.result, 0);
    trip.grey = inverse.image;
    return trip;
}

// Round-trip PSNR floors for depths 8, 16 and 32, a few dB below the measured 50.8, 83.1 and
// 61.6 dB (256 x 256) and 40.7, 86.9 and 43.5 dB (45 x 70), so that a real loss of precision
// fails. Depth 32 loses the elements of magnitude below 1, whose red is negative.
struct TripCase {
    int32_t rows, cols;
    double floor_db[3];
};
constexpr TripCase kTrips[] = {{256, 256, {48, 80, 58}}, {45, 70, {38, 83, 40}}};

template <class S>
constexpr int depth_index = sizeof(S) == 1 ? 0 : sizeof(S) == 2 ? 1 : 2;

template <class S>
class ForwardInverse : public ::testing::Test {};
TYPED_TEST_SUITE(ForwardInverse, test::Depths);

TYPED_TEST(ForwardInverse, GivesBackTheLuminance) {
    using S = TypeParam;
    constexpr int32_t kDepth = test::depth_of<S>();
    for (const TripCase& c : kTrips) {
        SCOPED_TRACE(testing::Message() << c.rows << " x " << c.cols);
        const RoundTrip trip = round_trip(host::synthetic_scene(c.rows, c.cols, kDepth));
        expect_grey<S>(trip.grey);
        // The luminance as the forward filter wrote it into blue is the picture to get back.
        const double db = test::psnr(trip.grey, 0, trip.spectrum, 2, full_of<S>());
        std::printf("round trip %d x %d, depth %d: PSNR %.1f dB\n", c.rows, c.cols, kDepth, db);
        EXPECT_GE(db, c.floor_db[depth_index<S>]);
    }
}

// Flat colour: every coefficient but the centre cancels to rounding residues, which must not come
// back as magnitudes (folded onto 1/m they would be full scale and turn the picture white).
TYPED_TEST(ForwardInverse, FlatPictureComesBackFlat) {
    using S = TypeParam;
    // Even sizes: one coefficient holds the whole picture. (Odd sizes spread it over many quantised
    // coefficients, which the log steps of 8-bit samples limit to a few percent.)
    for (const auto& size : {std::array<int32_t, 2>{60, 90}, {30, 42}, {100, 100}}) {
        SCOPED_TRACE(testing::Message() << size[0] << " x " << size[1]);
        const RoundTrip trip = round_trip(test::uniform_image<S>(size[0], size[1], 3, S(full_of<S>() * 0.6)));
        const double want = trip.spectrum.value(0, 0, 2);
        for (int32_t y = 0; y < size[0]; ++y)
            for (int32_t x = 0; x < size[1]; ++x)
                ASSERT_NEAR(trip.grey.value(y, x, 0), want, want * 0.03 + 1) << y << " " << x;  // half a log step
    }
}

// The brightest red pixel outside the centre disc of the given radius and outside `skip`.
std::pair<int32_t, int32_t> brightest_peak(const Image& spectrum, int32_t radius, std::pair<int32_t, int32_t> skip) {
    std::pair<int32_t, int32_t> best{-1, -1};
    double best_red = -std::numeric_limits<double>::infinity();
    for (int32_t y = 0; y < spectrum.rows; ++y)
        for (int32_t x = 0; x < spectrum.cols; ++x) {
            const int32_t dy = y - spectrum.rows / 2, dx = x - spectrum.cols / 2;
            if (dy * dy + dx * dx <= radius * radius) continue;
            if (std::abs(y - skip.first) <= 2 && std::abs(x - skip.second) <= 2) continue;
            if (spectrum.value(y, x, 0) > best_red) {
                best_red = spectrum.value(y, x, 0);
                best = {y, x};
            }
        }
    return best;
}

// Stripes every 8 columns on a 256 x 256 scene: 32 cycles across, so two bright dots on the
// centre row 32 columns either side of the centre.
constexpr int32_t kSize = 256;
constexpr int32_t kStripePeriod = 8;
constexpr int32_t kStripeCycles = kSize / kStripePeriod;

TYPED_TEST(ForwardInverse, ZeroingTheStripePeaksRemovesTheStripes) {
    using S = TypeParam;
    constexpr int32_t kDepth = test::depth_of<S>();
    const Image striped =
        host::synthetic_scene(kSize, kSize, kDepth, 3, host::StripePattern{0.08, kStripePeriod, 0});
    const Image clean_lum = run_filter(fwd(), host::synthetic_scene(kSize, kSize, kDepth)).image;

    // Paint red 0 over a 3 x 3 dot on each of the stripes' two peaks.
    const RoundTrip trip = round_trip(striped, [](Image& s) {
        for (int32_t x : {kSize / 2 - kStripeCycles, kSize / 2 + kStripeCycles})
            for (int32_t dy = -1; dy <= 1; ++dy)
                for (int32_t dx = -1; dx <= 1; ++dx) s.set<S>(kSize / 2 + dy, x + dx, 0, S(0));
    });
    // What a user sees: the two brightest dots away from the centre are those peaks.
    const auto first = brightest_peak(trip.spectrum, 16, {-10, -10});
    const auto second = brightest_peak(trip.spectrum, 16, first);
    const std::pair<int32_t, int32_t> left{kSize / 2, kSize / 2 - kStripeCycles};
    const std::pair<int32_t, int32_t> right{kSize / 2, kSize / 2 + kStripeCycles};
    EXPECT_TRUE((first == left && second == right) || (first == right && second == left))
        << first.first << "," << first.second << " and " << second.first << "," << second.second;
    expect_grey<S>(trip.grey);

    const double before = test::wave_power(trip.spectrum, trip.spectrum.cols, kStripeCycles, 0, 2, 2);
    const double after = test::wave_power(trip.grey, trip.grey.cols, kStripeCycles, 0, 0, 0);
    const double removed_db = 10 * std::log10(before / after);
    const double striped_db = test::psnr(trip.spectrum, 2, clean_lum, 2, full_of<S>());
    const double cleaned_db = test::psnr(trip.grey, 0, clean_lum, 2, full_of<S>());
    std::printf("stripes, depth %d: energy at %d cycles down %.1f dB; PSNR against the stripe-free luminance "
                "%.1f dB striped, %.1f dB cleaned\n", kDepth, kStripeCycles, removed_db, striped_db, cleaned_db);
    EXPECT_GE(removed_db, 20);
    EXPECT_GE(cleaned_db, 42);  // measured 45.5, 47.2 and 47.0 dB
    EXPECT_GE(cleaned_db, striped_db + 10);
}

}  // namespace
}  // namespace quen
