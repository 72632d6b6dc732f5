// The folded screen of a print scanned too coarsely, lowered to its surroundings.
#include "moire.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

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

int64_t lower_folded_copies(LogMagnitudes& m) {
    const host::SpectrumGeometry& g = m.geometry;
    constexpr double kRing = 0.025;  // cycles per pixel
    constexpr int32_t kRings = 29;   // out to the corners
    std::vector<int32_t> ring(std::size_t(g.rows) * g.columns);
    std::vector<bool> off_axes(ring.size());
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            const Frequency f = frequency_of(g, y, x);
            const std::size_t i = std::size_t(y) * g.columns + x;
            ring[i] = std::min(kRings - 1, int32_t(std::hypot(f.u, f.v) / kRing));
            off_axes[i] = std::fabs(y - g.centre_y) > 2.5 && std::fabs(x - g.centre_x) > 2.5;
        }
    int64_t lowered = 0;
    std::array<std::vector<float>, kRings> members;
    for (int32_t c = 0; c < g.channels && c < 3; ++c) {
        for (auto& r : members) r.clear();
        const float* v = &m.values[m.index(c, 0, 0)];
        for (std::size_t i = 0; i < ring.size(); ++i)
            if (off_axes[i]) members[std::size_t(ring[i])].push_back(v[i]);
        std::array<double, kRings> level{}, log_radius{};
        LineFit law;
        for (int32_t r = 0; r < kRings; ++r) {
            if (members[std::size_t(r)].empty()) continue;
            level[std::size_t(r)] = median(members[std::size_t(r)]);
            const double centre = (r + 0.5) * kRing;
            log_radius[std::size_t(r)] = std::log10(centre);
            if (centre >= kMoireLawFrom && centre <= kMoireLawTo) law.add(log_radius[std::size_t(r)], level[std::size_t(r)]);
        }
        if (law.n < 3) continue;
        const double slope = law.slope(), at = law.at();
        // The log10 gain of each ring: (law / ring)^2 in power, so 4 x (law - level) in log magnitude.
        std::array<float, kRings> gain{};
        for (int32_t r = 0; r < kRings; ++r)
            if ((r + 0.5) * kRing > kMoireLawTo && !members[std::size_t(r)].empty())
                gain[std::size_t(r)] = float(std::min(0.0, 4 * (at + slope * log_radius[std::size_t(r)] - level[std::size_t(r)])));
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x) {
                const float lower = gain[std::size_t(ring[std::size_t(y) * g.columns + x])];
                if (lower >= 0) continue;
                float& value = m.at(c, y, x);
                value = std::max(kAbsent, value + lower);
                ++lowered;
            }
    }
    return lowered;
}

}  // namespace quen::cleaning
