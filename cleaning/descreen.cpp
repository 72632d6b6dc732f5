// The descreening gain.
#include "descreen.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quen::cleaning {
namespace {

// The gain: a Gaussian low-pass beyond the protected frequencies, of deviation kDescreenWidth
// times the screen frequency, which keeps the picture's detail up to about the screen frequency,
// times a Gaussian notch of deviation kNotch times the screen frequency about each of the
// screen's peaks, which takes out what the low-pass leaves of the dots. (A low-pass alone must cut
// down to a third of the screen frequency before the dots are gone from the light and dark parts,
// and blurs the picture more than a plain blur of the best deviation for it.)
constexpr double kNotch = 0.15;

}  // namespace

Screens screens_of(const LogMagnitudes& m, const Detection& d, const std::array<double, 3>& frequency, double keep) {
    const host::SpectrumGeometry& g = m.geometry;
    Screens s;
    for (int32_t c = 0; c < 3; ++c) {
        ChannelScreen& screen = s[std::size_t(c)];
        screen.frequency = frequency[std::size_t(c)];
        if (screen.frequency == 0) continue;
        for (const Peak& p : d.peaks) {
            const Frequency f = frequency_of(g, p.row, p.column);
            if ((p.channels & (1u << c)) && std::hypot(f.u, f.v) > std::max(keep, kScreenLattice * screen.frequency))
                screen.points.push_back(f);
        }
    }
    return s;
}

int64_t descreen(LogMagnitudes& m, const Screens& screens, double keep) {
    const host::SpectrumGeometry& g = m.geometry;
    int64_t changed = 0;
    for (int32_t c = 0; c < g.channels && c < 3; ++c) {
        const ChannelScreen& s = screens[std::size_t(c)];
        if (s.frequency == 0) continue;
        const double width = kDescreenWidth * s.frequency, notch = kNotch * s.frequency;
        const double per_unit = -0.5 / (width * width) / std::numbers::ln10;  // log10 gain per frequency squared
        const double reach = 3 * notch;
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x) {
                const Frequency f = frequency_of(g, y, x);
                const double beyond = std::hypot(f.u, f.v) - keep;
                if (beyond <= 0) continue;
                double log_gain = per_unit * beyond * beyond;
                for (const Frequency& p : s.points)
                    for (const double sign : {1.0, -1.0}) {
                        const double du = f.u - sign * p.u, dv = f.v - sign * p.v;
                        if (std::fabs(du) > reach || std::fabs(dv) > reach) continue;
                        const double pass = 1 - std::exp(-0.5 * (du * du + dv * dv) / (notch * notch));
                        log_gain += std::log10(std::max(pass, 1e-6));
                    }
                float& v = m.at(c, y, x);
                v = std::max(kAbsent, v + static_cast<float>(log_gain));
                ++changed;
            }
    }
    return changed;
}

}  // namespace quen::cleaning
