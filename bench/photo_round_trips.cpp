// Round trips on photographs: each picture named on the command line, at 8, 16 and 32 bits, goes
// forward and back unedited through the full-spectrum pair (QuenFwd, QuenInv: the grey result
// against the luminance the forward filter wrote in blue) and through the half-spectrum pair
// (QuenFwdR, QuenInvR on the picture widened by two columns: the worst channel against the
// picture). Prints one Markdown table row per picture, then the range over all of them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "half_width.h"
#include "image_io.h"
#include "module_finder.h"
#include "module_loader.h"
#include "run.h"
#include "synthetic.h"

namespace fs = std::filesystem;
using quen::host::Image;

namespace {

// PSNR of plane pa of a against plane pb of b, full scale of their depth.
double psnr(const Image& a, int32_t pa, const Image& b, int32_t pb) {
    return quen::host::psnr_db(quen::host::mean_square_difference(a, pa, b, pb, a.cols), Image::full_scale(a.depth));
}

// The mean of plane p of the result over that of the reference, as a change in per cent.
double mean_change(const Image& result, const Image& reference, int32_t p_result, int32_t p_reference) {
    long double a = 0, b = 0;
    for (int32_t y = 0; y < result.rows; ++y)
        for (int32_t x = 0; x < result.cols; ++x) {
            a += result.value(y, x, p_result);
            b += reference.value(y, x, p_reference);
        }
    return static_cast<double>(100 * (a / b - 1));
}

Image run(const quen::host::ModuleLibrary& module, Image image) {
    quen::host::RunResult r = quen::host::run_filter(module, std::move(image));
    if (r.result != 0) throw std::runtime_error("filter error " + std::to_string(r.result));
    return std::move(r.image);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: photo_round_trips MODULE_DIR PHOTO...\n", stderr);
        return 2;
    }
    const fs::path dir = argv[1];
    const std::string& suffix = quen::host::module_suffix();
    const quen::host::ModuleLibrary fwd((dir / ("QuenFwd" + suffix)).string()), inv((dir / ("QuenInv" + suffix)).string());
    const quen::host::ModuleLibrary fwd_half((dir / ("QuenFwdR" + suffix)).string());
    const quen::host::ModuleLibrary inv_half((dir / ("QuenInvR" + suffix)).string());
    const int32_t depths[] = {8, 16, 32};
    std::vector<double> low(7, 1e9), high(7, -1e9);
    std::puts("| photo | size | full 8 | full 16 | full 32 | half 8 | half 16 | half 32 | 8-bit mean change |");
    std::puts("|---|---|---:|---:|---:|---:|---:|---:|---:|");
    for (int i = 2; i < argc; ++i) {
        const quen::tool::Picture photo = quen::tool::read_picture(argv[i]);
        std::vector<double> row;
        double change = 0;
        for (const int32_t depth : depths) {
            const Image picture = quen::tool::at_depth(photo, depth).image;
            const Image spectrum = run(fwd, picture);
            const Image grey = run(inv, spectrum);
            row.push_back(psnr(grey, 0, spectrum, 2));
            if (depth == 8) change = mean_change(grey, spectrum, 0, 2);
        }
        for (const int32_t depth : depths) {
            const Image picture = quen::tool::at_depth(photo, depth).image;
            const Image back = quen::host::crop_after_half_spectrum(
                run(inv_half, run(fwd_half, quen::host::widen_for_half_spectrum(picture))));
            row.push_back(std::min({psnr(back, 0, picture, 0), psnr(back, 1, picture, 1), psnr(back, 2, picture, 2)}));
        }
        row.push_back(change);
        std::printf("| %s | %d x %d |", fs::path(argv[i]).filename().c_str(), photo.image.cols, photo.image.rows);
        for (std::size_t k = 0; k < row.size(); ++k) {
            std::printf(k + 1 < row.size() ? " %.1f dB |" : " %+.2f %% |", row[k]);
            low[k] = std::min(low[k], row[k]);
            high[k] = std::max(high[k], row[k]);
        }
        std::puts("");
        std::fflush(stdout);
    }
    std::printf("| range over %d photos | |", argc - 2);
    for (std::size_t k = 0; k < low.size(); ++k)
        std::printf(k + 1 < low.size() ? " %.1f to %.1f dB |" : " %+.2f to %+.2f %% |", low[k], high[k]);
    std::puts("");
    return 0;
}
