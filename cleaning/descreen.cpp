// The descreening gain.
#include "descreen.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quen::cleaning {
namespace {

// A scanned print is the picture plus, about each point k of its screen's lattice (each ink's
// fundamentals, their harmonics, and in a channel two inks darken, the sums of two inks'), the
// dots' modulation by the picture: a copy of the picture's spectrum shifted to k, weaker by a
// factor that depends on the ink and the tones. A natural picture's power falls about as
// a power of the frequency (falloff_of, about 2; less for a picture of small spots, more for a
// smooth one), so at frequency q the picture holds power in proportion to 1 / |q|^a and the copy
// about k in proportion to weight_k / |q - k|^a: the gain that keeps the picture and takes out
// the copies (a Wiener filter) is 1 / (1 + |q|^a sum_k weight_k / |q - k|^a), a notch at each
// lattice point as wide as its copy is strong, with the picture's detail kept wherever no copy
// reaches. weight_k is measured: the median, over offsets d near the zero frequency, of the
// power about k + d over that about d (the copy has the picture's shape), less what the picture
// itself puts at k + d. The gain takes out copy_share of that weight: notches as wide as the
// whole of it cut more of the picture's detail between the lattice's points than of the copies
// (on printed photographs a quarter leaves the least error). A Gaussian low-pass beyond the
// protected frequencies, of deviation lowpass_width, takes out what lies beyond the lattice
// points made out (higher harmonics, the scanner's aliases of them).

// One sample of the spectrum, in frequency, squared: the floor of the distances above, so that
// the gain at a lattice point is small but finite.
double floor2(const host::SpectrumGeometry& g) { return sample_step(g) * sample_step(g); }

// The weight of lattice point k in channel c (see above), from offsets of 2 to `reach` samples.
double weight_of(const LogMagnitudes& m, int32_t c, Frequency k, int32_t reach, double falloff) {
    const host::SpectrumGeometry& g = m.geometry;
    const double least2 = floor2(g);
    std::vector<float> ratios;
    for (int32_t dy = -reach; dy <= reach; ++dy)
        for (int32_t dx = -reach; dx <= reach; ++dx) {
            const int32_t r2 = dx * dx + dy * dy;
            if (r2 < 4 || r2 > reach * reach) continue;
            const Frequency d{double(dx) / g.period_x, double(dy) / g.rows}, kd = wrapped({k.u + d.u, k.v + d.v});
            int32_t ny = 0, nx = 0, fy = 0, fx = 0;
            if (!sample_index(g, d, ny, nx) || !sample_index(g, kd, fy, fx)) continue;
            const double own = std::pow((d.u * d.u + d.v * d.v + least2) / (kd.u * kd.u + kd.v * kd.v + least2), falloff / 2);
            ratios.push_back(static_cast<float>(std::pow(10.0, 2.0 * (m.at(c, fy, fx) - m.at(c, ny, nx))) - own));
        }
    return std::max(0.0, double(median(ratios)));
}

// How fast the picture's power falls with the frequency in channel c (the power of |q|^-falloff):
// the slope of the median log magnitude of rings about the zero frequency, from the protected
// frequencies (4 samples at least) to half the screen frequency, below the screen's copies.
double falloff_of(const LogMagnitudes& m, int32_t c, double keep, double screen) {
    const host::SpectrumGeometry& g = m.geometry;
    const double step = sample_step(g);
    const double inner = std::max(keep, 4 * step), outer = 0.5 * screen;
    if (outer <= 1.5 * inner) return 2;
    constexpr int kRings = 8;
    std::array<std::vector<float>, kRings> rings;
    const double span = std::log(outer / inner);
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            const Frequency f = frequency_of(g, y, x);
            const double r = std::hypot(f.u, f.v);
            if (r < inner || r >= outer) continue;
            // (r just below outer may round to the last ring's end)
            const auto ring = std::min<std::size_t>(std::size_t(std::log(r / inner) / span * kRings), kRings - 1);
            rings[ring].push_back(m.at(c, y, x));
        }
    LineFit law;
    for (int i = 0; i < kRings; ++i) {
        if (rings[std::size_t(i)].empty()) continue;
        law.add(std::log10(inner) + (i + 0.5) / kRings * span / std::numbers::ln10, median(rings[std::size_t(i)]));
    }
    if (law.n < 3) return 2;
    return std::clamp(-2 * law.slope(), 1.0, 4.0);  // (the slope of the log magnitude)
}

