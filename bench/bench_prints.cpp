// The print benchmark: photographs printed as a real press prints them (binary ink dots on
// clustered-dot screens, one ink at 45 degrees or three and four inks in a rosette, some screens
// finer than the scan so that they alias into moire), scanned (rendered four times finer, blurred
// by the scanner's optics, area-averaged, a little noise), then cleaned. Each scan is scored
// against what a perfect descreen gives back, each ink's coverage through the screen's own tone
// curve, beside the best plain Gaussian blur of that scan (the deviation best for that picture),
// which is what a user would otherwise take. Reports PSNR and SSIM per kind and per set of
// photographs, mean and worst, and the cleaning's speed.
// Usage: bench_prints OUT_DIR [--kinds K,K...] [--seeds N] [--soften S] [--reuse] --tuning PICTURE... --heldout PICTURE...
// --kinds: only these kinds (their numbers from 0, in the table's order); --seeds: N prints of each
// photograph and kind, each with its own period, tilt and offset (the first is the one a run
// without --seeds makes), to cover more screens than one a photograph; --reuse: the scans,
// references and best blurs a previous run left in OUT_DIR are read back rather than made again
// (the same photographs, kinds and seeds make the same prints); --soften S: each photograph is
// blurred (a Gaussian of deviation S pixels) before it is printed, so that the grain stands high
// against the picture's own fine detail, as it does on smooth or soft photographs (the best blur
// of such prints is wide).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "clean.h"
#include "cleaning_modules.h"
#include "image_io.h"
#include "measures.h"
#include "pictures.h"

namespace fs = std::filesystem;
using namespace quen::bench;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kFine = 4;             // the print is rendered kFine x kFine times finer than the scan
constexpr double kOptics = 0.5;      // the scanner's blur, deviation in scan pixels
constexpr double kScanNoise = 1.0;   // the scanner's noise, deviation in levels

// The clustered dot: ink where the spot function exceeds 1 - 2 x coverage asked for. The share of
// a cell it inks is the screen's tone curve, tabulated once over a fine grid of the cell.
double spot(double u, double v) { return (std::cos(2 * kPi * u) + std::cos(2 * kPi * v)) / 2; }

struct ToneCurve {
    std::vector<double> sorted;  // the spot function over the cell, ascending
    ToneCurve() {
        const int n = 512;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) sorted.push_back(spot((i + 0.5) / n, (j + 0.5) / n));
        std::sort(sorted.begin(), sorted.end());
    }
    double threshold(double ink) const { return 1 - 2 * ink; }
    double coverage(double ink) const {
        const auto above = sorted.end() - std::upper_bound(sorted.begin(), sorted.end(), threshold(ink));
        return double(above) / double(sorted.size());
    }
};

// One ink: its screen's angle (degrees) and the colour channels it darkens.
struct Ink {
    double angle;
    unsigned channels;
};

struct Kind {
    const char* name;
    std::vector<Ink> inks;  // one ink darkens all three channels; three and four are C, M, Y (and K)
    double period_lo, period_hi;  // screen period in scan pixels
};

const Kind kKinds[] = {
    {"one ink", {{45, 7}}, 3, 12},
    {"three inks", {{15, 1}, {75, 2}, {0, 4}}, 3, 12},
    {"four inks", {{15, 1}, {75, 2}, {0, 4}, {45, 7}}, 3, 12},
    {"one ink, aliased", {{45, 7}}, 1.05, 1.4},
    {"three inks, aliased", {{15, 1}, {75, 2}, {0, 4}}, 1.1, 1.9},
};

// Each ink's amount (0..1) at each pixel: the grey's for one ink, each channel's complement for
// C, M, Y, and for K half the darkest of the three, taken out of the other three so that the inks
// together ask for the photograph's colour.
std::vector<std::vector<double>> ink_amounts(const Planes& photo, const Kind& kind) {
    const std::size_t n = std::size_t(photo.rows) * photo.cols;
    std::vector<std::vector<double>> inks(kind.inks.size(), std::vector<double>(n));
    for (std::size_t i = 0; i < n; ++i) {
        const double r = photo.v[i] / 255, g = photo.v[n + i] / 255, b = photo.v[2 * n + i] / 255;
        if (kind.inks.size() == 1) {
            inks[0][i] = 1 - (0.299 * r + 0.587 * g + 0.114 * b);
            continue;
        }
        double c = 1 - r, m = 1 - g, y = 1 - b;
        if (kind.inks.size() == 4) {
            const double k = 0.5 * std::min({c, m, y});
            inks[3][i] = k;
            c = (c - k) / (1 - k), m = (m - k) / (1 - k), y = (y - k) / (1 - k);
        }
        inks[0][i] = c, inks[1][i] = m, inks[2][i] = y;
    }
    return inks;
}

