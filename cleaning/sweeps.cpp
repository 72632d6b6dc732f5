// Sweeping waves: fitted along their ridge and rebuilt from their envelope.
#include "sweeps.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <tuple>

#include "products.h"
#include "smooth.h"
#include "tones.h"

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
        for (int32_t x = 0; x < cols; ++x, w = times(w, r), r = times(r, turn)) out[std::size_t(x)] = w;
    }
};

// A sweep in direction (du, dv), where the frame of rows x columns begins and ends along it.
Sweep along(double du, double dv, int32_t rows, int32_t cols) {
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
    return sweep;
}

// The envelope of the sweep in `band` (planes 0..2, or their sum for plane -1), smoothed over
// `radius` pixels; `added` (by sample, when given) is added to the band's plane first. With a
// `step` above 1, only every step-th sample of every step-th row (a plane that much smaller each
// way, smoothed over as many pixels).
Plane envelope(const host::Image& band, const Sweep& sweep, int32_t plane, int32_t radius, const RealPlane* added = nullptr,
               int32_t step = 1) {
    const int32_t rows = (band.rows + step - 1) / step, cols = (band.cols + step - 1) / step;
    Plane e(static_cast<std::size_t>(rows) * cols);
    std::vector<std::complex<double>> turns;
    for (int32_t y = 0; y < rows; ++y) {
        sweep.row(y * step, band.cols, turns);
        for (int32_t x = 0; x < cols; ++x) {
            double v = added ? (*added)[std::size_t(y * step) * band.cols + std::size_t(x) * step] : 0;
            for (int32_t c = plane < 0 ? 0 : plane; c <= (plane < 0 ? 2 : plane); ++c) v += band.get<float>(y * step, x * step, c);
            e[std::size_t(y) * cols + x] = std::complex<float>(v * std::conj(turns[std::size_t(x) * step]));
        }
    }
    smooth(e, rows, cols, radius / step);
    return e;
}

// Whether sample i lies in one of the groups (marked by group number) or, `with_ridge`, on its ridge.
bool on_sweep(const Detection& d, const std::vector<uint8_t>& groups, std::size_t i, bool with_ridge = true) {
    return groups[static_cast<std::size_t>(d.group[i])] || (with_ridge && groups[static_cast<std::size_t>(d.ridge[i])]);
}

// The band about the peak's group, brought back to the picture: the picture less the picture
// with the band notched out. (A spectrum picture's magnitudes cannot go below one over the
// samples counted, so a spectrum with everything but the band removed would come back with the
// phases of all the rest.) Only the samples from `lowest` to `highest` (cycles per pixel) are
// taken when these are given; without `with_ridge`, only those about the peaks, not their ridges.
// The samples of other peaks beside it are left out of the band: a
// strong wave there would lend it a steady phase and be taken out twice.
host::Image ridge_band(const host::ModuleLibrary& inverse, const host::Image& work, const host::Image& spectrum,
                       const LogMagnitudes& m, const Detection& d, const std::vector<uint8_t>& groups, const Thresholds& t,
                       double lowest = 0, double highest = HUGE_VAL, bool with_ridge = true) {
    const host::SpectrumGeometry& g = m.geometry;
    LogMagnitudes notched = m;
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            if (!on_sweep(d, groups, std::size_t(y) * g.columns + x, with_ridge)) continue;
            const Frequency f = frequency_of(g, y, x);
            if (const double r = std::hypot(f.u, f.v); r < lowest || r > highest) continue;
            for (int32_t ny = std::max(0, y - t.chirp_band); ny <= std::min(g.rows - 1, y + t.chirp_band); ++ny)
                for (int32_t nx = std::max(0, x - t.chirp_band); nx <= std::min(g.columns - 1, x + t.chirp_band); ++nx) {
                    const int32_t other = d.group[std::size_t(ny) * g.columns + nx];
                    if (other > 0 && !groups[static_cast<std::size_t>(other)]) continue;  // another peak's
                    for (int32_t c = 0; c < g.channels; ++c) notched.at(c, ny, nx) = kAbsent;
                    // (with its mirror: with only one of the two notched, the band came back
                    // with half the wave)
                    if (int32_t my = 0; mirror_row(g, ny, nx, my))
                        for (int32_t c = 0; c < g.channels; ++c) notched.at(c, my, nx) = kAbsent;
                }
        }
    host::Image band = back_to_picture(inverse, spectrum, notched, work.rows);
    // The two float pictures are laid out alike: taken apart sample by sample in memory order.
    for (std::size_t i = 0; i < band.data.size(); i += sizeof(float)) {
        float w, b;
        std::memcpy(&w, work.data.data() + i, sizeof(float));
        std::memcpy(&b, band.data.data() + i, sizeof(float));
        b = w - b;
        std::memcpy(band.data.data() + i, &b, sizeof(float));
    }
    return band;
}

// The frequencies of a ridge (cycles per pixel): all of them, and those that hold its energy but
// for its tenth at either end. The leakage of a sweep's ends at the frame's borders widens its peak
// by a few samples either way, and a ridge followed on past a slow sweep into the picture's own
// edges reaches further still.
struct RidgeSpan {
    double lowest = 0, highest = 0;
    double energy_lo = 0, energy_hi = 0;
    std::vector<std::pair<double, double>> samples;  // frequency, excess energy; by frequency

    // The span of the samples outside the frequencies from `lo` to `hi`.
    RidgeSpan without(double lo, double hi) const {
        RidgeSpan kept;
        for (const auto& sample : samples)
            if (sample.first < lo || sample.first > hi) kept.samples.push_back(sample);
        kept.measure();
        return kept;
    }
    // Its frequencies, and those that hold its energy but for its tenth at either end.
    void measure() {
        if (samples.empty()) return;
        lowest = samples.front().first;
        highest = samples.back().first;
        double total = 0, below = 0;
        for (const auto& [r, w] : samples) total += w;
        for (const auto& [r, w] : samples) {
            below += w;
            if (energy_lo == 0 && below >= 0.1 * total) energy_lo = r;
            if (energy_hi == 0 && below >= 0.9 * total) energy_hi = r;
        }
    }
};

// The direction of the sweep in the groups (and their ridges) and where the frame begins and ends
// along it, from the ridge's excess energy; `span` receives the ridge's frequencies. None when the
// ridge holds no excess energy. Each sample's direction is turned to the half of the plane its
// strongest sample lies in: beside an axis the half spectrum holds a wave and its mirror on one
// line (the column of zero horizontal frequency), whose directions would cancel.
std::optional<Sweep> sweep_direction(const LogMagnitudes& m, const Detection& d, const std::vector<uint8_t>& groups,
                                     int32_t rows, int32_t cols, RidgeSpan& span, bool with_ridge = true) {
    const host::SpectrumGeometry& g = m.geometry;
    const std::size_t plane = static_cast<std::size_t>(g.rows) * g.columns;
    std::vector<std::pair<double, double>> radii;  // frequency, energy
    std::vector<std::pair<Frequency, double>> directions;  // unit direction, energy
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            const std::size_t i = std::size_t(y) * g.columns + x;
            if (!on_sweep(d, groups, i, with_ridge)) continue;
            double w = 0;
            for (int32_t c = 0; c < g.channels; ++c)
                w += excess_energy(m, d.background, plane * c + i);
            const Frequency f = frequency_of(g, y, x);
            const double r = std::hypot(f.u, f.v);
            directions.push_back({{f.u / r, f.v / r}, w});
            radii.push_back({r, w});
        }
    double du = 0, dv = 0, total = 0;
    const auto strongest = std::max_element(directions.begin(), directions.end(),
                                            [](const auto& a, const auto& b) { return a.second < b.second; });
    for (const auto& [f, w] : directions) {
        const double side = strongest == directions.end() || f.u * strongest->first.u + f.v * strongest->first.v >= 0 ? w : -w;
        du += side * f.u;
        dv += side * f.v;
        total += w;
    }
    if (total <= 0) return std::nullopt;
    const Sweep sweep = along(du, dv, rows, cols);
    std::sort(radii.begin(), radii.end());
    span = {};
    span.samples = std::move(radii);
    span.measure();
    return sweep;
}