// The points of the square lattice of dots spanned by fundamental a and a turned a right angle:
// the fundamentals, the diagonals and the second harmonics, and the points between them.
std::vector<Frequency> lattice_of(Frequency a) {
    std::vector<Frequency> p;
    for (int i = -2; i <= 2; ++i)
        for (int j = -2; j <= 2; ++j)
            if (i * i + j * j > 0 && i * i + j * j <= 5) p.push_back({i * a.u - j * a.v, i * a.v + j * a.u});
    return p;
}

// Whether fundamental f of channel c (log magnitude `level`) is a sideband of the lattice spanned
// by `first` rather than an ink's: the picture's own stripes (blinds, a fence), of frequency b
// below the screen, modulate the dots and put their copies about each lattice point k, at k + b
// and at k - b alike (a picture's spectrum is as strong at -b as at b), and one of them may fall
// among the fundamentals at an ink's angle. Its twin 2k - f then stands about as high as it does
// (within moire_twin, the spread of a magnitude read at its nearest sample or a neighbour); an
// ink's fundamental has no twin there but the far weaker beat of one ink's harmonic with the other.
bool sideband(const LogMagnitudes& m, int32_t c, Frequency f, float level, Frequency first, double low, double high,
              const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    for (const Frequency& k : lattice_of(first)) {
        const double b = std::hypot(f.u - k.u, f.v - k.v);
        int32_t y = 0, x = 0;
        if (b <= low || b >= high || !sample_index(g, {2 * k.u - f.u, 2 * k.v - f.v}, y, x)) continue;
        float twin = kAbsent;
        for (int32_t ty = std::max(0, y - 1); ty <= std::min(g.rows - 1, y + 1); ++ty)
            for (int32_t tx = std::max(0, x - 1); tx <= std::min(g.columns - 1, x + 1); ++tx) twin = std::max(twin, m.at(c, ty, tx));
        if (twin >= level - t.moire_twin) return true;
    }
    return false;
}