struct Print {
    Image scan, reference;
    double period = 0, tilt = 0;  // the screen's period (scan pixels) and the rosette's turn (degrees)
};

// Prints the photograph, scans it, and works out what a perfect descreen gives back.
Print print_and_scan(const Planes& photo, const Kind& kind, std::mt19937& gen, const ToneCurve& curve) {
    std::uniform_real_distribution<double> period(kind.period_lo, kind.period_hi), unit(0, 1), tilt(-4, 4);
    const double t = period(gen), turn = tilt(gen), ox = unit(gen) * t, oy = unit(gen) * t;
    const auto amounts = ink_amounts(photo, kind);
    const int rows = photo.rows, cols = photo.cols, frows = rows * kFine, fcols = cols * kFine;
    // The paper's brightness under the inks, finely rendered, per channel.
    std::vector<float> fine(std::size_t(3) * frows * fcols, 1.0f);
    for (std::size_t k = 0; k < kind.inks.size(); ++k) {
        const double a = (kind.inks[k].angle + turn) * kPi / 180, ca = std::cos(a), sa = std::sin(a);
        for (int fy = 0; fy < frows; ++fy)
            for (int fx = 0; fx < fcols; ++fx) {
                const double x = (fx + 0.5) / kFine + ox, y = (fy + 0.5) / kFine + oy;
                const double ink = amounts[k][std::size_t(fy / kFine) * cols + fx / kFine];
                if (spot((ca * x + sa * y) / t, (-sa * x + ca * y) / t) <= curve.threshold(ink)) continue;
                for (int c = 0; c < 3; ++c)
                    if (kind.inks[k].channels & (1u << c)) fine[(std::size_t(c) * frows + fy) * fcols + fx] = 0;
            }
    }
    // The scanner's optics (a Gaussian, separable) and its sensor's area average.
    const double s = kOptics * kFine;
    const int r = int(std::ceil(3 * s));
    std::vector<double> w(2 * r + 1);
    double total = 0;
    for (int i = -r; i <= r; ++i) total += w[i + r] = std::exp(-i * i / (2 * s * s));
    for (double& x : w) x /= total;
    std::normal_distribution<double> noise(0, kScanNoise);
    Planes scan{rows, cols, std::vector<double>(std::size_t(3) * rows * cols)};
    std::vector<float> across(std::size_t(frows) * cols);  // blurred along the rows, summed over kFine columns
    for (int c = 0; c < 3; ++c) {
        const float* f = &fine[std::size_t(c) * frows * fcols];
        for (int fy = 0; fy < frows; ++fy)
            for (int x = 0; x < cols; ++x) {
                double sum = 0;
                for (int j = 0; j < kFine; ++j)
                    for (int i = -r; i <= r; ++i)
                        sum += w[i + r] * f[std::size_t(fy) * fcols + std::clamp(x * kFine + j + i, 0, fcols - 1)];
                across[std::size_t(fy) * cols + x] = float(sum);
            }
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x) {
                double sum = 0;
                for (int j = 0; j < kFine; ++j)
                    for (int i = -r; i <= r; ++i)
                        sum += w[i + r] * across[std::size_t(std::clamp(y * kFine + j + i, 0, frows - 1)) * cols + x];
                scan.at(c, y, x) = std::clamp(255 * sum / (kFine * kFine) + noise(gen), 0.0, 255.0);
            }
    }
    Planes reference{rows, cols, std::vector<double>(std::size_t(3) * rows * cols, 255)};
    for (std::size_t k = 0; k < kind.inks.size(); ++k)
        for (int c = 0; c < 3; ++c)
            if (kind.inks[k].channels & (1u << c))
                for (int y = 0; y < rows; ++y)
                    for (int x = 0; x < cols; ++x)
                        reference.at(c, y, x) *= 1 - curve.coverage(amounts[k][std::size_t(y) * cols + x]);
    return {image_of(scan), image_of(reference), t, turn};
}

// A Gaussian blur of deviation sigma (pixels), the border repeated, rounded to 8 bits.
Image gaussian_blur(const Image& im, double sigma) {
    Planes p = planes_of(im);
    const int r = int(std::ceil(3 * sigma));
    std::vector<double> w(2 * r + 1);
    double total = 0;
    for (int i = -r; i <= r; ++i) total += w[i + r] = std::exp(-i * i / (2 * sigma * sigma));
    for (double& x : w) x /= total;
    Planes q = p;
    for (int c = 0; c < 3; ++c) {
        for (int y = 0; y < p.rows; ++y)
            for (int x = 0; x < p.cols; ++x) {
                double s = 0;
                for (int i = -r; i <= r; ++i) s += w[i + r] * p.at(c, y, std::clamp(x + i, 0, p.cols - 1));
                q.at(c, y, x) = s;
            }
        for (int y = 0; y < p.rows; ++y)
            for (int x = 0; x < p.cols; ++x) {
                double s = 0;
                for (int i = -r; i <= r; ++i) s += w[i + r] * q.at(c, std::clamp(y + i, 0, p.rows - 1), x);
                p.at(c, y, x) = s;
            }
    }
    for (double& v : p.v) v = std::round(v);
    return image_of(p);
}

