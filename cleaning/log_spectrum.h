// The log magnitudes of a spectrum picture in units that do not depend on its depth or size:
// log10 of the magnitude over (samples transformed x full scale). A full-scale flat picture has 0
// at the zero frequency; a sinusoid of amplitude A (in units of full scale) whose frequency falls
// on a sample has log10(A / 2) there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image.h"
#include "spectrum_geometry.h"

namespace quen::cleaning {

inline constexpr float kAbsent = -30;  // a log magnitude that decodes as nothing

struct LogMagnitudes {
    host::SpectrumGeometry geometry;
    std::vector<float> values;  // geometry.channels x rows x columns

    std::size_t index(int32_t channel, int32_t y, int32_t x) const {
        return (static_cast<std::size_t>(channel) * static_cast<std::size_t>(geometry.rows) +
                static_cast<std::size_t>(y)) * static_cast<std::size_t>(geometry.columns) +
               static_cast<std::size_t>(x);
    }
    float& at(int32_t channel, int32_t y, int32_t x) { return values[index(channel, y, x)]; }
    float at(int32_t channel, int32_t y, int32_t x) const { return values[index(channel, y, x)]; }
};

// One magnitude sample and its log magnitude, for a spectrum of this geometry and depth. The
// forward filters store s = full x log10(m) / log10(count x full) (full = 1 at 32 bits), so
// L = (s / full - 1) x log10(count x full) at every depth.
struct LogScale {
    double scale = 1;  // log10(count x full)
    double full = 1;
    double to_log(double sample) const { return (sample / full - 1) * scale; }
    double to_sample(double log) const { return (log / scale + 1) * full; }
};
LogScale log_scale(const host::SpectrumGeometry& geometry, int32_t depth);

// The magnitude samples of a spectrum picture of the given layout, at any depth. Throws
// std::invalid_argument when the picture cannot hold such a spectrum.
LogMagnitudes read_log_magnitudes(const host::Image& spectrum, host::Layout layout);

// Writes the log magnitudes back into the spectrum picture's magnitude samples (rounded and held
// to the sample range at 8 and 16 bits). Samples whose log magnitude did not change, phases and
// other planes are left exactly as they are.
void write_log_magnitudes(const LogMagnitudes& magnitudes, host::Image& spectrum);

}  // namespace quen::cleaning
