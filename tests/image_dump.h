// Images as files between the Windows and the Linux side of the tests: "QIMG", then rows,
// columns, planes and depth as 32-bit integers, then the packed samples, all in the byte order of
// the x86-64 machines that write and read them.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "image.h"

namespace quen::test {

inline bool write_image(const std::string& path, const host::Image& im) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    const int32_t head[4] = {im.rows, im.cols, im.planes, im.depth};
    f.write("QIMG", 4);
    f.write(reinterpret_cast<const char*>(head), sizeof head);
    f.write(reinterpret_cast<const char*>(im.data.data()), static_cast<std::streamsize>(im.data.size()));
    return static_cast<bool>(f.flush());
}

// Empty when the file is missing, truncated or not an image of this kind.
inline std::optional<host::Image> read_image(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    char magic[4];
    int32_t head[4];
    if (!f.read(magic, 4) || std::memcmp(magic, "QIMG", 4) != 0 || !f.read(reinterpret_cast<char*>(head), sizeof head))
        return std::nullopt;
    const auto [rows, cols, planes, depth] = head;
    if (rows < 1 || cols < 1 || planes < 1 || rows > kLargestSide || cols > kLargestSide || planes > 64 ||
        (depth != 8 && depth != 16 && depth != 32))
        return std::nullopt;
    host::Image im = host::Image::make(rows, cols, planes, depth);
    if (!f.read(reinterpret_cast<char*>(im.data.data()), static_cast<std::streamsize>(im.data.size())) ||
        f.peek() != std::char_traits<char>::eof())
        return std::nullopt;
    return im;
}

}  // namespace quen::test
