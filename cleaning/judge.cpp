// The rules that judge the peaks of a pass, in the order they are asked. Rules about the whole
// spectrum come first (line patterns, grids, combs, a halftone screen); then each peak not yet
// settled, strongest first, goes down the table of peak rules until one fires. Line patterns and
// sweeps are taken out as soon as they are judged: the peaks judged after them see the picture
// without them.
#include "judge.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <future>
#include <numbers>
#include <functional>
#include <optional>

#include "descreen.h"
#include "products.h"
#include "screens.h"
#include "smooth.h"
#include "sweeps.h"

namespace quen::cleaning {
namespace {

// The wave of frequency f in channel c as it is at each place: the channel less its local mean
// (`tone`, smoothed over a period), turned down by f and smoothed over `radius` pixels (`wave`:
// half the complex amplitude of the wave there).
struct LockIn {
    RealPlane tone;
    Plane wave;
};

// exp(2 pi i f.(x, y)) at each pixel, a product of a row's and a column's factor.
Plane carrier(int32_t rows, int32_t cols, const Frequency& f) {
    std::vector<std::complex<float>> along(static_cast<std::size_t>(cols));
    for (int32_t x = 0; x < cols; ++x) along[std::size_t(x)] = std::polar(1.0f, float(2 * std::numbers::pi * std::fmod(f.u * x, 1.0)));
    Plane turn(std::size_t(rows) * cols);
    for (int32_t y = 0; y < rows; ++y) {
        const std::complex<float> down = std::polar(1.0f, float(2 * std::numbers::pi * std::fmod(f.v * y, 1.0)));
        for (int32_t x = 0; x < cols; ++x) turn[std::size_t(y) * cols + x] = times(down, along[std::size_t(x)]);
    }
    return turn;
}

// The radius a channel's tone is smoothed over for a wave of frequency f: its period.
int32_t tone_radius(const Frequency& f) { return static_cast<int32_t>(std::ceil(1 / std::hypot(f.u, f.v))); }

// The lock-in before its smoothing; `tone`, when given, is the channel smoothed over f's period
// already (for another frequency of the same period).
LockIn demodulate(const host::Image& work, int32_t c, const Frequency& f, const Plane& turn, const RealPlane* tone = nullptr) {
    const int32_t rows = work.rows, cols = work.cols;
    const std::size_t size = std::size_t(rows) * cols;
    LockIn l{tone ? *tone : RealPlane(size), Plane(size)};
    if (!tone) {
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x) l.tone[std::size_t(y) * cols + x] = work.get<float>(y, x, c);
        smooth(l.tone, rows, cols, tone_radius(f));
    }
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            const std::size_t i = std::size_t(y) * cols + x;
            l.wave[i] = (work.get<float>(y, x, c) - l.tone[i]) * std::conj(turn[i]);
        }
    return l;
}

LockIn lock_in(const host::Image& work, int32_t c, const Frequency& f, const Plane& turn, int32_t radius) {
    LockIn l = demodulate(work, c, f, turn);
    smooth(l.wave, work.rows, work.cols, radius);
    return l;
}

// 4 v (1 - v) of a tone v (clamped to the range): how far a print's dots swing there, from none at
// black and white to the most at mid grey.
float dot_swing(float v) {
    v = std::clamp(v, 0.0f, 1.0f);
    return 4 * v * (1 - v);
}

// The tone v beneath a sample `seen` of a screen printed with the tones whose waves swing `a` per
// unit of 4 v (1 - v) there: the root of v + 4 a v (1 - v) = seen within the range.
float beneath(float seen, float a) {
    const float v = std::clamp(seen, 0.0f, 1.0f), b = 1 + 4 * a;
    const float below = b + std::sqrt(std::max(0.0f, b * b - 16 * a * v));
    return below > 0 ? std::clamp(2 * v / below, 0.0f, 1.0f) : v;
}

// Takes the wave of frequency f out of every channel with the amplitude and phase it has at each
// place (over envelope_periods periods).
void subtract_envelope(host::Image& work, const Frequency& f, const Thresholds& t) {
    const int32_t radius = static_cast<int32_t>(std::ceil(t.envelope_periods / std::hypot(f.u, f.v)));
    const Plane turn = carrier(work.rows, work.cols, f);
    for (int32_t c = 0; c < 3; ++c) {
        const LockIn l = lock_in(work, c, f, turn, radius);
        for (int32_t y = 0; y < work.rows; ++y)
            for (int32_t x = 0; x < work.cols; ++x) {
                const std::size_t i = std::size_t(y) * work.cols + x;
                work.set<float>(y, x, c, work.get<float>(y, x, c) - 2 * real_of_times(l.wave[i], turn[i]));
            }
    }
}

// Takes the waves of a screen printed with the tones out of every channel, together: each swings
// as 4 v (1 - v) of the tone v at each pixel, times an amplitude that changes slowly if at all.
// Where the tone changes faster than an amplitude smoothed over a few periods can follow (a
// picture with large black and white parts, whose mid tones are narrow bands along its edges),
// that amplitude smears the waves over the black and white beside a band and leaves them half
// there within it. So each wave's amplitude per unit of 4 v (1 - v) is fitted over
// toned_periods periods about each place (least squares) and the wave taken out as that times
// 4 v (1 - v) of each pixel's own tone. The tone is first the picture less the screen's waves
// with their smoothed amplitudes, then the tone beneath the waves as last fitted, solved for at
// each pixel (beneath), refitted toned_rounds times: a tone smoothed over a period would blur the
// bands as much as the amplitude does, and the picture less the waves fitted, which swing with
// the tone, would hold a share of them still.
struct TonedScreen {
    std::vector<Frequency> fs;
    std::vector<Plane> turns;
    std::vector<int32_t> radii;
    TonedScreen(const host::Image& work, const std::vector<Frequency>& frequencies, const Thresholds& t) : fs(frequencies) {
        for (const Frequency& f : fs) {
            turns.push_back(carrier(work.rows, work.cols, f));
            radii.push_back(static_cast<int32_t>(std::ceil(t.toned_periods / std::hypot(f.u, f.v))));
        }
    }
    // Channel c's waves fitted so; with `weigh`, `smoothed_left` and `toned_left`: the energy the
    // lock-ins leave, smoothed over a period (what the picture's own detail puts there mostly
    // cancels), when their amplitudes are smoothed over the same periods, and when fitted to the tone;
    // and `steady`: how alike the first wave's amplitude per unit of 4 v (1 - v) is across the
    // frame, the share of its power (each place weighed by how far the dots swing there) that one
    // amplitude explains: near 1 for a screen, which is one wave printed with the tones everywhere,
    // less for the picture's own texture, whose phase and strength change from place to place.
    struct Fit {
        std::vector<std::vector<float>> waves;
        double smoothed_left = 0, toned_left = 0, steady = 0;
    };
    Fit fit(const host::Image& work, int32_t c, const Thresholds& t, bool weigh = false) const {
        const int32_t rows = work.rows, cols = work.cols;
        const std::size_t size = std::size_t(rows) * cols, n = fs.size();
        constexpr float kPinned = 1e-4f;  // (1 % of full swing) squared: where the tone is pinned there is no wave to fit
        Fit out{std::vector<std::vector<float>>(n, std::vector<float>(size))};
        std::vector<LockIn> locked(n);
        std::vector<float> shape(size);
        Plane smoothed(size), left(weigh ? size : 0);
        RealPlane swing(size);
        const auto leaves = [&](std::size_t k, const Plane& fitted) {
            for (std::size_t i = 0; i < size; ++i) left[i] = locked[k].wave[i] - fitted[i];
            smooth(left, rows, cols, tone_radius(fs[k]));
            double sum = 0;
            for (std::size_t i = 0; i < size; ++i) sum += std::norm(left[i]);
            return sum;
        };
        for (std::size_t k = 0; k < n; ++k) {
            const bool same_tone = k > 0 && tone_radius(fs[k]) == tone_radius(fs[k - 1]);
            locked[k] = demodulate(work, c, fs[k], turns[k], same_tone ? &locked[k - 1].tone : nullptr);
            smoothed = locked[k].wave;
            smooth(smoothed, rows, cols, radii[k]);
            for (std::size_t i = 0; i < size; ++i) out.waves[k][i] = 2 * real_of_times(smoothed[i], turns[k][i]);
            if (weigh) out.smoothed_left += leaves(k, smoothed);
        }
        // The waves per unit of 4 v (1 - v) as last fitted to the tone, by wave.
        std::vector<std::vector<float>> unit(n, std::vector<float>(size));
        // The tone: first the picture less the smoothed waves, then the tone beneath the fitted ones.
        const auto tone_beneath = [&](bool first) {
            for (int32_t y = 0; y < rows; ++y)
                for (int32_t x = 0; x < cols; ++x) {
                    const std::size_t i = std::size_t(y) * cols + x;
                    float v = work.get<float>(y, x, c), a = 0;
                    for (std::size_t k = 0; k < n; ++k) {
                        if (first) v -= out.waves[k][i];
                        else a += unit[k][i];
                    }
                    shape[i] = dot_swing(first ? v : beneath(v, a));
                }
        };
        for (int round = 0; round < t.toned_rounds; ++round) {
            tone_beneath(round == 0);
            out.toned_left = 0;
            for (std::size_t k = 0; k < n; ++k) {
                for (std::size_t i = 0; i < size; ++i) smoothed[i] = locked[k].wave[i] * shape[i];
                smooth(smoothed, rows, cols, radii[k]);
                if (k == 0 || radii[k] != radii[k - 1]) {
                    for (std::size_t i = 0; i < size; ++i) swing[i] = shape[i] * shape[i];
                    smooth(swing, rows, cols, radii[k]);
                }
                if (weigh && k == 0 && round + 1 == t.toned_rounds) out.steady = steadiness(smoothed, swing, kPinned);
                for (std::size_t i = 0; i < size; ++i) {
                    smoothed[i] /= swing[i] + kPinned;
                    unit[k][i] = 2 * real_of_times(smoothed[i], turns[k][i]);
                    smoothed[i] *= shape[i];
                }
                if (weigh && round + 1 == t.toned_rounds) out.toned_left += leaves(k, smoothed);
            }
        }
        // The waves as they swing over the tone their last fit leaves beneath them.
        tone_beneath(false);
        for (std::size_t k = 0; k < n; ++k)
            for (std::size_t i = 0; i < size; ++i) out.waves[k][i] = unit[k][i] * shape[i];
        return out;
    }
    // The share of the power of the amplitudes per unit of 4 v (1 - v), `toned` over `swing` (the
    // squares of 4 v (1 - v) smoothed), weighed by `swing`, that their weighted mean explains.
    static double steadiness(const Plane& toned, const RealPlane& swing, float pinned) {
        std::complex<double> sum = 0;
        double power = 0, weight = 0;
        for (std::size_t i = 0; i < toned.size(); ++i) {
            const std::complex<double> a = std::complex<double>(toned[i]) / double(swing[i] + pinned);
            sum += double(swing[i]) * a, power += double(swing[i]) * std::norm(a), weight += swing[i];
        }
        return power > 0 ? std::norm(sum) / (weight * power) : 0;
    }
    // Takes the waves out of every channel, channel `done`'s as fitted already (`fitted`); a
    // channel the same as one before it (a grey picture) is cleaned as that one was.
    void subtract(host::Image& work, const Thresholds& t, int32_t done, const Fit& fitted) const {
        const int32_t rows = work.rows, cols = work.cols;
        std::array<int32_t, 3> same{0, 1, 2};
        for (int32_t c = 1; c < 3; ++c)
            for (int32_t e = 0; e < c && same[std::size_t(c)] == c; ++e) {
                bool alike = true;
                for (int32_t y = 0; y < rows && alike; ++y)
                    for (int32_t x = 0; x < cols && alike; ++x) alike = work.get<float>(y, x, c) == work.get<float>(y, x, e);
                if (alike) same[std::size_t(c)] = e;
            }
        // A channel's fit reads that channel only: the other channels are fitted side by side
        // before any is changed.
        std::array<std::future<Fit>, 3> fitting;
        for (int32_t c = 0; c < 3; ++c)
            if (same[std::size_t(c)] == c && c != done)
                fitting[std::size_t(c)] = std::async(std::launch::async, [&, c] { return fit(work, c, t); });
        std::array<Fit, 3> own;
        for (int32_t c = 0; c < 3; ++c)
            if (fitting[std::size_t(c)].valid()) own[std::size_t(c)] = fitting[std::size_t(c)].get();
        for (int32_t c = 0; c < 3; ++c) {
            if (same[std::size_t(c)] != c) {
                for (int32_t y = 0; y < rows; ++y)
                    for (int32_t x = 0; x < cols; ++x) work.set<float>(y, x, c, work.get<float>(y, x, same[std::size_t(c)]));
                continue;
            }
            const Fit& f = c == done ? fitted : own[std::size_t(c)];
            for (int32_t y = 0; y < rows; ++y)
                for (int32_t x = 0; x < cols; ++x) {
                    const std::size_t i = std::size_t(y) * cols + x;
                    float v = work.get<float>(y, x, c);
                    for (const std::vector<float>& wave : f.waves) v -= wave[i];
                    work.set<float>(y, x, c, v);
                }
        }
    }
};

