// The search for weak waves among the picture's own peaks and the faint candidates.
#include "weak_waves.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <numbers>

namespace quen::cleaning {

void find_weak_waves(LazyTiles& tiles_of, const ComplexHalf& z, const LogMagnitudes& m, const Detection& d,
                     const std::vector<uint8_t>& own, const Grid& grid, const std::vector<Frequency>& earlier,
                     const FlatEvidence& flat, double longest, std::vector<FittedTone>& tones,
                     std::vector<WeakWave>& found, const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    std::vector<int32_t> candidates, groups;  // y * columns + x; the peaks' groups
    std::vector<Frequency> taken = earlier;
    for (const Peak& p : d.peaks)
        if (own[static_cast<std::size_t>(p.group)]) {
            candidates.push_back(p.row * g.columns + p.column);
            groups.push_back(p.group);
        } else
            taken.push_back(frequency_of(g, p.row, p.column));
    for (int32_t i : d.faint)
        if (!grid.holds(g, i / g.columns, i % g.columns, t)) candidates.push_back(i);
    if (candidates.empty()) return;
    const Tiles& tiles = tiles_of.get();
    const double lobe = tiles.lobe(g);
    for (const FittedTone& tone : tones) taken.push_back(tone.f);
    const auto near = [&](const Frequency& f) {
        return std::any_of(taken.begin(), taken.end(), [&](const Frequency& o) {
            return wave_distance(g, o, f) < lobe;
        });
    };
    // A quick look at each candidate's own sample first, the two halves of the list at once.
    std::vector<double> quick(candidates.size());
    const auto look = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k)
            quick[k] = tiles.weigh(frequency_of(g, candidates[k] / g.columns, candidates[k] % g.columns), true).presence;
    };
    auto first_half = std::async(std::launch::async, look, 0, quick.size() / 2);
    look(quick.size() / 2, quick.size());
    first_half.get();
    int failed = 0;
    for (std::size_t k = 0; k < candidates.size() && failed < t.weak_tries; ++k) {
        const int32_t y = candidates[k] / g.columns, x = candidates[k] % g.columns;
        const Frequency f = frequency_of(g, y, x);
        if (quick[k] < t.wave_presence / 2 || near(f) || flat.refutes(f)) continue;
        if (longest > 0 && std::hypot(f.u, f.v) * longest < 1) continue;
        Tone fitted;
        fit_tone(z, g, -1, y, x, fitted);
        FittedTone tone{frequency_of(g, fitted.b, fitted.a), {}};
        const Tiles::Evidence e = tiles.weigh(tone.f);
        if (e.presence < t.wave_presence || e.alike < t.wave_alike) {
            ++failed;
            continue;
        }
        tone.f = tiles.steady(tone.f);
        double amplitude = 0;
        for (int32_t c = 0; c < 3; ++c) {
            tone.amplitude[c] = tiles.weigh(tone.f, false, c + 1).amplitude;
            amplitude = std::max(amplitude, 2 * std::abs(tone.amplitude[c]));
        }
        if (amplitude < kSmallestAmplitude) {
            ++failed;
            continue;
        }
        tones.push_back(tone);
        taken.push_back(tone.f);
        const double angle = std::atan2(tone.f.v, tone.f.u) * 180 / std::numbers::pi;
        const int32_t group = k < groups.size() ? groups[k] : 0;
        found.push_back({{y, x, 2, amplitude, 1 / std::hypot(tone.f.u, tone.f.v), angle < 0 ? angle + 180 : angle, 7u, 0}, group});
    }
}

}  // namespace quen::cleaning
