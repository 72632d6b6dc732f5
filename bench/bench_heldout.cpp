// The cleaning benchmark that does not flatter: noise made otherwise than bench_clean's (screens at
// any angle and period, drifting waves, stripes added at whole-pixel periods beside scan lines
// that scale their rows) on photographs of one half of scripts/bench-pictures.sh, cleaned file to
// file. Reports per kind the mean and worst PSNR gain over the noisy picture and how many came
// back untouched; whether each clean photograph came back untouched; the speed per megapixel. Each
// photograph is also rendered at high contrast (large areas at black and at white) and noised again.
// Usage: bench_heldout [--kind TEXT] [--seeds N] [--chirp-scale F] [--chirp-drift D] [--chirp-period T]
//                      [--chirp-angle DEG] [--screen-angle DEG] [--screen-period T] OUT_DIR PICTURE...
// (--kind: only the kinds whose name holds TEXT; --chirp-scale: the chirps' amplitude times F, to
// make drifting waves too faint for any peak of theirs to stand; --chirp-drift, --chirp-period,
// --chirp-angle: the chirps' drift either way, mean period and direction held at one value, to try
// the ends of their ranges; --screen-angle, --screen-period: the screens' angle and period held at
// one value, to try screens laid along the axes or at one fineness)
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "clean.h"
#include "cleaning_modules.h"
#include "image_io.h"
#include "measures.h"
#include "noise_waves.h"
#include "pictures.h"

namespace fs = std::filesystem;
using quen::host::Image;
using namespace quen::bench;

namespace {

waves::ChirpCorner chirp_corner;    // what the chirps' draws are held at
waves::ScreenCorner screen_corner;  // what the screens' draws are held at

struct Kind {
    const char* name;
    int seeds;        // noisy copies of each picture
    bool on_contrast; // also made once on the picture's high-contrast rendition
    void (*add)(Planes&, std::mt19937&);
};

const Kind kKinds[] = {
    {"one sinusoid", 2, true, [](Planes& p, std::mt19937& g) { waves::add_sinusoid(p, g, 8, 20); }},
    {"three sinusoids", 1, false, [](Planes& p, std::mt19937& g) { for (int i = 0; i < 3; ++i) waves::add_sinusoid(p, g, 8, 20); }},
    {"weak sinusoid", 1, false, [](Planes& p, std::mt19937& g) { waves::add_sinusoid(p, g, 2, 4); }},
    {"screen, tone-modulated", 2, true, [](Planes& p, std::mt19937& g) { waves::add_screen(p, g, false, screen_corner); }},
    {"screen, binary", 2, true, [](Planes& p, std::mt19937& g) { waves::add_screen(p, g, true, screen_corner); }},
    {"chirp", 2, true, [](Planes& p, std::mt19937& g) { waves::add_chirp(p, g, chirp_corner); }},
    {"stripes added", 1, true, waves::add_stripes},
    {"rows offset", 1, false, waves::add_offset_lines},
    {"scan lines (gain)", 1, true, waves::add_scan_lines},
};

// The suffix of the kinds made on the high-contrast renditions, in the per-picture lines and the table.
constexpr const char* kContrast = ", high contrast";

struct Tally {
    std::vector<double> gains;
    int untouched = 0;
};

}  // namespace

