// The Windows modules against the Linux modules: the conformance runner filtered the shared test
// images under Wine and wrote inputs and outputs; the same inputs go through the native modules
// here. Both builds compute in the same order with the same vector maths and FFTW's same
// algorithms, so every sample must be identical, bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "conformance_cases.h"
#include "image_dump.h"
#include "support.h"

namespace quen {
namespace {

using host::Image;

// Every sample, bytes compared: any difference is a fault of one build or the other.
struct Tally {
    long compared = 0;
    long mismatches = 0;
};

template <class S>
void compare(const std::string& where, const Image& windows, const Image& linux_out, Tally& tally) {
    for (int32_t y = 0; y < windows.rows; ++y)
        for (int32_t x = 0; x < windows.cols; ++x)
            for (int32_t p = 0; p < windows.planes; ++p) {
                const S a = windows.get<S>(y, x, p), b = linux_out.get<S>(y, x, p);
                ++tally.compared;
                if (std::memcmp(&a, &b, sizeof(S)) != 0 && tally.mismatches++ < 10)
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
            compare<S>(stem, *out, run.image, tally);
        }
        EXPECT_EQ(tally.mismatches, 0);
        EXPECT_GT(tally.compared, 10000);
    }
}

}  // namespace
}  // namespace quen
