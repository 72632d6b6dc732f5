// Line patterns: their periods from the peaks on the axes, their gains from the lines, and their division.
#include "lines.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>

namespace quen::cleaning {
namespace {

constexpr int32_t kLineParts = 4;  // parts of the lines whose samples must each bear out the gains
constexpr double kMedianToError = 1.4826 * 1.25;  // a median absolute deviation to a deviation, and a median's error to a mean's

// The period k of the line pattern that the peaks on one axis stand for (the smallest that
// explains the most of them), or 0.
int32_t line_period(const std::vector<Peak>& peaks, const host::SpectrumGeometry& g, Axis axis, const Thresholds& t) {
    int32_t best = 0, best_count = 0;
    for (int32_t k = 2; k <= t.longest_line_period; ++k) {
        int32_t count = 0;
        for (const Peak& p : peaks) count += harmonic_of(p, k, g, axis, t);
        if (count > best_count) {
            best = k;
            best_count = count;
        }
    }
    return best;
}


// The step of each channel's line (row or column) from the one before it, laid out channel by
// channel (the first line's step is 0): the log ratio of the two lines' sums.
std::vector<double> line_steps(const host::Image& work, Axis axis) {
    const bool rows = axis == Axis::Rows;
    const int32_t lines = rows ? work.rows : work.cols;
    std::vector<double> sum(static_cast<std::size_t>(3 * lines), 0), step(sum.size(), 0);
    for (int32_t y = 0; y < work.rows; ++y)
        for (int32_t x = 0; x < work.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) sum[std::size_t(c * lines + (rows ? y : x))] += work.get<float>(y, x, c);
    for (std::size_t i = 1; i < sum.size(); ++i)
        if (i % std::size_t(lines) != 0 && sum[i] > 0 && sum[i - 1] > 0) step[i] = std::log(sum[i] / sum[i - 1]);
    return step;
}

// The same steps as the median over the samples first to last of each line of the log ratio of
// each sample to its neighbour in the line before. A line pattern scales every sample of its lines
// alike, and both steps see it; lines of text or any drawing on a page darken only their ink,
// which moves the sums while most samples, the paper between, keep their neighbours' values.
// (Less precise than the sums on 8-bit samples: it bears out their gains or not, and they say how
// strong.) Of a long line every k-th sample (1024 or more in the line) gives the median as well.
// With `offsets`, the difference of the samples rather than their log ratio.
std::vector<double> sample_steps(const host::Image& work, Axis axis, int32_t first, int32_t last, const Thresholds& t,
                                 bool offsets = false) {
    const bool rows = axis == Axis::Rows;
    const int32_t lines = rows ? work.rows : work.cols, length = rows ? work.cols : work.rows;
    const int32_t stride = length / t.line_stride_samples + 1;
    constexpr float kDark = 1e-4f;  // samples this close to black hold no ratio
    std::vector<double> step(static_cast<std::size_t>(3 * lines), 0);
    std::vector<float> ratios;
    for (int32_t c = 0; c < 3; ++c)
        for (int32_t i = 1; i < lines; ++i) {
            ratios.clear();
            for (int32_t j = first; j < last; j += stride) {
                const float a = rows ? work.get<float>(i, j, c) : work.get<float>(j, i, c);
                const float b = rows ? work.get<float>(i - 1, j, c) : work.get<float>(j, i - 1, c);
                if (a > kDark && b > kDark) ratios.push_back(offsets ? a - b : std::log(a / b));
            }
            step[std::size_t(c * lines + i)] = median(ratios);
        }
    return step;
}


// A gain for each class of lines y mod k in each channel, from the steps between neighbouring
// lines (a natural picture changes little from one row to the next; medians keep its edges out).
LineGains fit_line_gains(const std::vector<double>& steps, int32_t k, const Thresholds& t) {
    const int32_t lines = static_cast<int32_t>(steps.size() / 3);
    LineGains fit{std::vector<double>(static_cast<std::size_t>(3 * k), 0), false, 0};
    if (lines < t.lines_per_class * k) return {};
    std::vector<float> left;  // the ratios less their class's step, all classes and channels
    for (int32_t c = 0; c < 3; ++c) {
        const double* line_step = &steps[std::size_t(c * lines)];
        std::vector<double> step(static_cast<std::size_t>(k)), error(static_cast<std::size_t>(k));
        for (int32_t r = 0; r < k; ++r) {
            std::vector<float> ratios;
            for (int32_t i = r > 0 ? r : k; i < lines; i += k) ratios.push_back(static_cast<float>(line_step[i]));
            if (ratios.size() < 3) return {};
            const float mid = median(ratios);
            for (float& v : ratios) left.push_back(v = std::fabs(v - mid));
            step[std::size_t(r)] = mid;
            error[std::size_t(r)] = kMedianToError * median(ratios) / std::sqrt(double(ratios.size()));
        }
        // The steps go once round the classes: what they add up to is the picture's own drift.
        double drift = 0;
        for (double v : step) drift += v / k;
        double* g = &fit.log_gain[std::size_t(c * k)];
        for (int32_t r = 0; r < k; ++r) {
            if (r > 0) g[r] = g[r - 1] + step[std::size_t(r)] - drift;
            fit.stands_out = fit.stands_out || std::fabs(step[std::size_t(r)] - drift) >
                                                   std::max(t.line_significance * error[std::size_t(r)], t.line_smallest);
        }
        std::vector<float> sorted(g, g + k);
        const double mid = median(sorted);  // most classes are as the picture was
        for (int32_t r = 0; r < k; ++r) g[r] -= mid;
    }
    fit.scatter = median(left);
    return fit;
}

// Whether the gains fitted to the lines' samples one by one bear out those fitted to their sums:
// their projection on them keeps at least line_alike of their size (a scan line's gain holds
// for every sample of it; the rows of a page of text, written over with a wave, show a twentieth
// of their sums' gains).
bool scales_samples(const LineGains& sums, const LineGains& samples, const Thresholds& t) {
    if (samples.log_gain.size() != sums.log_gain.size()) return false;
    double along = 0, size = 0;
    for (std::size_t i = 0; i < sums.log_gain.size(); ++i) {
        along += samples.log_gain[i] * sums.log_gain[i];
        size += sums.log_gain[i] * sums.log_gain[i];
    }
    return along >= t.line_alike * size;
}

// The cosine of the angle between two fits' gains (1 when one is the other scaled).
double alike(const LineGains& a, const LineGains& b) {
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.log_gain.size(); ++i) {
        ab += a.log_gain[i] * b.log_gain[i];
        aa += a.log_gain[i] * a.log_gain[i];
        bb += b.log_gain[i] * b.log_gain[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// The size of a fit's gains (their root sum of squares).
double size(const LineGains& fit) {
    double sum = 0;
    for (double g : fit.log_gain) sum += g * g;
    return std::sqrt(sum);
}

// Whether the lines split two ways into two parts, each cut at lines of class 0, bear out the
// gains of all of them: the first half and the second each give those gains (scales_samples), and
// the two halves, and the middle half and the two quarters at the ends together, give alike ones
// (alike, line_steady) where both parts' gains are line_alike the size of the whole's at least (a
// grid or a table drawn short of the frame's borders leaves them blank). A line pattern gives every period of lines the
// same gains, from the first to the last; a wave whose frequency drifts along the axis, near a
// period of whole lines in one part of the frame, slips out of step with it across the frame: its
// halves disagree where it drifts one way from the lines' frequency, its middle and its ends where
// it drifts through it (the phase it slips by grows from the middle to both ends alike, which two
// halves share). Parts too short to fit bear out any.
bool same_in_every_part(const LineGains& whole, const std::vector<double>& steps, int32_t period, const Thresholds& t) {
    const int32_t lines = static_cast<int32_t>(steps.size() / 3);
    const int32_t quarter = lines / 4 / period * period, middle = lines / 2 / period * period,
                  last_quarter = lines * 3 / 4 / period * period;
    using Part = std::array<std::pair<int32_t, int32_t>, 2>;  // one or two runs of lines
    const auto fit_part = [&](const Part& part) {
        std::vector<double> some;
        for (int32_t c = 0; c < 3; ++c)
            for (const auto& [first, last] : part)
                some.insert(some.end(), steps.begin() + c * lines + first, steps.begin() + c * lines + last);
        return fit_line_gains(some, period, t);
    };
    const LineGains first = fit_part({{{0, middle}, {0, 0}}}), second = fit_part({{{middle, lines}, {0, 0}}});
    for (const LineGains& half : {first, second})
        if (!half.log_gain.empty() && !scales_samples(whole, half, t)) return false;
    const LineGains inner = fit_part({{{quarter, last_quarter}, {0, 0}}}), outer = fit_part({{{0, quarter}, {last_quarter, lines}}});
    const auto sized = [&](const LineGains& part) {
        return !part.log_gain.empty() && size(part) > 0 && size(part) >= t.line_alike * size(whole);
    };
    for (const auto& [a, b] : {std::pair{&first, &second}, std::pair{&inner, &outer}})
        if (sized(*a) && sized(*b) && alike(*a, *b) < t.line_steady) return false;
    return true;
}

// The steps of one axis's lines in the picture as it is, for every period tried on it: those of
// the sums at once, those of the samples of each part of the lines when a fit first needs them.
// A line pattern scales its lines from end to end; the upright bars of a chart, a fence or the
// posts of a bridge reach only part of the way, and their parts disagree.
struct LineSteps {
    LineSteps(const host::Image& picture, Axis along, const Thresholds& thresholds)
        : work(picture), axis(along), t(thresholds), sums(line_steps(picture, along)) {}
    const host::Image& work;
    const Axis axis;
    const Thresholds& t;
    const std::vector<double> sums;
    std::optional<std::array<std::vector<double>, kLineParts>> samples;
    const std::array<std::vector<double>, kLineParts>& of_samples() {
        if (!samples) {
            const int32_t length = axis == Axis::Rows ? work.cols : work.rows;
            samples.emplace();
            for (int32_t i = 0; i < kLineParts; ++i)
                (*samples)[std::size_t(i)] = sample_steps(work, axis, i * length / kLineParts, (i + 1) * length / kLineParts, t);
        }
        return *samples;
    }
};


// The line pattern of period k, or of a multiple of it when only some of the pattern's peaks were
// found: the shortest period whose gains leave (almost) the least spread. None when no class of
// lines stands out; none but drawn when one darkens or lightens its lines beyond a line pattern.
LinePattern find_line_pattern(int32_t k, LineSteps& steps) {
    const Thresholds& t = steps.t;
    std::vector<LineGains> fits;
    double least = HUGE_VAL;
    for (int32_t period = k; period <= std::max(k, t.longest_line_period); period += k) {
        fits.push_back(fit_line_gains(steps.sums, period, t));
        least = std::min(least, fits.back().scatter);
    }
    for (std::size_t i = 0; i < fits.size(); ++i) {
        LineGains& fit = fits[i];
        if (fit.scatter > t.line_spread * least) continue;
        const int32_t period = k * static_cast<int32_t>(i + 1);
        if (!fit.stands_out) return {};
        for (const std::vector<double>& part : steps.of_samples())
            if (!scales_samples(fit, fit_line_gains(part, period, t), t)) return {};
        if (!same_in_every_part(fit, steps.sums, period, t)) return {};
        if (std::any_of(fit.log_gain.begin(), fit.log_gain.end(), [&](double g) { return std::fabs(g) > t.line_strongest; }))
            return {0, {}, period};
        return {period, std::move(fit), 0};
    }
    return {};
}

// How a pattern comes out of the picture it was found in, and what that changes (both below, with
// take_out_lines).
void fit_take_out(const host::Image& work, LinePattern& pattern, Axis axis, const Thresholds& t);
double apply_per_class(const host::Image& picture, host::Image* out, const LinePattern& pattern, Axis axis);

}  // namespace

double along_axis(const Peak& p, const host::SpectrumGeometry& g, Axis axis) {
    const bool rows = axis == Axis::Rows;
    const Frequency f = frequency_of(g, p.row, p.column);
    if (rows) return std::fabs(p.column - g.centre_x) <= 1 ? std::fabs(f.v) : -1;
    return std::fabs(p.row - g.centre_y) <= 1 ? std::fabs(f.u) : -1;
}

bool harmonic_of(const Peak& p, int32_t k, const host::SpectrumGeometry& g, Axis axis, const Thresholds& t) {
    const double f = along_axis(p, g, axis);
    const double j = std::round(f * k);
    return j >= 1 && std::fabs(f - j / k) * (axis == Axis::Rows ? g.rows : g.period_x) <= t.line_tolerance;
}

LineEvidence find_lines(const host::Image& work, const std::vector<Peak>& peaks, const host::SpectrumGeometry& g,
                        double weakest, const Thresholds& t) {
    LineEvidence e;
    PerAxis<LineSteps> steps{{work, Axis::Rows, t}, {work, Axis::Columns, t}};
    for (Axis axis : kAxes) {
        std::vector<Peak> left = peaks;
        for (int attempt = 0; attempt < t.line_attempts && e.found[axis].period == 0; ++attempt) {
            const int32_t k = line_period(left, g, axis, t);
            if (k == 0) break;
            e.found[axis] = find_line_pattern(k, steps[axis]);
            if (e.ruled[axis] == 0) e.ruled[axis] = e.found[axis].lines();
            std::erase_if(left, [&](const Peak& p) { return harmonic_of(p, k, g, axis, t); });
        }
    }
    // Lines too faint for their harmonics to stand out of the spectrum (stripes of a few levels,
    // their power spread over many harmonics): on an axis whose peaks point at no period, the
    // shortest period whose classes of lines stand out, borne out by the samples as any line
    // pattern is; when its lines are not a line pattern's, no other is tried. Lines that change
    // the picture less than the weakest wave taken out as a peak are left alone.
    for (Axis axis : kAxes) {
        if (line_period(peaks, g, axis, t) > 0) continue;
        for (int32_t k = 2; k <= t.longest_line_period; ++k)
            if (fit_line_gains(steps[axis].sums, k, t).stands_out) {
                LinePattern& found = e.found[axis] = find_line_pattern(k, steps[axis]);
                if (found.period > 0) {
                    fit_take_out(work, found, axis, t);
                    found.faint = apply_per_class(work, nullptr, found, axis);
                    if (found.faint < weakest) found = {};
                }
                e.ruled[axis] = found.lines();
                break;
            }
    }
    for (Axis axis : kAxes) {
        if (e.ruled[axis] > 0 || e.ruled[other(axis)] == 0) continue;
        const int32_t length = axis == Axis::Rows ? work.rows : work.cols;
        for (int32_t k = t.longest_line_period + 1; k * t.lines_per_class <= length && e.ruled[axis] == 0; ++k)
            if (fit_line_gains(steps[axis].sums, k, t).stands_out) e.ruled[axis] = find_line_pattern(k, steps[axis]).lines();
    }
    return e;
}

bool on_lattice(double f, int32_t kx, int32_t ky, const host::SpectrumGeometry& g, const Thresholds& t) {
    const double tolerance = t.line_tolerance / std::min(g.rows, g.period_x);
    for (int32_t i = 0; i <= kx / 2; ++i)
        for (int32_t j = 0; j <= ky / 2; ++j)
            if (std::fabs(std::hypot(double(i) / kx, double(j) / ky) - f) <= tolerance) return true;
    return false;
}

namespace {

// The mean of the middle half of v (its order changed): the steps of a class of lines without
// the picture's edges, and less coarse than a median on 8-bit samples.
double middle_mean(std::vector<float>& v) {
    if (v.empty()) return 0;
    const auto q1 = v.begin() + std::ptrdiff_t(v.size() / 4), q3 = v.begin() + std::ptrdiff_t(3 * v.size() / 4);
    std::nth_element(v.begin(), q1, v.end());
    std::nth_element(q1, q3, v.end());
    double sum = 0;
    for (auto it = q1; it <= q3; ++it) sum += *it;
    return sum / double(q3 - q1 + 1);
}

// The step a - b of a sample from its neighbour in the line before, at their tone (a + b) / 2,
// which the picture's own changes leave as likely above as below either sample.
struct ToneStep {
    float tone, step;
    int32_t line_class;
};

// Each class's step in each of `bins` bins of tone of about as many samples each: the mean of the
// middle half of the class's steps, less the mean over the classes (the picture's own drift).
struct StepsByTone {
    std::vector<double> tone;  // each bin's median tone
    std::vector<double> step;  // class r's in bin k at r * bins + k
};
StepsByTone steps_by_tone(const std::vector<ToneStep>& steps, int32_t period, int32_t bins) {
    constexpr int32_t kLevels = 4096;  // steps of the tone histogram the bins are cut from
    std::vector<int64_t> histogram(kLevels + 1, 0);
    for (const ToneStep& s : steps) ++histogram[std::size_t(s.tone * kLevels)];
    std::vector<int32_t> bin_of(kLevels + 1);
    int64_t below = 0;
    for (int32_t level = 0; level <= kLevels; ++level) {
        bin_of[std::size_t(level)] = std::min<int32_t>(bins - 1, int32_t(below * bins / int64_t(steps.size())));
        below += histogram[std::size_t(level)];
    }
    std::vector<std::vector<float>> tones(static_cast<std::size_t>(bins)), in_class(static_cast<std::size_t>(bins * period));
    for (const ToneStep& s : steps) {
        const int32_t k = bin_of[std::size_t(s.tone * kLevels)];
        tones[std::size_t(k)].push_back(s.tone);
        in_class[std::size_t(s.line_class * bins + k)].push_back(s.step);
    }
    StepsByTone out{std::vector<double>(static_cast<std::size_t>(bins)), std::vector<double>(in_class.size())};
    for (int32_t k = 0; k < bins; ++k) {
        out.tone[std::size_t(k)] = median(tones[std::size_t(k)]);
        double drift = 0;
        for (int32_t r = 0; r < period; ++r)
            drift += (out.step[std::size_t(r * bins + k)] = middle_mean(in_class[std::size_t(r * bins + k)])) / period;
        for (int32_t r = 0; r < period; ++r) out.step[std::size_t(r * bins + k)] -= drift;
    }
    return out;
}

// Scan lines scale their lines (a scanner's or a sensor's gain); stripes added to a picture
// (interference, a sensor's offset) shift their samples alike whatever the tone. Each tells by
// how the step of a class of lines from the line before changes with the tone (steps_by_tone): a
// gain's grows in proportion to it, an offset's stays the same. Both models are fitted to each
// class's steps across the bins, and the lines add when a step alike in every bin leaves less of
// them than one in proportion to the bin's tone. Samples pinned at black or white are left out,
// and so are pairs whose tone lies within the lines' largest step of either end, one of which the
// noise may have pinned (on black ground, the samples left are those the noise lifted): the tone
// alone decides, so that no class's steps are chosen by their size. A picture of too narrow a
// range of tones to tell fits both alike.
bool adds_to_lines(const host::Image& work, int32_t period, Axis axis, const Thresholds& t) {
    const bool rows = axis == Axis::Rows;
    const int32_t lines = rows ? work.rows : work.cols, length = rows ? work.cols : work.rows;
    constexpr int64_t kSamples = 1 << 17;  // samples of a channel looked at, about: a thousand in each class's bin
    const int32_t stride = int32_t(std::max<int64_t>(length / t.line_stride_samples, int64_t(lines) * length / kSamples)) + 1;
    const int32_t bins = t.line_tone_bins;
    const std::size_t fewest = std::size_t(bins * period * t.lines_per_class);
    std::vector<ToneStep> steps;
    double offset_left = 0, gain_left = 0;
    for (int32_t c = 0; c < 3; ++c) {
        steps.clear();
        for (int32_t i = 1; i < lines; ++i)
            for (int32_t j = 0; j < length; j += stride) {
                const float a = rows ? work.get<float>(i, j, c) : work.get<float>(j, i, c);
                const float b = rows ? work.get<float>(i - 1, j, c) : work.get<float>(j, i - 1, c);
                if (a > 0 && a < 1 && b > 0 && b < 1) steps.push_back({(a + b) / 2, a - b, i % period});
            }
        if (steps.size() < fewest) return false;
        const StepsByTone first = steps_by_tone(steps, period, bins);
        double reach = 0;  // the size of the largest class's step (its median over the bins)
        for (int32_t r = 0; r < period; ++r) {
            std::vector<float> size;
            for (int32_t k = 0; k < bins; ++k) size.push_back(float(std::fabs(first.step[std::size_t(r * bins + k)])));
            reach = std::max<double>(reach, median(size));
        }
        std::erase_if(steps, [&](const ToneStep& s) { return s.tone < reach || s.tone > 1 - reach; });
        if (steps.size() < fewest) return false;
        const StepsByTone by_tone = steps_by_tone(steps, period, bins);
        for (int32_t r = 0; r < period; ++r) {
            const double* step = &by_tone.step[std::size_t(r * bins)];
            double mean = 0, along = 0, size = 0;
            for (int32_t k = 0; k < bins; ++k) {
                const double tone = by_tone.tone[std::size_t(k)];
                mean += step[k] / bins;
                along += step[k] * tone;
                size += tone * tone;
            }
            const double gain = size > 0 ? along / size : 0;
            for (int32_t k = 0; k < bins; ++k) {
                const double tone = by_tone.tone[std::size_t(k)];
                offset_left += (step[k] - mean) * (step[k] - mean);
                gain_left += (step[k] - gain * tone) * (step[k] - gain * tone);
            }
        }
    }
    return offset_left < gain_left;
}

// The fit leaves most classes of lines as they were (their median at 0). Stripes added to a
// picture commonly add nothing on the whole (interference); lines offset every few rows leave
// the rest as they were. The offsets keep the median at 0 when at least lines_untouched of the
// classes lie near it (within a quarter of the largest offset); otherwise they are made to add
// nothing on the whole, so that stripes of half the lines up and half down are not taken for
// half the lines shifted twice as far.
void offsets_without_mean(double* offset, int32_t period, const Thresholds& t) {
    double largest = 0, mean = 0;
    for (int32_t r = 0; r < period; ++r) {
        largest = std::max(largest, std::fabs(offset[r]));
        mean += offset[r] / period;
    }
    int32_t near = 0;
    for (int32_t r = 0; r < period; ++r) near += std::fabs(offset[r]) <= 0.25 * largest;
    if (near >= t.lines_untouched * period) return;
    for (int32_t r = 0; r < period; ++r) offset[r] -= mean;
}

// Each sample of `picture` less (or divided by) its class's value in the pattern's per_class,
// written to `out` when given. Returns the amplitude of the sinusoid that would change the picture
// as much (root mean square times the square root of 2).
double apply_per_class(const host::Image& picture, host::Image* out, const LinePattern& pattern, Axis axis) {
    const bool rows = axis == Axis::Rows;
    const int32_t period = pattern.period;
    double change = 0;
    for (int32_t y = 0; y < picture.rows; ++y)
        for (int32_t x = 0; x < picture.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                const double v = pattern.per_class[std::size_t(c * period + (rows ? y : x) % period)];
                const float s = picture.get<float>(y, x, c);
                const float taken = static_cast<float>(pattern.adds ? s - v : s * std::exp(-v));
                change += (taken - s) * (taken - s);
                if (out) out->set<float>(y, x, c, taken);
            }
    return std::sqrt(2 * change / (3.0 * picture.rows * picture.cols));
}

void fit_take_out(const host::Image& work, LinePattern& pattern, Axis axis, const Thresholds& t) {
    const int32_t period = pattern.period;
    pattern.per_class = pattern.fit.log_gain;
    pattern.adds = false;
    if (!adds_to_lines(work, period, axis, t)) return;
    const int32_t length = axis == Axis::Rows ? work.cols : work.rows;
    LineGains offsets = fit_line_gains(sample_steps(work, axis, 0, length, t, true), period, t);
    if (offsets.log_gain.size() != pattern.fit.log_gain.size()) return;
    for (int32_t c = 0; c < 3; ++c) offsets_without_mean(&offsets.log_gain[std::size_t(c * period)], period, t);
    pattern.per_class = std::move(offsets.log_gain);
    pattern.adds = true;
}

}  // namespace

double take_out_lines(host::Image& work, const LinePattern& pattern, Axis axis, const Thresholds& t) {
    if (!pattern.per_class.empty()) return apply_per_class(work, &work, pattern, axis);
    LinePattern fitted = pattern;
    fit_take_out(work, fitted, axis, t);
    return apply_per_class(work, &work, fitted, axis);
}

}  // namespace quen::cleaning