// The profile along a sweep (in bins of half a pixel, `count` samples each) turned back by the
// sweep's phase and summed over windows of chirp_window bins, one every quarter window: what is
// left of the wave in each is the phase the sweep is off by there, and its power how much of the
// wave the sweep gathers there. By the bin at the window's middle.
std::vector<std::pair<std::size_t, std::complex<double>>> turned_back(const std::vector<double>& profile,
                                                                      const std::vector<double>& count,
                                                                      const Sweep& sweep, const Thresholds& t) {
    const std::size_t bins = profile.size();
    const double rate = (sweep.end - sweep.start) / (2 * sweep.span);
    std::vector<std::complex<double>> sum(bins + 1);
    for (std::size_t b = 0; b < bins; ++b) {
        const double s = 0.5 * double(b);
        sum[b + 1] = sum[b];
        if (count[b] > 0) sum[b + 1] += profile[b] / count[b] * std::polar(1.0, -2 * std::numbers::pi * s * (sweep.start + rate * s));
    }
    const std::size_t half = static_cast<std::size_t>(t.chirp_window / 2);
    std::vector<std::pair<std::size_t, std::complex<double>>> windows;
    for (std::size_t b = half; b + half < bins; b += half / 2) windows.push_back({b, sum[b + half] - sum[b - half]});
    return windows;
}

// The power of a sweep's windows (turned_back) together.
double gathered(const std::vector<std::pair<std::size_t, std::complex<double>>>& windows) {
    double power = 0;
    for (const auto& [b, v] : windows) power += std::norm(v);
    return power;
}

// Refines a sweep's frequencies by its phase: the profile along it turned back by the sweep's
// phase in windows (turned_back) leaves the phase the sweep is off by, which a quadratic in the
// distance along it (the phase of a linear sweep) fitted by least squares, weighted by the
// windows' power, turns into corrections of both frequencies. The frequencies in windows that the
// fit starts from are only as fine as a window allows, and a faint ridge may show only part of
// the frequencies the wave runs through. False, leaving the sweep alone, when the corrected one
// would leave the frequencies searched, widened by chirp_refine_reach, and gathers no more of the
// profile's power than the sweep it corrects: a fast sweep's slow end lies beneath the picture's
// own energy, off its ridge, and only the wave's phase along the frame tells where it runs.
bool refine_sweep(const std::vector<double>& profile, const std::vector<double>& count, Sweep& sweep, double f_lo,
                  double f_hi, const Thresholds& t) {
    const auto windows = turned_back(profile, count, sweep, t);
    double w = 0, ws = 0, wss = 0, wsss = 0, wssss = 0, wp = 0, wsp = 0, wssp = 0, last = 0;
    std::complex<double> previous = 0;
    for (const auto& [b, v] : windows) {
        const double weight = std::norm(v);
        if (weight <= 0) continue;
        // Unwrapped: each step turns by less than half a turn from the one before.
        const double phase = previous == 0.0 ? std::arg(v) : last + std::arg(v * std::conj(previous));
        previous = v;
        last = phase;
        const double s = 0.5 * double(b) / sweep.span;  // 0..1 along the frame
        w += weight;
        ws += weight * s;
        wss += weight * s * s;
        wsss += weight * s * s * s;
        wssss += weight * s * s * s * s;
        wp += weight * phase;
        wsp += weight * s * phase;
        wssp += weight * s * s * phase;
    }
    // The normal equations of phase = a + b s + c s^2.
    const double m[3][4] = {{w, ws, wss, wp}, {ws, wss, wsss, wsp}, {wss, wsss, wssss, wssp}};
    const auto det3 = [](double a00, double a01, double a02, double a10, double a11, double a12, double a20, double a21, double a22) {
        return a00 * (a11 * a22 - a12 * a21) - a01 * (a10 * a22 - a12 * a20) + a02 * (a10 * a21 - a11 * a20);
    };
    const double d = det3(m[0][0], m[0][1], m[0][2], m[1][0], m[1][1], m[1][2], m[2][0], m[2][1], m[2][2]);
    if (!(std::fabs(d) > 0)) return false;
    const double b1 = det3(m[0][0], m[0][3], m[0][2], m[1][0], m[1][3], m[1][2], m[2][0], m[2][3], m[2][2]) / d;
    const double c1 = det3(m[0][0], m[0][1], m[0][3], m[1][0], m[1][1], m[1][3], m[2][0], m[2][1], m[2][3]) / d;
    // Over s = distance / span: a frequency change of b / (2 pi span) at the start, and the
    // sweep's rate changed by c / (2 pi span^2).
    const double start = sweep.start + b1 / (2 * std::numbers::pi * sweep.span);
    const double end = start + (sweep.end - sweep.start) + c1 / (std::numbers::pi * sweep.span);
    Sweep refined = sweep;
    refined.start = start;
    refined.end = end;
    if (std::min(start, end) <= 0 || std::max(start, end) > 0.5) return false;
    if ((std::min(start, end) < t.chirp_refine_reach * f_lo || std::max(start, end) > f_hi / t.chirp_refine_reach) &&
        !(gathered(turned_back(profile, count, refined, t)) > gathered(windows)))
        return false;
    sweep = refined;
    return true;
}

