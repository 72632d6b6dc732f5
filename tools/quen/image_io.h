// Pictures on disk, read into and written from the host's images.
//
// Every format is one entry of a table (image_io.cpp) and one source file: PNG and TIFF are read
// and written, JPEG and WebP only read. A file is read as RGB (grey is spread over three
// channels; a palette is looked up) plus the further planes it has (alpha first). The colours are
// the filters' samples; the further planes never enter a filter and are carried exactly as the
// file stores them. Samples keep the file's depth: 8 and 16-bit integers, or 32-bit floats.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "atomic_file.h"
#include "file16.h"
#include "filter_record.h"
#include "image.h"
#include "spectrum_tag.h"

namespace quen::tool {

using host::file16_to_sample;
using host::sample_to_file16;

// A picture as a file holds it.
struct Picture {
    host::Image image;  // the colours: 3 planes of the filters' samples
    host::Image extra;  // the further planes, alpha first, as the file stores them (16 bits:
                        // 0..65535); no planes when there are none
    std::optional<SpectrumTag> spectrum;
    bool grey = false;            // read from a grey file: written grey while its channels stay equal
    const char* format = nullptr; // the name of the format it was read from ("PNG"), null when made
    host::Image source;           // 16 bits: the colours as the file held them (0..65535), so that
                                  // a sample the filters left as it was is written back exactly
};

struct ReadOptions {
    int32_t page = 0;  // the page of a multi-page file, from 1; 0: the file must have one page
};

// Throws FileError naming the file and the problem: missing, unreadable, not a picture of a format
// we read, truncated or corrupt, a layout we do not read, wider or taller than kLargestSide, or
// several pages and none chosen.
Picture read_picture(const std::filesystem::path& path, const ReadOptions& options = {});

// Writes the colours and the further planes at the picture's depth through an AtomicFile: on any
// error the target is left as it was. A picture read grey whose three channels are still equal is
// written grey. Throws FileError.
void write_picture(const std::filesystem::path& path, const Picture& picture);

// The name of the format a file of this name is written in ("PNG", "TIFF"), null for none.
const char* output_format_name(const std::filesystem::path& path);

// Writes a result that is its input unchanged: a copy of the input file, byte for byte (its
// metadata kept), when the target's format is the input's and the input has one page; else
// write_picture. Throws FileError.
void write_unchanged(const std::filesystem::path& path, const Picture& picture, const std::filesystem::path& input);

// "photo.jpg: a JPEG input, written as PNG" when the output's format is not the input's, else "".
std::string format_change(const std::string& input, const Picture& picture, const std::filesystem::path& target);

// The same as one image: planes 0..2 the colours, plane 3 on the further planes in the filters'
// samples (16 bits: 0..32768).
host::Image read_image(const std::filesystem::path& path);
void write_image(const std::filesystem::path& path, const host::Image& image);

// Whether quen writes the format the file name's extension names.
bool writes_format(const std::filesystem::path& path);

// Checks the output's extension before any work: throws UsageError for one quen does not know,
// or for a format it reads but does not write (saying why), and, for a depth other than 0, for a
// format that cannot hold it.
void check_output_format(const std::filesystem::path& path, int32_t depth = 0);

// The picture at another depth: the colours as the filters' samples, the further planes as the
// file's, each rounded to the nearest value of the new depth (8 bits widen exactly: narrowing
// back gives the same samples). Float samples outside 0..1 are clamped, NaN becomes 0.
Picture at_depth(const Picture& picture, int32_t depth);

// Throws FileError giving the number of NaN and infinite colour samples and the first one's
// position, when there are any.
void check_finite(const std::filesystem::path& path, const host::Image& image);

// "8-bit RGB", "16-bit RGBA", "32-bit float RGB": for messages.
std::string describe_samples(int32_t depth, int32_t planes);

}  // namespace quen::tool
