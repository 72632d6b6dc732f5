// A host running filters from several threads at once: 8 threads, all five modules, each call on
// its own picture; every output equals the same call made alone. Without FFTW's planner made safe
// for threads this corrupted the heap or crashed.
#include <gtest/gtest.h>

#include "concurrent_calls.h"
#include "support.h"

namespace quen {
namespace {

template <class S>
class ConcurrentFiltering : public ::testing::Test {};
TYPED_TEST_SUITE(ConcurrentFiltering, test::Depths);

TYPED_TEST(ConcurrentFiltering, EveryCallGivesWhatItGivesAlone) {
    std::vector<std::pair<std::string, const host::ModuleLibrary*>> modules;
    for (const std::string& name : test::built_modules()) modules.emplace_back(name, &test::loaded_module(name));
    const auto calls = test::calls_made_alone(modules, test::depth_of<TypeParam>());
    for (const auto& call : calls) ASSERT_EQ(call.alone.result, 0) << call.name;
    const std::vector<std::string> differing = test::differing_concurrent_calls(calls, 8, 24);
    EXPECT_TRUE(differing.empty()) << differing.size() << " calls differed, the first: " << differing.front();
}

}  // namespace
}  // namespace quen
