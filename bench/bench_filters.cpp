// Times one continue call of a module through its entry point, buffers prepared outside the timed
// region, beside the floor: the bare FFTW plan, execute and destroy of the same transform.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fftw3.h>

#include "module_loader.h"
#include "run.h"
#include "synthetic.h"

namespace {

using namespace quen::host;

std::string module_path(const std::string& name) {
    return std::string(QUEN_MODULE_DIR) + "/" + name + QUEN_MODULE_SUFFIX;
}

void continue_call(benchmark::State& state, const std::string& name, int32_t depth) {
    const int32_t size = static_cast<int32_t>(state.range(0));
    const ModuleLibrary module(module_path(name));
    const Image input = synthetic_scene(size, size, depth);
    std::vector<std::byte> out(input.data.size());
    auto block = std::make_unique<RecordBlock>();
    FilterRecord& rec = block->record;
    rec.imageSize = Point{static_cast<int16_t>(size), static_cast<int16_t>(size)};
    rec.planes = 3;
    rec.depth = depth;
    int16_t result = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(out.data(), input.data.data(), out.size());
        module.entry()(filterSelectorStart, &rec, nullptr, &result);
        rec.inData = const_cast<std::byte*>(input.data.data());
        rec.outData = out.data();
        rec.inRowBytes = rec.outRowBytes = static_cast<int32_t>(input.row_bytes());
        state.ResumeTiming();
        module.entry()(filterSelectorContinue, &rec, nullptr, &result);
    }
    if (result != 0) state.SkipWithError("module returned an error");
}

// The floor of the full-complex filters: plan, execute, destroy on an already filled array.
void floor_dft_2d(benchmark::State& state) {
    const int32_t size = static_cast<int32_t>(state.range(0));
    const std::size_t n = static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
    fftw_complex* a = fftw_alloc_complex(n);
    for (std::size_t i = 0; i < n; ++i) a[i][0] = a[i][1] = static_cast<double>(i % 255);
    for (auto _ : state) {
        fftw_plan p = fftw_plan_dft_2d(size, size, a, a, FFTW_FORWARD, FFTW_ESTIMATE);
        fftw_execute(p);
        fftw_destroy_plan(p);
    }
    fftw_free(a);
}

void QuenFwd_u8(benchmark::State& s) { continue_call(s, "QuenFwd", 8); }
void QuenFwd_u16(benchmark::State& s) { continue_call(s, "QuenFwd", 16); }
void QuenFwd_f32(benchmark::State& s) { continue_call(s, "QuenFwd", 32); }
// Any RGB picture is a valid spectrum image; the inverse costs the same whatever it holds, but
// for the power it skips where red is 0.
void QuenInv_u8(benchmark::State& s) { continue_call(s, "QuenInv", 8); }
void QuenInv_u16(benchmark::State& s) { continue_call(s, "QuenInv", 16); }
void QuenInv_f32(benchmark::State& s) { continue_call(s, "QuenInv", 32); }

BENCHMARK(floor_dft_2d)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(QuenFwd_u8)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(QuenFwd_u16)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(QuenFwd_f32)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(QuenInv_u8)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(QuenInv_u16)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(QuenInv_f32)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
