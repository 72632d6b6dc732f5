// The Windows modules against the Linux modules: the conformance runner filtered the shared test
// images under Wine and wrote inputs and outputs; the same inputs go through the native modules
// here. The two builds use different compilers, C libraries and FFTW builds, so a sample may
// differ by rounding: integer samples by at most 1 in at most 1 sample in 10,000, float samples
// by 1e-5 relative to the larger value (or to full scale, for values below it). Phases compare on
// their circle, and the phase of a coefficient that is real in exact arithmetic is not compared:
// its rounding residue decides between the two ends of the range. All other samples are equal.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "conformance_cases.h"
#include "image_dump.h"
#include "support.h"

namespace quen {
namespace {

using host::Image;

// Frequency index i of a transform of length n holds a real coefficient for a real input when
// it is its own mirror: 0, and n / 2 for even n.
bool self_mirrored(int32_t i, int32_t n) { return i == 0 || (n % 2 == 0 && 2 * i == n); }

enum class Kind { Value, Phase, IllDefinedPhase, Untouched };

// What a sample of a module's output is, from the module's entry in the module list: the forward
// modules write magnitudes and phases, the inverse ones a picture.
Kind kind_of(const manifest::ModuleEntry& module, const Image& im, int32_t y, int32_t x, int32_t p) {
    using manifest::Spectrum;
    if (p >= 3) return Kind::Untouched;
    if (module.direction == manifest::Direction::Inverse) return Kind::Value;
    const int32_t rows = im.rows, cols = im.cols;
    if (module.spectrum == Spectrum::Full) {
        if (p != 1) return Kind::Value;
        return self_mirrored(y, rows) && self_mirrored(x, cols) ? Kind::IllDefinedPhase : Kind::Phase;
    }
    // Half spectra, of each channel or of the volume: magnitudes, then phases, in every row.
    const int32_t m = cols - 2, n = m / 2 + 1;
    if (x < n || x >= 2 * n) return Kind::Value;
    // Along the planes (length 3) only plane 0 is its own mirror.
    const bool real_plane = module.spectrum == Spectrum::Half || p == 0;
    return real_plane && self_mirrored(y, rows) && self_mirrored(x - n, m) ? Kind::IllDefinedPhase : Kind::Phase;
}

struct Tally {
    long compared = 0;
    long off_by_one = 0;
    long mismatches = 0;
};

template <class S>
void compare(const std::string& where, const manifest::ModuleEntry& module, const Image& windows, const Image& linux_out, Tally& tally) {
    const double full = test::full_of<S>();
    for (int32_t y = 0; y < windows.rows; ++y)
        for (int32_t x = 0; x < windows.cols; ++x)
            for (int32_t p = 0; p < windows.planes; ++p) {
                const Kind kind = kind_of(module, windows, y, x, p);
                if (kind == Kind::IllDefinedPhase) continue;
                const S a = windows.get<S>(y, x, p), b = linux_out.get<S>(y, x, p);
                ++tally.compared;
                bool same;
                if (kind == Kind::Untouched) {
                    same = std::memcmp(&a, &b, sizeof(S)) == 0;
                } else if constexpr (std::is_same_v<S, float>) {
                    double d = std::fabs(double(a) - double(b));
                    if (kind == Kind::Phase) d = std::min(d, std::fabs(full - d));
                    same = a == b || (std::isnan(a) && std::isnan(b)) ||
                           d <= 1e-5 * std::max({std::fabs(double(a)), std::fabs(double(b)), full});
                } else {
                    long d = std::labs(long(a) - long(b));
                    if (kind == Kind::Phase) d = std::min(d, long(full) - d);
                    if (d == 1) ++tally.off_by_one;
                    same = d <= 1;
                }
                if (!same && tally.mismatches++ < 10)
                    ADD_FAILURE() << where << ": sample (" << y << ", " << x << ", " << p << ") is " << +a
                                  << " on Windows, " << +b << " on Linux";
            }
}

template <class S>
class WindowsMatchesLinux : public ::testing::Test {};
TYPED_TEST_SUITE(WindowsMatchesLinux, test::Depths);

TYPED_TEST(WindowsMatchesLinux, OnEveryConformanceImage) {
    using S = TypeParam;
    const int32_t depth = test::depth_of<S>();
    const std::vector<std::string> modules = test::built_modules();
    ASSERT_FALSE(modules.empty());
    for (const std::string& module : modules) {
        SCOPED_TRACE(module);
        const host::ModuleLibrary& native = test::loaded_module(module);
        Tally tally;
        for (const conformance::Case& c : conformance::kCases) {
            const std::string stem = std::string(QUEN_WINDOWS_RESULTS) + "/" + module + "/" + conformance::file_stem(c, depth);
            const std::optional<Image> in = test::read_image(stem + ".in");
            const std::optional<Image> out = test::read_image(stem + ".out");
            ASSERT_TRUE(in && out) << stem << ".in/.out missing or unreadable: did the Windows run write them?";
            ASSERT_TRUE(in->rows == c.rows && in->cols == c.cols && in->planes == c.planes && in->depth == depth) << stem;
            ASSERT_TRUE(out->rows == in->rows && out->cols == in->cols && out->planes == in->planes && out->depth == depth)
                << stem;
            const host::RunResult run = host::run_filter(
                native, *in, {c.padding_samples * Image::bytes_per_sample(depth), c.same_buffer});
            ASSERT_EQ(run.result, 0) << stem;
            ASSERT_TRUE(run.padding_intact) << stem;
            compare<S>(stem, test::module_entry(module), *out, run.image, tally);
        }
        EXPECT_EQ(tally.mismatches, 0);
        EXPECT_LE(tally.off_by_one, tally.compared / 10000)
            << tally.off_by_one << " of " << tally.compared << " samples differ by 1";
        EXPECT_GT(tally.compared, 10000);
    }
}

}  // namespace
}  // namespace quen
