// The half-spectrum image shared by the real-input filters: the row-signed fill of one channel and
// the row layout of one channel's half spectrum (magnitudes left, phases right, a zero column last
// when the width is odd).
#pragma once

#include <cstddef>
#include <cstdint>

#include "module.h"
#include "samples.h"
#include "spectrum_rows.h"

namespace quen {

// Sizes of a real-input transform of the whole image. Only the first cols - 2 columns enter it;
// the frame hands over images of at least 3 columns, so width >= 1 and 2 * spectrum_width is
// cols or cols - 1.
struct HalfGeometry {
    int32_t rows;
    int32_t cols;
    int32_t width;           // columns transformed
    int32_t spectrum_width;  // columns of the half spectrum: width / 2 + 1

    std::ptrdiff_t real_count() const { return std::ptrdiff_t{rows} * width; }
    std::ptrdiff_t spectrum_count() const { return std::ptrdiff_t{rows} * spectrum_width; }
};

inline HalfGeometry half_geometry(const Job& job) {
    const int32_t width = job.cols - 2;
    return {job.rows, job.cols, width, width / 2 + 1};
}

// One input channel into rows x width doubles, row-major, every odd row negated: the row sign
// moves the zero vertical frequency to the middle row. Samples are widened exactly (16-bit as
// stored, floats unrounded); the last two image columns are never read.
template <class S>
void fill_row_signed(const Pixels<const S>& in, int32_t channel, const HalfGeometry& g, double* real) {
    for (int32_t y = 0; y < g.rows; ++y) {
        double* row = real + std::ptrdiff_t{y} * g.width;
        for (int32_t x = 0; x < g.width; ++x) {
            const double v = static_cast<double>(in.at(y, x)[channel]);
            row[x] = (y & 1) ? -v : v;
        }
    }
}

// One channel's rows x spectrum_width half spectrum into output channel `channel`: in every row,
// the encoded magnitude of coefficient k at column k, its phase at column spectrum_width + k, and
// 0 in the last column when the width is odd. Nothing outside the image's columns is written.
// `sign` says what a magnitude below 1 becomes: with SignedOrZero, 0 at the integer depths and the
// signed log magnitude at 32 bits; with Folded, |log magnitude| at every depth.
template <WriteNegativeLog sign, class S>
void write_half_spectrum(const fftw_complex* spectrum, const Pixels<S>& out, int32_t channel,
                         const HalfGeometry& g, double log_normaliser) {
    const int32_t n = g.spectrum_width;
    for (int32_t y = 0; y < g.rows; ++y) {
        encode_run<S, sign>(spectrum + std::ptrdiff_t{y} * n, static_cast<std::size_t>(n), log_normaliser,
                            out.at(y, 0) + channel, out.planes, out.at(y, n) + channel, out.planes);
        if (2 * n != g.cols) out.at(y, g.cols - 1)[channel] = S(0);
    }
}

}  // namespace quen
