// Evidence about the whole picture that refutes or bears out a wave across the frame.
#include "frame_evidence.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <vector>

namespace quen::cleaning {
namespace {

// The share of the picture's samples at either end of the range, and the mean of 4 v (1 - v)
// over its samples v (full scale 1): how strong a screen printed with the picture's tones is
// across the frame, beside its strength at mid grey (a print's dots fade to nothing at black and
// white).
void tones_at_ends(const host::Image& picture, FlatEvidence& e) {
    const double full = host::Image::full_scale(picture.depth);
    double weight = 0;
    int64_t pinned = 0;
    e.rows = picture.rows;
    e.cols = picture.cols;
    e.ends.assign(3 * std::size_t(picture.rows) * picture.cols, 0);
    for (int32_t y = 0; y < picture.rows; ++y)
        for (int32_t x = 0; x < picture.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                const double sample = picture.value(y, x, c), v = std::clamp(sample / full, 0.0, 1.0);
                if (at_either_end(sample, full)) {
                    e.ends[(std::size_t(y) * picture.cols + x) * 3 + c] = sample > 0 ? 2 : 1;
                    ++pinned;
                }
                weight += 4 * v * (1 - v);
            }
    const double samples = 3 * double(picture.rows) * picture.cols;
    e.share_pinned = double(pinned) / samples;
    if (pinned == 0) e.ends.clear();
    e.printed_strength = weight / samples;
}

// Whether a picture with `pinned` of its samples at either end of the range can hold no wave
// across the frame. At black or white a wave shows half the
// time: one of `weakest` (full scale 1) leaves a sample there at most 1/2 + asin(half a level /
// its amplitude) / pi of the time, 61 % for the weakest taken out at 8 bits. A picture with a
// tenth more of its samples there (pinned_share 0.6 where a wave leaves 0.5; a barcode, a QR code,
// line art, a page of text: black and white but for the antialiased edges) holds none.
bool mostly_pinned(const host::Image& picture, double pinned, double weakest, const Thresholds& t) {
    const double levels = picture.depth == 32 ? HUGE_VAL : weakest * host::Image::full_scale(picture.depth);
    return pinned >= t.pinned_share + std::asin(std::min(1.0, 0.5 / levels)) / std::numbers::pi;
}

// The side of the largest square of the picture whose samples are all alike (a figure's margin, a
// flat panel of a drawing). A wave across the whole frame, as strong as the weakest taken out,
// changes the samples of any square a period wide, so a picture holding such a square holds no
// such wave of that period or shorter: what repeats there is the picture's own (a figure's
// panels laid out at a steady spacing). Photographs hold none: their grain alone varies every
// sample. At either end of the range a wave shows only half the time: over a highlight pinned
// at white, waves leave flat patches up to about half the longest one's period wide, so such a
// square counts only when it is wider than twice the longest period cleaned (`longest`).
// The most 4 v (1 - v) of the squares not at either end is kept by side (FlatEvidence::free_tones).
struct FlatSquares {
    int32_t any = 0, free = 0;  // the side of the largest counted, and of the largest not at either end
    std::vector<double> free_tones;
};
FlatSquares largest_flat_square(const host::Image& picture, double longest) {
    std::vector<int32_t> above(std::size_t(picture.cols), 0), here(std::size_t(picture.cols), 0);
    const double full = host::Image::full_scale(picture.depth);
    const auto same = [&](int32_t y0, int32_t x0, int32_t y1, int32_t x1) {
        for (int32_t c = 0; c < 3; ++c)
            if (picture.value(y0, x0, c) != picture.value(y1, x1, c)) return false;
        return true;
    };
    int32_t free = 0, pinned = 0;
    std::vector<double> tones(1, 0.0);  // by side: the most 4 v (1 - v) of a free square that wide
    for (int32_t y = 0; y < picture.rows; ++y) {
        for (int32_t x = 0; x < picture.cols; ++x) {
            const std::size_t i = std::size_t(x);
            here[i] = y > 0 && x > 0 && same(y, x, y - 1, x) && same(y, x, y, x - 1) && same(y, x, y - 1, x - 1)
                          ? std::min({above[i], here[i - 1], above[i - 1]}) + 1
                          : 1;
            if (here[i] == 1) continue;
            bool at_end = false;
            double tone = 0;
            for (int32_t c = 0; c < 3; ++c) {
                const double v = picture.value(y, x, c);
                at_end = at_end || at_either_end(v, full);
                tone = std::max(tone, 4 * (v / full) * (1 - v / full));
            }
            int32_t& largest = at_end ? pinned : free;
            largest = std::max(largest, here[i]);
            if (at_end) continue;
            if (tones.size() <= std::size_t(here[i])) tones.resize(std::size_t(here[i]) + 1, 0.0);
            tones[std::size_t(here[i])] = std::max(tones[std::size_t(here[i])], tone);
        }
        std::swap(above, here);
    }
    for (std::size_t s = tones.size() - 1; s > 0; --s) tones[s - 1] = std::max(tones[s - 1], tones[s]);
    return {std::max(free, pinned > 2 * longest ? pinned : 0), free, tones};
}

}  // namespace

bool across_the_frame(const host::Image& picture, int32_t c, const Frequency& f, const Thresholds& t) {
    double amplitude[2][2];
    const int32_t half_rows = picture.rows / 2, half_cols = picture.cols / 2;
    for (int32_t qy = 0; qy < 2; ++qy)
        for (int32_t qx = 0; qx < 2; ++qx) {
            std::complex<double> sum = 0;
            const int32_t y0 = qy * half_rows, y1 = qy ? picture.rows : half_rows;
            const int32_t x0 = qx * half_cols, x1 = qx ? picture.cols : half_cols;
            const std::complex<double> step = std::polar(1.0, -2 * std::numbers::pi * f.u);
            for (int32_t y = y0; y < y1; ++y) {
                std::complex<double> w = std::polar(1.0, -2 * std::numbers::pi * (f.u * x0 + f.v * y));
                for (int32_t x = x0; x < x1; ++x, w *= step) sum += picture.value(y, x, c) * w;
            }
            amplitude[qy][qx] = std::abs(sum) / (double(y1 - y0) * (x1 - x0));
        }
    const double lo = std::min({amplitude[0][0], amplitude[0][1], amplitude[1][0], amplitude[1][1]});
    const double hi = std::max({amplitude[0][0], amplitude[0][1], amplitude[1][0], amplitude[1][1]});
    return lo >= t.frame_wide * hi;
}


bool pinned_refute(const FlatEvidence& flat, const std::vector<FittedTone>& before, const FittedTone& tone,
                   const Thresholds& t) {
    if (flat.ends.empty() || flat.share_pinned < t.lifted_share) return false;  // too few to refute any
    std::vector<FittedTone> waves = before;
    waves.push_back(tone);
    std::vector<std::complex<double>> step, turn(waves.size());
    for (const FittedTone& w : waves) step.push_back(std::polar(1.0, 2 * std::numbers::pi * w.f.u));
    double lift[3], share[3];
    for (int32_t c = 0; c < 3; ++c) {
        const double amplitude = 2 * std::abs(tone.amplitude[c]);
        // Well above (below) nought: by half the wave's amplitude (in the third of its cycle
        // nearest its crest), and by more than half a level at 8 bits; `share` of its cycle lies there.
        lift[c] = std::max(amplitude / 2, kSmallestAmplitude / 3);
        share[c] = amplitude > lift[c] ? std::acos(lift[c] / amplitude) / std::numbers::pi : 0;
    }
    double lifted = 0, by_chance = 0;
    for (int32_t y = 0; y < flat.rows; ++y) {
        const uint8_t* row = &flat.ends[std::size_t(y) * flat.cols * 3];
        for (int32_t x = 0; x < flat.cols; ++x) {
            for (std::size_t k = 0; k < waves.size(); ++k)
                turn[k] = x % 256 == 0 ? std::polar(1.0, 2 * std::numbers::pi * std::fmod(waves[k].f.u * x + waves[k].f.v * y, 1.0))
                                       : turn[k] * step[k];
            for (int32_t c = 0; c < 3; ++c) {
                const uint8_t end = row[std::size_t(x) * 3 + c];
                if (!end) continue;
                double w = 0;
                for (std::size_t k = 0; k < waves.size(); ++k) w += 2 * std::real(waves[k].amplitude[c] * turn[k]);
                lifted += end == 1 ? w > lift[c] : w < -lift[c];
                by_chance += share[c];
            }
        }
    }
    return lifted >= t.lifted_share * 3 * double(flat.rows) * flat.cols && lifted >= t.lifted_chance * by_chance;
}

Ground ground_of(const host::Image& work, const FlatEvidence& flat, int32_t reach, double level) {
    const int32_t rows = work.rows, cols = work.cols;
    Ground ground{host::Image::make(rows, cols, 3, 32), std::vector<uint8_t>(3 * std::size_t(rows) * cols, 0)};
    // Counts of samples pinned at each end over the rectangle from the origin (a summed-area table).
    const std::size_t stride = std::size_t(cols) + 1;
    std::vector<int32_t> sums(2 * (std::size_t(rows) + 1) * stride);
    const auto sum = [&](int end, int32_t y, int32_t x) -> int32_t& { return sums[(std::size_t(end) * (rows + 1) + y) * stride + x]; };
    for (int32_t c = 0; c < 3; ++c) {
        for (int end = 0; end < 2; ++end)
            for (int32_t y = 0; y < rows; ++y)
                for (int32_t x = 0; x < cols; ++x)
                    sum(end, y + 1, x + 1) = sum(end, y, x + 1) + sum(end, y + 1, x) - sum(end, y, x) +
                                             (flat.ends.empty() ? 0 : flat.ends[(std::size_t(y) * cols + x) * 3 + c] == end + 1);
        const auto near = [&](int end, int32_t y, int32_t x) {
            const int32_t y0 = std::max(0, y - reach), y1 = std::min(rows, y + reach + 1);
            const int32_t x0 = std::max(0, x - reach), x1 = std::min(cols, x + reach + 1);
            return sum(end, y1, x1) - sum(end, y0, x1) - sum(end, y1, x0) + sum(end, y0, x0) > 0;
        };
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x) {
                const double v = work.value(y, x, c);
                const int end = v <= level && near(0, y, x) ? 1 : v >= 1 - level && near(1, y, x) ? 2 : 0;
                if (!end) continue;
                ground.of[(std::size_t(y) * cols + x) * 3 + c] = uint8_t(end);
                ground.picture.set<float>(y, x, c, static_cast<float>(end == 1 ? v : v - 1));
            }
    }
    return ground;
}