// What a screen's strength says of where it came from: its local amplitude at frequency f in
// channel c (the channel less its local mean, turned down by f and smoothed over two periods)
// against 4 v (1 - v) of the local tone v, in the third of the frame whose tone is nearest black or
// white and the third nearest mid grey. A print is made of its dots: they shrink to nothing in its
// highlights and merge in its shadows, so its screen fades as 4 v (1 - v) does (`follows` near 1),
// and in its mid tones they swing from paper to ink, a large share of the range (`swing`, the
// amplitude there per unit of 4 v (1 - v)). A screen laid over the picture is a ripple of its own,
// as strong in the light and dark parts as anywhere. `follows` is negative when the tones of the
// two thirds are too alike to tell (tone_contrast).
struct ScreenStrength {
    double follows = -1, swing = 0;
    double reach = 0;  // twice the screen's amplitude in the mid tones, full scale 1
};

// The screen's strength in the third of the samples `kept` whose 4 v (1 - v) (`shape`) is lowest
// and the third where it is highest.
ScreenStrength strength_in_thirds(const std::vector<float>& shape, const Plane& wave, const std::vector<uint8_t>& kept,
                                  const Thresholds& t) {
    std::vector<float> sorted;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (kept[i]) sorted.push_back(shape[i]);
    ScreenStrength s;
    const std::size_t n = sorted.size();
    if (n < 3) return s;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(n / 3), sorted.end());
    const float low = sorted[n / 3];
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(2 * n / 3), sorted.end());
    const float high = sorted[2 * n / 3];
    double shape_low = 0, shape_high = 0, wave_low = 0, wave_high = 0, high_count = 0;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (!kept[i]) continue;
        if (shape[i] <= low) shape_low += shape[i], wave_low += std::abs(wave[i]);
        else if (shape[i] >= high) shape_high += shape[i], wave_high += std::abs(wave[i]), ++high_count;
    }
    if (shape_high <= 0 || wave_high <= 0) return s;
    s.swing = 2 * wave_high / shape_high;  // a wave A cos turned down and smoothed leaves A / 2
    s.reach = 4 * wave_high / high_count;  // twice the wave's amplitude in the mid tones
    const double toned = shape_low / shape_high;
    if (toned <= t.tone_contrast) s.follows = std::max(0.0, 1 - wave_low / wave_high) / (1 - toned);
    return s;
}

// Where a screen reaches past black or white, the range's end cuts it: a screen laid over a
// picture that lies at black or white in large parts shows only half its dots there and would
// seem to follow the tone. The tones within twice the screen's mid-tone amplitude of either end
// are left out and the thirds taken again from the rest, when a quarter of the picture is left and
// its tones are not too alike to tell by (a print's fine screen, blurred by the scan, swings as
// little as an added one, and reaches a third of the range into the tones from either end: the
// whole picture's tones tell then).
ScreenStrength screen_strength(const host::Image& work, int32_t c, const Frequency& f, const Thresholds& t) {
    const std::size_t size = std::size_t(work.rows) * work.cols;
    const LockIn l = lock_in(work, c, f, carrier(work.rows, work.cols, f), 2 * tone_radius(f));
    std::vector<float> shape(size);
    for (std::size_t i = 0; i < size; ++i) shape[i] = dot_swing(l.tone[i]);
    std::vector<uint8_t> kept(size, 1);
    const ScreenStrength all = strength_in_thirds(shape, l.wave, kept, t);
    if (all.swing <= 0) return all;
    std::size_t within = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const float v = l.tone[i];
        kept[i] = v > all.reach && v < 1 - all.reach;
        within += kept[i];
    }
    if (within == size || within < size / 4) return all;
    const ScreenStrength inside = strength_in_thirds(shape, l.wave, kept, t);
    return inside.swing > 0 && inside.follows >= 0 ? inside : all;
}

// The channel where peak p stands highest.
int32_t strongest_channel(const LogMagnitudes& m, const Peak& p) {
    int32_t strongest = 0;
    for (int32_t ch = 1; ch < 3; ++ch)
        if (m.at(ch, p.row, p.column) > m.at(strongest, p.row, p.column)) strongest = ch;
    return strongest;
}

// The frequency of the wave peak p holds in channel c, fitted between samples.
Frequency fitted_frequency(const ComplexHalf& z, const host::SpectrumGeometry& g, int32_t c, const Peak& p) {
    Tone tone;
    fit_tone(z, g, c, p.row, p.column, tone);
    return frequency_of(g, tone.b, tone.a);
}

// Whether a screen's frequency could lie at peak p: its dots close (longest_screen) and filling
// many cells of a frame larger than an icon (screen_cells, screen_side), off the axes
// (screen_off_axis samples, beyond the lines the picture's borders leave there).
// (`off_axis`: the samples between the peak and the axes, at least.)
bool screen_place(const host::Image& work, const host::SpectrumGeometry& g, const Peak& p, const Thresholds& t,
                  double off_axis) {
    return p.period <= t.longest_screen && std::min(work.rows, work.cols) >= std::max(t.screen_side, t.screen_cells * p.period) &&
           samples_off_axes(g, p) >= off_axis;
}
bool screen_place(const host::Image& work, const host::SpectrumGeometry& g, const Peak& p, const Thresholds& t) {
    return screen_place(work, g, p, t, t.screen_off_axis);
}

// What the peak rules of a pass share.
struct PeakJudge {
    Job& job;
    Evidence& e;
    Judgement& j;
    const Thresholds& t;
    ComplexHalf z;
    LazyTiles tiles;                              // cut at the first question; shared with the weak waves' search
    Grid grid;                                    // the picture's own repeating grid, or the drawn one
    std::vector<std::vector<uint8_t>> no_sweep;   // the groups of the sweeps that failed
    std::vector<uint8_t> dotted;                  // by group: one of a screen's two frequencies
    std::optional<std::optional<Ground>> ground_; // worked out at the first question

    // The picture's black and white ground, when ground_share of its samples sit there.
    const Ground* ground() {
        if (!ground_) {
            ground_.emplace();
            if (job.flat.share_pinned >= t.ground_share)
                ground_->emplace(ground_of(e.analysed, job.flat, static_cast<int32_t>(job.options.detect.protect_period / 4), t.ground_level));
        }
        return *ground_ ? &**ground_ : nullptr;
    }

    bool first_pass_fitting() const { return e.pass == 0 && job.options.fill == Fill::Background; }
    // In a print (--print), the longest period a weak or faint wave, or one only a fill would take
    // out, is taken at (see judge_weak_waves); 0 elsewhere: no limit.
    double longest_taken() const { return job.options.print ? t.print_own_wave : 0; }
    // Whether the frame's tiles show one wave at frequency f.
    // (Without `by_pinned`, only flat squares not at either end of the range refute it.)
    bool one_wave(const Frequency& f, bool by_pinned = true) {
        return !job.flat.refutes(f, by_pinned) && tiles.get().weigh(f).alike >= t.wave_alike;
    }
    // Whether they show a wave at f over the frame, if not quite one amplitude everywhere.
    bool present(const Frequency& f, bool by_pinned = true) {
        if (job.flat.refutes(f, by_pinned)) return false;
        const Tiles::Evidence w = tiles.get().weigh(f);
        return w.presence >= t.tone_presence && w.alike >= t.tone_alike;
    }
};

// screen_pairs' mark of a pair too weak to be taken for a screen's on its strength alone.
constexpr uint8_t kFaintPair = 2;
// ... and of a wave whose partner at right angles only stands out of the spectrum.
constexpr uint8_t kPartnerStands = 3;

// One peak as the rules see it.
struct Case {
    const Peak& p;
    int32_t strongest = 0;  // the channel where it stands highest
    Frequency f;            // of its strongest sample
    bool compact = false;   // small enough to be one sinusoid's
    bool ridge = false;     // continues along a ridge through the zero frequency
    bool dotted = false;    // one of a screen's two frequencies at right angles
    bool faint_pair = false;  // one of two such frequencies, too weak to be taken for a screen's on their strength alone
    bool partner_stands = false;  // like one, its partner at right angles standing out of the spectrum without a peak alike
    bool screen_place = false;  // where a screen's frequency could lie
    bool faded = false;     // one sinusoid explains it, but the samples pinned at black or white refute it
    std::optional<bool> across{};  // whether its waves run across the frame's quarters, once asked
};

