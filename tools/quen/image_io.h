// Pictures on disk: PNG and TIFF files read into, and written from, the host's images.
//
// A file is read as RGB (grey is spread over three channels; a palette is looked up) or, when it
// has transparency, RGBA with the alpha in plane 3. Samples keep the file's depth: 8 and 16-bit
// integers, or 32-bit floats (TIFF only). The output format follows the file name's extension.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "atomic_file.h"
#include "file16.h"
#include "image.h"

namespace quen::tool {

// The largest number of rows or columns the host record can describe.
inline constexpr int32_t kMaxImageSide = 32767;

enum class Format { Png, Tiff };

// The format chosen by the extension (.png, .tif, .tiff, any case); throws UsageError for others.
Format format_for(const std::filesystem::path& path);

// Throws FileError naming the file when the format cannot hold samples of this depth.
void check_writable(const std::filesystem::path& path, int32_t depth);

// Throws FileError naming the file and the problem: missing, unreadable, not a PNG or TIFF file,
// truncated or corrupt, a layout we do not read, or wider or taller than kMaxImageSide.
host::Image read_image(const std::filesystem::path& path);

// Writes the image's planes 0..2 as RGB and plane 3 (if any) as alpha, at the image's depth,
// through an AtomicFile: on any error the target is left as it was. Throws FileError.
void write_image(const std::filesystem::path& path, const host::Image& image);

// The 16-bit mapping between files (0..65535) and the host (0..32768).
using host::file16_to_sample;
using host::sample_to_file16;

// "8-bit RGB", "16-bit RGBA", "32-bit float RGB": for messages.
std::string describe_samples(const host::Image& image);

// Format-specific halves of read_image and write_image. The readers throw FileError naming the
// file; the writers, which write a temporary file, throw std::runtime_error with the problem alone.
host::Image read_png(const std::filesystem::path& path);
host::Image read_tiff(const std::filesystem::path& path);
void write_png(const std::filesystem::path& file, const host::Image& image);
void write_tiff(const std::filesystem::path& file, const host::Image& image);

}  // namespace quen::tool
