// Times one continue call of each module through its entry point (buffers prepared outside the
// timed region) beside its floor, the bare FFTW plan, execute and destroy of the same transform on
// an already filled array, from the FFTW the modules carry and from Debian's libfftw3, and gives
// the scratch memory the frame allocates for the call.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fftw3.h>

#include "floors.h"
#include "module_list.h"
#include "module_loader.h"
#include "run.h"
#include "scratch.h"

namespace {

using namespace quen::host;
using quen::test::module_path;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct ModuleInfo {
    std::string name;
    quen::Shape shape;
    quen::bench::Floor floor;
};

std::vector<ModuleInfo> modules() {
    std::vector<ModuleInfo> list;
    for (const quen::manifest::ModuleEntry& m : quen::manifest::kModules)
        list.push_back({std::string(m.name), m.shape, quen::bench::floor_of(m)});
    return list;
}

// The floor's time over `runs` runs.
double floor_seconds(const quen::bench::Fftw& fftw, const ModuleInfo& info, int32_t size,
                     const quen::bench::FloorArrays& arrays, int64_t runs) {
    double seconds = 0;
    for (int64_t i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        info.floor(fftw, size, size, arrays.spectrum, arrays.real);
        seconds += seconds_since(start);
    }
    return seconds;
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
        const Clock::time_point start = Clock::now();
        module.entry()(filterSelectorContinue, &rec, nullptr, &result);
        return seconds_since(start);
    };
    // The first call of a process also pays for memory the system has never handed out before
    // (in a virtual machine the host backs it page by page); it is reported apart.
    const double first_call = call();
    double module_seconds = 0;
    for (auto _ : state) {
        const double elapsed = call();
        state.SetIterationTime(elapsed);
        module_seconds += elapsed;
    }
    if (result != 0) {
        state.SkipWithError("module returned an error");
        return;
    }

    const quen::bench::FloorArrays arrays(size);
    const int64_t runs = state.iterations();
    const double own = floor_seconds(quen::bench::linked_fftw(), info, size, arrays, runs);
    state.counters["floor_ms"] = 1000 * own / static_cast<double>(runs);
    state.counters["ratio"] = module_seconds / own;
    static const std::optional<quen::bench::Fftw> debian = quen::bench::debian_fftw();
    if (debian) {
        const double theirs = floor_seconds(*debian, info, size, arrays, runs);
        state.counters["debian_floor_ms"] = 1000 * theirs / static_cast<double>(runs);
        state.counters["debian_ratio"] = module_seconds / theirs;
    }
    const quen::ScratchSizes scratch =
        quen::scratch_sizes(info.shape, size, info.shape == quen::Shape::FullComplex ? size : size - 2);
    state.counters["scratch_bytes"] =
        static_cast<double>(scratch.spectrum_elements * sizeof(fftw_complex) + scratch.real_bytes);
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