// The sweep's frequencies where the frame begins and ends along it, fitted to the band: the band
// summed across its direction (the wave is the same along each line across it), in bins of half a
// pixel; then in windows along it the strongest frequency, and a straight line through those.
// False when no line fits. Every `every`-th row is summed (a first look takes every other).
bool fit_sweep(const host::Image& band, Sweep& sweep, double lowest, double highest, const Thresholds& t, int32_t every = 1) {
    const int32_t window = t.chirp_window;
    const int32_t bins = static_cast<int32_t>(std::lround(2 * sweep.span)) + 1;
    std::vector<double> profile(static_cast<std::size_t>(bins), 0), count(profile.size(), 0);
    for (int32_t y = 0; y < band.rows; y += every)
        for (int32_t x = 0; x < band.cols; ++x) {
            const std::size_t b = static_cast<std::size_t>(std::lround(2 * (sweep.cu * x + sweep.cv * y - sweep.s0)));
            profile[b] += band.get<float>(y, x, 0) + band.get<float>(y, x, 1) + band.get<float>(y, x, 2);
            count[b] += 1;
        }
    double sw = 0, ss = 0, sf = 0, sss = 0, ssf = 0;
    const double f_lo = 0.9 * lowest, f_hi = std::min(0.5, 1.1 * highest);
    // The frequencies tried in every window, and each one's turn at every bin, worked out once:
    // the windows overlap by half, so each bin lies in two of them.
    std::vector<double> tried;
    for (double f = f_lo; f <= f_hi; f += 0.25 / window) tried.push_back(f);
    std::vector<std::complex<double>> turns(tried.size() * std::size_t(bins));
    for (std::size_t k = 0; k < tried.size(); ++k)
        for (int32_t b = 0; b < bins; ++b)
            if (count[std::size_t(b)] > 0) turns[k * std::size_t(bins) + std::size_t(b)] = std::polar(1.0, -std::numbers::pi * tried[k] * b);
    std::vector<double> centred(static_cast<std::size_t>(window));  // the window's profile less its mean
    for (int32_t at = 0; at + window <= bins; at += window / 2) {
        double best_f = 0, best_power = 0, mean = 0, filled = 0;
        for (int32_t b = at; b < at + window; ++b)
            if (count[std::size_t(b)] > 0) {
                mean += profile[std::size_t(b)] / count[std::size_t(b)];
                ++filled;
            }
        mean /= std::max(1.0, filled);
        for (int32_t b = at; b < at + window; ++b)
            if (count[std::size_t(b)] > 0) centred[std::size_t(b - at)] = profile[std::size_t(b)] / count[std::size_t(b)] - mean;
        for (std::size_t k = 0; k < tried.size(); ++k) {
            const std::complex<double>* turn = &turns[k * std::size_t(bins)];
            std::complex<double> sum = 0;
            for (int32_t b = at; b < at + window; ++b)
                if (count[std::size_t(b)] > 0) sum += centred[std::size_t(b - at)] * turn[b];
            if (std::norm(sum) > best_power) {
                best_power = std::norm(sum);
                best_f = tried[k];
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
    for (int32_t round = 0; round < t.chirp_refine; ++round)
        if (!refine_sweep(profile, count, sweep, f_lo, f_hi, t)) break;
    return true;
}

// Whether an envelope keeps one phase and one level across the frame, as a wave drifting across
// it does: the frame cut into a grid of tiles and each tile's mean envelope. Its phase: of every
// two neighbouring tiles the product of one with the other's conjugate, the modulus of their sum
// over the sum of their moduli (near 1 for a drifting wave, turning slowly where the fit is off;
// about 0.2-0.7 for the picture's own detail in the band, whose phase wanders from tile to tile).
// Its level: the tiles' moduli, their mean squared over their mean square (1 when alike, a
// quarter for a pattern in a quarter of the frame).
struct Steadiness {
    double phase = 0, level = 0;
};
// Of the tiles' sums, n x n.
Steadiness steadiness(const std::vector<std::complex<double>>& tile, int32_t n) {
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
    if (moduli <= 0 || power <= 0) return {};
    return {std::abs(turns) / moduli, level * level / (n * n * power)};
}
Steadiness steadiness(const Plane& envelope, int32_t rows, int32_t cols, int32_t n) {
    std::vector<std::complex<double>> tile(static_cast<std::size_t>(n) * n);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            tile[std::size_t(y * n / rows) * n + x * n / cols] += std::complex<double>(envelope[std::size_t(y) * cols + x]);
    return steadiness(tile, n);
}
bool steady_across(const Plane& envelope, int32_t rows, int32_t cols, bool near, const Thresholds& t) {
    const Steadiness s = steadiness(envelope, rows, cols, t.chirp_grid);
    return s.phase >= (near ? t.chirp_near_steady : t.chirp_steady) && s.level >= (near ? t.chirp_near_even : t.chirp_even);
}

// Whether the sweep has the shape of an added wave's, whatever its band holds: no period longer
// than chirp_longest, through chirp_axis_drift of its mean frequency along an axis, and through
// chirp_least samples (chirp_least_tone in place of a tone). The rest of sweep_explains's rules
// weigh the band and its ridge, which a picture's own detail fills as much as the wave does.
// (`frame`: the band, or any picture of the frame's size.)
bool sweep_shaped(const host::Image& frame, const Sweep& sweep, SweepPeak peak, const Thresholds& t) {
    if (std::min(sweep.start, sweep.end) * t.chirp_longest < 1) return false;
    const double swept = std::fabs(sweep.end - sweep.start);
    const double highest = std::max(sweep.start, sweep.end);
    const bool on_axis = std::fabs(sweep.cu) * highest * frame.cols <= kAxisReach || std::fabs(sweep.cv) * highest * frame.rows <= kAxisReach;
    if (on_axis && swept < t.chirp_axis_drift * (sweep.start + sweep.end) / 2) return false;
    return swept * sweep.span >= (peak == SweepPeak::Tone ? t.chirp_least_tone : t.chirp_least);
}

// Whether the sweep explains the band: it runs through most of the ridge's frequencies (a sweep
// that hardly moves along a ridge spanning many is the picture's own: a panned shot's streaks keep
// most of their energy at the ridge's low end; a wave of one frequency would have been fitted as a
// sinusoid, and one that runs through less than a sample is one frequency), and its envelope holds
// most of the band's energy (a pure sweep's holds half). A sweep that runs through the frequencies
// holding most of the energy but not the whole ridge (a slow sweep, its peak broadened by
// leakage), or one of a broad peak without a ridge, must explain more of its band. The narrow
// band of a compact peak holds little but a slowly changing wave, the picture's own too, so the
// share says little there: its sweep must keep one phase and one level across the frame. One in
// place of a tone that explains the peak must run through chirp_least_tone samples: the picture's
// own detail in the band draws the fit of one wave by about a sample. A sweep
// that keeps them needs only chirp_explains_steady of its band, whatever its peak: the samples
// pinned at black or white cut a wave's swing short, and leave the rest of it in the band. Where
// they cut it short in patches (a `pinned` share of the picture's samples at black or white), the
// band holds what an envelope smoothed so widely cannot follow; so a sweep that keeps one phase and
// one level as steadily as chirp_near_steady and chirp_near_even needs that share less of its band
// but for a ridge's (whose band holds the picture's own edges along the direction too). No
// sweep of a period longer than chirp_longest explains its band: the envelope, smoothed over
// chirp_smooth, holds whatever else changes as slowly (the grain of wood, rows of coins). A sweep
// fitted to the peaks about one frequency alone (`near`), the rest of its direction left out, must
// keep one phase across the frame as steady as chirp_near_steady and a level as even as
// chirp_near_even, whatever its share: a piece cut from the picture's own ridge there keeps one
// phase too, but only where that content is (the streaks of a panned shot, straight across the
// frame in part of it; a pattern of its own over part of the frame), or not quite (the columns of
// a page of text, broken between its lines and words). A sweep along an axis (its peak within
// kAxisReach samples of it, as near_axis tells) must run through chirp_axis_drift of its mean
// frequency: a scan's rows, a video's lines and a screen's harmonics on the axes drift by a few
// per cent at most, and keep one phase and one level across the frame as a wave does.
bool sweep_explains(const host::Image& band, const Sweep& sweep, const RidgeSpan& ridge, SweepPeak peak, const Thresholds& t,
                    bool near, double pinned) {
    if (!sweep_shaped(band, sweep, peak, t)) return false;
    const double swept = std::fabs(sweep.end - sweep.start);
    const bool whole_ridge = swept >= t.chirp_covers * (ridge.highest - ridge.lowest);
    if (!whole_ridge && swept < t.chirp_covers * (ridge.energy_hi - ridge.energy_lo)) return false;
    const Plane e = envelope(band, sweep, -1, t.chirp_smooth);
    double held = 0, band_energy = 0;
    for (const std::complex<float>& v : e) held += std::norm(v);
    for (int32_t y = 0; y < band.rows; ++y)
        for (int32_t x = 0; x < band.cols; ++x) {
            const double v = double(band.get<float>(y, x, 0)) + band.get<float>(y, x, 1) + band.get<float>(y, x, 2);
            band_energy += v * v;
        }
    const double share = 2 * held / band_energy;
    if (!near && peak != SweepPeak::Compact && peak != SweepPeak::Tone && share >= t.chirp_explains &&
        ((peak == SweepPeak::Ridge && whole_ridge) || share >= t.chirp_explains_slow))
        return true;
    if (share >= t.chirp_explains_steady && steady_across(e, band.rows, band.cols, near, t)) return true;
    return peak != SweepPeak::Ridge && share >= t.chirp_explains_steady * (1 - pinned) &&
           steady_across(e, band.rows, band.cols, true, t);
}

// The frequencies about a sweep (cycles per pixel) that its band is cut to: those it runs through,
// widened by its leakage (chirp_leakage samples, or a tenth of the lowest).
std::pair<double, double> leaked_span(const Sweep& sweep, const LogMagnitudes& m, const Thresholds& t) {
    const double lo = std::min(sweep.start, sweep.end), hi = std::max(sweep.start, sweep.end);
    const double leakage = std::max(t.chirp_leakage * sample_step(m.geometry), 0.1 * lo);
    return {lo - leakage, hi + leakage};
}

// The wave of envelope `e`: twice its real part turned by the sweep's phase, by sample.
RealPlane wave_of(const Plane& e, const Sweep& sweep, int32_t rows, int32_t cols) {
    RealPlane wave(e.size());
    std::vector<std::complex<double>> turns;
    for (int32_t y = 0; y < rows; ++y) {
        sweep.row(y, cols, turns);
        for (int32_t x = 0; x < cols; ++x) {
            const std::size_t i = std::size_t(y) * cols + x;
            wave[i] = static_cast<float>(2 * real_of_times(std::complex<double>(e[i]), turns[std::size_t(x)]));
        }
    }
    return wave;
}

// The share of the ground's samples that the sweep's wave in `band` puts where they are
// (ground_agrees): the wave rebuilt from its envelope as it would be taken out (as envelope and
// wave_of rebuild it, but only where a channel lies on the ground), weighed where it stands at
// half its swing there or more (near nought either may hold). With a `step` above 1, a glance:
// only every step-th sample of every step-th row is taken, for the envelope (smoothed over as
// many pixels, fewer samples) and for the share.
double ground_agreement(const host::Image& picture, const Ground& ground, const host::Image& band, const Sweep& sweep,
                        const Thresholds& t, int32_t step = 1) {
    const int32_t rows = (picture.rows + step - 1) / step, cols = (picture.cols + step - 1) / step;
    const Plane e = envelope(band, sweep, -1, t.chirp_rebuild_smooth, nullptr, step);
    std::vector<std::complex<double>> turns;
    double agree = 0, weighed = 0;
    for (int32_t y = 0; y < rows; ++y) {
        sweep.row(y * step, picture.cols, turns);
        for (int32_t x = 0; x < cols; ++x) {
            const std::size_t i = std::size_t(y) * cols + x;
            const uint8_t* ends = &ground.of[(std::size_t(y * step) * picture.cols + std::size_t(x * step)) * 3];
            if (!(ends[0] | ends[1] | ends[2])) continue;
            const float wave = static_cast<float>(2 * real_of_times(std::complex<double>(e[i]), turns[std::size_t(x * step)]));
            if (std::fabs(wave) < std::abs(e[i])) continue;
            for (int32_t c = 0; c < 3; ++c)
                if (const uint8_t end = ends[c]) {
                    agree += ground_agrees(end, picture.value(y * step, x * step, c), wave);
                    ++weighed;
                }
        }
    }
    return weighed > 0 ? agree / weighed : 0;
}

// The wave of channel c of the sweep in `band`. Where the picture `analysed` sits at black or
// white, the wave was cut off by the range and the band holds only what is left of its swing (half
// of it on a flat black ground), and the envelope there comes out too weak. What the wave would
// push past the end, with the picture beneath as held_at_end says, is added back to the band and
// the envelope taken again, sweep_unclip_rounds times. On a flat ground half the swing is cut off,
// and each round takes back half of what is left off; so each round's change is taken
// sweep_unclip_step times over (where less of the swing was cut off, this overshoots, by at most
// half of what was left off).
// Returns whether so refitted: only where the channel has at least sweep_unclip_share of its
// samples at the ends, as a photograph's few highlights cut little off.
// The envelope is smoothed wider here (chirp_rebuild_smooth) than where the sweep is weighed: an
// added wave's envelope changes slowly across the frame, and the wider smoothing averages away more
// of what else lies in the band (the picture's own edges, the swing cut off at black or white).
bool channel_wave(const host::Image& band, const host::Image& analysed, const Sweep& sweep, int32_t c,
                  const std::vector<uint8_t>& ends, const Thresholds& t, RealPlane& wave) {
    const int32_t rows = band.rows, cols = band.cols;
    wave = wave_of(envelope(band, sweep, c, t.chirp_rebuild_smooth), sweep, rows, cols);
    if (ends.empty()) return false;
    float at = 0;
    std::size_t count = 0;
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) count += pinned_at(analysed, ends, y, x, c, at);
    if (double(count) < t.sweep_unclip_share * double(rows) * cols) return false;
    const auto pinned = [&](int32_t y, int32_t x) { return pinned_at(analysed, ends, y, x, c, at); };
    const auto cleaned = [&](int32_t y, int32_t x) {
        return double(analysed.get<float>(y, x, c)) - wave[std::size_t(y) * cols + x];
    };
    RealPlane beyond(wave.size());
    for (int round = 0; round < t.sweep_unclip_rounds; ++round) {
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x) {
                const std::size_t i = std::size_t(y) * cols + x;
                beyond[i] = 0;
                if (!pinned(y, x)) continue;
                const double end = at, w = wave[i];
                const double held = held_at_end(rows, cols, y, x, end, end - w, t.restore_reach, pinned, cleaned);
                beyond[i] = static_cast<float>(end == 0 ? std::min(0.0, held + w) : std::max(0.0, held + w - 1));
            }
        const RealPlane refitted = wave_of(envelope(band, sweep, c, t.chirp_rebuild_smooth, &beyond), sweep, rows, cols);
        for (std::size_t i = 0; i < wave.size(); ++i) wave[i] += float(t.sweep_unclip_step) * (refitted[i] - wave[i]);
    }
    return true;
}

// Subtracts the sweep, each channel's wave, from the picture. Where the wave was refitted to the
// picture unclipped, a sample at black or white that the wave pushed past the end takes what
// held_at_end says the picture held there (as the cleaned picture's will at the end), not the end
// less the whole wave: the searches after this one would find half the wave again there. `unclipped`
// is set when any channel was.
void subtract_sweep(host::Image& work, const host::Image& band, const host::Image& analysed, const Sweep& sweep,
                    const std::vector<uint8_t>& ends, const Thresholds& t, bool& unclipped) {
    RealPlane wave;
    for (int32_t c = 0; c < 3; ++c) {
        const bool refitted = channel_wave(band, analysed, sweep, c, ends, t, wave);
        unclipped = unclipped || refitted;
        for (int32_t y = 0; y < work.rows; ++y)
            for (int32_t x = 0; x < work.cols; ++x)
                work.set<float>(y, x, c, work.get<float>(y, x, c) - wave[std::size_t(y) * work.cols + x]);
        if (refitted) hold_pinned(work, analysed, ends, c, t.restore_reach);
    }
}

// A stretch of a line through the zero frequency whose samples stand above their background
// together, though none alone: where a faint drifting wave spreads its energy.
struct Segment {
    double score = 0;                  // deviations its mean power ratio stands above a natural picture's
    double angle = 0;                  // of its line, radians in the spectrum's samples
    double r0 = 0, r1 = 0;             // its first and last sample's distance from the zero frequency
    double amplitude = 0;              // of the wave that would leave its excess energy (of full scale)
};

// The power of spectrum sample i (by its place in a plane), the channels averaged.
double mean_power(const LogMagnitudes& m, std::size_t i) {
    const host::SpectrumGeometry& g = m.geometry;
    const std::size_t plane = static_cast<std::size_t>(g.rows) * g.columns;
    double sum = 0;
    for (int32_t c = 0; c < g.channels; ++c) sum += std::exp(2 * std::numbers::ln10 * m.values[plane * c + i]);
    return sum / g.channels;
}

// Each sample's power over its background, the channels averaged; negative where the sample is not
// searched: protected, below `lowest`, or in a peak or ridge found already. Beside an axis the
// picture's borders leave lines of their own, far above the background about them, and the
// background there is itself a running median along the line, which a sweep along the axis fills
// when it spreads over a few dozen samples. There a sample's power is taken over the median of its
// line's about it (faint_sweep_axis_window samples either way, each power times its squared
// distance from the zero frequency, as natural power falls about as its inverse square), which a
// smooth line of leakage keeps near one and a drifting wave stands above; `floor` receives that
// median power (the channels averaged) by sample there, and nought elsewhere. The blocks of a
// picture's compression (8 and 16 pixels) leave lines as steady across the frame as any wave at
// their multiples on the axes: the samples there are not searched but passed over (kBlockLine, and
// a `floor` of -1), as a sweep along the axis runs on through them: one drifting 10 % either way
// about 16 px spans them on a frame 512 wide.
constexpr float kBlockLine = -2;
std::vector<float> power_ratios(const LogMagnitudes& m, const Detection& d, double lowest, const Thresholds& t,
                                std::vector<float>& floor) {
    const host::SpectrumGeometry& g = m.geometry;
    const std::size_t plane = static_cast<std::size_t>(g.rows) * g.columns;
    std::vector<float> q(plane, -1);
    floor.assign(plane, 0);
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            const std::size_t i = std::size_t(y) * g.columns + x;
            const Frequency f = frequency_of(g, y, x);
            if (d.group[i] || d.ridge[i] || std::hypot(f.u, f.v) < lowest ||
                std::hypot(x - g.centre_x, y - g.centre_y) < t.protected_samples)
                continue;
            double sum = 0;
            for (int32_t c = 0; c < g.channels; ++c) sum += std::exp(2 * std::numbers::ln10 * (m.values[plane * c + i] - d.background[plane * c + i]));
            q[i] = static_cast<float>(sum / g.channels);
        }
    // The lines beside the axes: (first sample, step between samples, count, samples per cycle).
    struct Line {
        std::size_t first, step;
        int32_t count;
        double centre, per_cycle;
    };
    std::vector<Line> lines;
    for (int32_t y = 0; y < g.rows; ++y)
        if (near_axis_row(g, y)) lines.push_back({std::size_t(y) * g.columns, 1, g.columns, g.centre_x, double(g.period_x)});
    for (int32_t x = 0; x < g.columns; ++x)
        if (near_axis_column(g, x)) lines.push_back({std::size_t(x), std::size_t(g.columns), g.rows, g.centre_y, double(g.rows)});
    std::vector<float> tilted, squared, window;
    // The median taken evenly either side (a sample only with its mirror about k), as the line's
    // fall with distance is only roughly the inverse square.
    const auto level_about = [&](const std::vector<float>& values, int32_t k, int32_t reach) {
        window.clear();
        for (int32_t j = std::max(0, k - reach); j <= std::min(int32_t(values.size()) - 1, k + reach); ++j)
            if (const int32_t mirror = 2 * k - j; values[std::size_t(j)] >= 0 && mirror >= 0 && mirror < int32_t(values.size()) && values[std::size_t(mirror)] >= 0)
                window.push_back(values[std::size_t(j)]);
        return median(window);
    };
    for (const Line& line : lines) {
        tilted.resize(std::size_t(line.count));
        squared.resize(std::size_t(line.count));
        for (int32_t k = 0; k < line.count; ++k) {
            const std::size_t i = line.first + std::size_t(k) * line.step;
            const double dy = double(i / g.columns) - g.centre_y, dx = double(i % g.columns) - g.centre_x;
            squared[std::size_t(k)] = static_cast<float>(dx * dx + dy * dy);
            tilted[std::size_t(k)] = q[i] < 0 ? -1.0f : static_cast<float>(mean_power(m, i) * squared[std::size_t(k)]);
        }
        for (int32_t k = 0; k < line.count; ++k) {
            const std::size_t i = line.first + std::size_t(k) * line.step;
            float& out = q[i];
            if (out < 0) continue;
            const double blocks = std::fabs(k - line.centre) * 16 / line.per_cycle;  // in sixteenths of a cycle per pixel
            if (std::fabs(blocks - std::round(blocks)) * line.per_cycle / 16 <= 1.5) {
                out = kBlockLine;
                floor[i] = -1;
                continue;
            }
            const int32_t reach = std::max(t.faint_sweep_axis_window, static_cast<int32_t>(t.faint_sweep_axis_share * std::fabs(k - line.centre)));
            const float tilt_level = level_about(tilted, k, reach);
            out = tilt_level > 0 ? tilted[std::size_t(k)] / tilt_level : -1;
            if (out > 0) floor[i] = tilt_level / squared[std::size_t(k)];
        }
    }
    return q;
}