double ground_agreement(const host::Image& work, const Ground& ground, const RowPhases& phases,
                        const std::complex<double> (&amplitude)[3]) {
    double agree = 0, weighed = 0;
    std::vector<std::complex<double>> turns(static_cast<std::size_t>(work.cols));
    for (int32_t y = 0; y < work.rows; ++y) {
        phases(y, turns);
        for (int32_t x = 0; x < work.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                const uint8_t end = ground.of[(std::size_t(y) * work.cols + x) * 3 + c];
                if (!end || amplitude[c] == 0.0) continue;
                const double w = 2 * std::real(amplitude[c] * turns[std::size_t(x)]);
                if (std::fabs(w) < std::abs(amplitude[c])) continue;  // near nought (half its swing): either may hold
                agree += ground_agrees(end, work.value(y, x, c), w);
                ++weighed;
            }
    }
    return weighed > 0 ? agree / weighed : 0;
}

double fit_to_ground(const host::Image& work, const Ground& ground, const RowPhases& phases, int32_t step,
                     std::complex<double> (&amplitude)[3], const std::complex<double>* near, double tolerance) {
    double cc[3] = {}, cs[3] = {}, ss[3] = {}, cv[3] = {}, sv[3] = {}, vv[3] = {};
    std::vector<std::complex<double>> turns(static_cast<std::size_t>(work.cols));
    for (int32_t y = 0; y < work.rows; y += step) {
        phases(y, turns);
        for (int32_t x = 0; x < work.cols; x += step)
            for (int32_t c = 0; c < 3; ++c) {
                const uint8_t end = ground.of[(std::size_t(y) * work.cols + x) * 3 + c];
                const double v = work.value(y, x, c);
                if (!end || at_either_end(v, 1.0)) continue;
                const std::complex<double> turn = turns[std::size_t(x)];
                const double w = end == 1 ? v : v - 1, co = turn.real(), si = turn.imag();
                if (near && std::fabs(w - 2 * std::real(near[c] * turn)) > tolerance) continue;
                cc[c] += co * co, cs[c] += co * si, ss[c] += si * si, cv[c] += co * w, sv[c] += si * w, vv[c] += w * w;
            }
    }
    double left = 0;
    for (int32_t c = 0; c < 3; ++c) {
        amplitude[c] = 0;
        const double det = cc[c] * ss[c] - cs[c] * cs[c];
        if (det <= 0) continue;
        const double a = (ss[c] * cv[c] - cs[c] * sv[c]) / det, b = (cc[c] * sv[c] - cs[c] * cv[c]) / det;
        amplitude[c] = {a / 2, -b / 2};  // a cos + b sin = 2 Re(A e^(i phase))
        left += vv[c] - a * cv[c] - b * sv[c];
    }
    return left;
}

