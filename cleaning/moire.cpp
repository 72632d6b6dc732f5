// The folded screen of a print scanned too coarsely, lowered to its surroundings.
#include "moire.h"

#include <algorithm>
#include <cmath>

namespace quen::cleaning {

int64_t lower_folded_screen(LogMagnitudes& m, const Detection& d, double keep) {
    const host::SpectrumGeometry& g = m.geometry;
    if (d.background.size() != m.values.size()) return 0;
    const double inner = std::max(keep, kMoireInner);
    int64_t lowered = 0;
    for (int32_t y = 0; y < g.rows; ++y) {
        if (std::fabs(y - g.centre_y) <= 2.5) continue;
        for (int32_t x = 0; x < g.columns; ++x) {
            if (std::fabs(x - g.centre_x) <= 2.5) continue;
            const Frequency f = frequency_of(g, y, x);
            if (std::hypot(f.u, f.v) <= inner) continue;
            for (int32_t c = 0; c < g.channels && c < 3; ++c) {
                const std::size_t i = m.index(c, y, x);
                const float most = d.background[i] + kMoireExcess;
                if (m.values[i] <= most) continue;
                m.values[i] = most;
                ++lowered;
            }
        }
    }
    return lowered;
}

}  // namespace quen::cleaning