// The photograph at most kSide pixels each way: area-averaged by a whole factor to at most 1.5 kSide
// on its longer side, then its middle (the rendering four times finer is what costs).
constexpr int kSide = 512;
Planes fit(const Planes& photo) {
    const int k = std::max(1, int(std::ceil(std::max(photo.rows, photo.cols) / (1.5 * kSide))));
    const int rows = std::min(kSide, photo.rows / k), cols = std::min(kSide, photo.cols / k);
    const int y0 = (photo.rows / k - rows) / 2, x0 = (photo.cols / k - cols) / 2;
    Planes out{rows, cols, std::vector<double>(std::size_t(3) * rows * cols)};
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x) {
                double sum = 0;
                for (int i = 0; i < k; ++i)
                    for (int j = 0; j < k; ++j) sum += photo.at(c, (y0 + y) * k + i, (x0 + x) * k + j);
                out.at(c, y, x) = std::round(sum / (k * k));
            }
    return out;
}

struct Score {
    double psnr = 0, ssim = 0;
};
Score score(const Image& a, const Image& reference) { return {psnr(a, reference), ssim(a, reference).channels}; }

// The blur whose deviation (from 0.3 px, in steps of 10 %) scores the best PSNR.
Score best_blur(const Image& scan, const Image& reference, double& sigma) {
    Score best{-1, 0};
    int worse = 0;
    for (double s = 0.3; s < 20 && worse < 3; s *= 1.1) {
        const double p = psnr(gaussian_blur(scan, s), reference);
        worse = p > best.psnr ? 0 : worse + 1;
        if (p > best.psnr) best.psnr = p, sigma = s;
    }
    best.ssim = ssim(gaussian_blur(scan, sigma), reference).channels;
    return best;
}

struct Row {
    std::string set, kind;
    Score blur, clean, print;
};

