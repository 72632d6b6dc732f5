// Magnitude samples to depth-free log magnitudes and back. The forward filters store
// s = full x log10(m) / log10(count x full) (with full = 1 at 32 bits), so that one formula,
// L = (s / full - 1) x log10(count x full), serves every depth.
#include "log_spectrum.h"

#include <cmath>
#include <stdexcept>

namespace quen::cleaning {
namespace {

double log_scale(const host::SpectrumGeometry& g, int32_t depth) {
    return std::log10(g.sample_count() * host::Image::full_scale(depth));
}

}  // namespace

LogMagnitudes read_log_magnitudes(const host::Image& spectrum, host::Layout layout) {
    LogMagnitudes m{host::spectrum_geometry(spectrum.rows, spectrum.cols, layout), {}};
    if (spectrum.planes < 3) throw std::invalid_argument("a spectrum picture has three colour channels");
    const host::SpectrumGeometry& g = m.geometry;
    const double scale = log_scale(g, spectrum.depth), full = host::Image::full_scale(spectrum.depth);
    m.values.resize(static_cast<std::size_t>(g.channels) * g.rows * g.columns);
    for (int32_t c = 0; c < g.channels; ++c)
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x)
                m.at(c, y, x) = static_cast<float>((spectrum.value(y, x, c) / full - 1) * scale);
    return m;
}

void write_log_magnitudes(const LogMagnitudes& m, host::Image& spectrum) {
    const host::SpectrumGeometry& g = m.geometry;
    const double scale = log_scale(g, spectrum.depth), full = host::Image::full_scale(spectrum.depth);
    for (int32_t c = 0; c < g.channels; ++c)
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x) {
                // A sample that reads as the same log magnitude keeps its exact stored value.
                if (static_cast<float>((spectrum.value(y, x, c) / full - 1) * scale) == m.at(c, y, x)) continue;
                spectrum.set_value(y, x, c, (m.at(c, y, x) / scale + 1) * full);
            }
}

}  // namespace quen::cleaning