// Where two inks printed in one channel beat: each ink's fundamentals lie at right angles to each
// other (a square grid of dots), so the channel's fundamentals (with their log magnitudes) fall
// into inks by their direction modulo 90 degrees (within moire_ink_angle of the ink's strongest: the picture's sidebands
// about a fundamental go with it, and the inks of a rosette lie 30 degrees apart or more), but for
// the sidebands of the strongest ink's lattice further off (see sideband); the two inks standing
// highest, the weaker no more than moire_inks_apart below the stronger, each span a lattice by
// their strongest fundamental, and the differences of the two lattices' points between low and
// high (the frequencies of the picture's own detail, below the screen), each once with its
// mirror, are where their dots' overlap beats.
std::vector<Frequency> moire_of(const LogMagnitudes& m, int32_t c, std::vector<std::pair<Frequency, float>> fundamentals,
                                double low, double high, const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    std::sort(fundamentals.begin(), fundamentals.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    struct Ink {
        double angle;  // degrees, modulo 90
        Frequency strongest;
        float level;
    };
    std::vector<Ink> inks;
    for (const auto& [f, level] : fundamentals) {
        const double angle = std::fmod(std::atan2(f.v, f.u) * 180 / std::numbers::pi + 360, 90.0);
        auto ink = std::find_if(inks.begin(), inks.end(), [&](const Ink& i) {
            return std::fabs(std::remainder(angle - i.angle, 90.0)) <= t.moire_ink_angle;
        });
        if (ink != inks.end() || (!inks.empty() && sideband(m, c, f, level, inks[0].strongest, low, high, t))) continue;
        inks.push_back({angle, f, level});  // (strongest first: each ink about its strongest)
    }
    std::vector<Frequency> points;
    if (inks.size() < 2) return points;
    if (inks[1].level < inks[0].level - t.moire_inks_apart) return points;
    for (const Frequency& a : lattice_of(inks[0].strongest))
        for (const Frequency& b : lattice_of(inks[1].strongest)) {
            const Frequency d{a.u - b.u, a.v - b.v};
            const double r = std::hypot(d.u, d.v);
            if (r <= low || r >= high) continue;
            bool seen = false;
            for (const Frequency& q : points)
                seen = seen || wave_distance(g, d, q) <= 1.5;
            if (!seen) points.push_back(d);
        }
    return points;
}

// Lowers the log magnitudes of channel c within moire_radius samples of each point to the median
// of a ring about it (moire_radius + 1 to + 3 samples) where their mean power stands moire_excess
// above it.
void lower_standing(LogMagnitudes& m, int32_t c, const std::vector<Frequency>& points, const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    const int32_t outer = int32_t(std::ceil(t.moire_radius + 3));
    std::vector<float> ring;
    std::vector<float*> disc;
    for (const Frequency& k : points) {
        ring.clear(), disc.clear();
        double power = 0;
        for (int32_t dy = -outer; dy <= outer; ++dy)
            for (int32_t dx = -outer; dx <= outer; ++dx) {
                const double r = std::hypot(dx, dy);
                int32_t y = 0, x = 0;
                if ((r > t.moire_radius && r <= t.moire_radius + 1) || r > t.moire_radius + 3 ||
                    !sample_index(g, {k.u + double(dx) / g.period_x, k.v + double(dy) / g.rows}, y, x))
                    continue;
                float& v = m.at(c, y, x);
                if (r <= t.moire_radius) disc.push_back(&v), power += std::pow(10.0, 2.0 * v);
                else ring.push_back(v);
            }
        if (disc.empty() || ring.empty()) continue;
        const float around = median(ring);
        if (power / double(disc.size()) < t.moire_excess * std::pow(10.0, 2.0 * around)) continue;
        for (float* v : disc) *v = std::min(*v, around);
    }
}

// Channel c's peaks beyond `lowest` (cycles per pixel) into `points`; returns those among them
// within fundamental_reach of its screen frequency, its inks' fundamentals, each once with its log
// magnitude.
std::vector<std::pair<Frequency, float>> lattice_peaks(const LogMagnitudes& m, const Detection& d, int32_t c, double lowest,
                                                       double frequency, const Thresholds& t, std::vector<Frequency>& points) {
    const host::SpectrumGeometry& g = m.geometry;
    std::vector<std::pair<Frequency, float>> fundamentals;
    for (const Peak& p : d.peaks) {
        const Frequency f = frequency_of(g, p.row, p.column);
        const double r = std::hypot(f.u, f.v);
        if (!(p.channels & (1u << c)) || r <= lowest) continue;
        points.push_back(f);
        if (r <= t.fundamental_reach * frequency) fundamentals.push_back({f, m.at(c, p.row, p.column)});
    }
    return fundamentals;
}

// A screen's dots leave their strongest waves at its lattice's fundamentals. In a dark print the
// dots spread wide and an ink's fundamentals may merge with a neighbouring ink's into one peak,
// so that the lattice made out of the peaks is that of a harmonic: the second (twice the
// fundamentals) or the diagonal one (their sums). Then half of channel c's fundamentals, or half
// of the sum or difference of two, lands on a fundamental of the true lattice and stands out of
// the background (screen_evidence) higher than any of the fundamentals found. The strongest such
// half, with those of about its frequency (within fundamental_reach), is the coarser lattice's
// fundamentals when one of them lies at right angles to it, as a square grid of dots puts them.
// Returns those, each once with its log magnitude (the highest of the nearest sample and its
// neighbours); empty where the fundamentals found are the screen's own.
std::vector<std::pair<Frequency, float>> coarser_lattice(const LogMagnitudes& m, const Detection& d, int32_t c,
                                                         const std::vector<std::pair<Frequency, float>>& fundamentals,
                                                         double keep, const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    float strongest = kAbsent;
    std::vector<Frequency> f;
    for (const auto& [a, level] : fundamentals) strongest = std::max(strongest, level), f.push_back(a), f.push_back({-a.u, -a.v});
    std::vector<Frequency> halves;
    for (std::size_t i = 0; i < f.size(); ++i) {
        halves.push_back({f[i].u / 2, f[i].v / 2});
        for (std::size_t j = i + 1; j < f.size(); ++j) halves.push_back({(f[i].u + f[j].u) / 2, (f[i].v + f[j].v) / 2});
    }
    std::vector<std::pair<Frequency, float>> found;
    for (const Frequency& h : halves) {
        int32_t y = 0, x = 0;
        if (std::hypot(h.u, h.v) <= keep || !sample_index(g, h, y, x)) continue;
        float level = kAbsent, excess = kAbsent;
        for (int32_t ny = std::max(0, y - 1); ny <= std::min(g.rows - 1, y + 1); ++ny)
            for (int32_t nx = std::max(0, x - 1); nx <= std::min(g.columns - 1, x + 1); ++nx)
                if (m.at(c, ny, nx) > level) level = m.at(c, ny, nx), excess = level - d.background[m.index(c, ny, nx)];
        if (level <= strongest || excess < t.screen_evidence) continue;
        bool seen = false;
        for (const auto& [q, l] : found)
            seen = seen || wave_distance(g, h, q) <= 1.5;
        if (!seen) found.push_back({h, level});
    }
    if (found.empty()) return {};
    const Frequency best = std::max_element(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.second < b.second; })->first;
    const double r = std::hypot(best.u, best.v);
    std::erase_if(found, [&](const auto& h) {
        const double q = std::hypot(h.first.u, h.first.v);
        return q > t.fundamental_reach * r || r > t.fundamental_reach * q;
    });
    for (const auto& [q, level] : found)
        if (square_pair(g, best, q, t)) return found;
    return {};
}

}  // namespace