void summarise(const std::vector<Row>& rows, const std::string& set, const char* kind) {
    double n = 0, blur_p = 0, blur_s = 0, dp[2] = {0, 0}, ds[2] = {0, 0}, worst_p[2] = {1e9, 1e9}, worst_s[2] = {1e9, 1e9};
    double p[2] = {0, 0};
    for (const Row& r : rows) {
        if (r.set != set || (kind && r.kind != kind)) continue;
        ++n;
        blur_p += r.blur.psnr, blur_s += r.blur.ssim;
        const Score* mine[2] = {&r.clean, &r.print};
        for (int i = 0; i < 2; ++i) {
            p[i] += mine[i]->psnr;
            dp[i] += mine[i]->psnr - r.blur.psnr, ds[i] += mine[i]->ssim - r.blur.ssim;
            worst_p[i] = std::min(worst_p[i], mine[i]->psnr - r.blur.psnr);
            worst_s[i] = std::min(worst_s[i], mine[i]->ssim - r.blur.ssim);
        }
    }
    if (n == 0) return;
    std::printf("| %s | %s | %.0f | %.2f / %.3f |", set.c_str(), kind ? kind : "all", n, blur_p / n, blur_s / n);
    for (int i = 0; i < 2; ++i)
        std::printf(" %.2f: %+.2f (worst %+.2f) / %+.3f (worst %+.3f) |", p[i] / n, dp[i] / n, worst_p[i], ds[i] / n, worst_s[i]);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_prints OUT_DIR [--kinds K,K...] [--seeds N] [--soften S] [--reuse] --tuning PICTURE... --heldout PICTURE...\n");
        return 2;
    }
    const fs::path out = argv[1];
    fs::create_directories(out);
    const quen::bench::CleaningModules loaded;
    const quen::cleaning::CleanModules modules = loaded.pair();
    const ToneCurve curve;

    std::vector<Row> rows;
    std::vector<std::string> sets;
    std::string set = "tuning";
    double seconds = 0, cpu_seconds = 0, megapixels = 0;
    std::vector<bool> wanted(std::size(kKinds), true);
    bool reuse = false;
    int seeds = 1;
    double soften = 0;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--reuse") == 0) {
            reuse = true;
            continue;
        }
        if (std::strcmp(argv[i], "--seeds") == 0 && i + 1 < argc) {
            seeds = std::atoi(argv[++i]);
            if (seeds < 1 || seeds > 100) throw std::runtime_error("--seeds takes a count from 1 to 100");
            continue;
        }
        if (std::strcmp(argv[i], "--soften") == 0 && i + 1 < argc) {
            soften = std::atof(argv[++i]);
            if (!(soften >= 0 && soften <= 20)) throw std::runtime_error("--soften takes a deviation from 0 to 20 pixels");
            continue;
        }
        if (std::strcmp(argv[i], "--kinds") == 0 && i + 1 < argc) {
            wanted.assign(std::size(kKinds), false);
            for (const char* k = argv[++i]; *k; ++k)
                if (*k >= '0' && std::size_t(*k - '0') < std::size(kKinds)) wanted[std::size_t(*k - '0')] = true;
            continue;
        }
        if (std::strcmp(argv[i], "--tuning") == 0 || std::strcmp(argv[i], "--heldout") == 0) {
            set = argv[i] + 2;
            continue;
        }
        if (std::find(sets.begin(), sets.end(), set) == sets.end()) sets.push_back(set);
        const fs::path path = argv[i];
        const std::string name = path.stem().string();
        Planes photo = fit(planes_of(read_photograph(path)));
        if (soften > 0) photo = planes_of(gaussian_blur(image_of(photo), soften));
        for (std::size_t k = 0; k < std::size(kKinds); ++k)
            for (int seed = 0; wanted[k] && seed < seeds; ++seed) {
                const std::string tag = name + "-" + std::to_string(k) + (seed > 0 ? "-" + std::to_string(seed) : "");
                Row row{set, kKinds[k].name, {}, {}, {}};
                double sigma = 0;
                Print print;
                std::ifstream kept(out / (tag + "-blur.txt"));
                if (reuse && kept >> print.period >> sigma >> row.blur.psnr >> row.blur.ssim) {
                    if (!(kept >> print.tilt)) print.tilt = std::nan("");  // (left by a run that did not keep it)
                    print.scan = quen::tool::read_image(out / (tag + "-scan.png"));
                    print.reference = quen::tool::read_image(out / (tag + "-reference.png"));
                } else {
                    std::mt19937 gen(uint32_t(std::hash<std::string>{}(name) + 17 * k + 7919 * std::size_t(seed)));
                    print = print_and_scan(photo, kKinds[k], gen, curve);
                    quen::tool::write_image(out / (tag + "-scan.png"), print.scan);
                    quen::tool::write_image(out / (tag + "-reference.png"), print.reference);
                    row.blur = best_blur(print.scan, print.reference, sigma);
                    std::ofstream(out / (tag + "-blur.txt")) << std::setprecision(17) << print.period << ' ' << sigma << ' '
                                                              << row.blur.psnr << ' ' << row.blur.ssim << ' ' << print.tilt << '\n';
                }
                Score* mine[2] = {&row.clean, &row.print};
                std::string found[2];
                for (int as_print = 0; as_print < 2; ++as_print) {
                    quen::cleaning::CleanOptions options;
                    options.print = as_print;
                    const auto start = std::chrono::steady_clock::now();
                    const std::clock_t cpu_start = std::clock();
                    const quen::cleaning::CleanResult r = quen::cleaning::clean_picture(modules, print.scan, options);
                    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                    cpu_seconds += double(std::clock() - cpu_start) / CLOCKS_PER_SEC;
                    megapixels += print.scan.rows * double(print.scan.cols) / 1e6;
                    *mine[as_print] = score(r.image, print.reference);
                    quen::tool::write_image(out / (tag + (as_print ? "-print.png" : "-cleaned.png")), r.image);
                    char text[64];
                    std::snprintf(text, sizeof text, "%s", r.lowpass_period > 0 ? "screen" : r.changed > 0 ? "peaks" : "untouched");
                    found[as_print] = text;
                }
                rows.push_back(row);
                std::printf("%-8s %-24s %-20s period %5.2f tilt %+5.1f: blur %.2f px %.2f dB %.3f | clean %.2f dB %.3f (%s) | print %.2f dB %.3f (%s)\n",
                            set.c_str(), tag.c_str(), kKinds[k].name, print.period, print.tilt, sigma, row.blur.psnr, row.blur.ssim,
                            row.clean.psnr, row.clean.ssim, found[0].c_str(), row.print.psnr, row.print.ssim, found[1].c_str());
                std::fflush(stdout);
            }
    }
    std::printf("\nPSNR / SSIM against a perfect descreen; quen clean and quen clean --print as mean, then the\n"
                "difference from the best blur: mean (worst)\n\n");
    std::printf("| set | kind | prints | best blur | quen clean | quen clean --print |\n|---|---|---:|---|---|---|\n");
    for (const std::string& s : sets) {
        for (const Kind& k : kKinds) summarise(rows, s, k.name);
        summarise(rows, s, nullptr);
    }
    std::printf("| speed | %.2f s per megapixel, %.2f s of processor time | | | | |\n", seconds / megapixels,
                cpu_seconds / megapixels);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "bench_prints: %s\n", e.what());
    return 1;
}
