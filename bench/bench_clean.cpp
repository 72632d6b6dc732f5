// The cleaning benchmark: photographs with seeded periodic noise of six kinds, cleaned file to file;
// reports per kind the mean and worst PSNR gain over the noisy picture (SSIM for the halftone), the
// PSNR of each clean photograph's output against itself, and the speed per megapixel.
// Usage: bench_clean OUT_DIR PICTURE.png...   (8-bit RGB pictures; grey ones are spread to RGB)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "clean.h"
#include "image_io.h"
#include "cleaning_modules.h"
#include "measures.h"
#include "synthetic.h"

namespace fs = std::filesystem;
using quen::host::Image;

namespace {

using namespace quen::bench;

constexpr double kPi = std::numbers::pi;
constexpr int kSeeds = 3;

// Adds a sinusoid of random direction, period and phase to every channel.
void add_sinusoid(Planes& p, std::mt19937& gen, double amp_lo, double amp_hi) {
    std::uniform_real_distribution<double> angle(0, kPi), period(3, 40), amp(amp_lo, amp_hi), phase(0, 2 * kPi);
    const double a = angle(gen), t = period(gen), h = amp(gen), f = phase(gen);
    const double kx = 2 * kPi * std::cos(a) / t, ky = 2 * kPi * std::sin(a) / t;
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < p.rows; ++y)
            for (int x = 0; x < p.cols; ++x) p.at(c, y, x) += h * std::sin(kx * x + ky * y + f);
}

// A chirp across the frame in a random direction (period 5 to 25 px and back the other way on
// half the seeds), amplitude 15 under a smooth envelope.
void add_chirp(Planes& p, std::mt19937& gen) {
    std::uniform_real_distribution<double> angle(0, kPi), unit(0, 1);
    const double a = angle(gen), ca = std::cos(a), sa = std::sin(a);
    const double length = std::fabs(ca) * p.cols + std::fabs(sa) * p.rows;
    const double t0 = std::min(0.0, ca * p.cols) + std::min(0.0, sa * p.rows);
    const bool rising = unit(gen) < 0.5;
    const double f0 = rising ? 1 / 25.0 : 1 / 5.0, f1 = rising ? 1 / 5.0 : 1 / 25.0;
    const double ey = unit(gen), ex = unit(gen);
    for (int y = 0; y < p.rows; ++y)
        for (int x = 0; x < p.cols; ++x) {
            const double t = (ca * x + sa * y - t0) / length;  // 0..1 along the direction
            const double phase = 2 * kPi * length * (f0 * t + (f1 - f0) * t * t / 2);
            const double envelope = 0.4 + 0.6 * std::sin(kPi * (0.5 * y / p.rows + 0.5 * ey)) *
                                              std::sin(kPi * (0.5 * x / p.cols + 0.5 * ex));
            for (int c = 0; c < 3; ++c) p.at(c, y, x) += 15 * envelope * std::sin(phase);
        }
}

// Every k-th row darkened by 8 to 15 %.
void add_scan_lines(Planes& p, std::mt19937& gen) {
    std::uniform_int_distribution<int> every(3, 8), start(0, 7);
    std::uniform_real_distribution<double> depth(0.08, 0.15);
    const int k = every(gen), s = start(gen) % k;
    const double d = depth(gen);
    for (int c = 0; c < 3; ++c)
        for (int y = s; y < p.rows; y += k)
            for (int x = 0; x < p.cols; ++x) p.at(c, y, x) *= 1 - d;
}

// An amplitude-modulated colour halftone: each channel printed as round dots on its own screen
// (15, 75 and 45 degrees, 4 to 6 px), dot area following the channel's value, and the print seen
// through a slight blur.
void add_halftone(Planes& p, std::mt19937& gen) {
    std::uniform_real_distribution<double> period(4, 6), unit(0, 1);
    const double t = period(gen), off = unit(gen) * t;
    // The clustered-dot screen's threshold, made uniform: the share of the cell below each level.
    std::vector<double> levels;
    for (int i = 0; i < 256; ++i)
        for (int j = 0; j < 256; ++j)
            levels.push_back((std::cos(2 * kPi * i / 256) + std::cos(2 * kPi * j / 256)) / 2);
    std::sort(levels.begin(), levels.end());
    const double angles[3] = {15, 75, 45};
    Planes printed = p;
    for (int c = 0; c < 3; ++c) {
        const double a = angles[c] * kPi / 180, ca = std::cos(a), sa = std::sin(a);
        for (int y = 0; y < p.rows; ++y)
            for (int x = 0; x < p.cols; ++x) {
                const double u = (ca * x + sa * y + off) / t, v = (-sa * x + ca * y) / t;
                const double s = (std::cos(2 * kPi * u) + std::cos(2 * kPi * v)) / 2;
                const double share =
                    double(std::lower_bound(levels.begin(), levels.end(), s) - levels.begin()) / levels.size();
                printed.at(c, y, x) = p.at(c, y, x) / 255 > 1 - share ? 255 : 0;
            }
    }
    const double k[3] = {0.25, 0.5, 0.25};
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < p.rows; ++y)
            for (int x = 0; x < p.cols; ++x) {
                double s = 0;
                for (int i = -1; i <= 1; ++i)
                    for (int j = -1; j <= 1; ++j)
                        s += k[i + 1] * k[j + 1] * printed.at(c, std::clamp(y + i, 0, p.rows - 1),
                                                                std::clamp(x + j, 0, p.cols - 1));
                p.at(c, y, x) = s;
            }
}

struct Kind {
    const char* name;
    void (*add)(Planes&, std::mt19937&);
};

