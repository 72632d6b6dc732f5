// TIFF files through libtiff: grey or RGB with any number of further planes (alpha first), at 8 or
// 16 bits or as 32-bit floats, in strips or tiles, interleaved or in separate planes, with any
// compression libtiff decodes; one page of a multi-page file. The spectrum tag is the image
// description.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <tiffio.h>

#include "formats.h"
#include "image_io.h"

namespace fs = std::filesystem;

namespace quen::tool {
namespace {

using host::Image;

// libtiff reports through process-wide handlers; the last error's text is kept for the message.
char g_message[256];

extern "C" void on_tiff_error(const char*, const char* format, va_list args) {
    std::vsnprintf(g_message, sizeof g_message, format, args);
}

// Installs our handlers (warnings are dropped) for the length of one file operation.
class Handlers {
public:
    Handlers() : error_(TIFFSetErrorHandler(on_tiff_error)), warning_(TIFFSetWarningHandler(nullptr)) {
        g_message[0] = '\0';
    }
    ~Handlers() {
        TIFFSetErrorHandler(error_);
        TIFFSetWarningHandler(warning_);
    }
    Handlers(const Handlers&) = delete;
    Handlers& operator=(const Handlers&) = delete;

private:
    TIFFErrorHandler error_;
    TIFFErrorHandler warning_;
};

struct TiffCloser {
    void operator()(TIFF* tif) const noexcept { TIFFClose(tif); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

std::string last_message() { return g_message[0] ? g_message : "unknown error"; }

// What the directory says about the pixels, once checked to be something we read.
struct TiffPixels {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samples = 0;   // per pixel in the file: colour channels, then at most one alpha
    uint16_t colours = 0;   // 1 (grey) or 3 (RGB)
    int32_t depth = 0;      // 8, 16 or 32 (float)
    bool separate = false;  // one plane after the other instead of interleaved
    bool min_is_white = false;
};

TiffPixels read_pixel_layout(TIFF* tif, const fs::path& path) {
    auto fail = [&](const std::string& problem) { return FileError(path, problem); };
    TiffPixels layout;
    uint16_t bits = 0, format = 0, planar = 0, photometric = 0, compression = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height))
        throw fail("truncated or corrupt TIFF: no image size");
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        throw fail("truncated or corrupt TIFF: no photometric interpretation");

    switch (photometric) {
    case PHOTOMETRIC_MINISBLACK: layout.colours = 1; break;
    case PHOTOMETRIC_MINISWHITE: layout.colours = 1; layout.min_is_white = true; break;
    case PHOTOMETRIC_RGB: layout.colours = 3; break;
    case PHOTOMETRIC_YCBCR:
        if (compression != COMPRESSION_JPEG) throw fail("unsupported TIFF layout: YCbCr colours without JPEG compression");
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);  // the JPEG decoder hands out RGB
        layout.colours = 3;
        break;
    case PHOTOMETRIC_PALETTE: throw fail("unsupported TIFF layout: palette colours (grey, RGB or RGBA are read)");
    case PHOTOMETRIC_SEPARATED: throw fail("unsupported TIFF layout: CMYK (separated) colours (grey, RGB or RGBA are read)");
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB: throw fail("unsupported TIFF layout: Lab colours (grey, RGB or RGBA are read)");
    default:
        throw fail("unsupported TIFF layout: photometric interpretation " + std::to_string(photometric) +
                   " (grey, RGB or RGBA are read)");
    }
    if (layout.samples < layout.colours)
        throw fail("unsupported TIFF layout: " + std::to_string(layout.samples) + " samples per pixel for " +
                   (layout.colours == 1 ? "grey" : "RGB"));

    if (bits == 8 && format == SAMPLEFORMAT_UINT) layout.depth = 8;
    else if (bits == 16 && format == SAMPLEFORMAT_UINT) layout.depth = 16;
    else if (bits == 32 && format == SAMPLEFORMAT_IEEEFP) layout.depth = 32;
    else
        throw fail("unsupported TIFF layout: " + std::to_string(bits) + "-bit " +
                   (format == SAMPLEFORMAT_IEEEFP ? "float" : format == SAMPLEFORMAT_INT ? "signed" : "unsigned") +
                   " samples (8 or 16-bit unsigned, or 32-bit float)");
    if (layout.min_is_white && layout.depth == 32)
        throw fail("unsupported TIFF layout: float samples with white as zero");

