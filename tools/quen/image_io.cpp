// Choosing the format of an image file: by its first bytes when reading, by its extension when
// writing.
#include "image_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "args.h"
#include "module_finder.h"

namespace fs = std::filesystem;

namespace quen::tool {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

bool starts_with(const unsigned char* bytes, std::size_t n, const char* magic, std::size_t m) {
    return n >= m && std::memcmp(bytes, magic, m) == 0;
}

}  // namespace

Format format_for(const fs::path& path) {
    const std::string ext = host::lower_case(path.extension().string());
    if (ext == ".png") return Format::Png;
    if (ext == ".tif" || ext == ".tiff") return Format::Tiff;
    throw UsageError(path.string() + ": unknown output format '" + path.extension().string() + "' (use .png, .tif or .tiff)");
}

void check_writable(const fs::path& path, int32_t depth) {
    if (format_for(path) == Format::Png && depth == 32)
        throw FileError(path, "PNG cannot hold 32-bit float samples; write this image to a .tif file");
}

host::Image read_image(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) throw FileError(path, "no such file");
    if (fs::is_directory(status)) throw FileError(path, "is a folder, not an image file");

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.string().c_str(), "rb"));
    if (!file) throw FileError(path, std::string("cannot read: ") + std::strerror(errno));
    unsigned char head[8] = {};
    const std::size_t n = std::fread(head, 1, sizeof head, file.get());
    if (std::ferror(file.get())) throw FileError(path, std::string("cannot read: ") + std::strerror(errno));
    file.reset();

    if (starts_with(head, n, "\x89PNG\r\n\x1a\n", 8)) return read_png(path);
    if (starts_with(head, n, "II*\0", 4) || starts_with(head, n, "MM\0*", 4) ||
        starts_with(head, n, "II+\0", 4) || starts_with(head, n, "MM\0+", 4))
        return read_tiff(path);
    throw FileError(path, n == 0 ? "not an image: the file is empty" : "not an image: neither a PNG nor a TIFF file");
}

void write_image(const fs::path& path, const host::Image& image) {
    const Format format = format_for(path);
    check_writable(path, image.depth);
    AtomicFile out(path);
    try {
        if (format == Format::Png) write_png(out.temp_path(), image);
        else write_tiff(out.temp_path(), image);
    } catch (const std::runtime_error& e) {
        throw FileError(path, std::string("cannot write: ") + e.what());
    }
    out.commit();
}

std::string describe_samples(const host::Image& image) {
    const std::string channels = image.planes >= 4 ? "RGBA" : "RGB";
    if (image.depth == 32) return "32-bit float " + channels;
    return std::to_string(image.depth) + "-bit " + channels;
}

}  // namespace quen::tool
