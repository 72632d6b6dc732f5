// Scratch memory of the modules: every array returned on every path, and an allocation failure
// reported as out of memory instead of a silent success. This program provides fftw_malloc and
// fftw_free itself; the modules it loads bind to them, so the test can count and refuse.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "support.h"

namespace {

struct AllocLog {
    int live = 0;
    int calls = 0;
    int fail_call = -1;  // the call number to refuse, -1 for none
};
AllocLog g_alloc;

}  // namespace

extern "C" void* fftw_malloc(std::size_t n) {
    const int call = g_alloc.calls++;
    if (call == g_alloc.fail_call) return nullptr;
    void* p = nullptr;
    if (posix_memalign(&p, 64, n == 0 ? 1 : n) != 0) return nullptr;
    ++g_alloc.live;
    return p;
}

extern "C" void fftw_free(void* p) {
    if (p == nullptr) return;
    --g_alloc.live;
    std::free(p);
}

namespace quen {
namespace {

using host::Image;
using host::run_filter;

// Scratch arrays one continue call allocates: a complex array, and a real one for the modules
// that leave the last two columns out.
int arrays_of(const manifest::ModuleEntry& m) { return m.shape == Shape::FullComplex ? 1 : 2; }

class ScratchMemory : public ::testing::TestWithParam<manifest::ModuleEntry> {
protected:
    void SetUp() override { g_alloc = AllocLog{}; }
    int arrays() const { return arrays_of(GetParam()); }
};

TEST_P(ScratchMemory, RepeatedFilteringReturnsEveryArray) {
    const host::ModuleLibrary module(test::module_path(GetParam().name));
    for (int i = 0; i < 5; ++i) {
        run_filter(module, test::random_image<uint8_t>(12, 10, 3, 3));
        run_filter(module, test::random_image<uint16_t>(5, 7, 4, 3));
        run_filter(module, test::random_image<float>(8, 8, 3, 3));
        EXPECT_EQ(g_alloc.live, 0);
    }
    EXPECT_EQ(g_alloc.calls, 15 * arrays());
}

TEST_P(ScratchMemory, FailedAllocationIsReportedAndWritesNothing) {
    const host::ModuleLibrary module(test::module_path(GetParam().name));
    const Image in = test::random_image<uint8_t>(6, 8, 3, 1);
    for (int refused = 0; refused < arrays(); ++refused) {
        g_alloc = AllocLog{};
        g_alloc.fail_call = refused;
        const host::RunResult run = run_filter(module, in);
        EXPECT_EQ(run.result, memFullErr);
        EXPECT_EQ(run.failed_selector, filterSelectorContinue);
        EXPECT_EQ(run.image.data, in.data);
        EXPECT_EQ(g_alloc.live, 0);
    }
}

// Fewer than 3 columns leave a transform without the last two columns nothing to transform: the
// image stays as the host supplied it, nothing is allocated, and the filtering ends normally.
TEST(ScratchMemoryOfShortTransforms, NarrowImagesAreLeftAloneWithoutScratch) {
    for (const manifest::ModuleEntry& m : manifest::kModules) {
        if (m.shape != Shape::LastTwoColumnsLeftOut) continue;
        SCOPED_TRACE(m.name);
        g_alloc = AllocLog{};
        const host::ModuleLibrary module(test::module_path(m.name));
        for (int32_t cols : {1, 2}) {
            const Image in = test::random_image<float>(4, cols, 3, 6);
            const host::RunResult run = run_filter(module, in);
            EXPECT_EQ(run.result, 0);
            EXPECT_EQ(run.image.data, in.data);
        }
        EXPECT_EQ(g_alloc.calls, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, ScratchMemory, ::testing::ValuesIn(manifest::kModules),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace quen