Screens screens_of(const LogMagnitudes& m, const Detection& d, const std::array<double, 3>& frequency, double keep,
                   const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    const double step = sample_step(g);
    Screens s;
    for (int32_t c = 0; c < 3; ++c) {
        ChannelScreen& screen = s[std::size_t(c)];
        screen.frequency = frequency[std::size_t(c)];
        if (screen.frequency == 0) continue;
        // The channel's peaks from kScreenLattice times its frequency up, and its fundamentals
        // (each ink's two, and their mirrors) with their sums: harmonics, and two inks' sums.
        double lowest = std::max(keep, kScreenLattice * screen.frequency);
        std::vector<Frequency> points;
        std::vector<std::pair<Frequency, float>> levels = lattice_peaks(m, d, c, lowest, screen.frequency, t, points);
        // (The half of a diagonal lattice's may be its second harmonic's: looked for twice.)
        std::vector<std::pair<Frequency, float>> coarser;
        for (int round = 0; round < 2; ++round) {
            const auto found = coarser_lattice(m, d, c, levels, keep, t);
            if (found.empty()) break;
            coarser.insert(coarser.end(), found.begin(), found.end());
            for (const auto& [f, level] : found) screen.frequency = std::min(screen.frequency, std::hypot(f.u, f.v));
            lowest = std::max(keep, kScreenLattice * screen.frequency);
            points.clear();
            levels = lattice_peaks(m, d, c, lowest, screen.frequency, t, points);
            for (const auto& h : coarser)
                if (std::hypot(h.first.u, h.first.v) <= t.fundamental_reach * screen.frequency) levels.push_back(h), points.push_back(h.first);
        }
        screen.falloff = falloff_of(m, c, keep, screen.frequency);
        std::vector<Frequency> fundamentals;
        for (const auto& [f, level] : levels) fundamentals.push_back(f), fundamentals.push_back({-f.u, -f.v});
        screen.moire = moire_of(m, c, levels, keep, lowest, t);
        for (const Frequency& a : fundamentals)
            for (const Frequency& b : fundamentals) points.push_back(wrapped({a.u + b.u, a.v + b.v}));
        // Each point once (a point and its mirror are one), with its copy's weight: none for a copy
        // too faint to weigh, whose point is still lowered to its surroundings where it stands out
        // of them (see descreen).
        const int32_t reach = std::clamp(int32_t(t.copy_reach * screen.frequency / step), 3, 16);
        for (const Frequency& p : points) {
            if (std::hypot(p.u, p.v) <= lowest) continue;
            bool seen = false;
            for (const Frequency& q : screen.points)
                seen = seen || wave_distance(g, p, q) <= 1.5;
            if (seen) continue;
            const double w = weight_of(m, c, p, reach, screen.falloff);
            screen.points.push_back(p);
            screen.weights.push_back(w < t.copy_least ? 0 : w);
        }
        screen.reach = t.copy_reach * screen.frequency;
    }
    return s;
}

double lowest_frequency(const Screens& screens) {
    double lowest = 1;
    for (const ChannelScreen& s : screens) lowest = s.frequency > 0 ? std::min(lowest, s.frequency) : lowest;
    return lowest;
}

double lowpass_width(const ChannelScreen& screen) {
    return (screen.moire.empty() ? kDescreenWidth : kRosetteWidth) * screen.frequency;
}

double narrowest_lowpass(const Screens& screens) {
    double narrowest = kDescreenWidth;  // (as for a screen of frequency 1)
    for (const ChannelScreen& s : screens) narrowest = s.frequency > 0 ? std::min(narrowest, lowpass_width(s)) : narrowest;
    return narrowest;
}

