// Sweeping waves: fitted along their ridge and rebuilt from their envelope.
#include "sweeps.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "smooth.h"

namespace quen::cleaning {
namespace {

// A linear sweep along direction (cu, cv) from frequency `start` where the frame begins to `end`
// where it ends, in cycles per pixel.
struct Sweep {
    double cu = 1, cv = 0, s0 = 0, span = 1, start = 0, end = 0;
    double phase(double y, double x) const {
        const double s = cu * x + cv * y - s0;
        return 2 * std::numbers::pi * s * (start + (end - start) * s / (2 * span));
    }
    // exp(i phase) along row y: the phase is a quadratic in x, so each step turns by a
    // rotation that itself turns by a fixed amount.
    void row(int32_t y, int32_t cols, std::vector<std::complex<double>>& out) const {
        out.resize(static_cast<std::size_t>(cols));
        std::complex<double> w = std::polar(1.0, phase(y, 0)), r = std::polar(1.0, phase(y, 1) - phase(y, 0));
        const std::complex<double> turn = std::polar(1.0, 2 * std::numbers::pi * (end - start) / span * cu * cu);
        for (int32_t x = 0; x < cols; ++x, w *= r, r *= turn) out[std::size_t(x)] = w;
    }
};

// The envelope of the sweep in `band` (planes 0..2, or their sum for plane -1), smoothed.
Plane envelope(const host::Image& band, const Sweep& sweep, int32_t plane, const Thresholds& t) {
    Plane e(static_cast<std::size_t>(band.rows) * band.cols);
    std::vector<std::complex<double>> turns;
    for (int32_t y = 0; y < band.rows; ++y) {
        sweep.row(y, band.cols, turns);
        for (int32_t x = 0; x < band.cols; ++x) {
            double v = 0;
            for (int32_t c = plane < 0 ? 0 : plane; c <= (plane < 0 ? 2 : plane); ++c) v += band.get<float>(y, x, c);
            e[std::size_t(y) * band.cols + x] = std::complex<float>(v * std::conj(turns[std::size_t(x)]));
        }
    }
    smooth(e, band.rows, band.cols, t.chirp_smooth);
    return e;
}

// Whether sample i lies in one of the groups (marked by group number) or on its ridge.
bool on_sweep(const Detection& d, const std::vector<uint8_t>& groups, std::size_t i) {
    return groups[static_cast<std::size_t>(d.group[i])] || groups[static_cast<std::size_t>(d.ridge[i])];
}

// The band about the peak's group, brought back to the picture: the picture less the picture
// with the band notched out. (A spectrum picture's magnitudes cannot go below one over the
// samples counted, so a spectrum with everything but the band removed would come back with the
// phases of all the rest.) Only the samples from `lowest` to `highest` (cycles per pixel) are
// taken when these are given. The samples of other peaks beside it are left out of the band: a
// strong wave there would lend it a steady phase and be taken out twice.
host::Image ridge_band(const host::ModuleLibrary& inverse, const host::Image& work, const host::Image& spectrum,
                       const LogMagnitudes& m, const Detection& d, const std::vector<uint8_t>& groups, const Thresholds& t,
                       double lowest = 0, double highest = HUGE_VAL) {
    const host::SpectrumGeometry& g = m.geometry;
    LogMagnitudes notched = m;
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            if (!on_sweep(d, groups, std::size_t(y) * g.columns + x)) continue;
            const Frequency f = frequency_of(g, y, x);
            if (const double r = std::hypot(f.u, f.v); r < lowest || r > highest) continue;
            for (int32_t ny = std::max(0, y - t.chirp_band); ny <= std::min(g.rows - 1, y + t.chirp_band); ++ny)
                for (int32_t nx = std::max(0, x - t.chirp_band); nx <= std::min(g.columns - 1, x + t.chirp_band); ++nx) {
                    const int32_t other = d.group[std::size_t(ny) * g.columns + nx];
                    if (other > 0 && !groups[static_cast<std::size_t>(other)]) continue;  // another peak's
                    for (int32_t c = 0; c < g.channels; ++c) notched.at(c, ny, nx) = kAbsent;
                }
        }
    host::Image band = back_to_picture(inverse, spectrum, notched);
    for (int32_t y = 0; y < band.rows; ++y)
        for (int32_t x = 0; x < band.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) band.set<float>(y, x, c, work.get<float>(y, x, c) - band.get<float>(y, x, c));
    return band;
}

// The frequencies of a ridge (cycles per pixel): all of them, and those that hold its energy but
// for its tenth at either end. The leakage of a sweep's ends at the frame's borders widens its peak
// by a few samples either way, and a ridge followed on past a slow sweep into the picture's own
// edges reaches further still.
struct RidgeSpan {
    double lowest = 0, highest = 0;
    double energy_lo = 0, energy_hi = 0;
};

// The direction of the sweep in the groups (and their ridges) and where the frame begins and ends
// along it, from the ridge's excess energy; `span` receives the ridge's frequencies. None when the
// ridge holds no excess energy.
std::optional<Sweep> sweep_direction(const LogMagnitudes& m, const Detection& d, const std::vector<uint8_t>& groups,
                                     int32_t rows, int32_t cols, RidgeSpan& span) {
    const host::SpectrumGeometry& g = m.geometry;
    const std::size_t plane = static_cast<std::size_t>(g.rows) * g.columns;
    std::vector<std::pair<double, double>> radii;  // frequency, energy
    double du = 0, dv = 0, total = 0;
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            const std::size_t i = std::size_t(y) * g.columns + x;
            if (!on_sweep(d, groups, i)) continue;
            double w = 0;
            for (int32_t c = 0; c < g.channels; ++c)
                w += std::max(0.0, std::pow(10.0, 2.0 * m.values[plane * c + i]) - std::pow(10.0, 2.0 * d.background[plane * c + i]));
            const Frequency f = frequency_of(g, y, x);
            const double r = std::hypot(f.u, f.v);
            du += w * f.u / r;
            dv += w * f.v / r;
            total += w;
            radii.push_back({r, w});
        }
    if (total <= 0) return std::nullopt;
    Sweep sweep;
    const double norm = std::hypot(du, dv);
    sweep.cu = du / norm;
    sweep.cv = dv / norm;
    double s_min = HUGE_VAL, s_max = -HUGE_VAL;
    for (const double y : {0.0, rows - 1.0})
        for (const double x : {0.0, cols - 1.0}) {
            s_min = std::min(s_min, sweep.cu * x + sweep.cv * y);
            s_max = std::max(s_max, sweep.cu * x + sweep.cv * y);
        }
    sweep.s0 = s_min;
    sweep.span = std::max(1.0, s_max - s_min);
    std::sort(radii.begin(), radii.end());
    span.lowest = radii.front().first;
    span.highest = radii.back().first;
    double below = 0;
    for (const auto& [r, w] : radii) {
        below += w;
        if (span.energy_lo == 0 && below >= 0.1 * total) span.energy_lo = r;
        if (span.energy_hi == 0 && below >= 0.9 * total) span.energy_hi = r;
    }
    return sweep;
}

