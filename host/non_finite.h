// NaN and infinite colour samples: a filter spreads one over the whole picture, so hosts look for
// them before filtering.
#pragma once

#include <cmath>
#include <cstdint>

#include "image.h"

namespace quen::host {

struct NonFinite {
    int64_t count = 0;  // NaN and infinite samples among planes 0 to 2
    int32_t row = 0, col = 0, plane = 0;  // the first of them, in row order
};

// Only 32-bit pictures can hold such samples; further planes (alpha) never enter a filter and are
// not looked at.
inline NonFinite find_non_finite(const Image& image) {
    NonFinite found;
    if (image.depth != 32) return found;
    for (int32_t y = 0; y < image.rows; ++y)
        for (int32_t x = 0; x < image.cols; ++x)
            for (int32_t p = 0; p < 3 && p < image.planes; ++p) {
                if (std::isfinite(image.get<float>(y, x, p))) continue;
                if (found.count++ == 0) found = {1, y, x, p};
            }
    return found;
}

// "red", "green", "blue" for planes 0 to 2.
inline const char* colour_name(int32_t plane) {
    static const char* const kNames[] = {"red", "green", "blue"};
    return plane >= 0 && plane < 3 ? kNames[plane] : "further plane";
}

}  // namespace quen::host
