// The photographs the cleaning benchmarks put noise on (scripts/bench-pictures.sh names them).
#pragma once

#include <algorithm>
#include <filesystem>

#include "image.h"
#include "image_io.h"

namespace quen::bench {

// A photograph as 8-bit RGB (a further plane such as alpha dropped), a large one area-averaged by
// the smallest whole factor that brings it within 1280 x 800 (800 x 1280 when upright), so that
// a run stays short and each picture weighs about the same.
inline host::Image read_photograph(const std::filesystem::path& path) {
    const host::Image im = quen::tool::read_image(path);
    const bool upright = im.rows > im.cols;
    const int32_t max_cols = upright ? 800 : 1280, max_rows = upright ? 1280 : 800;
    const int32_t f = std::max({1, (im.cols + max_cols - 1) / max_cols, (im.rows + max_rows - 1) / max_rows});
    host::Image out = host::Image::make(im.rows / f, im.cols / f, 3, 8);
    const double scale = 255 / host::Image::full_scale(im.depth) / (f * f);
    for (int32_t y = 0; y < out.rows; ++y)
        for (int32_t x = 0; x < out.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                double s = 0;
                for (int32_t i = 0; i < f; ++i)
                    for (int32_t j = 0; j < f; ++j) s += im.value(y * f + i, x * f + j, std::min(c, im.planes - 1));
                out.set_value(y, x, c, s * scale);
            }
    return out;
}

}  // namespace quen::bench