namespace {

// A sinusoid's phase along row y, turned from column to column by its horizontal frequency.
RowPhases tone_phases(const Frequency& f) {
    return [f, step = std::polar(1.0, 2 * std::numbers::pi * f.u)](int32_t y, std::vector<std::complex<double>>& turns) {
        std::complex<double> turn = std::polar(1.0, 2 * std::numbers::pi * std::fmod(f.v * y, 1.0));
        for (std::complex<double>& at : turns) {
            at = turn;
            turn *= step;
        }
    };
}

// The least-squares sinusoid of frequency f through the ground's samples off their end (as
// fit_to_ground does); `left` receives what it leaves of their energy.
FittedTone fit_ground_at(const host::Image& work, const Ground& ground, const Frequency& f, double& left) {
    FittedTone tone{f, {}, true};
    left = fit_to_ground(work, ground, tone_phases(f), 1, tone.amplitude);
    return tone;
}

}  // namespace

void refit_to_explained(const host::Image& work, const Ground& ground, const RowPhases& phases,
                        std::complex<double> (&amplitude)[3]) {
    for (int round = 0; round < 2; ++round) {
        const std::complex<double> near[3] = {amplitude[0], amplitude[1], amplitude[2]};
        fit_to_ground(work, ground, phases, 1, amplitude, near, std::max(kSmallestAmplitude, strongest_amplitude(near) / 4));
    }
}