// The sweep's frequencies where the frame begins and ends along it, fitted to the band: the band
// summed across its direction (the wave is the same along each line across it), in bins of half a
// pixel; then in windows along it the strongest frequency, and a straight line through those.
// False when no line fits.
bool fit_sweep(const host::Image& band, Sweep& sweep, double lowest, double highest, const Thresholds& t) {
    const int32_t window = t.chirp_window;
    const int32_t bins = static_cast<int32_t>(std::lround(2 * sweep.span)) + 1;
    std::vector<double> profile(static_cast<std::size_t>(bins), 0), count(profile.size(), 0);
    for (int32_t y = 0; y < band.rows; ++y)
        for (int32_t x = 0; x < band.cols; ++x) {
            const std::size_t b = static_cast<std::size_t>(std::lround(2 * (sweep.cu * x + sweep.cv * y - sweep.s0)));
            profile[b] += band.get<float>(y, x, 0) + band.get<float>(y, x, 1) + band.get<float>(y, x, 2);
            count[b] += 1;
        }
    double sw = 0, ss = 0, sf = 0, sss = 0, ssf = 0;
    const double f_lo = 0.9 * lowest, f_hi = std::min(0.5, 1.1 * highest);
    for (int32_t at = 0; at + window <= bins; at += window / 2) {
        double best_f = 0, best_power = 0, mean = 0, filled = 0;
        for (int32_t b = at; b < at + window; ++b)
            if (count[std::size_t(b)] > 0) {
                mean += profile[std::size_t(b)] / count[std::size_t(b)];
                ++filled;
            }
        mean /= std::max(1.0, filled);
        for (double f = f_lo; f <= f_hi; f += 0.25 / window) {
            std::complex<double> sum = 0;
            for (int32_t b = at; b < at + window; ++b)
                if (count[std::size_t(b)] > 0)
                    sum += (profile[std::size_t(b)] / count[std::size_t(b)] - mean) * std::polar(1.0, -std::numbers::pi * f * b);
            if (std::norm(sum) > best_power) {
                best_power = std::norm(sum);
                best_f = f;
            }
        }
        const double s = 0.5 * (at + window / 2.0);
        sw += best_power;
        ss += best_power * s;
        sf += best_power * best_f;
        sss += best_power * s * s;
        ssf += best_power * s * best_f;
    }
    const double det = sw * sss - ss * ss;
    if (sw <= 0 || det <= 0) return false;
    const double slope = (sw * ssf - ss * sf) / det, offset = (sf - slope * ss) / sw;
    sweep.start = offset;
    sweep.end = offset + slope * sweep.span;
    return true;
}