// The sample of the segment's line at distance r from the zero frequency, by y * columns + x.
std::size_t segment_sample(const host::SpectrumGeometry& g, const Segment& s, double r) {
    const int32_t y = static_cast<int32_t>(std::lround(g.centre_y + r * std::sin(s.angle)));
    const int32_t x = static_cast<int32_t>(std::lround(g.centre_x + r * std::cos(s.angle)));
    return std::size_t(y) * g.columns + x;
}

// The amplitude of the wave that would leave the segment's excess energy (the channels averaged),
// in units of full scale: over the background, or beside an axis over the `floor` its ratios are
// taken over (power_ratios).
double segment_amplitude(const LogMagnitudes& m, const Detection& d, const std::vector<float>& floor, const Segment& s) {
    const host::SpectrumGeometry& g = m.geometry;
    const std::size_t plane = static_cast<std::size_t>(g.rows) * g.columns;
    double energy = 0;
    for (double r = s.r0; r <= s.r1; ++r) {
        const std::size_t i = segment_sample(g, s, r);
        if (floor[i] < 0) continue;  // a compression block's line, passed over
        if (floor[i] > 0) {
            energy += std::max(0.0, mean_power(m, i) - floor[i]);
            continue;
        }
        double sum = 0;
        for (int32_t c = 0; c < g.channels; ++c) sum += excess_energy(m, d.background, plane * c + i);
        energy += sum / g.channels;
    }
    return 2 * std::sqrt(energy);
}

