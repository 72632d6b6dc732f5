// The array conversions (vectorised maths) against the scalar reference conversions, over millions
// of random values and the edge values of each depth.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "spectrum_rows.h"
#include "vmath_isa.h"
#include "support.h"

namespace quen {

namespace {

template <class S>
double as_double(S v) { return static_cast<double>(v); }

// Spectrum values: log-uniform magnitudes over the whole useful range, uniform angles, and the
// values where an encoding changes: zero, one, magnitudes on the rounding boundaries of the log
// samples, axis angles (signed zeros), subnormals, infinities and (depth 32) not-a-number.
struct TestValues {
    std::vector<fftw_complex> v;
    std::vector<bool> edge;  // placed on purpose at a boundary, not drawn at random
};

template <class S>
TestValues spectrum_values(std::size_t count, double log_normaliser) {
    std::vector<fftw_complex> v(count);
    std::vector<bool> edge(count);
    std::mt19937_64 gen(42);
    std::uniform_real_distribution<double> exponent(-4, 13), angle(-M_PI, M_PI);
    for (auto& c : v) {
        const double m = std::pow(10.0, exponent(gen)), a = angle(gen);
        c[0] = m * std::cos(a);
        c[1] = m * std::sin(a);
    }
    std::size_t i = 0;
    auto put = [&](double re, double im) {
        v[i][0] = re;
        v[i][1] = im;
        edge[i] = true;
        i += 7;  // spread over the blocks, not all in the first one
    };
    const double inf = std::numeric_limits<double>::infinity();
    for (double re : {0.0, -0.0, 1.0, -1.0, 5e-324, 2.2e-308, inf, -inf}) {
        put(re, 0.0);
        put(re, -0.0);
        put(0.0, re);
    }
    if constexpr (!Sample<S>::is_integer) put(std::numeric_limits<double>::quiet_NaN(), 1.0);
    for (int k = 0; k <= int(Sample<S>::full > 1 ? 300 : 30); ++k) {
        const double boundary = std::pow(10.0, (k + 0.5) * log_normaliser);
        put(boundary, 0.0);
        put(1 / boundary, 0.0);
        put(0.0, -boundary);
    }
    return {std::move(v), std::move(edge)};
}

template <class S>
class ArrayConversions : public ::testing::Test {};
TYPED_TEST_SUITE(ArrayConversions, test::Depths);

TYPED_TEST(ArrayConversions, EncodingMatchesTheScalarReference) {
    using S = TypeParam;
    const double l = Sample<S>::log_normaliser(2048.0 * 2048.0);
    const TestValues test_values = spectrum_values<S>(2'000'000, l);
    const std::vector<fftw_complex>& values = test_values.v;
    std::vector<S> mag(values.size()), phase(values.size());
    encode_run<S, WriteNegativeLog::SignedOrZero>(values.data(), values.size(), l, mag.data(), 1, phase.data(), 1);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Encoded<S> ref = encode_spectrum<S, WriteNegativeLog::SignedOrZero>(values[i][0], values[i][1], l);
        for (const auto& [got, want] : {std::pair{mag[i], ref.magnitude}, std::pair{phase[i], ref.phase}}) {
            if (std::isnan(as_double(want))) {
                EXPECT_TRUE(std::isnan(as_double(got))) << i;
            } else if (got != want) {
                if (!test_values.edge[i]) ++differing;
                // Integer samples may differ by one step; floats by one unit in the last place.
                if constexpr (Sample<S>::is_integer) EXPECT_EQ(std::fabs(as_double(got) - as_double(want)), 1) << i;
                else EXPECT_LE(std::fabs(as_double(got) - as_double(want)), std::fabs(as_double(want)) * 1.2e-7) << i;
            }
        }
    }
    // Values on a rounding boundary may land either side; random ones at most once in a million.
    EXPECT_LE(differing, values.size() * 2 / 1'000'000) << differing << " of " << 2 * values.size();
}

TYPED_TEST(ArrayConversions, DecodingMatchesTheScalarReference) {
    using S = TypeParam;
    const double l = Sample<S>::log_normaliser(2048.0 * 2048.0);
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> unit(-0.05, 1.05);
    const std::size_t count = 1'000'000;
    std::vector<S> mag(count), phase(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double a = unit(gen) * Sample<S>::full, b = unit(gen) * Sample<S>::full;
        if constexpr (Sample<S>::is_integer) {
            mag[i] = to_sample<S>(std::min(a, Sample<S>::full));
            phase[i] = to_sample<S>(std::min(b, Sample<S>::full));
        } else {
            mag[i] = static_cast<float>(a);  // includes negative magnitude samples
            phase[i] = static_cast<float>(b);
        }
    }
    if constexpr (!Sample<S>::is_integer) mag[3] = std::numeric_limits<float>::quiet_NaN();
    std::vector<fftw_complex> values(count);
    Decoder<S>(l).run(mag.data(), 1, phase.data(), 1, count, values.data());
    for (std::size_t i = 0; i < count; ++i) {
        const Complex ref = decode_spectrum<S>(mag[i], phase[i], l);
        const double scale = std::hypot(ref.re, ref.im);
        ASSERT_NEAR(values[i][0], ref.re, scale * 8e-16) << i;
        ASSERT_NEAR(values[i][1], ref.im, scale * 8e-16) << i;
    }
}

TEST(ArrayConversions, StridedRunsTouchOnlyTheirSamples) {
    const double l = Sample<uint8_t>::log_normaliser(100);
    std::vector<fftw_complex> values(300);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i][0] = double(i) + 1;
        values[i][1] = -double(i);
    }
    std::vector<uint8_t> pixels(values.size() * 4, 0xEE);
    encode_run<uint8_t, WriteNegativeLog::SignedOrZero>(values.data(), values.size(), l, pixels.data(), 4, pixels.data() + 1, 4);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Encoded<uint8_t> ref = encode_spectrum<uint8_t, WriteNegativeLog::SignedOrZero>(values[i][0], values[i][1], l);
        EXPECT_EQ(pixels[4 * i], ref.magnitude);
        EXPECT_EQ(pixels[4 * i + 1], ref.phase);
        EXPECT_EQ(pixels[4 * i + 2], 0xEE);
        EXPECT_EQ(pixels[4 * i + 3], 0xEE);
    }
}