void carry_fills(LogMagnitudes& to, const LogMagnitudes& found, const LogMagnitudes& filled) {
    if (found.values == filled.values) return;
    const host::SpectrumGeometry& g = to.geometry;
    // A sample's frequency is its column's along u and its row's along v, each wrapped on its own:
    // the nearest sample of `found` is looked up by column and by row (but for a column whose
    // frequency wraps below zero, whose nearest sample in a half spectrum is the mirror's).
    std::vector<int32_t> column(std::size_t(g.columns), -1), row(std::size_t(g.rows), -1);
    int32_t y = 0, x = 0;
    for (int32_t i = 0; i < g.columns; ++i)
        if (const Frequency f = frequency_of(g, 0, i); wrapped(f).u >= 0 && sample_index(found.geometry, {f.u, 0}, y, x))
            column[std::size_t(i)] = x;
    for (int32_t i = 0; i < g.rows; ++i)
        if (sample_index(found.geometry, {0, frequency_of(g, i, 0).v}, y, x)) row[std::size_t(i)] = y;
    for (int32_t ty = 0; ty < g.rows; ++ty)
        for (int32_t tx = 0; tx < g.columns; ++tx) {
            int32_t fy = row[std::size_t(ty)], fx = column[std::size_t(tx)];
            if ((fy < 0 || fx < 0) && !sample_index(found.geometry, frequency_of(g, ty, tx), fy, fx)) continue;
            for (int32_t c = 0; c < g.channels; ++c) {
                const float lowered = filled.at(c, fy, fx) - found.at(c, fy, fx);
                if (lowered < 0) to.at(c, ty, tx) = std::max(kAbsent, to.at(c, ty, tx) + lowered);
            }
        }
}

int64_t descreen(LogMagnitudes& m, const Screens& screens, double keep, const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    const double least2 = floor2(g);
    const std::size_t plane = std::size_t(g.rows) * std::size_t(g.columns);
    int64_t changed = 0;
    std::vector<double> copies(plane);
    for (int32_t c = 0; c < g.channels && c < 3; ++c) {
        const ChannelScreen& s = screens[std::size_t(c)];
        if (s.frequency == 0) continue;
        // The copies' power over the picture's, sum_k weight_k / |q - k|^2, added up about each
        // point within its reach (a sample holds q and its mirror: about k covers -k too).
        std::fill(copies.begin(), copies.end(), 0.0);
        const int32_t rx = int32_t(std::ceil(s.reach * g.period_x)), ry = int32_t(std::ceil(s.reach * g.rows));
        // The falloff over the reach, the same about every point.
        std::vector<double> falloff(std::size_t(2 * ry + 1) * std::size_t(2 * rx + 1));
        for (int32_t dy = -ry; dy <= ry; ++dy)
            for (int32_t dx = -rx; dx <= rx; ++dx) {
                const Frequency d{double(dx) / g.period_x, double(dy) / g.rows};
                falloff[std::size_t(dy + ry) * std::size_t(2 * rx + 1) + std::size_t(dx + rx)] =
                    std::pow(d.u * d.u + d.v * d.v + least2, s.falloff / 2);
            }
        for (std::size_t i = 0; i < s.points.size(); ++i) {
            if (s.weights[i] == 0) continue;  // a copy too faint to weigh adds nothing
            for (int32_t dy = -ry; dy <= ry; ++dy)
                for (int32_t dx = -rx; dx <= rx; ++dx) {
                    const Frequency d{double(dx) / g.period_x, double(dy) / g.rows};
                    int32_t y = 0, x = 0;
                    if (!sample_index(g, {s.points[i].u + d.u, s.points[i].v + d.v}, y, x)) continue;
                    copies[std::size_t(y) * g.columns + x] +=
                        t.copy_share * s.weights[i] / falloff[std::size_t(dy + ry) * std::size_t(2 * rx + 1) + std::size_t(dx + rx)];
                }
        }
        const double width = lowpass_width(s);
        const double per_unit = -0.5 / (width * width) / std::numbers::ln10;  // log10 gain per frequency squared
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x) {
                const Frequency f = frequency_of(g, y, x);
                const double beyond = std::hypot(f.u, f.v) - keep;
                if (beyond <= 0) continue;
                const double q2 = f.u * f.u + f.v * f.v + least2, near = copies[std::size_t(y) * g.columns + x];
                // (Where no copy reaches, the second term is log10(1), 0.)
                const double log_gain = per_unit * beyond * beyond - (near == 0 ? 0.0 : std::log10(1 + std::pow(q2, s.falloff / 2) * near));
                float& v = m.at(c, y, x);
                v = std::max(kAbsent, v + static_cast<float>(log_gain));
                ++changed;
            }
        // The gain's floor at a lattice point is finite, and the copy there is that of the
        // picture's mean, far above what the falloff puts there: where it still stands out of its
        // surroundings, it is lowered to them, as the moire is. So is a point whose copy is too
        // faint to weigh: in a channel an ink darkens nearly all over (a shadow), the picture holds
        // little but the scanner's noise, and the dots' lattice, that of the ink's small holes,
        // stands out of it all the same. (Samples the gain has counted.)
        lower_standing(m, c, s.moire, t);
        lower_standing(m, c, s.points, t);
    }
    return changed;
}

}  // namespace quen::cleaning
