// The photographs the cleaning benchmarks put noise on (scripts/bench-pictures.sh names them).
#pragma once

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

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

// The photograph in grey at high contrast, as a black-and-white print of a façade or a poster
// makes it: the tones between the 25th and the 75th percentile of its luma stretched over the
// whole range, so that a quarter of the picture sits at black and a quarter at white.
inline host::Image high_contrast(const host::Image& photo) {
    std::vector<double> luma(std::size_t(photo.rows) * photo.cols);
    for (int32_t y = 0; y < photo.rows; ++y)
        for (int32_t x = 0; x < photo.cols; ++x)
            luma[std::size_t(y) * photo.cols + x] =
                0.299 * photo.value(y, x, 0) + 0.587 * photo.value(y, x, 1) + 0.114 * photo.value(y, x, 2);
    std::vector<double> sorted = luma;
    std::sort(sorted.begin(), sorted.end());
    const double lo = sorted[sorted.size() * 25 / 100], hi = std::max(lo + 1, sorted[sorted.size() * 75 / 100]);
    host::Image out = host::Image::make(photo.rows, photo.cols, 3, 8);
    for (int32_t y = 0; y < photo.rows; ++y)
        for (int32_t x = 0; x < photo.cols; ++x) {
            const double v = std::clamp(std::round(255 * (luma[std::size_t(y) * photo.cols + x] - lo) / (hi - lo)), 0.0, 255.0);
            for (int32_t c = 0; c < 3; ++c) out.set_value(y, x, c, v);
        }
    return out;
}

}  // namespace quen::bench
