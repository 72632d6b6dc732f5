// Writes the seed corpora of the fuzz targets into the folder given: ordinary filterings at each
// depth and the awkward records and selector orders an editor or a broken host may produce.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "entry_input.h"
#include "filter_record.h"

namespace fs = std::filesystem;
using namespace quen::fuzz;

namespace {

void write(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error(path.string() + ": cannot write");
}

Geometry image(int16_t rows, int16_t cols, int16_t planes, int32_t depth) {
    Geometry g;
    g.rows = rows;
    g.cols = cols;
    g.planes = planes;
    g.depth = depth;
    g.fill = kNominal;
    g.seed = static_cast<uint8_t>(rows * 7 + cols);
    return g;
}

std::vector<uint8_t> encode(const Geometry& g, const std::vector<int16_t>& selectors = {}) {
    Encoder e;
    e.geometry(g);
    for (const int16_t s : selectors) e.selector(s);
    return e.bytes;
}

struct Size {
    int16_t rows, cols, planes;
};
// From the smallest images the transforms accept to odd, even, tall and wide ones.
constexpr Size kOrdinary[] = {{1, 1, 3}, {1, 3, 3}, {2, 3, 3},   {3, 4, 3},  {8, 8, 3},  {7, 5, 4},
                              {16, 12, 3}, {33, 17, 3}, {64, 48, 4}, {5, 97, 3}, {101, 3, 3}};

void entry_seeds(const fs::path& dir) {
    fs::create_directories(dir);
    int n = 0;
    auto add = [&](const std::string& what, const std::vector<uint8_t>& bytes) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d-", n++);
        write(dir / (name + what), bytes);
    };
    for (const int32_t depth : {8, 16, 32}) {
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "d%d-", static_cast<int>(depth));
        const std::string d = prefix;
        for (const Size& s : kOrdinary) {
            char what[32];
            std::snprintf(what, sizeof what, "%dx%dx%d", s.rows, s.cols, s.planes);
            add(d + what, encode(image(s.rows, s.cols, s.planes, depth)));
        }
        Geometry g = image(9, 6, 3, depth);
        g.in_padding = g.out_padding = static_cast<int8_t>(7 * (depth / 8));
        add(d + "padded", encode(g));
        g.same_buffer = true;
        add(d + "padded-same-buffer", encode(g));
        g = image(10, 11, 5, depth);
        g.whole_last_row = true;
        g.fill = depth == 32 ? kRandomBytes : kExtremes;
        add(d + "extremes", encode(g));
        g.fill = kExtremes;
        g.opaque_filled = true;
        add(d + "extremes-filled-record", encode(g));
    }
    // Records the transforms cannot address: they must be left alone.
    Geometry g = image(6, 5, 3, 8);
    g.rows = 0;
    add("no-rows", encode(g));
    g = image(6, 5, 3, 8);
    g.cols = -5;
    add("negative-cols", encode(g));
    g = image(6, 2, 3, 16);
    add("two-cols", encode(g));
    g = image(6, 5, 2, 32);
    add("two-planes", encode(g));
    g = image(6, 5, 3, 24);
    add("depth-24", encode(g));
    g = image(6, 5, 3, 16);
    g.in_padding = -2;
    add("short-input-rows", encode(g));
    g = image(6, 5, 3, 8);
    g.out_padding = -1;
    add("short-output-rows", encode(g));
    g = image(6, 5, 3, 8);
    g.no_input = true;
    add("no-input", encode(g));
    g = image(6, 5, 3, 32);
    g.no_output = true;
    add("no-output", encode(g));
    // Selector orders an editor does not use.
    const Geometry small = image(12, 10, 4, 16);
    add("continue-without-start", encode(small, {filterSelectorContinue}));
    add("continue-twice", encode(small, {filterSelectorStart, filterSelectorContinue, filterSelectorContinue,
                                         filterSelectorFinish}));
    add("odd-selectors", encode(small, {-1, 6, 32767, INT16_MIN, filterSelectorStart, filterSelectorContinue}));
    Encoder e;
    e.geometry(small);
    e.selector(filterSelectorStart);
    e.new_geometry(image(20, 7, 3, 32));
    e.selector(filterSelectorContinue);
    e.selector(filterSelectorFinish);
    add("new-geometry-after-start", e.bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_fuzz_seeds DIR   write the seed corpora into DIR/<target>/\n", stderr);
        return 2;
    }
    try {
        const fs::path root = argv[1];
        entry_seeds(root / "entry");
        std::printf("seeds written into %s\n", root.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
        return 1;
    }
}