// Whether the waves of the peak run across the frame's four quarters (asked once a peak).
bool runs_across(PeakJudge& pj, Case& c) {
    if (!c.across) c.across = across_the_frame(pj.job.work, c.strongest, c.f, pj.t);
    return *c.across;
}

// Kept: compact, and its waves do not run across the whole frame (a fence, a fabric).
bool part_of_frame(PeakJudge& pj, Case& c) {
    return c.compact && !c.dotted && !runs_across(pj, c);
}

bool try_sweep(PeakJudge& pj, Case& c, SweepPeak peak);

// Whether another peak lies in the peak's direction within chirp_drift of its frequency: a wave
// drifting across the frame dwells at several frequencies, and more than one may stand out.
bool drift_partner(const PeakJudge& pj, const Case& c) {
    const std::vector<uint8_t> near = same_direction(pj.e.d, c.p, pj.t, true);
    return std::count(near.begin(), near.end(), 1) > 1;
}

// How a peak one tone may explain is tried as a sweep: a broad one, or one that another beside it
// in its direction shows to drift, as such; a compact one alone as a tone's (SweepPeak::Tone).
SweepPeak as_tone_sweep(const PeakJudge& pj, const Case& c) {
    return !c.compact ? SweepPeak::Broad : drift_partner(pj, c) ? SweepPeak::Compact : SweepPeak::Tone;
}

// Removed: one sinusoid explains the peak, and the frame's tiles show its wave present; a broad
// peak, or one on a ridge, that one tone seems to explain must show as one wave across the frame
// too (a panned shot's streaks do not). The samples pinned at black or white weigh the wave
// fitted (pinned_refute), not a flat square of them: a wave that fades there (a screen printed
// with the tones) leaves such squares too. Fitted in the first pass only, when filling to the
// background. The peak is taken out as a sweep instead when a sweep explains its band: one tone
// fitted to a wave drifting a few per cent across the frame leaves the rest of its spread, which
// grows towards the frame's ends. A broad peak, or one that another beside it in its direction
// shows to drift, is tried as such; a compact one alone as a tone's (SweepPeak::Tone), whose
// sweep must run through more of the spectrum than the picture's own detail in its band moves
// the fit of one wave.
bool one_tone(PeakJudge& pj, Case& c) {
    const host::SpectrumGeometry& g = pj.e.m.geometry;
    Tone tone;
    if (!pj.first_pass_fitting() ||
        !explains(fit_tone(pj.z, g, c.strongest, c.p.row, c.p.column, tone), pj.e.d, g, c.strongest, c.p.row,
                  c.p.column, pj.t))
        return false;
    const Frequency f = frequency_of(g, tone.b, tone.a);
    if (!(c.compact && !c.ridge ? pj.present(f, false) : pj.one_wave(f, false))) return false;
    const FittedTone fitted = fitted_tone(pj.z, g, tone, c.p.row, c.p.column);
    c.faded = pinned_refute(pj.job.flat, pj.j.tones, fitted, pj.t);
    if (c.faded) return false;
    if (try_sweep(pj, c, as_tone_sweep(pj, c))) return true;
    pj.j.tones.push_back(fitted);
    pj.job.result.removed.push_back(c.p);
    return true;
}

// Whether the peak's frequency is the sum or difference of two other peaks', each in another
// direction, for more pairs than chance gives: the peaks of a pattern printed or woven in two
// directions (a fabric, a grille) lie on one lattice, and perspective makes each drift across the
// frame as a sweep does. A drifting wave added to a picture has no such partners, or one pair at
// most: where black or white clips it, it mixes with one of the picture's own patterns. Any pair of
// peaks falls on a frequency by chance with the odds that it lies within lattice_reach of one of
// the pair's four sums and differences: the pairs found must be lattice_chance unlikely for that
// many to be chance. Only peaks as strong as the usual sensitivity finds are partners (the dozens
// of weaker ones a higher sensitivity lets in are mostly the picture's texture, and crowd where
// chance alone puts pairs on a wave); nor is one of a lower frequency than lattice_partner times
// the peak's: the picture's broad shapes near the zero frequency, and the wave's own spread beside
// it in other directions, add up to it without any lattice.
bool on_lattice_of_others(const PeakJudge& pj, const Case& c) {
    const host::SpectrumGeometry& g = pj.e.m.geometry;
    const std::vector<Peak>& peaks = pj.e.d.peaks;
    const double least = pj.t.lattice_partner / c.p.period;
    std::vector<Frequency> across;
    for (const Peak& q : peaks)
        if (directions_apart(q.angle, c.p.angle) > pj.t.chirp_angle && 1 / q.period >= least && q.amplitude >= kSmallestAmplitude)
            across.push_back(frequency_of(g, q.row, q.column));
    int pairs = 0;
    for (std::size_t i = 0; i < across.size(); ++i)
        for (std::size_t k = i + 1; k < across.size(); ++k) {
            const Frequency a = across[i], b = across[k];
            pairs += wave_distance(g, c.f, {a.u + b.u, a.v + b.v}) <= pj.t.lattice_reach ||
                     wave_distance(g, c.f, {a.u - b.u, a.v - b.v}) <= pj.t.lattice_reach;
        }
    if (pairs < 2) return false;
    // The chance that `pairs` or more of them fall there, with so many pairs tried (Poisson).
    const double tried = across.size() * (across.size() - 1) / 2.0;
    const double mean = tried * 4 * std::numbers::pi * pj.t.lattice_reach * pj.t.lattice_reach / g.sample_count();
    double term = std::exp(-mean), below = 0;
    for (int k = 0; k < pairs; ++k, term *= mean / k) below += term;
    return 1 - below <= pj.t.lattice_chance;
}

// Removed: a peak on a ridge, with the other peaks of its direction, when a sweeping wave explains
// the ridge's band; taken out at once. Peaks of one direction give the same groups, and a sweep
// that failed for them fails again: it is fitted from the pass's spectrum and picture alone. A
// picture whose ridges failed a few times over is full of straight edges (text, drawings), and its
// weaker ridges are not tried: each try runs the inverse filter. A wave sweeping only a few per
// cent across the frame leaves no ridge, but a broad peak, or a compact one whose waves run across
// the frame, that the tiles do not show as one wave (its phase drifts from tile to tile); or a
// peak that one sinusoid seemed to explain but the samples pinned at black or white refuted (a
// drifting wave lifts them elsewhere than one wave would), whose sweep must then keep one phase and
// one level across the frame, as a compact peak's must. A peak on the lattice of the picture's own
// pattern is not tried. A sweep that fails for the peaks of the whole direction is fitted again to
// those within chirp_drift of the peak's frequency alone: the picture's own peaks in the wave's
// direction (its straight edges, a pattern of its own at another period; many beside an axis, and
// where black and white cut sharp edges) draw the fit of the direction's band away from the wave.
// That sweep must keep one phase and an even level across the frame (subtract_chirp's `near`).
bool try_sweep(PeakJudge& pj, Case& c, SweepPeak peak) {
    if (on_lattice_of_others(pj, c) || !pj.first_pass_fitting() || pj.job.flat.refutes(c.f)) return false;
    for (const bool near : {false, true}) {
        if (pj.no_sweep.size() >= pj.t.chirp_tries) return false;
        const std::vector<uint8_t> along = same_direction(pj.e.d, c.p, pj.t, near);
        if (std::find(pj.no_sweep.begin(), pj.no_sweep.end(), along) != pj.no_sweep.end()) continue;
        const bool swept = subtract_chirp(pj.job.work, pj.e.analysed, pj.job.flat, pj.job.modules.inverse,
                                          pj.e.spectrum, pj.e.m, pj.e.d, along, peak, pj.t, pj.job.unclipped, near, pj.ground());
        if (!swept) {
            pj.no_sweep.push_back(along);
            continue;
        }
        ++pj.j.sweeps;
        for (const Peak& q : pj.e.d.peaks)
            if (along[static_cast<std::size_t>(q.group)] &&
                pj.j.decisions.decide(q.group, {Verdict::SubtractSweep, Reason::Sweep}))
                pj.job.result.removed.push_back(q);
        return true;
    }
    return false;
}
bool sweep(PeakJudge& pj, Case& c) {
    if (c.ridge) return try_sweep(pj, c, SweepPeak::Ridge);
    if (c.dotted) return false;
    if (c.faded) return try_sweep(pj, c, SweepPeak::Compact);
    return !pj.one_wave(c.f) && try_sweep(pj, c, c.compact ? SweepPeak::Compact : SweepPeak::Broad);
}

// Removed: a compact peak whose waves do not run across the frame, when a sweeping wave explains
// its band. A drifting wave shows only the samples where it dwells longest when the lines of the
// frame's borders beside the axes, or the picture's hard edges, hide its ridge; and the frame's
// quarters, each weighed at the peak's one frequency, do not show it, though its tiles may. Its
// sweep must keep one phase and one level across the frame, which a fence or a fabric in part of
// the frame does not (a peak on a ridge: explain the ridge's band, as on any ridge).
bool compact_sweep(PeakJudge& pj, Case& c) {
    if (!c.compact || c.dotted || runs_across(pj, c)) return false;
    return try_sweep(pj, c, c.ridge ? SweepPeak::Ridge : SweepPeak::Compact);
}

