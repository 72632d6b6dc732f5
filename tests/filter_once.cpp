// One full filtering of each module named on the command line at each depth, as an editor runs
// it, for running under a memory checker: a picture with a fourth plane and padded rows, and at
// 16 bits one buffer for input and output. Fails when a module reports an error or changes a byte
// it does not own (row padding, the fourth plane).
#include <cstdio>
#include <exception>

#include "module_loader.h"
#include "run.h"
#include "synthetic.h"

using namespace quen::host;

namespace {

bool fourth_plane_kept(const Image& before, const Image& after) {
    for (int32_t y = 0; y < before.rows; ++y)
        for (int32_t x = 0; x < before.cols; ++x)
            if (before.value(y, x, 3) != after.value(y, x, 3)) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: filter_once MODULE...\n", stderr);
        return 2;
    }
    int failures = 0;
    try {
        for (int i = 1; i < argc; ++i) {
            const ModuleLibrary module(argv[i]);
            for (const int32_t depth : {8, 16, 32}) {
                // Odd sizes take FFTW's general code paths; the padding is 5 samples per row.
                const Image input = synthetic_scene(37, 29, depth, 4, StripePattern{0.1, 6, 0});
                const RunOptions options{5 * Image::bytes_per_sample(depth), depth == 16};
                const RunResult run = run_filter(module, input, options);
                const bool ok = run.result == 0 && run.padding_intact && fourth_plane_kept(input, run.image);
                std::printf("%s, depth %d: %s (result %d)\n", argv[i], depth, ok ? "ok" : "FAILED", run.result);
                if (!ok) ++failures;
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "filter_once: %s\n", e.what());
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
