// What the modules do when FFTW gives them no plan: no transform runs and no sample that depends
// on one is written. This program provides FFTW's planners itself, so the modules it loads bind to
// them; it refuses on request and otherwise hands over to FFTW's own planner.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fftw3.h>

#include <vector>

#include "support.h"

namespace {

bool g_refuse = false;
int g_calls = 0;

// FFTW's own planner of the given name, from the library the modules were linked with (loaded by
// the time a module plans).
template <class Planner>
Planner fftw_planner(const char* name) {
    void* fftw = dlopen("libfftw3.so.3", RTLD_LAZY | RTLD_NOLOAD);
    return fftw ? reinterpret_cast<Planner>(dlsym(fftw, name)) : nullptr;
}

// Counts the call, then refuses or hands over to FFTW.
template <class Planner, class... Args>
fftw_plan plan_or_refuse(const char* name, Args... args) {
    ++g_calls;
    if (g_refuse) return nullptr;
    static const Planner planner = fftw_planner<Planner>(name);
    return planner ? planner(args...) : nullptr;
}

}  // namespace

extern "C" fftw_plan fftw_plan_dft_2d(int n0, int n1, fftw_complex* in, fftw_complex* out, int sign,
                                      unsigned flags) {
    using Planner = fftw_plan (*)(int, int, fftw_complex*, fftw_complex*, int, unsigned);
    return plan_or_refuse<Planner>("fftw_plan_dft_2d", n0, n1, in, out, sign, flags);
}

extern "C" fftw_plan fftw_plan_dft_r2c_2d(int n0, int n1, double* in, fftw_complex* out, unsigned flags) {
    using Planner = fftw_plan (*)(int, int, double*, fftw_complex*, unsigned);
    return plan_or_refuse<Planner>("fftw_plan_dft_r2c_2d", n0, n1, in, out, flags);
}

extern "C" fftw_plan fftw_plan_dft_c2r_2d(int n0, int n1, fftw_complex* in, double* out, unsigned flags) {
    using Planner = fftw_plan (*)(int, int, fftw_complex*, double*, unsigned);
    return plan_or_refuse<Planner>("fftw_plan_dft_c2r_2d", n0, n1, in, out, flags);
}

extern "C" fftw_plan fftw_plan_dft_r2c_3d(int n0, int n1, int n2, double* in, fftw_complex* out, unsigned flags) {
    using Planner = fftw_plan (*)(int, int, int, double*, fftw_complex*, unsigned);
    return plan_or_refuse<Planner>("fftw_plan_dft_r2c_3d", n0, n1, n2, in, out, flags);
}

namespace quen {
namespace {

using host::Image;

struct PlanCase {
    const char* name;
    std::vector<int32_t> kept;  // channels that must keep the host's samples without a plan
};

class NoPlan : public ::testing::TestWithParam<PlanCase> {
protected:
    void SetUp() override {
        g_refuse = false;
        g_calls = 0;
    }
};

// Without a plan a channel that depends on the transform keeps what the host supplied; with one
// (the same program, the planner handed over) the module does change it, so the refusal is real.
TEST_P(NoPlan, LeavesTheTransformedChannelsAsSupplied) {
    const host::ModuleLibrary& module = test::loaded_module(GetParam().name);
    const Image images[] = {test::random_image<uint8_t>(6, 8, 4, 1), test::random_image<uint16_t>(5, 3, 3, 2),
                            test::random_image<float>(4, 4, 3, 3)};
    for (const Image& in : images) {
        SCOPED_TRACE(testing::Message() << "depth " << in.depth);
        g_refuse = false;
        const host::RunResult planned = host::run_filter(module, in);
        ASSERT_EQ(planned.result, 0);
        EXPECT_NE(planned.image.data, in.data);

        g_refuse = true;
        const host::RunResult refused = host::run_filter(module, in);
        EXPECT_EQ(refused.result, 0);
        for (int32_t y = 0; y < in.rows; ++y)
            for (int32_t x = 0; x < in.cols; ++x) {
                for (int32_t p : GetParam().kept) ASSERT_EQ(refused.image.value(y, x, p), in.value(y, x, p));
                for (int32_t p = 3; p < in.planes; ++p) ASSERT_EQ(refused.image.value(y, x, p), in.value(y, x, p));
            }
    }
    EXPECT_EQ(g_calls, 6);  // one plan a run, for all its channels
}

// The full forward filter writes the luminance into blue before it plans; everything else waits.
// Half spectra are planned once for the three channels, and without a plan none is transformed.
PlanCase plan_case(const manifest::ModuleEntry& m) {
    const bool full_forward = m.spectrum == manifest::Spectrum::Full && m.direction == manifest::Direction::Forward;
    return {m.name.data(), full_forward ? std::vector<int32_t>{0, 1} : std::vector<int32_t>{0, 1, 2}};
}

std::vector<PlanCase> plan_cases() {
    std::vector<PlanCase> cases;
    for (const manifest::ModuleEntry& m : manifest::kModules) cases.push_back(plan_case(m));
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Modules, NoPlan, ::testing::ValuesIn(plan_cases()),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace quen
