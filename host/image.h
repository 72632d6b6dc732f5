// An image in memory as our host side keeps it: packed interleaved rows of samples.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "filter_record.h"

namespace quen::host {

struct Image {
    int32_t rows = 0;
    int32_t cols = 0;
    int32_t planes = 0;
    int32_t depth = 8;            // bits per sample: 8, 16 or 32
    std::vector<std::byte> data;  // rows * cols * planes samples, no padding

    static constexpr int32_t bytes_per_sample(int32_t depth) { return quen::bytes_per_sample(depth); }
    // The largest sample value the filters write (nominal at 32 bits).
    static constexpr double full_scale(int32_t depth) {
        return depth == 8 ? 255 : depth == 16 ? kSixteenBitFullScale : 1.0;
    }

    static Image make(int32_t rows, int32_t cols, int32_t planes, int32_t depth) {
        Image im{rows, cols, planes, depth, {}};
        im.data.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols) *
                       static_cast<std::size_t>(planes) *
                       static_cast<std::size_t>(bytes_per_sample(depth)));
        return im;
    }

    std::size_t row_bytes() const {
        return static_cast<std::size_t>(cols) * static_cast<std::size_t>(planes) *
               static_cast<std::size_t>(bytes_per_sample(depth));
    }

    std::size_t index(int32_t y, int32_t x, int32_t p) const {
        return (static_cast<std::size_t>(y) * static_cast<std::size_t>(cols) +
                static_cast<std::size_t>(x)) * static_cast<std::size_t>(planes) +
               static_cast<std::size_t>(p);
    }

    // Sample access by value (the bytes carry no alignment promise); S must match depth.
    template <class S>
    S get(int32_t y, int32_t x, int32_t p) const {
        S v;
        std::memcpy(&v, data.data() + index(y, x, p) * sizeof(S), sizeof(S));
        return v;
    }

    template <class S>
    void set(int32_t y, int32_t x, int32_t p, S v) {
        std::memcpy(data.data() + index(y, x, p) * sizeof(S), &v, sizeof(S));
    }

    // Stores a value given in sample units: rounded to the nearest integer and held to 0..full
    // scale at 8 and 16 bits, as it is at 32 bits.
    void set_value(int32_t y, int32_t x, int32_t p, double v) {
        switch (depth) {
        case 8: set<uint8_t>(y, x, p, static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, full_scale(8))))); break;
        case 16: set<uint16_t>(y, x, p, static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, full_scale(16))))); break;
        default: set<float>(y, x, p, static_cast<float>(v));
        }
    }

    // A sample widened to double, whatever the depth.
    double value(int32_t y, int32_t x, int32_t p) const {
        switch (depth) {
        case 8: return get<uint8_t>(y, x, p);
        case 16: return get<uint16_t>(y, x, p);
        default: return get<float>(y, x, p);
        }
    }
};

}  // namespace quen::host
