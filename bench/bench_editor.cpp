// Times each module's continue call the way an editor makes it: fresh input and output buffers
// (filled with the picture by the host, outside the timing) and a fresh record for every call,
// beside its floor from the same FFTW in the same process and, on Linux, beside the floor of
// Debian's own libfftw3, loaded apart. Module and floor runs alternate, and each figure is the best
// of its runs, so that load from other processes shows in none alone.
// Beside the wall-clock figures, the thread's processor time (user and system) of the same runs:
// on a loaded machine it moves far less than the wall clock, as waiting for a core does not count.
// A plain program, so that the same source is the Windows benchmark under Wine.
//
//   bench_editor MODULE_DIR [--runs N] [--sizes 1024,2048,4096] [--modules QuenFwd,QuenInv]
//
// Prints one markdown table row per module, depth and size, then for each size what writing a
// full-complex scratch spectrum costs in fresh memory against memory already touched.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <ctime>
#endif

#include "floors.h"
#include "module_finder.h"
#include "module_loader.h"
#include "run.h"
#include "scratch.h"
#include "synthetic.h"

namespace {

using namespace quen::host;
using Clock = std::chrono::steady_clock;

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> items;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) items.push_back(item);
    return items;
}

const char* depth_name(int32_t depth) { return depth == 8 ? "u8" : depth == 16 ? "u16" : "f32"; }

// Processor time of the calling thread so far, user and system, in seconds.
double thread_seconds() {
#if defined(_WIN32)
    FILETIME created, ended, system, user;
    GetThreadTimes(GetCurrentThread(), &created, &ended, &system, &user);
    auto ticks = [](FILETIME t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(system) + ticks(user)) * 1e-7;
#else
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#endif
}

// Wall-clock and processor seconds of one run.
struct Times {
    double wall = 1e30;
    double cpu = 1e30;
    void keep_best(const Times& t) {
        wall = std::min(wall, t.wall);
        cpu = std::min(cpu, t.cpu);
    }
};

template <class F>
Times timed(F f) {
    const double cpu = thread_seconds();
    const Clock::time_point start = Clock::now();
    f();
    return {std::chrono::duration<double>(Clock::now() - start).count(), thread_seconds() - cpu};
}

// One continue call on fresh buffers and a fresh record; its times, or none when it failed.
std::optional<Times> editor_call(const ModuleLibrary& module, const Image& picture) {
    std::vector<std::byte> in(picture.data), out(picture.data);
    auto block = std::make_unique<RecordBlock>();
    FilterRecord& rec = block->record;
    rec.imageSize = Point{static_cast<int16_t>(picture.rows), static_cast<int16_t>(picture.cols)};
    rec.planes = static_cast<int16_t>(picture.planes);
    rec.depth = picture.depth;
    int16_t result = 0;
    module.entry()(filterSelectorStart, &rec, nullptr, &result);
    if (result != 0) return std::nullopt;
    rec.inData = in.data();
    rec.outData = out.data();
    rec.inRowBytes = rec.outRowBytes = static_cast<int32_t>(picture.row_bytes());
    const Times t = timed([&] { module.entry()(filterSelectorContinue, &rec, nullptr, &result); });
    if (result != 0) return std::nullopt;
    return t;
}

// The first touch of fresh memory: writing the used part of a full-complex module's scratch
// spectrum at size x size, allocated as the frame allocates it, against writing the same memory
// again. Best of runs, wall clock.
void print_first_touch(int32_t size, int runs) {
    const quen::ScratchSizes sizes = quen::scratch_sizes(quen::Shape::FullComplex, size, size);
    const std::size_t used = static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
    auto write = [used](fftw_complex* a) {
        for (std::size_t i = 0; i < used; ++i) {
            a[i][0] = static_cast<double>(i);
            a[i][1] = 0;
        }
    };
    Times fresh, again;
    for (int r = 0; r < runs; ++r) {
        fresh.keep_best(timed([&] {
            const quen::Scratch s = quen::Scratch::allocate(sizes);
            if (s.spectrum) write(s.spectrum.get());
        }));
        const quen::Scratch s = quen::Scratch::allocate(sizes);
        if (!s.spectrum) continue;
        write(s.spectrum.get());
        again.keep_best(timed([&] { write(s.spectrum.get()); }));
    }
    std::printf("Writing a %d x %d scratch spectrum (%.1f MiB) into fresh memory: %.1f ms; into the same "
                "memory a second time: %.1f ms.\n",
                size, size, static_cast<double>(used) * sizeof(fftw_complex) / (1 << 20), 1000 * fresh.wall,
                1000 * again.wall);
}