    check_size(path, layout.width, layout.height);
    if (!TIFFIsCODECConfigured(compression))
        throw fail("unsupported TIFF compression scheme " + std::to_string(compression));
    layout.separate = planar == PLANARCONFIG_SEPARATE && layout.samples > 1;
    return layout;
}

// Uninitialised bytes: memory becomes resident only as the file's data decodes into it, so a small
// file that claims a huge image fails after little memory instead of after clearing gigabytes.
using Bytes = std::unique_ptr<std::byte[]>;

Bytes uninitialised(std::size_t n) { return std::make_unique_for_overwrite<std::byte[]>(n); }

// Reads every pixel's samples in the file's order (native byte order): block after block (one
// block, or one per plane when the planes are separate), each block rows of pixels.
Bytes read_samples(TIFF* tif, const TiffPixels& layout, const fs::path& path) {
    const std::size_t bytes = static_cast<std::size_t>(layout.depth / 8);
    const uint16_t blocks = layout.separate ? layout.samples : 1;
    const std::size_t pixel_bytes = bytes * (layout.separate ? 1 : layout.samples);
    const std::size_t row_bytes = pixel_bytes * layout.width;
    const std::size_t block_bytes = row_bytes * layout.height;
    auto corrupt = [&] { return FileError(path, "truncated or corrupt TIFF: " + last_message()); };
    // A directory listing fewer strips or tiles than the picture needs has the rest put at offset 0
    // by libtiff, and read from the file's own first bytes: a file of 2 KB could so claim and fill
    // a picture of a gigapixel. No strip or tile's data starts at the header.
    const uint32_t striles = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (uint32_t s = 0; s < striles; ++s)
        if (TIFFGetStrileOffset(tif, s) == 0)
            throw FileError(path, std::string("truncated or corrupt TIFF: no data for ") +
                                      (TIFFIsTiled(tif) ? "tile " : "strip ") + std::to_string(s));
    Bytes raw = uninitialised(block_bytes * blocks);

    if (TIFFIsTiled(tif)) {
        uint32_t tile_w = 0, tile_h = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_w);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tile_h);
        const tmsize_t tile_size = TIFFTileSize(tif);
        if (tile_w == 0 || tile_h == 0 || tile_size <= 0 ||
            static_cast<std::size_t>(tile_size) < pixel_bytes * tile_w * tile_h)
            throw corrupt();
        const Bytes tile = uninitialised(static_cast<std::size_t>(tile_size));
        for (uint16_t b = 0; b < blocks; ++b)
            for (uint32_t ty = 0; ty < layout.height; ty += tile_h)
                for (uint32_t tx = 0; tx < layout.width; tx += tile_w) {
                    if (TIFFReadTile(tif, tile.get(), tx, ty, 0, b) < 0) throw corrupt();
                    const uint32_t h = std::min(tile_h, layout.height - ty), w = std::min(tile_w, layout.width - tx);
                    for (uint32_t r = 0; r < h; ++r)
                        std::memcpy(raw.get() + b * block_bytes + (ty + r) * row_bytes + tx * pixel_bytes,
                                    tile.get() + r * pixel_bytes * tile_w, w * pixel_bytes);
                }
        return raw;
    }

    uint32_t rows_per_strip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
    rows_per_strip = std::clamp<uint32_t>(rows_per_strip, 1, layout.height);
    const tmsize_t strip_size = TIFFStripSize(tif);
    if (strip_size <= 0 || static_cast<std::size_t>(strip_size) < row_bytes * rows_per_strip) throw corrupt();
    const Bytes strip = uninitialised(static_cast<std::size_t>(strip_size));
    for (uint16_t b = 0; b < blocks; ++b)
        for (uint32_t row = 0; row < layout.height; row += rows_per_strip) {
            const uint32_t h = std::min(rows_per_strip, layout.height - row);
            const tmsize_t got = TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, row, b), strip.get(), strip_size);
            if (got < 0 || static_cast<std::size_t>(got) < row_bytes * h) throw corrupt();
            std::memcpy(raw.get() + b * block_bytes + row * row_bytes, strip.get(), row_bytes * h);
        }
    return raw;
}

