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
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <fftw3.h>

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

// The bare transform of each module, planned and run as the module does, on a filled array.
using Floor = std::function<void(int32_t rows, int32_t cols, fftw_complex* spectrum, double* real)>;

void floor_full(int32_t rows, int32_t cols, fftw_complex* a, double*) {
    fftw_plan p = fftw_plan_dft_2d(rows, cols, a, a, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
}
void floor_full_backward(int32_t rows, int32_t cols, fftw_complex* a, double*) {
    fftw_plan p = fftw_plan_dft_2d(rows, cols, a, a, FFTW_BACKWARD, FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
}
void floor_half(int32_t rows, int32_t cols, fftw_complex* c, double* r) {
    for (int channel = 0; channel < 3; ++channel) {
        fftw_plan p = fftw_plan_dft_r2c_2d(rows, cols - 2, r, c, FFTW_ESTIMATE);
        fftw_execute(p);
        fftw_destroy_plan(p);
    }
}
void floor_half_backward(int32_t rows, int32_t cols, fftw_complex* c, double* r) {
    for (int channel = 0; channel < 3; ++channel) {
        fftw_plan p = fftw_plan_dft_c2r_2d(rows, cols - 2, c, r, FFTW_ESTIMATE);
        fftw_execute(p);
        fftw_destroy_plan(p);
    }
}
void floor_volume(int32_t rows, int32_t cols, fftw_complex* c, double* r) {
    fftw_plan p = fftw_plan_dft_r2c_3d(3, rows, cols - 2, r, c, FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
}

struct ModuleInfo {
    std::string name;
    Floor floor;
};

// Every module of the module list with the floor of its spectrum layout and direction (no module
// inverts a volume spectrum).
std::vector<ModuleInfo> modules() {
    using quen::manifest::Direction;
    using quen::manifest::Spectrum;
    std::vector<ModuleInfo> list;
    for (const quen::manifest::ModuleEntry& m : quen::manifest::kModules) {
        const bool forward = m.direction == Direction::Forward;
        const Floor floor = m.spectrum == Spectrum::Full ? (forward ? floor_full : floor_full_backward)
                            : m.spectrum == Spectrum::Half ? (forward ? floor_half : floor_half_backward)
                                                           : floor_volume;
        list.push_back({std::string(m.name), floor});
    }
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

    // The floor, on arrays large enough for every module's transform (the 3-D one needs 3 planes),
    // filled and touched before timing.
    const std::size_t cells = 3 * static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
    fftw_complex* spectrum = static_cast<fftw_complex*>(fftw_malloc(cells * sizeof(fftw_complex)));
    double* real = static_cast<double*>(fftw_malloc(cells * sizeof(double)));
    for (std::size_t i = 0; i < cells; ++i) {
        spectrum[i][0] = spectrum[i][1] = real[i] = static_cast<double>(i % 251);
    }
    double floor_seconds = 0;
    const int64_t runs = state.iterations();
    for (int64_t i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        info.floor(size, size, spectrum, real);
        floor_seconds += seconds_since(start);
    }
    fftw_free(real);
    fftw_free(spectrum);

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
