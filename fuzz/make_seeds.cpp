// Writes the seed corpora of the fuzz targets into the folder given: for the entry point,
// ordinary filterings at each depth and the awkward records and selector orders an editor or a
// broken host may produce; for the picture readers, small PNG, TIFF, JPEG and WebP files of every
// layout they read (and a few they refuse).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "entry_input.h"
#include "filter_record.h"
#include "image_io.h"
#include "raw_image_files.h"
#include "synthetic.h"

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

// Small pictures: odd sizes, so that rows, strips and tiles do not line up.
constexpr uint32_t kRows = 13;
constexpr uint32_t kCols = 21;

// One row of a PNG in the file's own form: `samples` values per pixel of `bits` bits, packed
// below 8 bits, big-endian at 16.
std::vector<png_byte> png_row(uint32_t y, int samples, int bits) {
    std::vector<png_byte> row;
    const uint32_t values = kCols * static_cast<uint32_t>(samples);
    if (bits < 8) {
        row.assign((values * static_cast<uint32_t>(bits) + 7) / 8, 0);
        for (uint32_t i = 0; i < values; ++i) {
            const uint32_t v = (i + y) % (1u << bits);
            row[i * bits / 8] = static_cast<png_byte>(row[i * bits / 8] | v << (8 - bits - (i * bits) % 8));
        }
        return row;
    }
    for (uint32_t i = 0; i < values; ++i) {
        const uint32_t v = (i * 37 + y * 11) * (bits == 16 ? 251u : 1u);
        if (bits == 16) row.push_back(static_cast<png_byte>(v >> 8 & 0xFF));
        row.push_back(static_cast<png_byte>(v & 0xFF));
    }
    return row;
}

void png_seed(const fs::path& path, quen::test::PngSpec spec, int samples) {
    std::vector<std::vector<png_byte>> rows;
    for (uint32_t y = 0; y < kRows; ++y) rows.push_back(png_row(y, samples, spec.bit_depth));
    quen::test::write_raw_png(path, spec, rows);
}

// Interleaved samples of a TIFF: a ramp, and at 32 bits a few values outside 0..1 and a NaN.
template <class T>
void tiff_seed_of(const fs::path& path, quen::test::TiffSpec spec) {
    std::vector<T> samples(std::size_t{kRows} * kCols * spec.samples);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if constexpr (std::is_same_v<T, float>)
            samples[i] = i == 5 ? -0.25f : i == 6 ? std::numeric_limits<float>::quiet_NaN() : float(i % 97) / 96.0f;
        else
            samples[i] = static_cast<T>(i * 37 * (sizeof(T) == 2 ? 251 : 1));
    }
    spec.width = kCols;
    spec.height = kRows;
    quen::test::write_raw_tiff(path, spec, samples);
}

void tiff_seed(const fs::path& path, const quen::test::TiffSpec& spec) {
    if (spec.bits == 32) tiff_seed_of<float>(path, spec);
    else if (spec.bits == 16) tiff_seed_of<uint16_t>(path, spec);
    else tiff_seed_of<uint8_t>(path, spec);
}

void image_seeds(const fs::path& dir) {
    using quen::test::PngSpec;
    using quen::test::TiffSpec;
    fs::create_directories(dir);
    // What quen itself writes, at every depth it writes.
    for (const int32_t depth : {8, 16, 32})
        for (const int32_t planes : {3, 4}) {
            const quen::host::Image scene = quen::host::synthetic_scene(kRows, kCols, depth, planes);
            const std::string name = std::string(planes == 4 ? "rgba" : "rgb") + std::to_string(depth);
            if (depth != 32) quen::tool::write_image(dir / (name + ".png"), scene);
            quen::tool::write_image(dir / (name + ".tif"), scene);
        }
    // PNG layouts quen reads but never writes.
    png_seed(dir / "grey1.png", PngSpec(kCols, kRows, PNG_COLOR_TYPE_GRAY, 1), 1);
    png_seed(dir / "grey-alpha16.png", PngSpec(kCols, kRows, PNG_COLOR_TYPE_GRAY_ALPHA, 16), 2);
    png_seed(dir / "rgb8-interlaced.png", PngSpec(kCols, kRows, PNG_COLOR_TYPE_RGB, 8, true), 3);
    PngSpec palette(kCols, kRows, PNG_COLOR_TYPE_PALETTE, 4);
    for (int i = 0; i < 16; ++i) palette.palette.push_back({png_byte(i * 16), png_byte(255 - i * 9), png_byte(i * 5)});
    palette.palette_alpha = {0, 64, 128, 255};
    png_seed(dir / "palette4-alpha.png", palette, 1);
    // TIFF layouts: compressions, separate planes, tiles, byte orders, grey with white as zero.
    const std::vector<uint16_t> alpha{EXTRASAMPLE_UNASSALPHA};
    constexpr uint16_t kFloat = SAMPLEFORMAT_IEEEFP;
    const std::pair<const char*, TiffSpec> tiffs[] = {
        {"rgb8-lzw.tif", {.compression = COMPRESSION_LZW}},
        {"rgba16-deflate-big-endian.tif",
         {.samples = 4, .bits = 16, .compression = COMPRESSION_ADOBE_DEFLATE, .big_endian = true, .extra = alpha}},
        {"rgb8-packbits-separate.tif", {.compression = COMPRESSION_PACKBITS, .separate = true}},
        {"rgba8-tiled.tif", {.samples = 4, .tiled = true, .extra = alpha}},
        {"rgb32-tiled-separate.tif", {.bits = 32, .format = kFloat, .separate = true, .tiled = true}},
        {"grey16-white-is-zero.tif", {.samples = 1, .bits = 16, .photometric = PHOTOMETRIC_MINISWHITE}},
        {"grey-alpha32.tif",
         {.samples = 2, .bits = 32, .format = kFloat, .photometric = PHOTOMETRIC_MINISBLACK, .extra = alpha}},
        {"cmyk8-refused.tif", {.samples = 4, .photometric = PHOTOMETRIC_SEPARATED}},
        {"rgb-two-extra16.tif", {.samples = 5, .bits = 16, .extra = {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_UNSPECIFIED}}},
    };
    for (const auto& [name, spec] : tiffs) tiff_seed(dir / name, spec);
    tiff_seed(dir / "two-pages.tif", {});
    tiff_seed(dir / "two-pages.tif", {.samples = 1, .photometric = PHOTOMETRIC_MINISBLACK, .append = true});
    // JPEG and WebP files, which quen reads only.
    std::vector<uint8_t> samples(std::size_t{kCols} * kRows * 4);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 37 % 251);
    quen::test::write_raw_jpeg(dir / "grey.jpg", kCols, kRows, 1, samples);
    quen::test::write_raw_jpeg(dir / "rgb.jpg", kCols, kRows, 3, samples, 75);
    quen::test::write_raw_webp(dir / "rgba-lossless.webp", kCols, kRows, samples);
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
        image_seeds(root / "images");
        std::printf("seeds written into %s\n", root.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
        return 1;
    }
}