// Whether an envelope keeps one phase and one level across the frame, as a wave drifting across
// it does: the frame cut into a grid of tiles and each tile's mean envelope. Its phase: of every
// two neighbouring tiles the product of one with the other's conjugate, the modulus of their sum
// over the sum of their moduli (near 1 for a drifting wave, turning slowly where the fit is off;
// about 0.2-0.7 for the picture's own detail in the band, whose phase wanders from tile to tile).
// Its level: the tiles' moduli, their mean squared over their mean square (1 when alike, a
// quarter for a pattern in a quarter of the frame).
bool steady_across(const Plane& envelope, int32_t rows, int32_t cols, const Thresholds& t) {
    const int32_t n = t.chirp_grid;
    std::vector<std::complex<double>> tile(static_cast<std::size_t>(n) * n);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            tile[std::size_t(y * n / rows) * n + x * n / cols] += std::complex<double>(envelope[std::size_t(y) * cols + x]);
    std::complex<double> turns = 0;
    double moduli = 0, level = 0, power = 0;
    const auto pair = [&](std::size_t a, std::size_t b) {
        turns += tile[a] * std::conj(tile[b]);
        moduli += std::abs(tile[a]) * std::abs(tile[b]);
    };
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j) {
            const std::size_t k = std::size_t(i) * n + j;
            if (j + 1 < n) pair(k, k + 1);
            if (i + 1 < n) pair(k, k + std::size_t(n));
            level += std::abs(tile[k]);
            power += std::norm(tile[k]);
        }
    return moduli > 0 && std::abs(turns) >= t.chirp_steady * moduli && level * level >= t.chirp_even * n * n * power;
}

// Whether the sweep explains the band: it runs through most of the ridge's frequencies (a sweep
// that hardly moves along a ridge spanning many is the picture's own: a panned shot's streaks keep
// most of their energy at the ridge's low end; a wave of one frequency would have been fitted as a
// sinusoid, and one that runs through less than a sample is one frequency), and its envelope holds
// most of the band's energy (a pure sweep's holds half). A sweep that runs through the frequencies
// holding most of the energy but not the whole ridge (a slow sweep, its peak broadened by
// leakage), or one of a broad peak without a ridge, must explain more of its band. The narrow
// band of a compact peak holds little but a slowly changing wave, the picture's own too, so the
// share says little there: its sweep must keep one phase and one level across the frame.
bool sweep_explains(const host::Image& band, const Sweep& sweep, const RidgeSpan& ridge, SweepPeak peak, const Thresholds& t) {
    const double swept = std::fabs(sweep.end - sweep.start);
    const bool whole_ridge = swept >= t.chirp_covers * (ridge.highest - ridge.lowest);
    if ((!whole_ridge && swept < t.chirp_covers * (ridge.energy_hi - ridge.energy_lo)) || swept * sweep.span < t.chirp_least)
        return false;
    const Plane e = envelope(band, sweep, -1, t);
    double held = 0, band_energy = 0;
    for (const std::complex<float>& v : e) held += std::norm(v);
    for (int32_t y = 0; y < band.rows; ++y)
        for (int32_t x = 0; x < band.cols; ++x) {
            const double v = double(band.get<float>(y, x, 0)) + band.get<float>(y, x, 1) + band.get<float>(y, x, 2);
            band_energy += v * v;
        }
    const double share = 2 * held / band_energy;
    if (share < t.chirp_explains) return false;
    if (peak == SweepPeak::Compact) return steady_across(e, band.rows, band.cols, t);
    return (peak == SweepPeak::Ridge && whole_ridge) || share >= t.chirp_explains_slow;
}