// The steadiness of a sweep's envelope in `band` at a first look: the band turned back by the
// sweep's phase (every other row) summed by cells a quarter of a tile wide, and each tile's sum
// taken over its cells and those around it, as smoothing the envelope over about a cell before
// summing it by tiles would (an envelope smoothed so is what a sweep is finally weighed by).
Steadiness first_look(const host::Image& band, const Sweep& sweep, const Thresholds& t) {
    const int32_t n = t.chirp_grid, fine = 4 * n;
    std::vector<std::complex<double>> cell(static_cast<std::size_t>(fine) * fine), turns;
    for (int32_t y = 0; y < band.rows; y += 2) {
        sweep.row(y, band.cols, turns);
        std::complex<double>* row = cell.data() + std::size_t(y * fine / band.rows) * fine;
        for (int32_t x = 0; x < band.cols; ++x) {
            const double v = double(band.get<float>(y, x, 0)) + band.get<float>(y, x, 1) + band.get<float>(y, x, 2);
            row[x * fine / band.cols] += v * std::conj(turns[std::size_t(x)]);
        }
    }
    std::vector<std::complex<double>> tile(static_cast<std::size_t>(n) * n);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j)
            for (int32_t y = std::max(0, 4 * i - 1); y < std::min(fine, 4 * i + 5); ++y)
                for (int32_t x = std::max(0, 4 * j - 1); x < std::min(fine, 4 * j + 5); ++x)
                    tile[std::size_t(i) * n + j] += cell[std::size_t(y) * fine + x];
    return steadiness(tile, n);
}

