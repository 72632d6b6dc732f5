// The table of file formats, and what every format shares: choosing the format (by the first bytes
// when reading, by the extension when writing), the colours apart from the further planes, depths,
// and the spectrum tag.
#include "image_io.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "args.h"
#include "formats.h"
#include "module_finder.h"
#include "non_finite.h"

namespace fs = std::filesystem;

namespace quen::tool {
namespace {

using host::Image;

bool starts_with(const unsigned char* bytes, std::size_t n, const char* magic, std::size_t m, std::size_t at = 0) {
    return n >= at + m && std::memcmp(bytes + at, magic, m) == 0;
}

struct Format {
    const char* name;
    const char* extensions[3];  // lower case, unused ones null
    bool (*recognises)(const unsigned char* head, std::size_t n);
    FileSamples (*read)(const fs::path& path, int32_t page);
    void (*write)(const fs::path& file, const FileSamples& samples);  // null: read only
    bool floats;          // writes 32-bit float samples
    bool pages;           // may hold several pictures
    int32_t extra_planes; // the most planes it holds besides RGB
    const char* not_written;  // why a read-only format is not written
};

const Format kFormats[] = {
    {"PNG", {".png"}, [](const unsigned char* h, std::size_t n) { return starts_with(h, n, "\x89PNG\r\n\x1a\n", 8); },
     read_png, write_png, false, false, 1, nullptr},
    {"TIFF", {".tif", ".tiff"},
     [](const unsigned char* h, std::size_t n) {
         return starts_with(h, n, "II*\0", 4) || starts_with(h, n, "MM\0*", 4) || starts_with(h, n, "II+\0", 4) ||
                starts_with(h, n, "MM\0+", 4);
     },
     read_tiff, write_tiff, true, true, 65532, nullptr},
    {"JPEG", {".jpg", ".jpeg", ".jpe"}, [](const unsigned char* h, std::size_t n) { return starts_with(h, n, "\xff\xd8\xff", 3); },
     read_jpeg, nullptr, false, false, 0, "JPEG is lossy: it would alter every sample, and a spectrum's beyond use"},
    {"WebP", {".webp"},
     [](const unsigned char* h, std::size_t n) { return starts_with(h, n, "RIFF", 4) && starts_with(h, n, "WEBP", 4, 8); },
     read_webp, nullptr, false, false, 0, "WebP is written lossy by most tools and quen keeps to PNG and TIFF"},
};

const Format* format_of(const fs::path& path) {
    const std::string ext = host::lower_case(path.extension().string());
    for (const Format& f : kFormats)
        for (const char* e : f.extensions)
            if (e && ext == e) return &f;
    return nullptr;
}

const Format& writable_format(const fs::path& path) {
    const Format* format = format_of(path);
    if (!format)
        throw UsageError(path.string() + ": unknown output format '" + path.extension().string() +
                         "' (write .png, .tif or .tiff)");
    if (!format->write)
        throw UsageError(path.string() + ": quen reads " + format->name + " but does not write it: " + format->not_written +
                         " (write .png, .tif or .tiff)");
    return *format;
}

std::string cannot_hold_floats(const Format& format) {
    return std::string(format.name) + " cannot hold 32-bit float samples; write a .tif file";
}

double sample_at(const Image& im, std::size_t i) {
    switch (im.depth) {
    case 8: return static_cast<double>(std::to_integer<uint8_t>(im.data[i]));
    case 16: {
        uint16_t v;
        std::memcpy(&v, im.data.data() + 2 * i, 2);
        return v;
    }
    default: {
        float v;
        std::memcpy(&v, im.data.data() + 4 * i, 4);
        return v;
    }
    }
}

// Integer depths round to the nearest value and clamp (NaN becomes 0).
void set_sample(Image& im, std::size_t i, double v) {
    if (im.depth == 32) {
        const float f = static_cast<float>(v);
        std::memcpy(im.data.data() + 4 * i, &f, 4);
        return;
    }
    const double top = im.depth == 8 ? 255 : 65535;
    const auto n = static_cast<uint16_t>(v > 0 ? std::nearbyint(std::min(v, top)) : 0);
    if (im.depth == 8) im.data[i] = static_cast<std::byte>(n);
    else std::memcpy(im.data.data() + 2 * i, &n, 2);
}

// Planes from..from+count of `in` into planes to..to+count of `out` (the same rows and columns),
// each sample v becoming f(v).
template <class F>
void copy_planes(const Image& in, int32_t from, Image& out, int32_t to, int32_t count, F f) {
    const std::size_t pixels = static_cast<std::size_t>(in.rows) * static_cast<std::size_t>(in.cols);
    for (std::size_t px = 0; px < pixels; ++px)
        for (int32_t p = 0; p < count; ++p)
            set_sample(out, px * out.planes + std::size_t(to + p), f(sample_at(in, px * in.planes + std::size_t(from + p))));
}

double same(double v) { return v; }
double from_file16(double v) { return file16_to_sample(static_cast<uint16_t>(v)); }
double to_file16(double v) { return sample_to_file16(static_cast<uint16_t>(v)); }

// The largest sample of the further planes, which keep the file's range.
double file_full_scale(int32_t depth) { return depth == 16 ? 65535 : Image::full_scale(depth); }

Picture split(Image samples) {
    Picture picture;
    const int32_t extra = samples.planes - 3;
    if (samples.depth == 16) {
        picture.source = Image::make(samples.rows, samples.cols, 3, 16);
        copy_planes(samples, 0, picture.source, 0, 3, same);
    }
    if (extra == 0 && samples.depth != 16) {
        picture.image = std::move(samples);
    } else {
        picture.image = Image::make(samples.rows, samples.cols, 3, samples.depth);
        copy_planes(samples, 0, picture.image, 0, 3, samples.depth == 16 ? from_file16 : same);
    }
    picture.extra = Image::make(samples.rows, samples.cols, extra, samples.depth);
    if (extra > 0) copy_planes(samples, 3, picture.extra, 0, extra, same);
    return picture;
}

// Whether the three colour planes hold the same sample at every pixel.
bool all_grey(const Image& im) {
    const std::size_t pixels = static_cast<std::size_t>(im.rows) * static_cast<std::size_t>(im.cols);
    for (std::size_t px = 0; px < pixels; ++px) {
        const double r = sample_at(im, px * 3);
        if (sample_at(im, px * 3 + 1) != r || sample_at(im, px * 3 + 2) != r) return false;
    }
    return true;
}

// The file's samples: `colours` colour planes (1: grey, from the first), then the further planes.
// 16-bit colours the filters left as they were come back as the file held them.
Image joined(const Picture& picture, int32_t colours) {
    const Image& im = picture.image;
    const int32_t extra = picture.extra.planes;
    if (extra == 0 && im.depth != 16 && colours == 3) return im;
    Image samples = Image::make(im.rows, im.cols, colours + extra, im.depth);
    if (im.depth == 16) {
        const Image& src = picture.source;
        const bool kept = src.depth == 16 && src.planes == 3 && src.rows == im.rows && src.cols == im.cols;
        for (int32_t y = 0; y < im.rows; ++y)
            for (int32_t x = 0; x < im.cols; ++x)
                for (int32_t p = 0; p < colours; ++p) {
                    const uint16_t v = im.get<uint16_t>(y, x, p);
                    samples.set<uint16_t>(y, x, p, kept ? sample_to_file16(v, src.get<uint16_t>(y, x, p)) : sample_to_file16(v));
                }
    } else {
        copy_planes(im, 0, samples, 0, colours, same);
    }
    if (extra > 0) copy_planes(picture.extra, 0, samples, colours, extra, same);
    return samples;
}

}  // namespace

CFile open_for_reading(const fs::path& path) {
    CFile file(std::fopen(path.string().c_str(), "rb"));
    if (!file) throw FileError(path, std::string("cannot read: ") + std::strerror(errno));
    return file;
}

void check_size(const fs::path& path, uint64_t cols, uint64_t rows) {
    if (cols == 0 || rows == 0) throw FileError(path, "truncated or corrupt file: the picture is empty");
    if (cols > uint64_t(kLargestSide) || rows > uint64_t(kLargestSide))
        throw FileError(path, "image of " + std::to_string(cols) + " x " + std::to_string(rows) +
                                  " pixels is too large (at most " + std::to_string(kLargestSide) + " rows and columns)");
}

Picture read_picture(const fs::path& path, const ReadOptions& options) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) throw FileError(path, "no such file");
    if (fs::is_directory(status)) throw FileError(path, "is a folder, not an image file");

    unsigned char head[16] = {};
    std::size_t n = 0;
    {
        const CFile file = open_for_reading(path);
        n = std::fread(head, 1, sizeof head, file.get());
        if (std::ferror(file.get())) throw FileError(path, std::string("cannot read: ") + std::strerror(errno));
    }
    const Format* format = nullptr;
    for (const Format& f : kFormats)
        if (f.recognises(head, n)) format = &f;
    if (!format)
        throw FileError(path, n == 0 ? "not an image: the file is empty"
                                     : "not an image: not a PNG, TIFF, JPEG or WebP file");
    if (options.page > 1 && !format->pages)
        throw FileError(path, std::string("a ") + format->name + " file has one page only (--page " +
                                  std::to_string(options.page) + ")");
    FileSamples file = format->read(path, options.page);
    Picture picture = split(std::move(file.samples));
    picture.spectrum = parse_tag(file.description);
    picture.grey = file.colours == 1;
    picture.format = format->name;
    return picture;
}

