// Magnitude samples to depth-free log magnitudes and back.
#include "log_spectrum.h"

#include <cmath>
#include <stdexcept>

namespace quen::cleaning {

LogScale log_scale(const host::SpectrumGeometry& g, int32_t depth) {
    const double full = host::Image::full_scale(depth);
    return {std::log10(g.sample_count() * full), full};
}

LogMagnitudes read_log_magnitudes(const host::Image& spectrum, host::Layout layout) {
    LogMagnitudes m{host::spectrum_geometry(spectrum.rows, spectrum.cols, layout), {}};
    if (spectrum.planes < 3) throw std::invalid_argument("a spectrum picture has three colour channels");
    const host::SpectrumGeometry& g = m.geometry;
    const LogScale scale = log_scale(g, spectrum.depth);
    m.values.resize(static_cast<std::size_t>(g.channels) * g.rows * g.columns);
    for (int32_t c = 0; c < g.channels; ++c)
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x)
                m.at(c, y, x) = static_cast<float>(scale.to_log(spectrum.value(y, x, c)));
    return m;
}

void write_log_magnitudes(const LogMagnitudes& m, host::Image& spectrum) {
    const host::SpectrumGeometry& g = m.geometry;
    const LogScale scale = log_scale(g, spectrum.depth);
    for (int32_t c = 0; c < g.channels; ++c)
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x) {
                // A sample that reads as the same log magnitude keeps its exact stored value.
                if (static_cast<float>(scale.to_log(spectrum.value(y, x, c))) == m.at(c, y, x)) continue;
                spectrum.set_value(y, x, c, scale.to_sample(m.at(c, y, x)));
            }
}

}  // namespace quen::cleaning
