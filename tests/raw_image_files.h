// Picture files written straight through libpng, libtiff, libjpeg and libwebp in layouts quen
// itself never writes (grey, palette, packed bits, separate planes, tiles, other compressions,
// JPEG and WebP files), for the tests and the fuzz seeds.
#pragma once

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>

namespace quen::test {

namespace fs = std::filesystem;

inline std::string read_bytes(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void write_bytes(const fs::path& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct PngSpec {
    PngSpec(uint32_t w, uint32_t h, int colour_type, int bits, bool adam7 = false)
        : width(w), height(h), colour(colour_type), bit_depth(bits), interlaced(adam7) {}
    uint32_t width;
    uint32_t height;
    int colour;
    int bit_depth;
    bool interlaced;
    std::vector<png_color> palette;
    std::vector<png_byte> palette_alpha;  // tRNS for a palette
};

// `rows` holds each row in the file's own form: packed bits below 8, big-endian 16-bit samples.
inline void write_raw_png(const fs::path& path, const PngSpec& spec, const std::vector<std::vector<png_byte>>& rows) {
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path.string());
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        throw std::runtime_error("libpng failed on " + path.string());
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, spec.width, spec.height, spec.bit_depth, spec.colour,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!spec.palette.empty())
        png_set_PLTE(png, info, spec.palette.data(), static_cast<int>(spec.palette.size()));
    if (!spec.palette_alpha.empty())
        png_set_tRNS(png, info, spec.palette_alpha.data(), static_cast<int>(spec.palette_alpha.size()), nullptr);
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (const auto& r : rows) pointers.push_back(const_cast<png_bytep>(r.data()));
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

struct TiffSpec {
    uint32_t width = 1;
    uint32_t height = 1;
    uint16_t samples = 3;
    uint16_t bits = 8;
    uint16_t format = SAMPLEFORMAT_UINT;
    uint16_t photometric = PHOTOMETRIC_RGB;
    uint16_t compression = COMPRESSION_NONE;
    bool separate = false;   // planar configuration: one plane after the other
    bool tiled = false;      // 16 x 16 tiles instead of strips
    bool big_endian = false;
    uint32_t rows_per_strip = 3;
    std::vector<uint16_t> extra{};  // EXTRASAMPLES values
    bool append = false;     // add a page to an existing file
};

// `samples` holds the pixels interleaved, row after row, in native byte order; for palette files
// a colour map of grey ramps is added.
template <class T>
void write_raw_tiff(const fs::path& path, const TiffSpec& spec, const std::vector<T>& samples) {
    TIFF* tif = TIFFOpen(path.string().c_str(), spec.append ? "a" : spec.big_endian ? "wb" : "wl");
    if (!tif) throw std::runtime_error("cannot create " + path.string());
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, spec.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, spec.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spec.samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, spec.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, spec.format);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, spec.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, spec.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, spec.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    if (!spec.extra.empty())
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(spec.extra.size()), spec.extra.data());
    std::vector<uint16_t> map;
    if (spec.photometric == PHOTOMETRIC_PALETTE) {
        map.resize(std::size_t{1} << spec.bits);
        for (std::size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint16_t>(i * 257);
        TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    }
    if (spec.compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
        if (spec.photometric == PHOTOMETRIC_YCBCR) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    const uint16_t planes = spec.separate ? spec.samples : 1;
    const uint16_t per_pixel = spec.separate ? 1 : spec.samples;
    auto sample = [&](uint32_t y, uint32_t x, uint16_t s) {
        return samples[(std::size_t{y} * spec.width + x) * spec.samples + s];
    };
    if (spec.tiled) {
        const uint32_t tile = 16;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
        std::vector<T> buffer(std::size_t{tile} * tile * per_pixel);
        for (uint16_t p = 0; p < planes; ++p)
            for (uint32_t ty = 0; ty < spec.height; ty += tile)
                for (uint32_t tx = 0; tx < spec.width; tx += tile) {
                    std::fill(buffer.begin(), buffer.end(), T{});
                    for (uint32_t y = ty; y < std::min(ty + tile, spec.height); ++y)
                        for (uint32_t x = tx; x < std::min(tx + tile, spec.width); ++x)
                            for (uint16_t s = 0; s < per_pixel; ++s)
                                buffer[((y - ty) * tile + (x - tx)) * per_pixel + s] = sample(y, x, spec.separate ? p : s);
                    if (TIFFWriteTile(tif, buffer.data(), tx, ty, 0, p) < 0) throw std::runtime_error("TIFFWriteTile");
                }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, spec.rows_per_strip);
        std::vector<T> row(std::size_t{spec.width} * per_pixel);
        for (uint16_t p = 0; p < planes; ++p)
            for (uint32_t y = 0; y < spec.height; ++y) {
                for (uint32_t x = 0; x < spec.width; ++x)
                    for (uint16_t s = 0; s < per_pixel; ++s) row[x * per_pixel + s] = sample(y, x, spec.separate ? p : s);
                if (TIFFWriteScanline(tif, row.data(), y, p) < 0) throw std::runtime_error("TIFFWriteScanline");
            }
    }
    TIFFClose(tif);
}

// A baseline JPEG of `components` (1: grey, 3: RGB) 8-bit samples, interleaved row after row.
inline void write_raw_jpeg(const fs::path& path, uint32_t width, uint32_t height, int components,
                           const std::vector<uint8_t>& samples, int quality = 95) {
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path.string());
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, f);
    info.image_width = width;
    info.image_height = height;
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < height) {
        auto* row = const_cast<JSAMPLE*>(samples.data() + std::size_t{info.next_scanline} * width * components);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(f);
}

// A lossless WebP of 8-bit RGBA samples, every sample kept exactly (transparent ones included).
inline void write_raw_webp(const fs::path& path, int width, int height, const std::vector<uint8_t>& rgba) {
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) throw std::runtime_error("libwebp version");
    config.lossless = 1;
    config.exact = 1;
    picture.use_argb = 1;
    picture.width = width;
    picture.height = height;
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool ok = WebPPictureImportRGBA(&picture, rgba.data(), width * 4) && WebPEncode(&config, &picture);
    WebPPictureFree(&picture);
    if (ok) std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(writer.mem), std::streamsize(writer.size));
    WebPMemoryWriterClear(&writer);
    if (!ok) throw std::runtime_error("cannot encode " + path.string());
}

}  // namespace quen::test