// Kept: a picture black or white nearly everywhere holds no wave.
bool mostly_pinned(PeakJudge& pj, Case&) { return pj.job.flat.pinned; }
// Kept: a flat square a period wide refutes a wave of that period across the frame.
bool flat_square(PeakJudge& pj, Case& c) { return pj.job.flat.refutes(c.f); }
// Kept: a peak that no sinusoid or sweep explains and that the frame's tiles do not show as one
// wave: the picture's own structure (the streaks of a panned shot, a fence in part of the frame).
bool not_one_wave(PeakJudge& pj, Case& c) { return !pj.one_wave(c.f); }
// Removed: one of a screen's two frequencies, its wave fitted between samples and taken out at
// once with the amplitude it has at each place, which follows the tone when the screen was
// printed with it (faint at black and white). So is a wave where a screen's could lie (its period,
// its place off the axes), too weak to be taken for a screen's on its strength alone, that the
// samples pinned at black and white show to fade there as a print's dots do. Fitted in the first
// pass only, when filling to the background.
// The sample of channel c within `reach` samples of frequency f (lattice_tolerance unless given)
// that stands highest above its background, where it stands screen_evidence above it at least
// (`y`, `x`). False when none does.
bool standing_sample(const Evidence& e, int32_t c, const Frequency& f, const Thresholds& t, int32_t& y, int32_t& x,
                     std::optional<int32_t> reach = std::nullopt) {
    const host::SpectrumGeometry& g = e.m.geometry;
    int32_t y0 = 0, x0 = 0;
    if (!sample_index(g, f, y0, x0)) return false;
    const int32_t within = reach.value_or(static_cast<int32_t>(t.lattice_tolerance));
    float best = -1e30f;
    y = x = -1;
    for (int32_t sy = std::max(0, y0 - within); sy <= std::min(g.rows - 1, y0 + within); ++sy)
        for (int32_t sx = std::max(0, x0 - within); sx <= std::min(g.columns - 1, x0 + within); ++sx) {
            const std::size_t i = e.m.index(c, sy, sx);
            if (e.m.values[i] - e.d.background[i] > best) best = e.m.values[i] - e.d.background[i], y = sy, x = sx;
        }
    return y >= 0 && best >= t.screen_evidence;
}
// Where the spectrum of channel c stands out near frequency f (standing_sample), the wave there
// fitted between samples (`found`). False when it does not stand out.
bool stands_near(const PeakJudge& pj, int32_t c, const Frequency& f, Frequency& found) {
    int32_t y = 0, x = 0;
    if (!standing_sample(pj.e, c, f, pj.t, y, x)) return false;
    Tone tone;
    fit_tone(pj.z, pj.e.m.geometry, c, y, x, tone);
    found = frequency_of(pj.e.m.geometry, tone.b, tone.a);
    return true;
}
// The amplitude of channel c's wave at frequency f itself (not searched for about it).
double amplitude_at(const PeakJudge& pj, int32_t c, Frequency f) {
    const host::SpectrumGeometry& g = pj.e.m.geometry;
    f = wrapped(f);
    if (f.u < 0) f = {-f.u, -f.v};
    int32_t y = 0, x = 0;
    if (!sample_index(g, f, y, x)) return 0;
    const Tone at{g.centre_x + f.u * g.period_x, g.centre_y + f.v * g.rows};
    return std::abs(fitted_tone(pj.z, g, at, y, x).amplitude[c]);
}
// A print's screen lays its dots on a square lattice: a wave of a screen printed with the tones has
// a partner at right angles, of its period, which may stand too low to be found as a peak (in a
// picture at black or white in large parts, where its dots are few) or be kept by a rule that
// weighs it alone (a flat square where the dots vanish with the tone): fitted where it stands out.
// Either wave, standing low or beside an axis (where the lines of the picture's borders lie), may
// have its fit drawn off by what lies beside it. Each fit of a screen's wave is off by fitted_reach
// at most, so when the partner lies farther than twice that from f turned a right angle, one of
// the two fits is another wave's. Where the spectrum stands out (screen_evidence) within a sample
// of f turned, the square is taken whose two waves, weighed at their places themselves, hold more
// of the channel's energy: f and f turned, or the partner and the partner turned back (f becomes
// that). Where it does not, f may be no screen's (a sweep's peak beside the picture's own pattern
// at right angles): the partner is taken as fitted, and the fit along the tone judges the two.
bool right_angle_partner(const PeakJudge& pj, int32_t c, Frequency& f, Frequency& partner) {
    const host::SpectrumGeometry& g = pj.e.m.geometry;
    const Frequency turned{-f.v, f.u};
    if (!stands_near(pj, c, turned, partner)) return false;
    // (where it stands out: within a sample of f turned)
    int32_t sy = 0, sx = 0;
    if (wave_distance(g, partner, turned) <= 2 * pj.t.fitted_reach || !standing_sample(pj.e, c, turned, pj.t, sy, sx, 1)) return true;
    const Frequency back{partner.v, -partner.u};
    const auto held = [&](const Frequency& a, const Frequency& b) {
        const double x = amplitude_at(pj, c, a), y = amplitude_at(pj, c, b);
        return x * x + y * y;
    };
    if (held(f, turned) >= held(back, partner)) partner = turned;
    else f = back;
    return true;
}

// Whether channel c's waves at frequencies f and h, each fitted at its place itself, are alike in
// strength (within screen_alike) as a screen's two waves are: printed with the same tones, its dots
// swing as far along either.
bool alike_in_strength(const PeakJudge& pj, int32_t c, const Frequency& f, const Frequency& h) {
    const double a = amplitude_at(pj, c, f), b = amplitude_at(pj, c, h);
    return a > 0 && b > 0 && std::max(a, b) <= pj.t.screen_alike * std::min(a, b);
}

// Whether the samples pinned at black or white show peak c's wave to fade there, as a print's
// dots do (known already when one sinusoid was fitted to it).
bool fades_at_ends(PeakJudge& pj, Case& c) {
    if (c.faded || !pj.first_pass_fitting()) return c.faded;
    const host::SpectrumGeometry& g = pj.e.m.geometry;
    Tone tone;
    fit_tone(pj.z, g, c.strongest, c.p.row, c.p.column, tone);
    return pinned_refute(pj.job.flat, pj.j.tones, fitted_tone(pj.z, g, tone, c.p.row, c.p.column), pj.t);
}

// Removed: a wave where a screen's could lie whose partner at right angles only stands out of the
// spectrum (kPartnerStands), when a sweeping wave explains its band: over a picture at black or
// white in large parts, a drifting wave's peak finds the picture's own pattern (a fabric) at right
// angles often enough, and taken out with it along the tone it would leave its sweep. A screen's
// wave keeps one frequency and no sweep explains it (tried as one tone's would be, or along its
// ridge).
bool partner_sweep(PeakJudge& pj, Case& c) {
    return c.partner_stands && pj.first_pass_fitting() && pj.present(c.f, false) &&
           try_sweep(pj, c, c.ridge ? SweepPeak::Ridge : as_tone_sweep(pj, c));
}

// A screen printed with the tones is taken out so, its two frequencies together (the other one a
// peak found beside it, or its partner at right angles), when the fit to the tone leaves less of
// the lock-ins' energy in the channel where the peak stands highest than amplitudes smoothed
// over as many periods do (toned_doubt times as much where the pinned samples show the wave to
// fade, unless the frame's tiles do not show the wave and only its partner stands out: on a
// picture black or white in large parts, its black and white are flat, every wave of the
// picture's own fades there too, and the fit alone must favour the tone); otherwise the wave
// alone, as the same everywhere. A faint pair is taken only as a screen printed with the tones,
// and a wave whose partner only stands out only when the frame's tiles show it present too, or
// when its amplitude per unit of 4 v (1 - v) is one across the frame (toned_steady): the tiles
// weigh the quiet ones most, and in a picture at black or white in large parts those are its
// black and white, where a screen printed with the tones has no dots.
bool screen_envelope(PeakJudge& pj, Case& c) {
    const bool unshown = c.partner_stands && !(c.dotted || c.faint_pair || (c.faded && c.screen_place)) && !pj.present(c.f, false);
    if (!(c.dotted || c.faint_pair || c.partner_stands || (c.faded && c.screen_place)) || !pj.first_pass_fitting())
        return false;
    const LogMagnitudes& m = pj.e.m;
    const host::SpectrumGeometry& g = m.geometry;
    std::vector<Frequency> fs{fitted_frequency(pj.z, g, c.strongest, c.p)};
    std::vector<uint8_t> partners(pj.dotted.size(), 0);  // by group
    for (const Peak& q : pj.e.d.peaks)
        if ((c.dotted || c.faint_pair) && q.group != c.p.group && pj.dotted[static_cast<std::size_t>(q.group)] && !pj.j.decisions.settled(q.group) &&
            !partners[static_cast<std::size_t>(q.group)]) {
            partners[static_cast<std::size_t>(q.group)] = 1;
            fs.push_back(fitted_frequency(pj.z, g, strongest_channel(m, q), q));
        }
    // A partner whose peak was taken out already is not taken out again.
    Frequency partner;
    if (fs.size() == 1 && right_angle_partner(pj, c.strongest, fs.front(), partner)) {
        bool taken = false;
        for (const Peak& q : pj.e.d.peaks) {
            const Frequency fq = frequency_of(g, q.row, q.column);
            const bool there = q.group != c.p.group && wave_distance(g, fq, partner) <= pj.t.lattice_tolerance;
            partners[static_cast<std::size_t>(q.group)] |= there;
            taken = taken || (there && pj.j.decisions.settled(q.group) && pj.j.decisions[q.group].verdict != Verdict::Keep);
        }
        if (taken) std::fill(partners.begin(), partners.end(), 0);
        else fs.push_back(partner);
    }
    const TonedScreen screen(pj.job.work, fs, pj.t);
    const TonedScreen::Fit tried = screen.fit(pj.job.work, c.strongest, pj.t, true);
    if (unshown && tried.steady < pj.t.toned_steady) return false;
    const bool toned = tried.toned_left < (!unshown && fades_at_ends(pj, c) ? pj.t.toned_doubt : 1.0) * tried.smoothed_left;
    if (!toned && !c.dotted && !c.faded) return false;
    ++pj.j.envelopes;
    pj.job.result.removed.push_back(c.p);
    // Two such frequencies may be the diagonals of a coarser square lattice, whose own frequencies
    // lie at half their sum and half their difference: a screen turned a few degrees from the rows
    // puts those beside the axes, where the picture's borders hide one or both from the peaks, and
    // its hard-edged dots leave the diagonals about as strong. When a peak stands at either, about
    // as strong as this one (within screen_alike), the waves there are taken out too where the
    // spectrum stands out, with the amplitude they have at each place, and the peaks found there
    // with them (unless a wave there was taken out already). The wave fitted there must lie at the
    // half itself (fitted_reach): the lattice's own wave is where the pair's fitted frequencies put
    // it, to about a tenth of a sample, while a wave of the picture's own beside it (a screen printed
    // with the tones has no diagonals) lies there only by chance, a sample or more off.
    if (fs.size() == 2) {
        const Frequency halves[2] = {{(fs[0].u + fs[1].u) / 2, (fs[0].v + fs[1].v) / 2},
                                     {(fs[0].u - fs[1].u) / 2, (fs[0].v - fs[1].v) / 2}};
        const auto near = [&](const Peak& q, const Frequency& h) {
            const Frequency fq = frequency_of(g, q.row, q.column);
            return q.group != c.p.group && !partners[static_cast<std::size_t>(q.group)] &&
                   wave_distance(g, fq, h) <= pj.t.lattice_tolerance;
        };
        bool coarser = false;
        for (const Peak& q : pj.e.d.peaks)
            coarser = coarser || ((near(q, halves[0]) || near(q, halves[1])) && q.amplitude * pj.t.screen_alike >= c.p.amplitude);
        for (const Frequency& half : halves) {
            Frequency h;
            if (!coarser || !stands_near(pj, c.strongest, half, h) || wave_distance(g, h, half) > pj.t.fitted_reach) continue;
            std::vector<const Peak*> there;
            bool taken = false;
            for (const Peak& q : pj.e.d.peaks)
                if (near(q, h)) {
                    there.push_back(&q);
                    taken = taken || (pj.j.decisions.settled(q.group) && pj.j.decisions[q.group].verdict != Verdict::Keep);
                }
            if (taken) continue;
            subtract_envelope(pj.job.work, h, pj.t);
            for (const Peak* q : there) {
                pj.j.decisions.overrule(q->group, {Verdict::SubtractSweep, Reason::ScreenEnvelope});
                ++pj.j.envelopes;
                pj.job.result.removed.push_back(*q);
            }
        }
    }
    if (!toned) {
        subtract_envelope(pj.job.work, fs.front(), pj.t);
        return true;
    }
    for (const Peak& q : pj.e.d.peaks)
        if (partners[static_cast<std::size_t>(q.group)]) {
            partners[static_cast<std::size_t>(q.group)] = 0;
            pj.j.decisions.overrule(q.group, {Verdict::SubtractSweep, Reason::ScreenEnvelope});
            ++pj.j.envelopes;
            pj.job.result.removed.push_back(q);
        }
    screen.subtract(pj.job.work, pj.t, c.strongest, tried);
    return true;
}
// Kept: one sinusoid explains the peak, but the samples pinned at black or white where it would
// lift them off show that it does not run across the frame (the edges of the picture's own dark or
// bright parts).
bool pinned_ends(PeakJudge&, Case& c) { return c.faded; }
// Removed: one of a screen's two frequencies, filled even where the frame's evidence would keep it.
bool screen_pair(PeakJudge& pj, Case& c) {
    if (c.dotted) pj.j.filled.push_back(c.p);
    return c.dotted;
}
// Removed: a peak that the frame's tiles show as one wave though no one sinusoid explains it, when
// a sweeping wave explains its band: a wave drifting slowly across the frame looks like one in
// each tile, and filling its peak would leave the rest of its spread.
bool sweep_not_fill(PeakJudge& pj, Case& c) {
    return try_sweep(pj, c, c.compact ? SweepPeak::Compact : SweepPeak::Broad);
}
// Kept: in a print, a wave longer than print_own_wave that nothing but a fill would take out is
// the photograph's own (see judge_weak_waves).
bool prints_own(PeakJudge& pj, Case& c) { return pj.longest_taken() > 0 && c.p.period > pj.longest_taken(); }
// Removed: what is left, a wave across the frame, is filled.
bool fill(PeakJudge& pj, Case& c) {
    pj.j.filled.push_back(c.p);
    return true;
}