double ground_agreement(const host::Image& work, const Ground& ground, const FittedTone& tone) {
    return ground_agreement(work, ground, tone_phases(tone.f), tone.amplitude);
}

FittedTone fit_on_ground(const host::Image& work, const Ground& ground, const Frequency& f, const Frequency& step) {
    FittedTone best{f, {}};
    double least = HUGE_VAL;
    // Quarter samples up to half a sample each way, then eighths about the best.
    for (const auto& [reach, part] : {std::pair{2, 0.25}, std::pair{1, 0.125}}) {
        const Frequency about = best.f;
        for (int i = -reach; i <= reach; ++i)
            for (int k = -reach; k <= reach; ++k) {
                double left = 0;
                const FittedTone tone =
                    fit_ground_at(work, ground, {about.u + k * part * step.u, about.v + i * part * step.v}, left);
                if (left < least) least = left, best = tone;
            }
    }
    // Twice more at that frequency, with only the samples the wave fitted explains.
    refit_to_explained(work, ground, tone_phases(best.f), best.amplitude);
    return best;
}

bool FlatEvidence::refutes(const Frequency& f, bool by_pinned) const {
    return 1 / std::hypot(f.u, f.v) <= (by_pinned || pinned ? flat_side : free_side);
}

bool FlatEvidence::refutes_printed(const Frequency& f, double swing) const {
    if (!refutes(f, false)) return false;
    if (pinned) return true;
    const std::size_t side = static_cast<std::size_t>(std::ceil(1 / std::hypot(f.u, f.v)));
    const double mid_grey = swing / std::max(printed_strength, kSmallestAmplitude);
    return side < free_tones.size() && mid_grey * free_tones[side] >= half_level;
}

FlatEvidence flat_evidence(const host::Image& picture, const DetectOptions& options, const Thresholds& t) {
    FlatEvidence e;
    tones_at_ends(picture, e);
    e.pinned = mostly_pinned(picture, e.share_pinned, kSmallestAmplitude / options.sensitivity, t);
    if (e.pinned) {
        e.flat_side = e.free_side = std::numeric_limits<int32_t>::max();
    } else {
        const FlatSquares squares = largest_flat_square(picture, options.protect_period);
        e.flat_side = squares.any;
        e.free_side = squares.free;
        e.free_tones = squares.free_tones;
        e.half_level = picture.depth == 32 ? 0 : 0.5 / host::Image::full_scale(picture.depth);
    }
    return e;
}

}  // namespace quen::cleaning