void write_picture(const fs::path& path, const Picture& picture) {
    const Format& format = writable_format(path);
    if (picture.image.depth == 32 && !format.floats) throw FileError(path, cannot_hold_floats(format));
    if (picture.extra.planes > format.extra_planes)
        throw FileError(path, std::string(format.name) + " holds " + std::to_string(format.extra_planes) +
                                  " plane besides RGB and this picture has " + std::to_string(picture.extra.planes) +
                                  "; write a .tif file");
    const int32_t colours = picture.grey && all_grey(picture.image) ? 1 : 3;
    const FileSamples samples{joined(picture, colours), picture.spectrum ? tag_text(*picture.spectrum) : "", colours};
    AtomicFile out(path);
    try {
        format.write(out.temp_path(), samples);
    } catch (const std::runtime_error& e) {
        throw FileError(path, std::string("cannot write: ") + e.what());
    }
    out.commit();
}

const char* output_format_name(const fs::path& path) {
    const Format* format = format_of(path);
    return format && format->write ? format->name : nullptr;
}

void write_unchanged(const fs::path& path, const Picture& picture, const fs::path& input) {
    const char* name = output_format_name(path);
    if (!picture.format || !name || std::strcmp(picture.format, name) != 0) return write_picture(path, picture);
    AtomicFile out(path);
    std::error_code ec;
    fs::copy_file(input, out.temp_path(), fs::copy_options::overwrite_existing, ec);
    if (ec) throw FileError(path, "cannot write: " + ec.message());
    out.commit();
}

