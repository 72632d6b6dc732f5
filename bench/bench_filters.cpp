// Times one continue call of each module through its entry point (buffers prepared outside the
// timed region) beside its floor, the bare FFTW plan, execute and destroy of the same transform on
// an already filled array, and records the scratch memory the call allocated.
//
// This program provides fftw_malloc and fftw_free itself (the modules it loads bind to them), so
// it can measure the largest amount of scratch memory live at once during a call.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fftw3.h>

#include "floors.h"
#include "module_list.h"
#include "module_loader.h"
#include "run.h"

namespace {

std::size_t g_live_bytes = 0;
std::size_t g_peak_bytes = 0;

}  // namespace

extern "C" void* fftw_malloc(std::size_t n) {
    void* p = nullptr;
    if (posix_memalign(&p, 64, n + 64) != 0) return nullptr;
    std::memcpy(p, &n, sizeof n);  // the size, in front of the block handed out
    g_live_bytes += n;
    if (g_live_bytes > g_peak_bytes) g_peak_bytes = g_live_bytes;
    return static_cast<char*>(p) + 64;
}

extern "C" void fftw_free(void* p) {
    if (p == nullptr) return;
    void* block = static_cast<char*>(p) - 64;
    std::size_t n;
    std::memcpy(&n, block, sizeof n);
    g_live_bytes -= n;
    std::free(block);
}

namespace {

using namespace quen::host;
using quen::test::module_path;
using Clock = std::chrono::steady_clock;

struct ModuleInfo {
    std::string name;
    quen::bench::Floor floor;
};

std::vector<ModuleInfo> modules() {
    std::vector<ModuleInfo> list;
    for (const quen::manifest::ModuleEntry& m : quen::manifest::kModules)
        list.push_back({std::string(m.name), quen::bench::floor_of(m)});
    return list;
}

// Deterministic content over the depth's range; the content does not change the timings.
Image test_image(int32_t size, int32_t depth) {
    Image im = Image::make(size, size, 3, depth);
    uint32_t state = 12345;
    const std::size_t samples = im.data.size() / static_cast<std::size_t>(Image::bytes_per_sample(depth));
    for (std::size_t i = 0; i < samples; ++i) {
        state = state * 1664525u + 1013904223u;
        const double unit = (state >> 8) / 16777216.0;
        if (depth == 8) reinterpret_cast<uint8_t*>(im.data.data())[i] = static_cast<uint8_t>(unit * 255);
        else if (depth == 16) reinterpret_cast<uint16_t*>(im.data.data())[i] = static_cast<uint16_t>(unit * 32768);
        else reinterpret_cast<float*>(im.data.data())[i] = static_cast<float>(unit);
    }
    return im;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void continue_call(benchmark::State& state, const ModuleInfo& info, int32_t depth) {
    const int32_t size = static_cast<int32_t>(state.range(0));
    if (!std::filesystem::exists(module_path(info.name))) {
        state.SkipWithError("module not built");
        return;
    }
    const ModuleLibrary module(module_path(info.name));
    const Image input = test_image(size, depth);
    std::vector<std::byte> out(input.data.size());
    auto block = std::make_unique<RecordBlock>();
    FilterRecord& rec = block->record;
    rec.imageSize = Point{static_cast<int16_t>(size), static_cast<int16_t>(size)};
    rec.planes = 3;
    rec.depth = depth;
    int16_t result = 0;
    // One call through the entry point with fresh buffers; returns its seconds.
    auto call = [&] {
        std::memcpy(out.data(), input.data.data(), out.size());
        module.entry()(filterSelectorStart, &rec, nullptr, &result);
        rec.inData = const_cast<std::byte*>(input.data.data());
        rec.outData = out.data();
        rec.inRowBytes = rec.outRowBytes = static_cast<int32_t>(input.row_bytes());
        g_peak_bytes = g_live_bytes;
        const Clock::time_point start = Clock::now();
        module.entry()(filterSelectorContinue, &rec, nullptr, &result);
        return seconds_since(start);
    };
    // The first call of a process also pays for memory the system has never handed out before
    // (in a virtual machine the host backs it page by page); it is reported apart.
    const double first_call = call();
    double module_seconds = 0;
    std::size_t peak = 0;
    for (auto _ : state) {
        const double elapsed = call();
        state.SetIterationTime(elapsed);
        module_seconds += elapsed;
        peak = g_peak_bytes - g_live_bytes;
    }
    if (result != 0) {
        state.SkipWithError("module returned an error");
        return;
    }

    const quen::bench::FloorArrays arrays(size);
    double floor_seconds = 0;
    const int64_t runs = state.iterations();
    for (int64_t i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        info.floor(size, size, arrays.spectrum, arrays.real);
        floor_seconds += seconds_since(start);
    }

    state.counters["floor_ms"] = 1000 * floor_seconds / static_cast<double>(runs);
    state.counters["ratio"] = module_seconds / floor_seconds;
    state.counters["scratch_bytes"] = static_cast<double>(peak);
    state.counters["first_call_ms"] = 1000 * first_call;
}

void register_all() {
    for (const ModuleInfo& info : modules()) {
        const std::string name = info.name;
        benchmark::RegisterBenchmark((name + "/u8").c_str(), continue_call, info, 8)
            ->Arg(1024)->Arg(2048)->Arg(4096)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((name + "/u16").c_str(), continue_call, info, 16)
            ->Arg(2048)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((name + "/f32").c_str(), continue_call, info, 32)
            ->Arg(2048)->UseManualTime()->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