// The strongest segments of the lines through the zero frequency, at most faint_sweep_segments,
// no two on one stretch of one line, each as strong as a wave of amplitude `least` at least. Each
// line (one sample apart at the spectrum's edge) is weighed in windows of a few lengths; a
// window's mean power ratio, whose mean for a natural picture is 1 / ln 2 with as large a
// deviation, counts in deviations of its mean. Beside an axis a wave stands only above its line's
// own level (power_ratios), loud with the frame's borders and the picture's edges along the axis,
// so it counts fewer deviations than one elsewhere above the background, and the picture's own
// stretches elsewhere outrank it: each line's strongest segment among its samples beside an axis
// is weighed too (a line's strongest overall may lie further out), and the strongest beside each
// axis is kept beyond faint_sweep_segments when none of those kept lies beside it. A wave drifting
// along a scan's or a video's rows lies there.
std::vector<Segment> faint_segments(const LogMagnitudes& m, const Detection& d, double lowest, double least, const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    std::vector<float> floor;
    const std::vector<float> ratio = power_ratios(m, d, lowest, t, floor);
    const double reach = std::hypot(double(g.columns), g.rows / 2.0), null = 1 / std::numbers::ln2;
    const int32_t lines = static_cast<int32_t>(std::ceil(std::numbers::pi * reach));
    std::vector<Segment> found;
    std::vector<double> q, at;  // the ratios searched along a line, and their distances from the zero frequency
    for (int32_t a = 0; a <= lines; ++a) {
        const double angle = std::numbers::pi * (double(a) / lines - 0.5), ca = std::cos(angle), sa = std::sin(angle);
        q.clear();
        at.clear();
        for (double r = 1; r <= reach; ++r) {
            const int32_t y = static_cast<int32_t>(std::lround(g.centre_y + r * sa)), x = static_cast<int32_t>(std::lround(g.centre_x + r * ca));
            if (x < 0 || y < 0 || x >= g.columns || y >= g.rows) break;
            if (const float v = ratio[std::size_t(y) * g.columns + x]; v != kBlockLine) {
                q.push_back(v);
                at.push_back(r);
            }
        }
        // The line's strongest segment among its first `count` samples searched.
        const auto strongest = [&](std::size_t count) {
            Segment best;
            for (const int32_t length : {4, 6, 10, 16, 24}) {
                double sum = 0;
                int32_t searched = 0;
                // The sum a window must pass to beat the best score, a little below it: the score
                // itself is only worked out for the few that do.
                const double root = std::sqrt(double(length));
                double beats = (1 - 1e-9) * (best.score / root + 1) * length * null;
                for (std::size_t k = 0; k < count; ++k) {
                    sum += std::max(0.0, q[k]);
                    searched += q[k] >= 0;
                    if (k >= std::size_t(length)) {
                        sum -= std::max(0.0, q[k - length]);
                        searched -= q[k - length] >= 0;
                    }
                    if (sum <= beats || searched < length) continue;
                    const double score = (sum / length / null - 1) * root;
                    if (score > best.score) {
                        best = {score, angle, at[k + 1 - std::size_t(length)], at[k]};
                        beats = (1 - 1e-9) * (best.score / root + 1) * length * null;
                    }
                }
            }
            return best;
        };
        const Segment best = strongest(q.size());
        if (best.score > 0) found.push_back(best);
        // Beside an axis (the first of the line's samples, near it), its strongest there too.
        std::size_t beside = 0;
        while (beside < q.size() && near_axis(g, static_cast<int32_t>(std::lround(g.centre_y + at[beside] * sa)),
                                              static_cast<int32_t>(std::lround(g.centre_x + at[beside] * ca))))
            ++beside;
        if (beside < q.size() && beside > 0)
            if (const Segment near = strongest(beside); near.score > 0 && near.r1 < best.r0) found.push_back(near);
    }
    std::sort(found.begin(), found.end(), [](const Segment& a, const Segment& b) { return a.score > b.score; });
    std::vector<Segment> kept;
    // The axis a segment lies beside all along (0: the rows', 1: the columns'), or none.
    const auto beside_axis = [&](const Segment& s) -> std::optional<int> {
        const std::size_t first = segment_sample(g, s, s.r0), last = segment_sample(g, s, s.r1);
        const auto row = [&](std::size_t i) { return near_axis_row(g, int32_t(i / g.columns)); };
        const auto column = [&](std::size_t i) { return near_axis_column(g, int32_t(i % g.columns)); };
        if (row(first) && row(last)) return 0;
        if (column(first) && column(last)) return 1;
        return std::nullopt;
    };
    bool axis_kept[2] = {};  // whether a segment kept lies beside the axis
    for (const Segment& s : found) {
        const std::optional<int> axis = beside_axis(s);
        if (kept.size() >= t.faint_sweep_segments && (!axis || axis_kept[*axis])) continue;
        const bool near = std::any_of(kept.begin(), kept.end(), [&](const Segment& k) {
            return std::fabs(k.angle - s.angle) * k.r1 < 2 && s.r0 <= k.r1 && k.r0 <= s.r1;
        });
        if (near) continue;
        kept.push_back(s);
        kept.back().amplitude = segment_amplitude(m, d, floor, s);
        if (kept.back().amplitude < least) kept.pop_back();
        else if (axis) axis_kept[*axis] = true;
    }
    return kept;
}

}  // namespace