const Kind kKinds[] = {
    {"one sinusoid", [](Planes& p, std::mt19937& g) { add_sinusoid(p, g, 8, 20); }},
    {"three sinusoids", [](Planes& p, std::mt19937& g) { for (int i = 0; i < 3; ++i) add_sinusoid(p, g, 8, 20); }},
    {"weak sinusoid", [](Planes& p, std::mt19937& g) { add_sinusoid(p, g, 2, 4); }},
    {"chirp", add_chirp},
    {"scan lines", add_scan_lines},
    {"halftone", add_halftone},
};

struct Tally {
    std::vector<double> gains;
    std::vector<Likeness> ssims;
};

}  // namespace

// A picture or module that cannot be read ends the run with its message, not an abort.
int main(int argc, char** argv) try {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_clean OUT_DIR PICTURE.png...\n");
        return 2;
    }
    const fs::path out = argv[1];
    fs::create_directories(out);
    const quen::bench::CleaningModules loaded;
    const quen::cleaning::CleanModules modules = loaded.pair();

    std::map<std::string, Tally> tally;
    std::vector<std::pair<std::string, double>> clean_psnr;
    double seconds = 0, megapixels = 0;
    // File to file: read, clean, write, as `quen clean` does.
    auto clean_file = [&](const fs::path& in, const fs::path& result) {
        const auto start = std::chrono::steady_clock::now();
        Image im = quen::tool::read_image(in);
        const double mp = im.rows * double(im.cols) / 1e6;
        quen::cleaning::CleanResult r = quen::cleaning::clean_picture(modules, std::move(im));
        quen::tool::write_image(result, r.image);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        megapixels += mp;
        return r;
    };

    for (int i = 2; i < argc; ++i) {
        const fs::path path = argv[i];
        const std::string name = path.stem().string();
        Image original = quen::tool::read_image(path);
        if (original.planes > 3) {  // the alpha plane has nothing to do with the noise
            Image rgb = Image::make(original.rows, original.cols, 3, original.depth);
            for (int y = 0; y < original.rows; ++y)
                for (int x = 0; x < original.cols; ++x)
                    for (int c = 0; c < 3; ++c) rgb.set_value(y, x, c, original.value(y, x, c));
            original = std::move(rgb);
        }
        quen::tool::write_image(out / (name + ".png"), original);
        const auto clean = clean_file(out / (name + ".png"), out / (name + "-cleaned.png"));
        clean_psnr.emplace_back(name, psnr(clean.image, original));
        std::printf("%-18s clean              %6.1f dB vs input, %zu peaks%s\n", name.c_str(), clean_psnr.back().second,
                    clean.removed.size(), clean.lowpass_period > 0 ? ", low-pass" : "");
        for (std::size_t k = 0; k < std::size(kKinds); ++k)
            for (int seed = 0; seed < kSeeds; ++seed) {
                const Image noisy = noised(original, kKinds[k].add, uint32_t(1000 * i + 10 * k + seed));
                const std::string tag = name + "-" + std::to_string(k) + "-" + std::to_string(seed);
                quen::tool::write_image(out / (tag + "-noisy.png"), noisy);
                const auto r = clean_file(out / (tag + "-noisy.png"), out / (tag + "-cleaned.png"));
                const double before = psnr(noisy, original), after = psnr(r.image, original);
                Tally& t = tally[kKinds[k].name];
                t.gains.push_back(after - before);
                std::string extra;
                char buf[96];
                if (r.lowpass_period > 0) {
                    std::snprintf(buf, sizeof buf, ", low-pass halving %.1f px", r.lowpass_period);
                    extra += buf;
                }
                if (std::string(kKinds[k].name) == "halftone") {
                    t.ssims.push_back(ssim(r.image, original));
                    std::snprintf(buf, sizeof buf, ", SSIM %.3f (luma %.3f)", t.ssims.back().channels,
                                  t.ssims.back().luma);
                    extra += buf;
                }
                std::printf("%-18s %-18s %6.1f -> %6.1f dB (%+.1f), %zu peaks%s\n", name.c_str(), kKinds[k].name, before,
                            after, after - before, r.removed.size(), extra.c_str());
                std::fflush(stdout);
            }
    }

    std::printf("\n| case | mean | worst | |\n|---|---:|---:|---|\n");
    for (const Kind& k : kKinds) {
        const Tally& t = tally[k.name];
        double mean = 0, worst = 1e9;
        for (double g : t.gains) {
            mean += g / double(t.gains.size());
            worst = std::min(worst, g);
        }
        std::string extra;
        if (!t.ssims.empty()) {
            double s = 0, lo = 1, luma = 0, luma_lo = 1;
            for (const Likeness& v : t.ssims) {
                s += v.channels / double(t.ssims.size());
                lo = std::min(lo, v.channels);
                luma += v.luma / double(t.ssims.size());
                luma_lo = std::min(luma_lo, v.luma);
            }
            char buf[128];
            std::snprintf(buf, sizeof buf,
                          "SSIM of the channels mean %.3f, worst %.3f; of the luma mean %.3f, worst %.3f", s, lo,
                          luma, luma_lo);
            extra = buf;
        }
        std::printf("| %s | %+.1f dB | %+.1f dB | %s |\n", k.name, mean, worst, extra.c_str());
    }
    double lowest = 1e9;
    for (const auto& [n, v] : clean_psnr) lowest = std::min(lowest, v);
    std::printf("| clean pictures (output vs input) | | %.1f dB | |\n", lowest);
    std::printf("| speed, file to file | %.2f s per megapixel | | %.1f megapixels |\n", seconds / megapixels, megapixels);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "bench_clean: %s\n", e.what());
    return 1;
}
