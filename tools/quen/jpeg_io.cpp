// JPEG files through libjpeg-turbo, read only: grey and colour (YCbCr or RGB) pictures come out as
// 8-bit RGB. libjpeg reports errors by longjmp, so every libjpeg call that may fail runs inside a
// small function that holds the setjmp and owns nothing with a destructor.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "formats.h"
#include "image_io.h"

namespace fs = std::filesystem;

namespace quen::tool {
namespace {

struct Context {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump{};
    char message[JMSG_LENGTH_MAX] = "";
};

extern "C" void on_jpeg_error(j_common_ptr info) {
    auto* ctx = reinterpret_cast<Context*>(info->client_data);
    info->err->format_message(info, ctx->message);
    std::longjmp(ctx->jump, 1);
}

// Warnings are dropped, but a file that ends before its picture does is an error, as it is for
// every other format: libjpeg would fill the rest with grey.
extern "C" void on_jpeg_message(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) on_jpeg_error(info);
}

bool read_header(Context& ctx, std::FILE* file) {
    if (setjmp(ctx.jump)) return false;
    jpeg_stdio_src(&ctx.info, file);
    jpeg_read_header(&ctx.info, TRUE);
    return true;
}

bool start(Context& ctx) {
    if (setjmp(ctx.jump)) return false;
    ctx.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&ctx.info);
    return true;
}

// Grows the samples a row at a time as it decodes, into memory reserved beforehand: a small file
// that claims a huge picture fails after little memory instead of after clearing gigabytes.
bool read_rows(Context& ctx, std::vector<std::byte>& samples, std::size_t row_bytes) {
    if (setjmp(ctx.jump)) return false;
    while (ctx.info.output_scanline < ctx.info.output_height) {
        samples.resize(samples.size() + row_bytes);
        JSAMPROW row = reinterpret_cast<JSAMPROW>(samples.data() + row_bytes * ctx.info.output_scanline);
        jpeg_read_scanlines(&ctx.info, &row, 1);
    }
    jpeg_finish_decompress(&ctx.info);
    return true;
}

struct Reader : Context {
    Reader() {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = on_jpeg_error;
        errors.emit_message = on_jpeg_message;
        info.client_data = this;
        jpeg_create_decompress(&info);
    }
    ~Reader() { jpeg_destroy_decompress(&info); }
};

}  // namespace

FileSamples read_jpeg(const fs::path& path, int32_t) {
    const CFile file = open_for_reading(path);
    Reader ctx;
    auto corrupt = [&] { return FileError(path, std::string("truncated or corrupt JPEG: ") + ctx.message); };
    if (!read_header(ctx, file.get())) throw corrupt();
    const J_COLOR_SPACE space = ctx.info.jpeg_color_space;
    if (space == JCS_CMYK || space == JCS_YCCK)
        throw FileError(path, "unsupported JPEG layout: CMYK colours (grey or colour JPEG files are read)");
    check_size(path, ctx.info.image_width, ctx.info.image_height);
    if (!start(ctx)) throw corrupt();

    host::Image image{static_cast<int32_t>(ctx.info.output_height), static_cast<int32_t>(ctx.info.output_width), 3, 8, {}};
    image.data.reserve(image.row_bytes() * static_cast<std::size_t>(image.rows));
    if (!read_rows(ctx, image.data, image.row_bytes())) throw corrupt();
    return {std::move(image), "", space == JCS_GRAYSCALE ? 1 : 3};
}

}  // namespace quen::tool
