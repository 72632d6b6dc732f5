// Fills: a peak's magnitudes lowered to the local background's (or to nothing), and its rim lowered.
#include "fills.h"

#include <algorithm>

#include "round_trip.h"

namespace quen::cleaning {
namespace {

// Whether sample i lies in a peak still to be removed: in a group not taken out otherwise.
bool in_peak(const Detection& d, const Decisions& decisions, std::size_t i) {
    return d.group[i] != 0 && !decisions.settled(d.group[i]);
}

}  // namespace

int64_t fill_peaks(LogMagnitudes& m, const Detection& d, const Decisions& decisions, Fill fill) {
    const host::SpectrumGeometry& g = m.geometry;
    const int32_t rows = g.rows, cols = g.columns;
    const std::size_t plane = static_cast<std::size_t>(rows) * cols;
    int64_t changed = 0;
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            bool core = in_peak(d, decisions, std::size_t(y) * cols + x), rim = false;
            for (int32_t ny = std::max(0, y - 1); !core && !rim && ny <= std::min(rows - 1, y + 1); ++ny)
                for (int32_t nx = std::max(0, x - 1); nx <= std::min(cols - 1, x + 1); ++nx)
                    rim = rim || in_peak(d, decisions, std::size_t(ny) * cols + nx);
            if (!core && !rim) continue;
            for (int32_t c = 0; c < g.channels; ++c) {
                const std::size_t i = plane * c + std::size_t(y) * cols + x;
                const float target = core && fill == Fill::Zero ? kAbsent : std::min(m.values[i], d.background[i]);
                if (target != m.values[i]) {
                    m.values[i] = target;
                    ++changed;
                }
            }
        }
    return changed;
}

}  // namespace quen::cleaning
