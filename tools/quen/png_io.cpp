// PNG files through libpng: any colour type and bit depth in, 8 or 16-bit grey or RGB (with or
// without alpha) out, with the
// spectrum tag in a "Description" text chunk.
//
// libpng reports errors by longjmp. Every libpng call runs inside a small function that holds the
// setjmp and owns nothing with a destructor, so the jump never skips a C++ object's clean-up.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <png.h>

#include "formats.h"
#include "image_io.h"

namespace fs = std::filesystem;

namespace quen::tool {
namespace {

using host::Image;

struct Context {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE* file = nullptr;
    char message[200] = "";
};

extern "C" void on_png_error(png_structp png, png_const_charp text) {
    auto* ctx = static_cast<Context*>(png_get_error_ptr(png));
    std::snprintf(ctx->message, sizeof ctx->message, "%s", text);
    png_longjmp(png, 1);
}

extern "C" void on_png_warning(png_structp, png_const_charp) {}

// fread that names a short read for what it is.
extern "C" void read_bytes(png_structp png, png_bytep data, png_size_t length) {
    auto* ctx = static_cast<Context*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, ctx->file) != length)
        png_error(png, std::ferror(ctx->file) ? "read error" : "unexpected end of file");
}

struct Header {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int channels = 0;   // after the transforms: 3 or 4
    int bit_depth = 0;  // after the transforms: 8 or 16
    bool grey = false;  // the file's colour type is grey
};

// The text of the file's "Description" chunk, the one quen writes; "" when there is none.
std::string description(Context& ctx) {
    png_textp texts = nullptr;
    const int n = png_get_text(ctx.png, ctx.info, &texts, nullptr);
    for (int i = 0; i < n; ++i)
        if (std::strcmp(texts[i].key, "Description") == 0 && texts[i].text) return texts[i].text;
    return "";
}

