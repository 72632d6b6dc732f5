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
    int64_t pinned = 0;
    double weight = 0;
    for (int32_t y = 0; y < picture.rows; ++y)
        for (int32_t x = 0; x < picture.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                const double sample = picture.value(y, x, c), v = std::clamp(sample / full, 0.0, 1.0);
                pinned += at_either_end(sample, full);
                weight += 4 * v * (1 - v);
            }
    const double samples = 3 * double(picture.rows) * picture.cols;
    e.share_pinned = double(pinned) / samples;
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
int32_t largest_flat_square(const host::Image& picture, double longest) {
    std::vector<int32_t> above(std::size_t(picture.cols), 0), here(std::size_t(picture.cols), 0);
    const double full = host::Image::full_scale(picture.depth);
    const auto same = [&](int32_t y0, int32_t x0, int32_t y1, int32_t x1) {
        for (int32_t c = 0; c < 3; ++c)
            if (picture.value(y0, x0, c) != picture.value(y1, x1, c)) return false;
        return true;
    };
    int32_t free = 0, pinned = 0;
    for (int32_t y = 0; y < picture.rows; ++y) {
        for (int32_t x = 0; x < picture.cols; ++x) {
            const std::size_t i = std::size_t(x);
            here[i] = y > 0 && x > 0 && same(y, x, y - 1, x) && same(y, x, y, x - 1) && same(y, x, y - 1, x - 1)
                          ? std::min({above[i], here[i - 1], above[i - 1]}) + 1
                          : 1;
            if (here[i] <= std::min(free, pinned)) continue;
            bool at_end = false;
            for (int32_t c = 0; c < 3; ++c) at_end = at_end || at_either_end(picture.value(y, x, c), full);
            int32_t& largest = at_end ? pinned : free;
            largest = std::max(largest, here[i]);
        }
        std::swap(above, here);
    }
    return std::max(free, pinned > 2 * longest ? pinned : 0);
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


bool FlatEvidence::refutes(const Frequency& f) const { return 1 / std::hypot(f.u, f.v) <= flat_side; }

FlatEvidence flat_evidence(const host::Image& picture, const DetectOptions& options, const Thresholds& t) {
    FlatEvidence e;
    tones_at_ends(picture, e);
    e.pinned = mostly_pinned(picture, e.share_pinned, kSmallestAmplitude / options.sensitivity, t);
    e.flat_side = e.pinned ? std::numeric_limits<int32_t>::max() : largest_flat_square(picture, options.protect_period);
    return e;
}

}  // namespace quen::cleaning