// A picture or module that cannot be read ends the run with its message, not an abort.
int main(int argc, char** argv) try {
    std::string only;  // the kinds of noise to make: those whose name holds this
    int seeds = 0;     // noisy copies of each picture per kind (0: each kind's own count)
    bool known = true;
    // A value that is not wholly a number is refused as a mistyped option is.
    const auto number = [&known](const char* text) {
        char* end = nullptr;
        const double v = std::strtod(text, &end);
        known = known && end != text && *end == '\0';
        return v;
    };
    for (; known && argc > 2 && std::string(argv[1]).starts_with("--"); argv += 2, argc -= 2)
        if (std::string(argv[1]) == "--kind") only = argv[2];
        else if (std::string(argv[1]) == "--chirp-scale") chirp_corner.scale = number(argv[2]);
        else if (std::string(argv[1]) == "--chirp-drift") chirp_corner.drift = number(argv[2]);
        else if (std::string(argv[1]) == "--chirp-period") chirp_corner.period = number(argv[2]);
        else if (std::string(argv[1]) == "--chirp-angle") chirp_corner.angle = number(argv[2]);
        else if (std::string(argv[1]) == "--screen-angle") screen_corner.angle = number(argv[2]);
        else if (std::string(argv[1]) == "--screen-period") screen_corner.period = number(argv[2]);
        else if (std::string(argv[1]) == "--seeds") seeds = std::max(1, int(number(argv[2])));
        else known = false;  // a mistyped option is not read as another's value
    if (!known || argc < 3) {
        std::fprintf(stderr, "usage: bench_heldout [--kind TEXT] [--seeds N] [--chirp-scale F] [--chirp-drift D] "
                             "[--chirp-period T] [--chirp-angle DEG] [--screen-angle DEG] [--screen-period T] "
                             "OUT_DIR PICTURE...\n");
        return 2;
    }
    const fs::path out = argv[1];
    fs::create_directories(out);
    const quen::bench::CleaningModules loaded;
    const quen::cleaning::CleanModules modules = loaded.pair();

    std::map<std::string, Tally> tally;
    int clean_untouched[2] = {}, clean_count[2] = {};  // photographs, their high-contrast renditions
    double clean_worst[2] = {99, 99}, seconds = 0, cpu_seconds = 0, megapixels = 0;
    // File to file: read, clean, write, as `quen clean` does.
    auto clean_file = [&](const fs::path& in, const fs::path& result) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu_start = std::clock();
        Image im = quen::tool::read_image(in);
        const double mp = im.rows * double(im.cols) / 1e6;
        quen::cleaning::CleanResult r = quen::cleaning::clean_picture(modules, std::move(im));
        quen::tool::write_image(result, r.image);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu_seconds += double(std::clock() - cpu_start) / CLOCKS_PER_SEC;
        megapixels += mp;
        return r;
    };

    // Each photograph, then its high-contrast rendition (a quarter of it at black and a quarter at
    // white), with the kinds of noise that can show over such a picture.
    for (int i = 2; i < argc; ++i) {
        const Image photo = read_photograph(argv[i]);
        for (const bool contrast : {false, true}) {
            const std::string name = fs::path(argv[i]).stem().string() + (contrast ? "-hc" : "");
            const Image original = contrast ? high_contrast(photo) : photo;
            quen::tool::write_image(out / (name + ".png"), original);
            const auto clean = clean_file(out / (name + ".png"), out / (name + "-cleaned.png"));
            const double clean_psnr = psnr(clean.image, original);
            ++clean_count[contrast];
            clean_untouched[contrast] += clean_psnr == 99;
            clean_worst[contrast] = std::min(clean_worst[contrast], clean_psnr);
            std::printf("%-17s %4dx%-4d clean                   %6.1f dB vs input\n", name.c_str(), original.cols,
                        original.rows, clean_psnr);
            for (std::size_t k = 0; k < std::size(kKinds); ++k) {
                const std::string kind = std::string(kKinds[k].name) + (contrast ? kContrast : "");
                if (kind.find(only) == std::string::npos || (contrast && !kKinds[k].on_contrast)) continue;
                for (int seed = 0; seed < (seeds ? seeds : contrast ? 1 : kKinds[k].seeds); ++seed) {
                    const Image noisy = noised(original, kKinds[k].add, uint32_t(7919 * i + 101 * k + seed + (contrast ? 53 : 0)));
                    const std::string tag = name + "-" + std::to_string(k) + "-" + std::to_string(seed);
                    quen::tool::write_image(out / (tag + "-noisy.png"), noisy);
                    const auto r = clean_file(out / (tag + "-noisy.png"), out / (tag + "-cleaned.png"));
                    const double before = psnr(noisy, original), after = psnr(r.image, original);
                    const bool untouched = psnr(r.image, noisy) == 99;
                    Tally& t = tally[kind];
                    t.gains.push_back(after - before);
                    t.untouched += untouched;
                    std::printf("%-17s %-9s %-38s %6.1f -> %6.1f dB (%+.1f), %zu peaks%s%s\n", name.c_str(),
                                tag.substr(name.size() + 1).c_str(), kind.c_str(), before, after, after - before,
                                r.removed.size(), r.lowpass_period > 0 ? ", low-pass" : "", untouched ? ", untouched" : "");
                    std::fflush(stdout);
                }
            }
        }
    }

    std::printf("\n| case | mean | worst | untouched |\n|---|---:|---:|---:|\n");
    for (const bool contrast : {false, true})
        for (const Kind& k : kKinds) {
            const std::string kind = std::string(k.name) + (contrast ? kContrast : "");
            if (!tally.contains(kind)) continue;
            const Tally& t = tally[kind];
            double mean = 0, worst = 1e9;
            for (double g : t.gains) {
                mean += g / double(t.gains.size());
                worst = std::min(worst, g);
            }
            std::printf("| %s | %+.1f dB | %+.1f dB | %d of %zu |\n", kind.c_str(), mean, worst, t.untouched, t.gains.size());
        }
    std::printf("| clean photographs (output vs input) | | %.1f dB | %d of %d |\n", clean_worst[0], clean_untouched[0],
                clean_count[0]);
    std::printf("| clean photographs%s | | %.1f dB | %d of %d |\n", kContrast, clean_worst[1], clean_untouched[1],
                clean_count[1]);
    // On a shared machine the time that passed says more about the others' work than about this
    // one's: the processor time it took is given beside it.
    std::printf("| speed, file to file | %.2f s per megapixel | %.2f s of processor time | %.1f megapixels |\n",
                seconds / megapixels, cpu_seconds / megapixels, megapixels);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "bench_heldout: %s\n", e.what());
    return 1;
}