bool subtract_chirp(host::Image& work, const host::Image& analysed, const FlatEvidence& flat,
                    const host::ModuleLibrary& inverse, const host::Image& spectrum, const LogMagnitudes& m,
                    const Detection& d, const std::vector<uint8_t>& groups, SweepPeak peak, const Thresholds& t,
                    bool& unclipped, bool near, const Ground* ground) {
    const std::vector<uint8_t>& ends = flat.ends;
    const double pinned = flat.share_pinned;
    RidgeSpan ridge;
    std::optional<Sweep> sweep = sweep_direction(m, d, groups, work.rows, work.cols, ridge);
    if (!sweep) return false;
    const host::Image band = ridge_band(inverse, analysed, spectrum, m, d, groups, t);
    if (!fit_sweep(band, *sweep, ridge.lowest, ridge.highest, t)) return false;
    if (sweep_explains(band, *sweep, ridge, peak, t, near, pinned) ||
        (ground && sweep_shaped(band, *sweep, peak, t) && ground_agreement(analysed, *ground, band, *sweep, t) >= t.ground_agree)) {
        subtract_sweep(work, band, analysed, *sweep, ends, t, unclipped);
        return true;
    }
    // A slow sweep leaves no ridge of its own: its direction's band holds the other peaks of that
    // direction too (the picture's own, at other frequencies), which it is not asked to explain;
    // and a sweep along a ridge of the picture's own edges (beside an axis, where the frame's
    // borders leave one) shares its band with them. So the band is cut to the sweep's frequencies,
    // when that keeps the middle of the ridge's energy. A peak's sweep on a ridge must then keep
    // one phase and one level across the frame, as a compact peak's must. Where the picture sits
    // at black or white, the range cuts the wave's swing and leaves its second harmonic, along the
    // same direction at twice its frequencies: the ridge's energy there is the sweep's own, not the
    // picture's beside it, and is not asked to lie within the cut.
    const SweepPeak cut_as = peak == SweepPeak::Ridge ? SweepPeak::Compact : peak == SweepPeak::Tone ? peak : SweepPeak::Broad;
    auto [lo, hi] = leaked_span(*sweep, m, t);
    const double leakage = hi - std::max(sweep->start, sweep->end);
    const RidgeSpan fundamental = ends.empty() ? ridge : ridge.without(std::max(hi, 2 * lo + leakage), 2 * hi - leakage);
    const bool cuts = ridge.lowest < lo || ridge.highest > hi;
    if (cuts && fundamental.energy_lo >= lo && fundamental.energy_hi <= hi) {
        const host::Image cut = ridge_band(inverse, analysed, spectrum, m, d, groups, t, lo, hi);
        if (sweep_explains(cut, *sweep, fundamental, cut_as, t, near, pinned)) {
            subtract_sweep(work, band, analysed, *sweep, ends, t, unclipped);
            return true;
        }
    }
    // A ridge's fit drawn away from the peaks to the picture's own edges along it (whose energy
    // lies at the ridge's low end), or past them (more than their leakage beyond), is fitted again
    // to the frequencies of the peaks alone, and weighed on their band alone: beside an axis, the
    // ridge there is the frame's borders' own.
    RidgeSpan own;
    if (peak != SweepPeak::Ridge) return false;
    std::optional<Sweep> refit = sweep_direction(m, d, groups, work.rows, work.cols, own, false);
    const double reach = t.chirp_leakage * sample_step(m.geometry);
    if (!refit || (std::max(sweep->start, sweep->end) <= own.highest + reach && std::min(sweep->start, sweep->end) >= own.lowest - reach) ||
        !fit_sweep(band, *refit, own.lowest, own.highest, t))
        return false;
    std::tie(lo, hi) = leaked_span(*refit, m, t);
    if (own.energy_lo < lo || own.energy_hi > hi) return false;
    const host::Image cut = ridge_band(inverse, analysed, spectrum, m, d, groups, t, lo, hi, false);
    if (!sweep_explains(cut, *refit, own, cut_as, t, near, pinned)) return false;
    subtract_sweep(work, band, analysed, *refit, ends, t, unclipped);
    return true;
}

bool subtract_faint_sweep(host::Image& work, const host::Image& analysed, const FlatEvidence& flat,
                          const host::ModuleLibrary& inverse, const host::Image& spectrum, const LogMagnitudes& m,
                          const Detection& d, double lowest, double least, const Ground* ground, const Thresholds& t,
                          Peak& found, bool& unclipped) {
    const host::SpectrumGeometry& g = m.geometry;
    // Weighed by its phase from tile to tile, a faint wave of fewer than faint_sweep_cycles periods
    // a tile looks as steady as the picture's own broad shapes (rows of coins).
    lowest = std::max({lowest, 1 / t.chirp_longest, t.faint_sweep_cycles * t.chirp_grid / double(std::min(work.rows, work.cols))});
    const std::vector<Segment> segments = faint_segments(m, d, lowest, least, t);
    // Only a segment of faint_sweep_looked times the least amplitude is looked at: a wave that
    // faint leaves too little in its band for its phase to hold across the frame, and the picture's
    // own stretches of lines are mostly that faint. When none is, the band is not brought back.
    const double looked = t.faint_sweep_looked * least;
    if (std::none_of(segments.begin(), segments.end(), [&](const Segment& s) { return s.amplitude >= looked; }))
        return false;
    // Each segment marked as a peak of its own, for a sweep to be fitted to as to any ridge; their
    // bands brought back to the picture together for a first look, each sweep's envelope there
    // turning the others' bands (other frequencies) into what smoothing takes away.
    Detection marked = d;
    const int32_t first = (d.group.empty() ? 0 : *std::max_element(d.group.begin(), d.group.end())) + 1;
    for (std::size_t k = 0; k < segments.size(); ++k)
        for (double r = segments[k].r0; r <= segments[k].r1; ++r) marked.group[segment_sample(g, segments[k], r)] = first + int32_t(k);
    const std::size_t groups = static_cast<std::size_t>(first) + segments.size();
    std::vector<uint8_t> all(groups, 0);
    std::fill(all.begin() + first, all.end(), 1);
    const host::Image bands = ridge_band(inverse, analysed, spectrum, m, marked, all, t);
    const auto only = [&](std::size_t k) {
        std::vector<uint8_t> one(groups, 0);
        one[static_cast<std::size_t>(first) + k] = 1;
        return one;
    };
    // By segment: steadiness of phase times that of level; the share of the ground agreeing.
    std::vector<std::pair<double, std::size_t>> steady, grounded;
    for (std::size_t k = 0; k < segments.size(); ++k) {
        if (segments[k].amplitude < looked) continue;
        RidgeSpan span;
        std::optional<Sweep> sweep = sweep_direction(m, marked, only(k), work.rows, work.cols, span);
        if (!sweep || !fit_sweep(bands, *sweep, span.lowest, span.highest, t, 2)) continue;
        const Steadiness st = first_look(bands, *sweep, t);
        if (st.phase >= t.faint_sweep_steady && st.level >= t.chirp_even) steady.push_back({st.phase * st.level, k});
        // The share weighed in full only where a glance at it comes near the bar.
        if (ground && ground_agreement(analysed, *ground, bands, *sweep, t, t.ground_glance_step) >= t.ground_agree - t.ground_glance_reach)
            if (const double agree = ground_agreement(analysed, *ground, bands, *sweep, t); agree >= t.ground_agree)
                grounded.push_back({agree, k});
    }
    for (auto* tried : {&steady, &grounded}) {
        std::sort(tried->rbegin(), tried->rend());
        if (tried->size() > t.faint_sweep_tries) tried->resize(t.faint_sweep_tries);
    }
    // A grounded sweep fitted to its own band alone, as subtract_chirp fits one, and taken out
    // when it still agrees with the ground.
    const auto grounded_sweep = [&](std::size_t k) {
        RidgeSpan span;
        std::optional<Sweep> sweep = sweep_direction(m, marked, only(k), work.rows, work.cols, span);
        if (!sweep) return false;
        const host::Image band = ridge_band(inverse, analysed, spectrum, m, marked, only(k), t);
        if (!fit_sweep(band, *sweep, span.lowest, span.highest, t) || std::min(sweep->start, sweep->end) * t.chirp_longest < 1 ||
            ground_agreement(analysed, *ground, band, *sweep, t) < t.ground_agree)
            return false;
        subtract_sweep(work, band, analysed, *sweep, flat.ends, t, unclipped);
        return true;
    };
    const std::size_t plane = static_cast<std::size_t>(g.rows) * g.columns;
    std::vector<std::pair<std::size_t, bool>> tries;  // segment, tried by the ground
    for (const auto& [steadiest, k] : steady) tries.push_back({k, false});
    for (const auto& [agree, k] : grounded) tries.push_back({k, true});
    for (const auto& [k, by_ground] : tries) {
        const Segment& s = segments[k];
        if (by_ground ? !grounded_sweep(k)
                      : !subtract_chirp(work, analysed, flat, inverse, spectrum, m, marked, only(k), SweepPeak::Compact, t, unclipped))
            continue;
        double strongest = -HUGE_VAL;
        std::size_t at = 0;
        for (double r = s.r0; r <= s.r1; ++r)
            for (int32_t c = 0; c < g.channels; ++c)
                if (const std::size_t i = segment_sample(g, s, r); m.values[plane * c + i] > strongest) strongest = m.values[plane * c + i], at = i;
        const int32_t sy = static_cast<int32_t>(at / g.columns), sx = static_cast<int32_t>(at % g.columns);
        const Frequency f = frequency_of(g, sy, sx);
        const double angle = std::atan2(f.v, f.u) * 180 / std::numbers::pi;
        found = {};
        found.row = sy;
        found.column = sx;
        found.radius = found.notch = std::ceil((s.r1 - s.r0) / 2) + 1;
        found.amplitude = s.amplitude;
        found.period = 1 / std::hypot(f.u, f.v);
        found.angle = angle < 0 ? angle + 180 : angle;
        found.channels = 7;
        found.ridge = s.r1 - s.r0 + 1;
        return true;
    }
    return false;
}

