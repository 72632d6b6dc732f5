// The filter modules as cleaning runs them, and the one way back to the picture.
#include "round_trip.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "half_width.h"
#include "run.h"

namespace quen::cleaning {

host::Image run_module(const host::ModuleLibrary& module, host::Image image, const char* what) {
    host::RunResult run;
    try {
        run = host::run_filter(module, std::move(image));
    } catch (const host::ProtocolError& e) {
        throw CleanError(std::string(what) + " filter: " + e.what());
    }
    if (run.result != 0)
        throw CleanError(std::string(what) + " filter failed with result code " + std::to_string(run.result) +
                         (run.result == -108 ? " (not enough memory)" : ""));
    return std::move(run.image);
}

host::Image to_float(const host::Image& picture) {
    host::Image f = host::Image::make(picture.rows, picture.cols, 3, 32);
    const double full = host::Image::full_scale(picture.depth);
    for (int32_t y = 0; y < picture.rows; ++y)
        for (int32_t x = 0; x < picture.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) f.set<float>(y, x, c, static_cast<float>(picture.value(y, x, c) / full));
    return f;
}

int32_t transformed_rows(int32_t rows) { return rows % 2 && rows < kLargestSide ? rows + 1 : rows; }

host::Image forward_spectrum(const host::ModuleLibrary& forward, const host::Image& work) {
    host::Image wide = host::widen_for_half_spectrum(work);
    if (const int32_t rows = transformed_rows(work.rows); rows > wide.rows) {
        const std::size_t row = wide.row_bytes(), size = wide.data.size();
        wide.data.resize(size + row * std::size_t(rows - wide.rows));
        for (std::size_t at = size; at < wide.data.size(); at += row)
            std::copy_n(wide.data.begin() + std::ptrdiff_t(size - row), row, wide.data.begin() + std::ptrdiff_t(at));
        wide.rows = rows;
    }
    return run_module(forward, std::move(wide), "forward");
}

host::Image back_to_picture(const host::ModuleLibrary& inverse, host::Image spectrum, const LogMagnitudes& m,
                            int32_t rows) {
    write_log_magnitudes(m, spectrum);
    host::Image back = host::crop_after_half_spectrum(run_module(inverse, std::move(spectrum), "inverse"));
    back.data.resize(back.row_bytes() * std::size_t(rows));
    back.rows = rows;
    return back;
}

ComplexHalf::ComplexHalf(const host::Image& spectrum, const host::SpectrumGeometry& g)
    : im_(spectrum), g_(g), log_count_(std::log10(g.sample_count())) {}

std::complex<double> ComplexHalf::get(int32_t c, int32_t y, int32_t x) const {
    if (c < 0) return get(0, y, x) + get(1, y, x) + get(2, y, x);
    const double m = std::pow(10.0, (im_.get<float>(y, x, c) - 1) * log_count_);
    return std::polar(m, (im_.get<float>(y, g_.columns + x, c) - 0.5) * 2 * std::numbers::pi);
}

}  // namespace quen::cleaning