struct PeakRule {
    Verdict verdict;
    Reason reason;
    bool (*fires)(PeakJudge&, Case&);
};

// The peak rules, in the order they are asked; the first that fires decides.
constexpr PeakRule kPeakRules[] = {
    {Verdict::SubtractSweep, Reason::Sweep, compact_sweep},
    {Verdict::Keep, Reason::PartOfFrame, part_of_frame},
    {Verdict::SubtractSweep, Reason::Sweep, partner_sweep},
    {Verdict::SubtractSweep, Reason::ScreenEnvelope, screen_envelope},
    {Verdict::SubtractTone, Reason::OneWave, one_tone},
    {Verdict::SubtractSweep, Reason::ScreenEnvelope, screen_envelope},
    {Verdict::SubtractSweep, Reason::Sweep, sweep},
    {Verdict::Keep, Reason::PinnedEnds, pinned_ends},
    {Verdict::Fill, Reason::ScreenPair, screen_pair},
    {Verdict::Keep, Reason::MostlyPinned, mostly_pinned},
    {Verdict::Keep, Reason::FlatSquare, flat_square},
    {Verdict::Keep, Reason::NotOneWave, not_one_wave},
    {Verdict::SubtractSweep, Reason::Sweep, sweep_not_fill},
    {Verdict::Keep, Reason::PrintsOwn, prints_own},
    {Verdict::Fill, Reason::Filled, fill},
};

void judge_peak(PeakJudge& pj, const Peak& p) {
    const LogMagnitudes& m = pj.e.m;
    const uint8_t dotted = pj.dotted[static_cast<std::size_t>(p.group)];
    Case c{p, strongest_channel(m, p), frequency_of(m.geometry, p.row, p.column), p.radius <= pj.t.compact, p.ridge >= pj.t.chirp_ridge,
           dotted == 1, dotted == kFaintPair, dotted == kPartnerStands, screen_place(pj.job.work, m.geometry, p, pj.t)};
    for (const PeakRule& rule : kPeakRules)
        if (rule.fires(pj, c)) {
            pj.j.decisions.decide(p.group, {rule.verdict, rule.reason});
            return;
        }
}

// The peaks of the first pass's waves that the frame's quarters took for the picture's own (not
// pieces of a sweep), by group: the weak waves' search weighs them again.
std::vector<uint8_t> own_peaks(const PeakJudge& pj, int32_t groups) {
    std::vector<uint8_t> own(static_cast<std::size_t>(groups) + 1, 0);
    for (const Peak& p : pj.e.d.peaks)
        if (pj.j.decisions[p.group].reason == Reason::PartOfFrame) own[static_cast<std::size_t>(p.group)] = p.ridge < pj.t.chirp_ridge;
    return own;
}

// A faint sweep: searched in the first pass, as strong as the weakest peak at least (a drifting
// wave that faint leaves no peak). A picture whose own repeating content stands out as peaks (a
// brick wall's courses, rows of coins, a chart's ticks) has more of it too faint to, along the same
// lines through the zero frequency (its harmonics, the spread of its pieces): the samples within
// chirp_angle of those peaks' directions are not searched, as if on their ridges; the rest of the
// spectrum is, as a wave laid over the picture lies in a direction of its own. A peak counts so
// only when most of the channels show it: a wave laid over a picture (a scanner's, a moiré) is in
// every channel, so a peak that one channel of three holds alone is the picture's colour detail,
// or a faint wave standing out only where that channel's background lies lowest; neither tells of
// the picture's own repeating content, and such a peak, kept, is searched through (its sweep, tried
// from that peak alone, was not made out). Not in a picture black or white nearly everywhere (text,
// line art), which holds no wave. In a print, none longer than print_own_wave (see
// judge_weak_waves). Over a picture at black or white in ground_share of its samples, its ground
// bears a sweep out where the picture's own detail in the band hides the wave's phase.
void judge_faint_sweep(PeakJudge& pj, int32_t groups) {
    Job& job = pj.job;
    if (pj.e.pass != 0 || !pj.first_pass_fitting() || job.flat.pinned) return;
    Peak found;
    const double lowest = std::max(1 / job.options.detect.protect_period, pj.longest_taken() > 0 ? 1 / pj.longest_taken() : 0.0);
    const host::SpectrumGeometry& g = pj.e.m.geometry;
    Detection searched = pj.e.d;
    std::vector<const Peak*> own;  // the peaks most channels show
    std::vector<uint8_t> shown(std::size_t(groups) + 1, 0);
    for (const Peak& p : searched.peaks)
        if (2 * std::popcount(p.channels) > g.channels) {
            own.push_back(&p);
            shown[std::size_t(p.group)] = 1;
        }
    for (std::vector<int32_t>* marks : {&searched.group, &searched.ridge})
        for (int32_t& k : *marks)
            if (k > 0 && !shown[std::size_t(k)] && pj.j.decisions[k].verdict == Verdict::Keep) k = 0;
    for (int32_t y = 0; !own.empty() && y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            int32_t& mark = searched.ridge[std::size_t(y) * g.columns + x];
            if (mark != 0) continue;
            const Frequency f = frequency_of(g, y, x);
            const double angle = std::atan2(f.v, f.u) * 180 / std::numbers::pi;
            for (std::size_t k = 0; mark == 0 && k < own.size(); ++k)
                if (directions_apart(angle < 0 ? angle + 180 : angle, own[k]->angle) <= pj.t.chirp_angle) mark = own[k]->group;
        }
    if (!subtract_faint_sweep(job.work, pj.e.analysed, job.flat, job.modules.inverse, pj.e.spectrum, pj.e.m, searched, lowest,
                              kSmallestAmplitude / job.options.detect.sensitivity, pj.ground(), pj.t, found,
                              job.unclipped))
        return;
    ++pj.j.sweeps;
    job.result.removed.push_back(found);
    job.result.candidates.push_back({found, {Verdict::SubtractSweep, Reason::FaintSweep}, pj.e.pass});
}

// The strongest local maxima of a spectrum over its background (in any channel), on the axes too,
// outside the protected low frequencies: y * columns + x, strongest first, `count` at most.
std::vector<int32_t> strongest_maxima(const LogMagnitudes& m, const std::vector<float>& background, double protect_period,
                                      std::size_t count, const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    const std::size_t plane = static_cast<std::size_t>(g.rows) * g.columns;
    std::vector<float> excess(plane, -1e30f);
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            const Frequency f = frequency_of(g, y, x);
            if (std::hypot(f.u, f.v) * protect_period < 1 || std::hypot(x - g.centre_x, y - g.centre_y) < t.protected_samples)
                continue;
            const std::size_t i = std::size_t(y) * g.columns + x;
            for (int32_t c = 0; c < g.channels; ++c)
                excess[i] = std::max(excess[i], m.values[plane * c + i] - background[plane * c + i]);
        }
    std::vector<std::pair<float, int32_t>> maxima;
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            const std::size_t i = std::size_t(y) * g.columns + x;
            bool highest = excess[i] > -1e30f;
            for (int32_t ny = std::max(0, y - 1); ny <= std::min(g.rows - 1, y + 1) && highest; ++ny)
                for (int32_t nx = std::max(0, x - 1); nx <= std::min(g.columns - 1, x + 1); ++nx)
                    highest = highest && excess[std::size_t(ny) * g.columns + nx] <= excess[i];
            if (highest) maxima.push_back({excess[i], static_cast<int32_t>(i)});
        }
    const std::size_t n = std::min(count, maxima.size());
    std::partial_sort(maxima.begin(), maxima.begin() + std::ptrdiff_t(n), maxima.end(), std::greater<>());
    std::vector<int32_t> found;
    for (std::size_t k = 0; k < n; ++k) found.push_back(maxima[k].second);
    return found;
}

// The peak a wave fitted about sample (y, x) stands for, `radius` samples wide: its period, its
// direction and its amplitude in the channel where it is strongest.
Peak fitted_peak(const FittedTone& fitted, int32_t y, int32_t x, double radius) {
    const double angle = std::atan2(fitted.f.v, fitted.f.u) * 180 / std::numbers::pi;
    return Peak{y, x, radius, strongest_amplitude(fitted), 1 / std::hypot(fitted.f.u, fitted.f.v), angle < 0 ? angle + 180 : angle, 7u, 0};
}