namespace {

// The sweep of mean frequency f (cycles per pixel, in its direction) that drifts by `drift` of it
// either way across the frame.
Sweep drifting(const Frequency& f, double drift, int32_t rows, int32_t cols) {
    Sweep sweep = along(f.u, f.v, rows, cols);
    const double r = std::hypot(f.u, f.v);
    sweep.start = r * (1 - drift);
    sweep.end = r * (1 + drift);
    return sweep;
}

RowPhases sweep_phases(const Sweep& sweep, int32_t cols) {
    return [sweep, cols](int32_t y, std::vector<std::complex<double>>& turns) { sweep.row(y, cols, turns); };
}

}  // namespace

bool subtract_ground_sweep(host::Image& work, const host::Image& analysed, const FlatEvidence& flat, const Ground& ground,
                           const Frequency& f, const Thresholds& t, Peak& found, bool& unclipped) {
    const int32_t rows = work.rows, cols = work.cols;
    const double r = std::hypot(f.u, f.v);
    Sweep sweep = along(f.u, f.v, rows, cols);
    if (!fit_sweep(ground.picture, sweep, r * (1 - t.chirp_drift), r * (1 + t.chirp_drift), t)) return false;
    // The sweep's mean frequency (in both directions) and drift searched for the least the fit to
    // the ground leaves: a quarter and then an eighth of a sample each way, and of ground_drift_step.
    Frequency mean{(sweep.start + sweep.end) / 2 * sweep.cu, (sweep.start + sweep.end) / 2 * sweep.cv};
    double drift = (sweep.end - sweep.start) / (sweep.start + sweep.end);
    std::complex<double> amplitude[3];
    const auto left_by = [&](const Frequency& at, double d) {
        return fit_to_ground(work, ground, sweep_phases(drifting(at, d, rows, cols), cols), t.ground_sweep_step, amplitude);
    };
    double least = left_by(mean, drift);
    for (const double part : {0.25, 0.125}) {
        const Frequency about = mean;
        for (int i = -2; i <= 2; ++i)
            for (int k = -2; k <= 2; ++k)
                if (const Frequency at{about.u + k * part / cols, about.v + i * part / rows}; (i || k))
                    if (const double left = left_by(at, drift); left < least) least = left, mean = at;
        const double about_drift = drift;
        for (int k = -2; k <= 2; ++k)
            if (const double d = about_drift + k * part * t.ground_drift_step; k)
                if (const double left = left_by(mean, d); left < least) least = left, drift = d;
    }
    sweep = drifting(mean, drift, rows, cols);
    if (!sweep_shaped(work, sweep, SweepPeak::Tone, t)) return false;  // (tried in place of one sinusoid)
    // Fitted on every sample, then twice more with only the samples the wave fitted explains.
    const RowPhases phases = sweep_phases(sweep, cols);
    fit_to_ground(work, ground, phases, 1, amplitude);
    refit_to_explained(work, ground, phases, amplitude);
    if (ground_agreement(work, ground, phases, amplitude) < t.ground_agree) return false;
    std::vector<std::complex<double>> turns;
    for (int32_t c = 0; c < 3; ++c) {
        for (int32_t y = 0; y < rows; ++y) {
            sweep.row(y, cols, turns);
            for (int32_t x = 0; x < cols; ++x)
                work.set<float>(y, x, c, work.get<float>(y, x, c) - static_cast<float>(2 * std::real(amplitude[c] * turns[std::size_t(x)])));
        }
        hold_pinned(work, analysed, flat.ends, c, t.restore_reach);
    }
    unclipped = true;
    const double angle = std::atan2(mean.v, mean.u) * 180 / std::numbers::pi;
    found = {};
    found.amplitude = strongest_amplitude(amplitude);
    found.period = 1 / std::hypot(mean.u, mean.v);
    found.angle = angle < 0 ? angle + 180 : angle;
    found.channels = 7;
    return true;
}

std::vector<uint8_t> same_direction(const Detection& d, const Peak& p, const Thresholds& t, bool near) {
    std::vector<uint8_t> along(d.group.empty() ? 1 : static_cast<std::size_t>(*std::max_element(d.group.begin(), d.group.end())) + 1, 0);
    for (const Peak& q : d.peaks)
        if (directions_apart(q.angle, p.angle) <= t.chirp_angle && (!near || std::fabs(p.period / q.period - 1) <= t.chirp_drift))
            along[static_cast<std::size_t>(q.group)] = 1;
    return along;
}

}  // namespace quen::cleaning