// Whether a slow sweep explains the band of its own frequencies. A slow sweep leaves no ridge of its
// own: its direction's band holds the other peaks of that direction too (the picture's own, at other
// frequencies), which it is not asked to explain. So the band is cut to the frequencies the sweep
// runs through, widened by its leakage (chirp_leakage samples, or a tenth of the lowest), when
// that keeps the middle of the ridge's energy.
bool explains_its_frequencies(const host::ModuleLibrary& inverse, const host::Image& analysed, const host::Image& spectrum,
                              const LogMagnitudes& m, const Detection& d, const std::vector<uint8_t>& groups,
                              const Sweep& sweep, const RidgeSpan& ridge, const Thresholds& t) {
    const double lo = std::min(sweep.start, sweep.end), hi = std::max(sweep.start, sweep.end);
    const double leakage = std::max(t.chirp_leakage * sample_step(m.geometry), 0.1 * lo);
    if (ridge.lowest >= lo - leakage && ridge.highest <= hi + leakage) return false;  // nothing to cut
    if (ridge.energy_lo < lo - leakage || ridge.energy_hi > hi + leakage) return false;
    return sweep_explains(ridge_band(inverse, analysed, spectrum, m, d, groups, t, lo - leakage, hi + leakage), sweep, ridge, SweepPeak::Broad, t);
}

// Subtracts the sweep, each channel's envelope times its phase, from the picture.
void subtract_sweep(host::Image& work, const host::Image& band, const Sweep& sweep, const Thresholds& t) {
    for (int32_t c = 0; c < 3; ++c) {
        const Plane e = envelope(band, sweep, c, t);
        std::vector<std::complex<double>> turns;
        for (int32_t y = 0; y < work.rows; ++y) {
            sweep.row(y, work.cols, turns);
            for (int32_t x = 0; x < work.cols; ++x) {
                const double wave = std::real(std::complex<double>(e[std::size_t(y) * work.cols + x]) * turns[std::size_t(x)]);
                work.set<float>(y, x, c, static_cast<float>(work.get<float>(y, x, c) - 2 * wave));
            }
        }
    }
}

}  // namespace

bool subtract_chirp(host::Image& work, const host::Image& analysed, const host::ModuleLibrary& inverse,
                    const host::Image& spectrum, const LogMagnitudes& m, const Detection& d,
                    const std::vector<uint8_t>& groups, SweepPeak peak, const Thresholds& t) {
    RidgeSpan ridge;
    std::optional<Sweep> sweep = sweep_direction(m, d, groups, work.rows, work.cols, ridge);
    if (!sweep) return false;
    const host::Image band = ridge_band(inverse, analysed, spectrum, m, d, groups, t);
    if (!fit_sweep(band, *sweep, ridge.lowest, ridge.highest, t)) return false;
    if (!sweep_explains(band, *sweep, ridge, peak, t) &&
        !(peak != SweepPeak::Ridge && explains_its_frequencies(inverse, analysed, spectrum, m, d, groups, *sweep, ridge, t)))
        return false;
    subtract_sweep(work, band, *sweep, t);
    return true;
}

std::vector<uint8_t> same_direction(const Detection& d, const Peak& p, const Thresholds& t) {
    std::vector<uint8_t> along(d.group.empty() ? 1 : static_cast<std::size_t>(*std::max_element(d.group.begin(), d.group.end())) + 1, 0);
    for (const Peak& q : d.peaks) {
        const double apart = std::fabs(q.angle - p.angle);
        if (std::min(apart, 180 - apart) <= t.chirp_angle) along[static_cast<std::size_t>(q.group)] = 1;
    }
    return along;
}

}  // namespace quen::cleaning
