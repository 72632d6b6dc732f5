// Where the magnitude samples of a spectrum picture sit and which frequency each one holds, for
// the two layouts the forward filters write.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quen::host {

enum class Layout {
    Full,  // full spectrum: magnitude in red, zero frequency at row H/2, column W/2
    Half,  // half spectrum in every channel: magnitudes in columns 0..n-1, zero frequency at row H/2, column 0
};

struct SpectrumGeometry {
    int32_t rows = 0;
    int32_t columns = 0;      // magnitude columns: W (full) or n = (W - 2) / 2 + 1 (half)
    int32_t period_x = 0;     // horizontal frequencies repeat every W (full) or W - 2 (half) columns
    double centre_x = 0;      // column of the zero frequency: W / 2 (full) or 0 (half)
    double centre_y = 0;      // row of the zero frequency: H / 2 (between two rows when H is odd)
    int32_t channels = 0;     // channels holding magnitudes: red only (full) or all three (half)

    // Samples that entered the transform: the count the log magnitudes are normalised by.
    double sample_count() const { return double(rows) * double(period_x); }
};

// Throws std::invalid_argument when the picture cannot hold a spectrum of that layout.
inline SpectrumGeometry spectrum_geometry(int32_t rows, int32_t cols, Layout layout) {
    if (rows < 1 || cols < 1) throw std::invalid_argument("the picture is empty");
    if (layout == Layout::Full) return {rows, cols, cols, cols / 2.0, rows / 2.0, 1};
    const int32_t transform_width = cols - 2;
    if (transform_width < 1)
        throw std::invalid_argument("a half spectrum needs at least 3 columns, the picture has " + std::to_string(cols));
    return {rows, transform_width / 2 + 1, transform_width, 0.0, rows / 2.0, 3};
}

}  // namespace quen::host
