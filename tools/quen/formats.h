// The formats' own halves of reading and writing, one source file each; image_io.cpp holds the
// table that chooses among them. Samples here are the file's own (16 bits: 0..65535), colours
// first as RGB (a reader spreads grey over three planes), then the further planes, alpha first.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "image.h"

namespace quen::tool {

struct FileSamples {
    host::Image samples;
    std::string description;  // the file's description text, "" when it has none
    int32_t colours = 3;      // 1: the file is grey (a reader still spreads it over three planes;
                              // a writer takes one colour plane)
};

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using CFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file to read; throws FileError with the system's reason.
CFile open_for_reading(const std::filesystem::path& path);

// Throws FileError unless 1 <= cols, rows <= kLargestSide.
void check_size(const std::filesystem::path& path, uint64_t cols, uint64_t rows);

// The readers throw FileError naming the file. `page` counts from 1; 0 means the file must have
// one page (only TIFF files have several).
FileSamples read_png(const std::filesystem::path& path, int32_t page);
FileSamples read_tiff(const std::filesystem::path& path, int32_t page);
FileSamples read_jpeg(const std::filesystem::path& path, int32_t page);
FileSamples read_webp(const std::filesystem::path& path, int32_t page);

// The writers fill a temporary file and throw std::runtime_error with the problem alone.
void write_png(const std::filesystem::path& file, const FileSamples& samples);
void write_tiff(const std::filesystem::path& file, const FileSamples& samples);

}  // namespace quen::tool