// A processor with AVX-512 runs the eight-lane kernels, one with only AVX2 the four-lane ones:
// the spectrum images a picture gives must not depend on which.
TEST(ArrayConversions, AvxTwoAndAvx512KernelsGiveTheSameBits) {
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx512f")) GTEST_SKIP() << "this processor has no AVX-512";
    const std::size_t n = 100'003;  // a partial last batch for both widths
    std::mt19937_64 gen(5);
    std::uniform_real_distribution<double> exponent(-12, 14), unit(-1, 1);
    std::vector<double> values(2 * n), x(n);
    for (double& v : values) v = unit(gen) * std::pow(10.0, exponent(gen));
    for (std::size_t i = 0; i < n; ++i) x[i] = unit(gen) * (i % 2 ? 350.0 : 1e4);
    auto run = [&](auto polar, auto exp10, auto sincos) {
        std::vector<double> out(6 * n);
        polar(values.data(), n, &out[0], &out[n], &out[2 * n]);
        exp10(x.data(), &out[3 * n], n);
        sincos(x.data(), &out[4 * n], &out[5 * n], n);
        return out;
    };
    const std::vector<double> wide = run(vmath::avx512::polar, vmath::avx512::exp10, vmath::avx512::sincos);
    const std::vector<double> narrow = run(vmath::avx2::polar, vmath::avx2::exp10, vmath::avx2::sincos);
    EXPECT_EQ(std::memcmp(wide.data(), narrow.data(), wide.size() * sizeof(double)), 0);
}

}  // namespace
}  // namespace quen