// A faint screen: searched in the first pass of a picture black or white in large parts
// (ground_share of its samples) when nothing else is taken out in it. A screen printed with the
// tones has few dots there, and the tone's narrow bands along the picture's edges spread its two
// waves, so that neither may stand out as a peak, or make a pair alike in strength; and the
// picture's grain (a star field's) or hard edges may leave many maxima of the spectrum as high as
// its waves. So the strongest faint_screen_maxima maxima of the spectrum over its background are
// weighed in turn, but for those on a peak kept as a pattern in part of the frame (the picture's
// own): one is taken for one of a screen's waves when it lies where a screen's frequency could
// (screen_turned samples off the axes at least), is as strong as a faint pair's (screen_amplitude
// times the picture's printed strength) and as every peak (kSmallestAmplitude; a drawing mostly
// white prints so little that a faint pair there would be a fraction of a level), both over the
// sensitivity, no flat square refutes it (refutes_printed), and its partner at right angles stands out of
// the spectrum, or, where it does not (the grain's maxima stand as high as a screen's waves, over
// the few mid tones it prints in), the wave fitted at f turned a right angle itself is alike in
// strength (alike_in_strength: a screen's two waves swing as far, while at a right angle to one of
// the grain's maxima there is only the background, a fifth as strong or less): both are taken out
// along the tone when the fit to the tone leaves less of the lock-ins' energy than amplitudes
// smoothed over as many periods do, and one amplitude per unit of 4 v (1 - v) explains
// faint_screen_steady of its power across the frame (a screen printed with the tones is one wave
// everywhere; the picture's own texture that has a partner at right angles changes from place to
// place). Where the tone changes from pixel to pixel (grain), both fits leave mostly the grain's
// own energy, and the fit to the tone may leave up to toned_doubt times as much: then the pair is
// taken only on the evidence a screen's pair gives besides that fit, its partner alike at f turned
// itself, the pinned samples showing the wave to fade (pinned_refute), and a strength the default
// sensitivity asks at least (a higher sensitivity lowers the strength asked only where the fit
// speaks for a screen: a line drawing's own lattice ties it as grain does). After
// faint_screen_tries such fits in vain the search ends.
void judge_faint_screen(PeakJudge& pj) {
    Job& job = pj.job;
    const Thresholds& t = pj.t;
    if (!pj.first_pass_fitting() || pj.j.takes_out() || !pj.j.filled.empty() || job.flat.pinned || job.flat.share_pinned < t.ground_share)
        return;
    const host::SpectrumGeometry& g = pj.e.m.geometry;
    int tries = 0;
    for (const int32_t i : strongest_maxima(pj.e.m, pj.e.d.background, job.options.detect.protect_period, t.faint_screen_maxima, t)) {
        const int32_t y = i / g.columns, x = i % g.columns, group = pj.e.d.group[std::size_t(i)];
        if (group > 0 && pj.j.decisions[group].reason == Reason::PartOfFrame) continue;
        const int32_t c = strongest_channel(pj.e.m, Peak{y, x, 1, 0, 0, 0, 7u, 0});
        Tone tone;
        fit_tone(pj.z, g, c, y, x, tone);
        const FittedTone fitted = fitted_tone(pj.z, g, tone, y, x);
        Frequency f = fitted.f;
        const Peak p = fitted_peak(fitted, y, x, 1);
        Frequency partner;
        const double faint = std::max(t.screen_amplitude * job.flat.printed_strength, kSmallestAmplitude);
        if (p.amplitude < faint / job.options.detect.sensitivity ||
            !screen_place(job.work, g, p, t, t.screen_turned) ||
            job.flat.refutes_printed(f, 2 * p.amplitude))
            continue;
        bool turned_alike = false;  // (the wave at f turned a right angle itself alike in strength)
        if (!right_angle_partner(pj, c, f, partner)) {
            partner = {-f.v, f.u};
            turned_alike = alike_in_strength(pj, c, f, partner);
            if (!turned_alike) continue;
        }
        const TonedScreen screen(job.work, {f, partner}, t);
        const TonedScreen::Fit tried = screen.fit(job.work, c, t, true);
        const bool fitted_better = tried.toned_left < tried.smoothed_left ||
                                   (tried.toned_left < t.toned_doubt * tried.smoothed_left && p.amplitude >= faint / std::min(1.0, job.options.detect.sensitivity) &&
                                    (turned_alike || alike_in_strength(pj, c, f, {-f.v, f.u})) &&
                                    pinned_refute(job.flat, pj.j.tones, fitted, t));
        if (!fitted_better || tried.steady < t.faint_screen_steady) {
            if (++tries >= t.faint_screen_tries) return;
            continue;
        }
        screen.subtract(job.work, t, c, tried);
        ++pj.j.envelopes;
        job.result.removed.push_back(p);
        job.result.candidates.push_back({p, {Verdict::SubtractSweep, Reason::FaintScreen}, pj.e.pass});
        return;
    }
}

// Waves over a black or white ground: searched in the first pass of a picture black or white in
// large parts (a poster, a high-contrast print), where the picture's hard edges outshine a wave of
// a long period in the spectrum and the waves, clipped at the ends, are weaker there than
// elsewhere. On the ground the picture is its end, so a wave shows there by itself: the strongest
// maxima of the ground's spectrum, each fitted between samples, are waves across the frame when
// the ground is lifted off (pushed down) where the fitted wave stands above (below) nought and
// pinned where it does not, in ground_agree of its samples (a picture's own shadow detail beside
// its black agrees with no one sinusoid), first as the ground's spectrum fits it and then as its
// lifted samples do. Each is taken out with the amplitudes those samples give; a peak of the pass
// there that the rules kept as the picture's own is overruled, one they took out is left to them.
// A drifting wave fitted as one sinusoid agrees with the ground only where its phase keeps near
// the sinusoid's: above chance (a half) but short of ground_agree. Where one agrees in ground_sweep
// of the samples, a sweep is fitted to the ground there and taken out when it agrees in full
// (subtract_ground_sweep); on the axes, where the picture's own edges and the frame's borders
// fill the spectrum's lines as strongly as such a wave, the ground is where it shows alone.
void judge_ground_waves(PeakJudge& pj) {
    Job& job = pj.job;
    const Thresholds& t = pj.t;
    if (pj.e.pass != 0 || !pj.first_pass_fitting() || job.flat.pinned || job.flat.share_pinned < t.ground_share)
        return;
    const double protect = job.options.detect.protect_period;
    const Ground ground = ground_of(job.work, job.flat, static_cast<int32_t>(protect / 4), t.ground_level);
    const host::Image spectrum = forward_spectrum(job.modules.forward, ground.picture);
    const LogMagnitudes m = read_log_magnitudes(spectrum, host::Layout::Half);
    const host::SpectrumGeometry& g = m.geometry;
    const ComplexHalf z(spectrum, g);
    std::vector<Frequency> taken = job.subtracted;
    for (const FittedTone& tone : pj.j.tones) taken.push_back(tone.f);
    for (const Peak& p : pj.e.d.peaks)
        if (removes(pj.j.decisions[p.group].verdict)) taken.push_back(frequency_of(g, p.row, p.column));
    const auto near = [&](const Frequency& f, const Frequency& o) { return wave_distance(g, o, f) <= t.lattice_tolerance; };
    for (const int32_t i : strongest_maxima(m, spectrum_background(m, job.options.detect, t), protect, std::size_t(t.ground_candidates), t)) {
        const int32_t y = i / g.columns, x = i % g.columns;
        Tone tone;
        fit_tone(z, g, -1, y, x, tone);
        const Frequency f = frequency_of(g, tone.b, tone.a);
        if (job.flat.refutes(f) || std::any_of(taken.begin(), taken.end(), [&](const Frequency& o) { return near(f, o); }))
            continue;
        if (const double agree = ground_agreement(job.work, ground, fitted_tone(z, g, tone, y, x)); agree < t.ground_agree) {
            Peak found;
            if (agree < t.ground_sweep || !subtract_ground_sweep(job.work, pj.e.analysed, job.flat, ground, f, t, found, job.unclipped))
                continue;
            found.row = y;
            found.column = x;
            found.radius = found.notch = 2;
            ++pj.j.sweeps;
            taken.push_back(f);
            job.result.removed.push_back(found);
            job.result.candidates.push_back({found, {Verdict::SubtractSweep, Reason::GroundSweep}, pj.e.pass});
            continue;
        }
        const FittedTone fitted = fit_on_ground(job.work, ground, f, {1.0 / g.period_x, 1.0 / g.rows});
        if (ground_agreement(job.work, ground, fitted) < t.ground_agree) continue;
        pj.j.tones.push_back(fitted);
        taken.push_back(fitted.f);
        const Peak found = fitted_peak(fitted, y, x, 2);
        job.result.removed.push_back(found);
        const Decision decision{Verdict::SubtractTone, Reason::GroundWave};
        bool overruled = false;
        for (const Peak& p : pj.e.d.peaks)
            if (near(fitted.f, frequency_of(g, p.row, p.column))) {
                pj.j.decisions.overrule(p.group, decision);
                overruled = true;
            }
        if (!overruled) job.result.candidates.push_back({found, decision, pj.e.pass});
    }
}

// Weak waves: searched once, in the first passes that have nothing else to take out. In a print,
// the folded copies of its screen fall anywhere over the band alike, few of them at the lowest
// frequencies, where a photograph's own broad waves gather (light through foliage, a sky's
// bands): a weak wave longer than print_own_wave is taken for the photograph's own, as are a
// faint sweep and a peak that only a fill would take out.
void judge_weak_waves(PeakJudge& pj, int32_t groups) {
    Job& job = pj.job;
    if (job.weak_searched || pj.e.pass >= pj.t.weak_passes || job.options.fill != Fill::Background || pj.j.takes_out())
        return;
    job.weak_searched = true;
    find_weak_waves(pj.tiles, pj.z, pj.e.m, pj.e.d, own_peaks(pj, groups), pj.grid, job.subtracted, job.flat,
                    pj.longest_taken(), pj.j.tones, pj.j.weak, pj.t);
    for (const WeakWave& w : pj.j.weak) {
        job.result.removed.push_back(w.peak);
        if (w.group > 0) pj.j.decisions.overrule(w.group, {Verdict::SubtractTone, Reason::WeakWave});
    }
}

// Kept: what is left at a divided line pattern's harmonics is the picture's own (the lines of a
// page the scan lines ran over).
void keep_divided_harmonics(Job& job, Evidence& e, Judgement& j) {
    for (Axis axis : kAxes)
        for (const Peak& p : e.d.peaks)
            if (job.divided[axis] > 0 && harmonic_of(p, job.divided[axis], e.m.geometry, axis, job.options.thresholds))
                j.decisions.decide(p.group, {Verdict::Keep, Reason::LeftByDividedLines, axis, double(job.divided[axis])});
}