// The file's samples as RGB and the further planes: grey spread over three planes, and integer
// grey with white as zero turned around.
template <class S>
void fill_image(Image& image, const TiffPixels& layout, const std::byte* raw) {
    const std::size_t pixels = std::size_t{layout.width} * layout.height;
    constexpr S white = sizeof(S) == 1 ? 255 : 65535;
    for (int32_t y = 0; y < image.rows; ++y)
        for (int32_t x = 0; x < image.cols; ++x) {
            const std::size_t pixel = std::size_t(y) * layout.width + std::size_t(x);
            for (int32_t p = 0; p < image.planes; ++p) {
                const bool colour = p < 3;
                const auto s = static_cast<uint16_t>(colour ? (layout.colours == 1 ? 0 : p) : layout.colours + p - 3);
                const std::size_t index = layout.separate ? s * pixels + pixel : pixel * layout.samples + s;
                S v;
                std::memcpy(&v, raw + index * sizeof(S), sizeof v);
                if constexpr (sizeof(S) < 4)
                    if (colour && layout.min_is_white) v = static_cast<S>(white - v);
                image.set<S>(y, x, p, v);
            }
        }
}

template <class S>
bool write_rows(TIFF* tif, const Image& image, std::vector<std::byte>& row) {
    for (int32_t y = 0; y < image.rows; ++y) {
        std::byte* out = row.data();
        for (int32_t x = 0; x < image.cols; ++x)
            for (int32_t p = 0; p < image.planes; ++p) {
                const S v = image.get<S>(y, x, p);
                std::memcpy(out, &v, sizeof v);
                out += sizeof v;
            }
        if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) < 0) return false;
    }
    return true;
}

}  // namespace

FileSamples read_tiff(const fs::path& path, int32_t page) {
    const Handlers handlers;
    TiffFile tif(TIFFOpen(path.string().c_str(), "r"));
    if (!tif) throw FileError(path, "truncated or corrupt TIFF: " + last_message());
    const tdir_t pages = TIFFNumberOfDirectories(tif.get());
    if (page == 0 && pages > 1)
        throw FileError(path, "has " + std::to_string(pages) + " pages; choose one with --page N (1 to " +
                                  std::to_string(pages) + ")");
    if (page > 1 && (page > int32_t(pages) || !TIFFSetDirectory(tif.get(), static_cast<tdir_t>(page - 1))))
        throw FileError(path, "has no page " + std::to_string(page) + " (it has " + std::to_string(pages) + ")");
    const TiffPixels layout = read_pixel_layout(tif.get(), path);
    const Bytes raw = read_samples(tif.get(), layout, path);
    const char* text = nullptr;
    const std::string description = TIFFGetField(tif.get(), TIFFTAG_IMAGEDESCRIPTION, &text) && text ? text : "";

    const int32_t planes = 3 + layout.samples - layout.colours;
    Image image = Image::make(static_cast<int32_t>(layout.height), static_cast<int32_t>(layout.width), planes, layout.depth);
    switch (layout.depth) {
    case 8: fill_image<uint8_t>(image, layout, raw.get()); break;
    case 16: fill_image<uint16_t>(image, layout, raw.get()); break;
    default: fill_image<float>(image, layout, raw.get()); break;
    }
    return {std::move(image), description, layout.colours};
}

void write_tiff(const fs::path& file, const FileSamples& samples) {
    const Image& image = samples.samples;
    const std::string& description = samples.description;
    const Handlers handlers;
    TiffFile tif(TIFFOpen(file.string().c_str(), "w"));
    if (!tif) throw std::runtime_error(last_message());
    TIFF* t = tif.get();
    const bool alpha = image.planes > samples.colours;
    const uint16_t compression = TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE) ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.cols));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.rows));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(image.planes));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(image.depth));
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, image.depth == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, samples.colours == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (!description.empty()) TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    if (alpha) {
        std::vector<uint16_t> extra(static_cast<std::size_t>(image.planes - samples.colours), EXTRASAMPLE_UNSPECIFIED);
        extra[0] = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extra.size()), extra.data());
    }
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    if (compression != COMPRESSION_NONE)
        TIFFSetField(t, TIFFTAG_PREDICTOR, image.depth == 32 ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));

    std::vector<std::byte> row(image.row_bytes());
    bool ok = false;
    switch (image.depth) {
    case 8: ok = write_rows<uint8_t>(t, image, row); break;
    case 16: ok = write_rows<uint16_t>(t, image, row); break;
    default: ok = write_rows<float>(t, image, row); break;
    }
    if (!ok || !TIFFFlush(t)) throw std::runtime_error(last_message());
}

}  // namespace quen::tool