int usage() {
    std::fprintf(stderr, "usage: bench_editor MODULE_DIR [--runs N] [--sizes 1024,2048,4096] [--modules A,B]\n");
    return 2;
}

}  // namespace

// A picture or module that cannot be read ends the run with its message, not an abort.
int main(int argc, char** argv) try {
    if (argc < 2 || argv[1][0] == '-') return usage();
    const std::string dir = argv[1];
    int runs = 3;
    std::vector<std::string> sizes = {"1024", "2048", "4096"}, modules;
    for (const quen::manifest::ModuleEntry& m : quen::manifest::kModules) modules.emplace_back(m.name);
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--runs") runs = std::max(1, std::atoi(value.c_str()));
        else if (option == "--sizes") sizes = split(value);
        else if (option == "--modules") modules = split(value);
        else return usage();
    }
    if (argc % 2 != 0) return usage();

    const quen::bench::Fftw own = quen::bench::linked_fftw();
#if defined(_WIN32)
    const std::optional<quen::bench::Fftw> debian;
#else
    const std::optional<quen::bench::Fftw> debian = quen::bench::debian_fftw();
#endif
    std::printf("| module / depth / size | continue (ms) | FFTW floor (ms) | ratio | processor time ratio "
                "| Debian's floor (ms) | ratio to Debian's |\n"
                "|---|---:|---:|---:|---:|---:|---:|\n");
    int failures = 0;
    for (const quen::manifest::ModuleEntry& entry : quen::manifest::kModules) {
        const std::string name(entry.name);
        if (std::find(modules.begin(), modules.end(), name) == modules.end()) continue;
        const ModuleLibrary module(dir + "/" + name + module_suffix());
        const quen::bench::Floor floor = quen::bench::floor_of(entry);
        for (const int32_t depth : {8, 16, 32})
            for (const std::string& size_text : sizes) {
                const int32_t size = std::atoi(size_text.c_str());
                const Image picture = synthetic_scene(size, size, depth, 3, StripePattern{0.05, 8, 0});
                const quen::bench::FloorArrays arrays(size);
                Times call, base, debian_base;
                bool failed = !editor_call(module, picture);  // loads FFTW and warms the code; not counted
                for (int r = 0; r < runs && !failed; ++r) {
                    const std::optional<Times> t = editor_call(module, picture);
                    failed = !t;
                    if (t) call.keep_best(*t);
                    base.keep_best(timed([&] { floor(own, size, size, arrays.spectrum, arrays.real); }));
                    if (debian)
                        debian_base.keep_best(timed([&] { floor(*debian, size, size, arrays.spectrum, arrays.real); }));
                }
                if (failed) {
                    std::printf("| %s/%s/%d | failed | | | | | |\n", name.c_str(), depth_name(depth), size);
                    ++failures;
                    continue;
                }
                std::printf("| %s/%s/%d | %.1f | %.1f | %.2f | %.2f |", name.c_str(), depth_name(depth), size,
                            1000 * call.wall, 1000 * base.wall, call.wall / base.wall, call.cpu / base.cpu);
                if (debian)
                    std::printf(" %.1f | %.2f |\n", 1000 * debian_base.wall, call.wall / debian_base.wall);
                else
                    std::printf(" | |\n");
                std::fflush(stdout);
            }
    }
    std::printf("\n");
    for (const std::string& size_text : sizes) print_first_touch(std::atoi(size_text.c_str()), runs);
    return failures == 0 ? 0 : 1;
} catch (const std::exception& e) {
    std::fprintf(stderr, "bench_editor: %s\n", e.what());
    return 1;
}