// Whether the line pattern found along the axis is one wave: a pattern that the peaks show only at
// its fundamental, none at a multiple of it (a sinusoid of a whole period is a line pattern too,
// where a drawn line, thin and sharp, leaves a row of harmonics). Lines 4 px apart or closer have
// no second harmonic below the Nyquist frequency to tell by.
bool one_wave_along(const Evidence& e, Axis axis, const Thresholds& t) {
    const int32_t period = e.lines->found[axis].period;
    if (period <= 4) return false;
    return std::none_of(e.d.peaks.begin(), e.d.peaks.end(), [&](const Peak& p) {
        return harmonic_of(p, period, e.m.geometry, axis, t) && std::round(along_axis(p, e.m.geometry, axis) * period) >= 2;
    });
}

// Lines too faint for the spectrum to show any of their peaks are recorded as their fundamental,
// the candidate a peak there would have been.
void record_faint_lines(Job& job, const Evidence& e, Axis axis, int32_t period, double amplitude) {
    const host::SpectrumGeometry& g = e.m.geometry;
    const bool rows = axis == Axis::Rows;
    Peak p;
    p.row = static_cast<int32_t>(std::lround(g.centre_y + (rows ? double(g.rows) / period : 0)));
    p.column = static_cast<int32_t>(std::lround(g.centre_x + (rows ? 0 : double(g.period_x) / period)));
    p.radius = p.notch = 1;
    p.amplitude = amplitude;
    p.period = period;
    p.angle = rows ? 90 : 0;
    p.channels = 7;
    job.result.removed.push_back(p);
    job.result.candidates.push_back({p, {Verdict::DivideLines, Reason::FaintLines, axis, double(period)}, e.pass});
}

// Whether the lines found both ways are a screen's dots laid along the rows and columns: two peaks
// on the two axes, of one period a screen's dots could have (a square pair, close enough,
// screen_place but for the axes) and alike in strength, the lowest of their combs (no peak on the
// axis at a half, a third ... of the frequency: lines repeating coarser), that either fade with
// the tone as a print's dots do (the rules of a page or a chart are as dark over its blank paper as
// over anything drawn on it), or are soft dots: no peak at twice the frequency holding dot_share of
// the weaker one's strength (a drawn line's sharp edges put one there, unless it lies beyond the
// band, where it cannot be told) while the lattice point of their sum or difference holds that
// much at least (lines drawn both ways add, and only their crossings put anything there).
bool screen_along_axes(const Job& job, const Evidence& e, const Thresholds& t) {
    const host::SpectrumGeometry& g = e.m.geometry;
    // The strongest peak on the axis of peak p at j times its frequency (0: none).
    const auto at_multiple = [&](const Peak& p, Axis axis, double j) {
        const double f = along_axis(p, g, axis), length = axis == Axis::Rows ? g.rows : g.period_x;
        double strongest = 0;
        for (const Peak& q : e.d.peaks)
            if (&q != &p && std::fabs(along_axis(q, g, axis) - j * f) * length <= t.lattice_tolerance)
                strongest = std::max(strongest, q.amplitude);
        return strongest;
    };
    for (const Peak& a : e.d.peaks)
        for (const Peak& b : e.d.peaks) {
            if (along_axis(a, g, Axis::Columns) <= 0 || along_axis(b, g, Axis::Rows) <= 0 ||
                !screen_place(job.work, g, a, t, 0) || !screen_place(job.work, g, b, t, 0) ||
                std::max(a.amplitude, b.amplitude) > t.screen_alike * std::min(a.amplitude, b.amplitude))
                continue;
            const Frequency fa = frequency_of(g, a.row, a.column), fb = frequency_of(g, b.row, b.column);
            if (!square_pair(g, fa, fb, t)) continue;
            bool coarser = false;
            for (int j = 2; j <= 4; ++j)
                coarser = coarser || at_multiple(a, Axis::Columns, 1.0 / j) > 0 || at_multiple(b, Axis::Rows, 1.0 / j) > 0;
            if (coarser) continue;
            if (screen_strength(job.work, strongest_channel(e.m, a), fa, t).follows >= t.screen_untoned) return true;
            const double weaker = std::min(a.amplitude, b.amplitude);
            const bool seen = 2 * std::hypot(fa.u, fa.v) < 0.5 - t.lattice_tolerance / std::min(g.rows, g.period_x);
            if (!seen || std::max(at_multiple(a, Axis::Columns, 2), at_multiple(b, Axis::Rows, 2)) >= t.dot_share * weaker) continue;
            for (const Peak& c : e.d.peaks) {
                const Frequency fc = frequency_of(g, c.row, c.column);
                if (c.amplitude >= t.dot_share * weaker &&
                    (wave_distance(g, fc, {fa.u + fb.u, fa.v + fb.v}) <= t.lattice_tolerance ||
                     wave_distance(g, fc, {fa.u - fb.u, fa.v - fb.v}) <= t.lattice_tolerance))
                    return true;
            }
        }
    return false;
}

// Scan lines and streaks run one way; lines both ways are a grid drawn on the picture (graph
// paper, a table), and left alone with the whole lattice of its peaks; but stripes that are one
// wave each way are waves crossing the picture, and left to the peak rules, which fit each. A dense grid's lattice looks
// like a screen's, and a screen found on it is the grid, unless an ink turned off the grid shows it
// is a print's. (A screen at 45 degrees darkens rows and columns of its dots too, at a period whose
// lattice does not hold the screen's own frequency; a screen laid along the rows and columns rules
// them at a multiple of its period, and shows itself by its dots or its tone.)
// Otherwise, with no screen, each line pattern found is divided out, its harmonics with it (when
// filling to the background: filling with zero, their peaks are removed as any others).
void judge_lines(Job& job, Evidence& e, Judgement& j) {
    const Thresholds& t = job.options.thresholds;
    const host::SpectrumGeometry& g = e.m.geometry;
    const LineEvidence& lines = *e.lines;
    const double screen = e.d.screen_period;
    const int32_t every_column = lines.ruled[Axis::Columns], every_row = lines.ruled[Axis::Rows];
    if (one_wave_along(e, Axis::Rows, t) && one_wave_along(e, Axis::Columns, t)) return;
    if (every_column > 0 && every_row > 0 &&
        (screen == 0 || (on_lattice(1 / screen, every_column, every_row, g, t) &&
                         !screen_off_grid(e.d, g, every_column, every_row, t))) &&
        !screen_along_axes(job, e, t)) {
        job.drawn = {double(g.period_x) / every_column, double(g.rows) / every_row};
        return;
    }
    if (screen != 0 || job.options.fill != Fill::Background) return;
    for (Axis axis : kAxes) {
        const int32_t period = lines.found[axis].period;
        if (period == 0) continue;
        // The picture is still the one the lines were found in (the first pass, one axis at most
        // divided, before anything else is taken out): faint lines' fit, made there, holds.
        take_out_lines(job.work, lines.found[axis], axis, t);
        job.divided[axis] = period;
        ++j.lines;
        if (lines.found[axis].faint > 0) record_faint_lines(job, e, axis, period, lines.found[axis].faint);
        for (const Peak& p : e.d.peaks)
            if (harmonic_of(p, period, g, axis, t)) {
                j.decisions.decide(p.group, {Verdict::DivideLines, Reason::LinePattern, axis, double(period)});
                job.result.removed.push_back(p);
            }
    }
}

// Kept: the whole lattice of a grid drawn both ways; a screen found on it is the grid's.
void keep_drawn_grid(Job& job, Evidence& e, Judgement& j) {
    e.d.screen_period = 0;
    for (const Peak& p : e.d.peaks)
        if (job.drawn.holds(e.m.geometry, p.row, p.column, job.options.thresholds))
            j.decisions.decide(p.group, {Verdict::Keep, Reason::DrawnGrid});
}

// A screen lays its dots on a square lattice: two strong peaks at right angles and of one period
// are its two frequencies, even when neither runs across the frame at one strength (a screen
// printed with the tones fades to nothing at black and white) and no sum or difference of the two
// stands out (a lattice of round soft dots). Its two frequencies are alike in strength, its dots
// lie close (longest_screen) and fill many cells of a frame larger than an icon (screen_cells,
// screen_side), and its peaks lie off the axes (screen_off_axis samples, beyond the lines the
// picture's borders leave there), where the rows and columns of a page or a table put pairs of
// their own; a screen turned a few degrees from the rows is a screen all the same. By group: 1
// for such a pair; kFaintPair for a pair like it but weaker (a screen printed with the tones over a
// picture dark or light in large parts, where its dots are few), which the flat squares not at
// either end of the range must not refute (but those a level or two off black or white, where the
// pair's dots, swinging at mid grey its amplitudes over the mean of 4 v (1 - v), fade below half a
// level: refutes_printed), in a picture not at black or white nearly everywhere (a chart, a page):
// a print's dots swing screen_amplitude at mid grey at least, so across the frame its waves are at
// least that times the mean of 4 v (1 - v) over the picture's tones. In a
// picture at black or white in large parts (ground_share of its samples), a faint pair may lie
// as close as screen_turned samples to the axes (a screen turned a degree or two from the rows):
// it is taken only when its strength follows the tone, which a table's rules do not. There the
// tone's narrow bands, running along the picture's edges, spread one of a screen's two waves more
// than the other, which may then make no peak alike in strength, or none: when no pair is found,
// the strongest peak where a screen's frequency could lie, on the axes too (a screen along the rows
// and columns), as strong as a faint pair's and not refuted as one would be, whose partner at right
// angles stands out of the spectrum (screen_evidence) is marked kPartnerStands,
// taken only when the frame's tiles show its wave present and its strength follows the tone.
std::vector<uint8_t> screen_pairs(const host::Image& work, const Evidence& e, const FlatEvidence& flat, int32_t groups,
                                  const Thresholds& t) {
    const host::SpectrumGeometry& g = e.m.geometry;
    const double strong =
        t.screen_amplitude * (flat.share_pinned >= t.pinned_share ? 1 : std::min(1.0, flat.printed_strength / t.even_tones_strength));
    const double faint = flat.share_pinned >= t.pinned_share ? strong : t.screen_amplitude * flat.printed_strength;
    std::vector<uint8_t> dotted(static_cast<std::size_t>(groups) + 1, 0);
    const bool banded = flat.share_pinned >= t.ground_share;  // black or white in large parts
    const double off_axis = banded ? t.screen_turned : t.screen_off_axis;
    for (const Peak& a : e.d.peaks)
        for (const Peak& b : e.d.peaks)
            if (a.group != b.group && screen_place(work, g, a, t, off_axis) && screen_place(work, g, b, t, off_axis) &&
                std::max(a.amplitude, b.amplitude) <= t.screen_alike * std::min(a.amplitude, b.amplitude)) {
                const Frequency fa = frequency_of(g, a.row, a.column), fb = frequency_of(g, b.row, b.column);
                if (!square_pair(g, fa, fb, t) || coarser_than_pair(g, e.d.peaks, fa, fb, std::min(a.amplitude, b.amplitude), t))
                    continue;
                uint8_t& d = dotted[static_cast<std::size_t>(a.group)];
                const double weaker = std::min(a.amplitude, b.amplitude);
                const bool off_axes = screen_place(work, g, a, t) && screen_place(work, g, b, t);
                if (weaker >= strong && off_axes) d = 1;
                else if (d == 0 && weaker >= faint &&
                         !flat.refutes_printed(fa, a.amplitude + b.amplitude))
                    d = kFaintPair;
            }
    if (!banded || std::any_of(dotted.begin(), dotted.end(), [](uint8_t d) { return d != 0; })) return dotted;
    for (const Peak& a : e.d.peaks) {
        const Frequency fa = frequency_of(g, a.row, a.column);
        int32_t y = 0, x = 0;
        if (a.amplitude >= faint && screen_place(work, g, a, t, 0) &&
            !flat.refutes_printed(fa, 2 * a.amplitude) &&
            standing_sample(e, strongest_channel(e.m, a), {-fa.v, fa.u}, t, y, x)) {
            dotted[static_cast<std::size_t>(a.group)] = kPartnerStands;
            break;
        }
    }
    return dotted;
}