// Reads the header and asks libpng for RGB or RGBA at 8 or 16 bits.
bool read_header(Context& ctx, Header& header) {
    if (setjmp(png_jmpbuf(ctx.png))) return false;
    png_set_read_fn(ctx.png, &ctx, read_bytes);
    png_read_info(ctx.png, ctx.info);
    const int colour = png_get_color_type(ctx.png, ctx.info);
    if (colour == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(ctx.png);
        if (png_get_valid(ctx.png, ctx.info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(ctx.png);
    }
    if (colour == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(ctx.png, ctx.info) < 8)
        png_set_expand_gray_1_2_4_to_8(ctx.png);
    header.grey = colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA;
    if (header.grey) png_set_gray_to_rgb(ctx.png);
    png_set_interlace_handling(ctx.png);
    png_read_update_info(ctx.png, ctx.info);
    header.width = png_get_image_width(ctx.png, ctx.info);
    header.height = png_get_image_height(ctx.png, ctx.info);
    header.channels = png_get_channels(ctx.png, ctx.info);
    header.bit_depth = png_get_bit_depth(ctx.png, ctx.info);
    return true;
}

bool read_pixels(Context& ctx, png_bytepp rows) {
    if (setjmp(png_jmpbuf(ctx.png))) return false;
    png_read_image(ctx.png, rows);
    png_read_end(ctx.png, nullptr);  // a file cut after the pixels is still a truncated file
    return true;
}

struct Reader : Context {
    ~Reader() { png_destroy_read_struct(&png, &info, nullptr); }
};

struct Writer : Context {
    ~Writer() { png_destroy_write_struct(&png, &info); }
};

// Writes the header, the description and every row; a 16-bit row goes out big-endian.
bool write_all(Context& ctx, const FileSamples& samples, png_bytep row) {
    if (setjmp(png_jmpbuf(ctx.png))) return false;
    const Image& image = samples.samples;
    const std::string& text = samples.description;
    const bool alpha = image.planes > samples.colours;
    const int type = samples.colours == 1 ? (alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY)
                                          : (alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
    png_init_io(ctx.png, ctx.file);
    png_set_IHDR(ctx.png, ctx.info, static_cast<png_uint_32>(image.cols), static_cast<png_uint_32>(image.rows),
                 image.depth, type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Fast deflate with one row filter: a fraction of the default's time, and no larger for spectra
    // (noise-like) or for smooth pictures, where the filter that subtracts the row above does well.
    png_set_compression_level(ctx.png, 1);
    png_set_filter(ctx.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    if (!text.empty()) {
        png_text chunk{};
        chunk.compression = PNG_TEXT_COMPRESSION_NONE;
        chunk.key = const_cast<png_charp>("Description");
        chunk.text = const_cast<png_charp>(text.c_str());
        png_set_text(ctx.png, ctx.info, &chunk, 1);
    }
    png_write_info(ctx.png, ctx.info);
    const int32_t channels = samples.colours + (alpha ? 1 : 0);
    for (int32_t y = 0; y < image.rows; ++y) {
        png_bytep out = row;
        for (int32_t x = 0; x < image.cols; ++x)
            for (int32_t p = 0; p < channels; ++p) {
                if (image.depth == 8) {
                    *out++ = image.get<uint8_t>(y, x, p);
                } else {
                    const uint16_t v = image.get<uint16_t>(y, x, p);
                    *out++ = static_cast<png_byte>(v >> 8);
                    *out++ = static_cast<png_byte>(v & 0xff);
                }
            }
        png_write_row(ctx.png, row);
    }
    png_write_end(ctx.png, nullptr);
    return true;
}

}  // namespace

FileSamples read_png(const fs::path& path, int32_t) {
    const CFile file = open_for_reading(path);
    Reader ctx;
    ctx.file = file.get();
    ctx.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, on_png_error, on_png_warning);
    if (ctx.png) ctx.info = png_create_info_struct(ctx.png);
    if (!ctx.info) throw FileError(path, "out of memory");

    Header header;
    if (!read_header(ctx, header)) throw FileError(path, std::string("truncated or corrupt PNG: ") + ctx.message);
    check_size(path, header.width, header.height);
    if ((header.channels != 3 && header.channels != 4) || (header.bit_depth != 8 && header.bit_depth != 16))
        throw FileError(path, "unsupported PNG layout");

    const int32_t rows = static_cast<int32_t>(header.height), cols = static_cast<int32_t>(header.width);
    const std::size_t row_bytes = static_cast<std::size_t>(cols) * header.channels * (header.bit_depth / 8);
    // Left uninitialised: memory becomes resident only as rows decode, so a small file that claims
    // a huge image fails after little memory instead of after clearing gigabytes.
    const std::unique_ptr<png_byte[]> pixels = std::make_unique_for_overwrite<png_byte[]>(row_bytes * rows);
    std::vector<png_bytep> row_pointers(rows);
    for (int32_t y = 0; y < rows; ++y) row_pointers[y] = pixels.get() + row_bytes * y;
    if (!read_pixels(ctx, row_pointers.data()))
        throw FileError(path, std::string("truncated or corrupt PNG: ") + ctx.message);

    Image image = Image::make(rows, cols, header.channels, header.bit_depth);
    const png_byte* in = pixels.get();
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            for (int32_t p = 0; p < header.channels; ++p) {
                if (header.bit_depth == 8) {
                    image.set<uint8_t>(y, x, p, *in++);
                } else {
                    image.set<uint16_t>(y, x, p, static_cast<uint16_t>(in[0] << 8 | in[1]));
                    in += 2;
                }
            }
    return {std::move(image), description(ctx), header.grey ? 1 : 3};
}

void write_png(const fs::path& file_path, const FileSamples& samples) {
    CFile file(std::fopen(file_path.string().c_str(), "wb"));
    if (!file) throw std::runtime_error(std::strerror(errno));
    {
        Writer ctx;
        ctx.file = file.get();
        ctx.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, on_png_error, on_png_warning);
        if (ctx.png) ctx.info = png_create_info_struct(ctx.png);
        if (!ctx.info) throw std::runtime_error("out of memory");
        const Image& image = samples.samples;
        std::vector<png_byte> row(image.row_bytes() / static_cast<std::size_t>(image.planes) * 4 + 8);
        if (!write_all(ctx, samples, row.data())) throw std::runtime_error(ctx.message);
    }
    const bool flushed = std::fflush(file.get()) == 0 && !std::ferror(file.get());
    const bool closed = std::fclose(file.release()) == 0;
    if (!flushed || !closed) throw std::runtime_error(std::strerror(errno));
}

}  // namespace quen::tool
