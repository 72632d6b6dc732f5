// Repeated filtering in one process, as an editor applies a filter again and again: 200 runs of
// each module on a 512 x 512 picture must not raise the peak resident memory above what the first
// run reached. A scratch array, plan or buffer kept from one run to the next would. The runs are at
// 32 bits, where the buffers are largest; leaks at every depth are the memory checkers' business.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "support.h"
#include "synthetic.h"

namespace quen {
namespace {

constexpr int kRuns = 200;
constexpr int32_t kSize = 512;
constexpr int32_t kDepth = 32;
// Allocator and page placement noise only. Anything a run keeps would exceed it well before run
// 200: 5 KiB per run does, and one run's smallest scratch array alone is 4 MiB.
constexpr long kSlackKib = 1024;

// glibc raises its mmap threshold after the first large free, so from the second run on the
// scratch arrays come from a heap it does not trim: resident memory then jumps once, by the
// allocator's choice, not the modules'. A fixed threshold keeps every large block mapped and
// returned on free, so the figures show what the modules hold.
void return_large_blocks_on_free() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

class RepeatedFiltering : public ::testing::TestWithParam<std::string> {};

TEST_P(RepeatedFiltering, PeakResidentMemoryStaysWhereTheFirstRunLeftIt) {
    return_large_blocks_on_free();
    const host::ModuleLibrary module(test::module_path(GetParam()));
    const host::Image input = host::synthetic_scene(kSize, kSize, kDepth, 3, host::StripePattern{0.05, 8, 0});
    ASSERT_EQ(host::run_filter(module, input).result, 0);
    const test::Resident first = test::resident_memory();
    ASSERT_GT(first.peak_kib, 0) << "no VmHWM in /proc/self/status";
    for (int i = 1; i < kRuns; ++i) ASSERT_EQ(host::run_filter(module, input).result, 0) << "run " << i + 1;
    const test::Resident last = test::resident_memory();
    std::printf("%s depth %d: after run 1 VmHWM %ld KiB VmRSS %ld KiB; after run %d VmHWM %ld KiB VmRSS %ld KiB\n",
                GetParam().c_str(), kDepth, first.peak_kib, first.current_kib, kRuns,
                last.peak_kib, last.current_kib);
    RecordProperty("peak_kib_after_first", std::to_string(first.peak_kib));
    RecordProperty("peak_kib_after_last", std::to_string(last.peak_kib));
    EXPECT_LE(last.peak_kib, first.peak_kib + kSlackKib);
    EXPECT_LE(last.current_kib, first.current_kib + kSlackKib);
}

INSTANTIATE_TEST_SUITE_P(Modules, RepeatedFiltering, ::testing::ValuesIn(test::built_modules()),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace quen