// With no screen: the combs and grid of the picture's own repeating content are kept, then each
// peak goes down the peak rules, then weak waves are looked for.
void judge_peaks(Job& job, Evidence& e, Judgement& j, int32_t groups) {
    const Thresholds& t = job.options.thresholds;
    const host::SpectrumGeometry& g = e.m.geometry;
    Grid grid;
    grid.down = keep_comb(e.d, g, Axis::Rows, j.decisions, t);
    grid.across = keep_comb(e.d, g, Axis::Columns, j.decisions, t);
    keep_grid(e.d, g, grid, j.decisions, t);
    if (grid.across == 0) grid = job.drawn;
    PeakJudge pj{job, e, j, t, ComplexHalf(e.spectrum, g), LazyTiles{job.work, t, std::nullopt}, grid, {},
                 screen_pairs(job.work, e, job.flat, groups, t), std::nullopt};
    for (const Peak& p : e.d.peaks)
        if (!j.decisions.settled(p.group)) judge_peak(pj, p);
    judge_faint_sweep(pj, groups);
    judge_faint_screen(pj);
    judge_ground_waves(pj);
    judge_weak_waves(pj, groups);
}


// A screen's two generating frequencies: the strongest pair at right angles among its peaks at its
// lowest frequency (up to fundamental_ring of it, and fundamental_share as strong as the strongest
// peak at least), each fitted between samples in the channel where
// it stands highest. False when there is none.
bool screen_generators(const Evidence& e, const Thresholds& t, Frequency& a, Frequency& b, int32_t& channel) {
    const host::SpectrumGeometry& g = e.m.geometry;
    const double lowest = 1 / e.d.screen_period;
    std::vector<const Peak*> ring;
    for (const Peak& p : e.d.peaks) {
        const Frequency f = frequency_of(g, p.row, p.column);
        const double r = std::hypot(f.u, f.v);
        if (r >= kScreenLattice * lowest && r <= t.fundamental_ring * lowest &&
            p.amplitude >= t.fundamental_share * e.d.peaks.front().amplitude)
            ring.push_back(&p);
    }
    const ComplexHalf z(e.spectrum, g);
    for (const Peak* p : ring)
        for (const Peak* q : ring)
            if (p != q && square_pair(g, frequency_of(g, p->row, p->column), frequency_of(g, q->row, q->column), t)) {
                const auto fitted = [&](const Peak& k) {
                    channel = strongest_channel(e.m, k);
                    return fitted_frequency(z, g, channel, k);
                };
                a = fitted(*p);
                b = fitted(*q);
                return true;
            }
    return false;
}

// Whether the wave of frequency f lifts the black ground of a picture black or white in large
// parts off (pushes its white ground down) where it stands above (below) nought, in ground_dots of
// the ground's samples: a print's dots vanish at black and white, and leave the ground flat there.
bool lifts_ground(const Job& job, const host::SpectrumGeometry& g, const Frequency& f, const Thresholds& t) {
    if (job.flat.share_pinned < t.ground_share) return false;
    const Ground ground = ground_of(job.work, job.flat, static_cast<int32_t>(job.options.detect.protect_period / 4), t.ground_level);
    return ground_agreement(job.work, ground, fit_on_ground(job.work, ground, f, {1.0 / g.period_x, 1.0 / g.rows})) >= t.ground_dots;
}

// A halftone screen whose strength does not follow the tone, or that lifts the picture's black
// ground off, and weaker than a print's dots, on a picture that is not black or white nearly
// everywhere (line art, a one-ink print), was laid over the picture, not printed with it: it is
// the same wave everywhere, and each point of its lattice is fitted and subtracted, harmonics and
// their aliases too, keeping the picture's own detail above the screen that a low-pass would
// take. (Where the picture's tones crowd its black and white, the ends cut such a screen short
// beside them, and its strength seems to follow the tone.) A rosette of screens is a print's inks.
bool added_screen(Job& job, const Evidence& e, Frequency& a, Frequency& b) {
    const Thresholds& t = job.options.thresholds;
    int32_t channel = 0;
    if (job.options.print || job.options.fill != Fill::Background || job.flat.pinned || e.d.rosette > 0 ||
        !screen_generators(e, t, a, b, channel))
        return false;
    const ScreenStrength s = screen_strength(job.work, channel, a, t);
    return s.swing > 0 && s.swing <= t.print_swing && (s.follows <= t.screen_untoned || lifts_ground(job, e.m.geometry, a, t));
}

// The lattice of an added screen: every point k a + l b up to lattice_order (folded into the
// sampled band, as a hard-edged dot's harmonics alias), fitted where the spectrum stands above
// its background there; the peaks on them are decided. No harmonic of a screen's dots is stronger
// than its generators (the lattice's own lowest points, a and b): a point fitted stronger
// holds a wave of the picture's own that a high harmonic folded onto (its broad shapes beside the
// protected frequencies, where a harmonic of order ten or so lands by chance), and is left alone.
void subtract_lattice(Job& job, Evidence& e, Judgement& j, const Frequency& a, const Frequency& b) {
    const Thresholds& t = job.options.thresholds;
    const host::SpectrumGeometry& g = e.m.geometry;
    const ComplexHalf z(e.spectrum, g);
    const double keep = 1 / job.options.detect.protect_period;
    // The lattice point k a + l b in the half spectrum and the tone fitted there, where the
    // spectrum stands out there; none where it is protected, outside the half spectrum, or stands
    // out nowhere.
    struct Point {
        Frequency h;
        FittedTone tone;
    };
    const auto point = [&](int k, int l) -> std::optional<Point> {
        Frequency h = wrapped({k * a.u + l * b.u, k * a.v + l * b.v});
        if (h.u < 0 || (h.u == 0 && h.v < 0)) h = {-h.u, -h.v};
        if (std::hypot(h.u, h.v) <= keep) return std::nullopt;
        const double col = h.u * g.period_x, row = g.centre_y + h.v * g.rows;
        const int32_t x0 = static_cast<int32_t>(std::lround(col)), y0 = static_cast<int32_t>(std::lround(row));
        if (x0 < 0 || x0 >= g.columns || y0 < 0 || y0 >= g.rows ||
            std::hypot(x0 - g.centre_x, y0 - g.centre_y) < t.protected_samples)
            return std::nullopt;
        bool stands = false;
        for (int32_t c = 0; c < 3; ++c)
            stands = stands || e.m.at(c, y0, x0) - e.d.background[e.m.index(c, y0, x0)] >= t.lattice_evidence;
        if (!stands) return std::nullopt;
        return Point{h, fitted_tone(z, g, Tone{col, row}, y0, x0)};
    };
    double strongest = 0;
    for (const auto& [k, l] : {std::pair{1, 0}, std::pair{0, 1}})
        if (const std::optional<Point> generator = point(k, l)) strongest = std::max(strongest, strongest_amplitude(generator->tone));
    std::vector<Frequency> points;
    for (int k = -t.lattice_order; k <= t.lattice_order; ++k)
        for (int l = -t.lattice_order; l <= t.lattice_order; ++l) {
            if (k == 0 && l == 0) continue;
            const std::optional<Point> there = point(k, l);
            if (!there || (strongest > 0 && strongest_amplitude(there->tone) > strongest)) continue;
            bool seen = false;
            for (const Frequency& p : points) seen = seen || distance_in_samples(g, p, there->h) < 1;
            if (seen) continue;
            points.push_back(there->h);
            j.tones.push_back(there->tone);
        }
    for (const Peak& p : e.d.peaks) {
        const Frequency f = frequency_of(g, p.row, p.column);
        bool on = false;
        for (const Frequency& h : points)
            on = on || wave_distance(g, f, h) <= t.lattice_tolerance;
        if (on && j.decisions.decide(p.group, {Verdict::SubtractTone, Reason::AddedScreen}))
            job.result.removed.push_back(p);
    }
}

}  // namespace

Judgement judge(Job& job, Evidence& e) {
    const int32_t groups = e.d.group.empty() ? 0 : *std::max_element(e.d.group.begin(), e.d.group.end());
    Judgement j(groups);
    keep_divided_harmonics(job, e, j);
    if (e.lines) judge_lines(job, e, j);
    if (job.drawn.across > 0 && !job.options.print) keep_drawn_grid(job, e, j);
    Frequency a, b;
    // A lattice found only among peaks the range's ends weakened is taken as a screen laid over
    // the picture or not at all: a print's screen, a drawing's or a barcode's are not cut off so.
    const bool cut = e.d.screen_period == 0 && e.d.cut_screen > 0 && !job.added_screen;
    if (cut) e.d.screen_period = e.d.cut_screen;
    if (e.d.screen_period > 0 && (job.added_screen || added_screen(job, e, a, b))) {
        if (!job.added_screen) subtract_lattice(job, e, j, a, b);
        job.added_screen = true;
        e.d.screen_period = 0;
    }
    if (cut) e.d.screen_period = 0;
    if (e.d.screen_period == 0) judge_peaks(job, e, j, groups);
    return j;
}

}  // namespace quen::cleaning