std::string format_change(const std::string& input, const Picture& picture, const fs::path& target) {
    const char* name = output_format_name(target);
    if (!picture.format || !name || std::strcmp(picture.format, name) == 0) return "";
    return input + ": a " + picture.format + " file, written as " + name + " (" + target.string() + ")";
}

Image read_image(const fs::path& path) {
    Picture picture = read_picture(path);
    if (picture.extra.planes == 0) return std::move(picture.image);
    const Image& im = picture.image;
    Image merged = Image::make(im.rows, im.cols, 3 + picture.extra.planes, im.depth);
    copy_planes(im, 0, merged, 0, 3, same);
    copy_planes(picture.extra, 0, merged, 3, picture.extra.planes, im.depth == 16 ? from_file16 : same);
    return merged;
}

void write_image(const fs::path& path, const Image& image) {
    Picture picture;
    picture.image = Image::make(image.rows, image.cols, 3, image.depth);
    copy_planes(image, 0, picture.image, 0, 3, same);
    picture.extra = Image::make(image.rows, image.cols, image.planes - 3, image.depth);
    if (image.planes > 3) copy_planes(image, 3, picture.extra, 0, image.planes - 3, image.depth == 16 ? to_file16 : same);
    write_picture(path, picture);
}

bool writes_format(const fs::path& path) {
    const Format* format = format_of(path);
    return format && format->write;
}

void check_output_format(const fs::path& path, int32_t depth) {
    const Format& format = writable_format(path);
    if (depth == 32 && !format.floats) throw UsageError(path.string() + ": " + cannot_hold_floats(format));
}

Picture at_depth(const Picture& picture, int32_t depth) {
    const int32_t from = picture.image.depth;
    if (from == depth) return picture;
    Picture out;
    out.spectrum = picture.spectrum;
    out.grey = picture.grey;
    out.format = picture.format;
    auto converted = [&](const Image& in, double from_full, double to_full) {
        Image im = Image::make(in.rows, in.cols, in.planes, depth);
        copy_planes(in, 0, im, 0, in.planes,
                    [&](double v) { return (from == 32 ? std::clamp(v, 0.0, 1.0) : v / from_full) * to_full; });
        return im;
    };
    out.image = converted(picture.image, Image::full_scale(from), Image::full_scale(depth));
    out.extra = converted(picture.extra, file_full_scale(from), file_full_scale(depth));
    return out;
}

void check_finite(const fs::path& path, const Image& image) {
    const host::NonFinite found = host::find_non_finite(image);
    if (found.count == 0) return;
    throw FileError(path, std::to_string(found.count) + " colour sample" + (found.count == 1 ? " is" : "s are") +
                              " NaN or infinite, the first at column " + std::to_string(found.col) + ", row " +
                              std::to_string(found.row) + " (" + host::colour_name(found.plane) +
                              "); a filter would spread it over the whole picture (--keep-nonfinite passes them on)");
}

std::string describe_samples(int32_t depth, int32_t planes) {
    const std::string channels = planes == 3 ? "RGB" : planes == 4 ? "RGBA" : "RGBA + " + std::to_string(planes - 4);
    return (depth == 32 ? "32-bit float " : std::to_string(depth) + "-bit ") + channels;
}

}  // namespace quen::tool
