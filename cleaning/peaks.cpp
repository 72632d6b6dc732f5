// Peak detection in log-magnitude spectra: background, threshold, peaks, halftone lattice.
#include "peaks.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <numbers>

namespace quen::cleaning {
namespace {

using host::SpectrumGeometry;

// Rings about the zero frequency, one sample wide along the longer side: each sample's ring, and
// the samples off the axes listed ring by ring (a counting sort), worked out once for the three
// channels.
struct Rings {
    std::vector<int32_t> of;       // rows x columns
    std::vector<int32_t> start;    // count + 1: where each ring's samples begin in `members`
    std::vector<int32_t> members;  // sample indices (y * columns + x) off the axes, ring by ring

    explicit Rings(const SpectrumGeometry& g) {
        const double side = std::max<double>(g.period_x, g.rows);
        const double sx = side / g.period_x, sy = side / g.rows;
        const int32_t count = static_cast<int32_t>(side) + 2;
        of.resize(static_cast<std::size_t>(g.rows) * g.columns);
        start.assign(static_cast<std::size_t>(count) + 1, 0);
        for (int32_t y = 0; y < g.rows; ++y) {
            const double dy = (y - g.centre_y) * sy;
            for (int32_t x = 0; x < g.columns; ++x) {
                const int32_t r = std::min(count - 1, static_cast<int32_t>(std::hypot((x - g.centre_x) * sx, dy)));
                of[std::size_t(y) * g.columns + x] = r;
                if (!near_axis(g, y, x)) ++start[static_cast<std::size_t>(r) + 1];
            }
        }
        for (std::size_t r = 1; r < start.size(); ++r) start[r] += start[r - 1];
        members.resize(static_cast<std::size_t>(start.back()));
        std::vector<int32_t> next(start.begin(), start.end() - 1);
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x) {
                const int32_t i = y * g.columns + x;
                if (near_axis(g, y, x)) continue;
                int32_t& slot = next[static_cast<std::size_t>(of[std::size_t(i)])];
                members[static_cast<std::size_t>(slot++)] = i;
            }
    }
    std::size_t count() const { return start.size() - 1; }
};

// The background of one channel (see peaks.h) into bg, rows x columns.
void channel_background(const LogMagnitudes& m, const Rings& rings, int32_t c, float* bg, const Thresholds& t) {
    const SpectrumGeometry& g = m.geometry;
    const int32_t rows = g.rows, cols = g.columns;
    const float* values = &m.values[m.index(c, 0, 0)];

    // Median of each ring, off the axes; an empty ring takes its inner neighbour's. Of a large
    // ring, every k-th sample in scan order (4096 or more) gives the median as well.
    std::vector<float> profile(rings.count(), 0.0f), members;
    for (std::size_t r = 0; r < profile.size(); ++r) {
        const int32_t first = rings.start[r], size = rings.start[r + 1] - first, k = size / 4096 + 1;
        members.clear();
        for (int32_t i = 0; i < size; i += k) members.push_back(values[rings.members[std::size_t(first + i)]]);
        profile[r] = members.empty() ? (r > 0 ? profile[r - 1] : 0.0f) : median(members);
    }

    // What the rings leave: medians over squares about grid nodes, blended bilinearly.
    std::vector<float> rest(static_cast<std::size_t>(rows) * cols);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            rest[std::size_t(y) * cols + x] =
                m.at(c, y, x) - profile[static_cast<std::size_t>(rings.of[std::size_t(y) * cols + x])];
    // On large spectra the squares grow, but a grid of about 17 x 17 of their samples gives as
    // good a median as the whole square on the smallest (the rows and columns of every stride-th
    // sample), at a fraction of the time.
    const int32_t step = std::clamp(std::max(rows, cols) / 128, 8, 32), stride = step / 8;
    const int32_t nodes_y = rows / step + 2, nodes_x = cols / step + 2;
    std::vector<float> node(static_cast<std::size_t>(nodes_y) * nodes_x), window;
    // near_axis, by row and by column.
    std::vector<uint8_t> axis_row(static_cast<std::size_t>(rows)), axis_column(static_cast<std::size_t>(cols));
    for (int32_t y = 0; y < rows; ++y) axis_row[std::size_t(y)] = near_axis_row(g, y);
    for (int32_t x = 0; x < cols; ++x) axis_column[std::size_t(x)] = near_axis_column(g, x);
    for (int32_t i = 0; i < nodes_y; ++i)
        for (int32_t j = 0; j < nodes_x; ++j) {
            window.clear();
            for (int32_t y = std::max(0, (i - 1) * step); y <= std::min(rows - 1, (i + 1) * step); y += stride) {
                if (axis_row[std::size_t(y)]) continue;
                const float* line = &rest[std::size_t(y) * cols];
                for (int32_t x = std::max(0, (j - 1) * step); x <= std::min(cols - 1, (j + 1) * step); x += stride)
                    if (!axis_column[std::size_t(x)]) window.push_back(line[x]);
            }
            node[std::size_t(i) * nodes_x + j] = median(window);
        }
    std::vector<float> column_fraction(static_cast<std::size_t>(cols));
    for (int32_t x = 0; x < cols; ++x) column_fraction[std::size_t(x)] = float(x - x / step * step) / step;
    for (int32_t y = 0; y < rows; ++y) {
        const int32_t i = y / step;
        const float fy = float(y - i * step) / step;
        for (int32_t x = 0; x < cols; ++x) {
            const int32_t j = x / step;
            const float fx = column_fraction[std::size_t(x)];
            const float* n0 = &node[std::size_t(i) * nodes_x + j];
            const float* n1 = n0 + nodes_x;
            const float local = (1 - fy) * ((1 - fx) * n0[0] + fx * n0[1]) + fy * ((1 - fx) * n1[0] + fx * n1[1]);
            bg[std::size_t(y) * cols + x] = m.at(c, y, x) - rest[std::size_t(y) * cols + x] + local;
        }
    }

    // The axis lines themselves (one sample wide, or two about a zero frequency between samples):
    // a running median along the line, of the log magnitudes plus log10 of the distance from the
    // zero frequency (natural magnitudes fall about as its inverse), so that the steep fall near
    // the centre does not drag the median down.
    auto tilt = [&](int32_t y, int32_t x) { return std::log10(std::max(1.0, std::hypot(x - g.centre_x, y - g.centre_y))); };
    auto along = [&](int32_t length, auto position) {
        for (int32_t i = 0; i < length; ++i) {
            window.clear();
            for (int32_t k = std::max(0, i - t.axis_window); k <= std::min(length - 1, i + t.axis_window); ++k) {
                const auto [y, x] = position(k);
                window.push_back(static_cast<float>(m.at(c, y, x) + tilt(y, x)));
            }
            const auto [y, x] = position(i);
            bg[std::size_t(y) * cols + x] = static_cast<float>(median(window) - tilt(y, x));
        }
    };
    for (int32_t x = 0; x < cols; ++x)
        if (std::fabs(x - g.centre_x) <= 0.5) along(rows, [x](int32_t k) { return std::pair{k, x}; });
    for (int32_t y = 0; y < rows; ++y)
        if (std::fabs(y - g.centre_y) <= 0.5) along(cols, [y](int32_t k) { return std::pair{y, k}; });
}

struct Component {
    std::vector<int32_t> samples;  // y * columns + x
    double energy = 0;             // the largest channel's excess energy
    int32_t channel = 0;           // that channel
    uint32_t channels = 0;
    int32_t strongest = 0;
};

// The notch to suggest for a peak: the radius of the smallest disc about its strongest sample
// that holds notch_share of the excess energy, in its strongest channel, that lies within
// notch_reach samples of it; in whole samples, at least 1 (a frequency between samples shares its
// energy with its neighbours), and short of the protected low frequencies, where the picture's
// broad shapes live. A disc taking every flagged sample would reach as far as the leakage of a
// strong wave stays above the threshold, dozens of samples along the axes on a smooth picture,
// and take much of the picture with it.
double notch_radius(const Component& comp, const LogMagnitudes& m, const std::vector<float>& background,
                    double protect_period, const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    const int32_t cols = g.columns;
    const int32_t py = comp.strongest / cols, px = comp.strongest % cols;
    std::vector<std::pair<double, double>> reach;  // distance, excess energy
    double total = 0;
    for (int32_t s : comp.samples) {
        const double distance = std::hypot(s / cols - py, s % cols - px);
        if (distance > t.notch_reach) continue;
        const double e = excess_energy(m, background, m.index(comp.channel, s / cols, s % cols));
        reach.emplace_back(distance, e);
        total += e;
    }
    std::sort(reach.begin(), reach.end());
    double held = 0, radius = 0;
    for (const auto& [distance, energy] : reach) {
        held += energy;
        radius = distance;
        if (held >= t.notch_share * total) break;
    }
    // The protected disc, along the line from the zero frequency to the peak.
    const double from_centre = std::hypot(px - g.centre_x, py - g.centre_y);
    const Frequency f = frequency_of(g, py, px);
    const double protected_part = std::max(t.protected_samples, from_centre / (std::hypot(f.u, f.v) * protect_period));
    return std::max(1.0, std::min(std::ceil(radius), std::floor(from_centre - protected_part) - 1));
}

// The lowest frequency of a halftone lattice among the peaks (strongest first): two strong peaks
// of one frequency at right angles (a screen lays its ink dots on a square grid) whose sum and
// difference are peaks too, or one of them when the two are strong (a screen at 45 degrees puts
// them on the axes, where a page's own lines may hide one or both from the peaks). 0 when there
// is none (`shown`: the share of their strength the peaks show). Any two peaks
// would not do: of the dozens of weak peaks a picture's own texture leaves at a high sensitivity,
// some pair's sum and difference land on peaks by chance.
double lattice_frequency(const LogMagnitudes& m, const std::vector<float>& background, const std::vector<Peak>& peaks,
                         double strong, double shown, const Thresholds& t) {
    const SpectrumGeometry& g = m.geometry;
    // Whether the spectrum stands screen_evidence above its background about frequency q on an
    // axis, found as a peak or not (the threshold is stricter there). Off the axes a lattice point
    // must be a peak: where the lines of graph paper or a table cross, they leave faint points of
    // a lattice there that stand out of a clean page's background all the same.
    const auto stands_out = [&](Frequency q) {
        if (q.u * g.period_x + g.centre_x < 0) q = {-q.u, -q.v};  // a half spectrum holds the mirror
        const int32_t x0 = static_cast<int32_t>(std::lround(g.centre_x + q.u * g.period_x));
        const int32_t y0 = static_cast<int32_t>(std::lround(g.centre_y + q.v * g.rows));
        if (std::fabs(x0 - g.centre_x) > 1 && std::fabs(y0 - g.centre_y) > 1) return false;
        for (int32_t y = std::max(0, y0 - 1); y <= std::min(g.rows - 1, y0 + 1); ++y)
            for (int32_t x = std::max(0, x0 - 1); x <= std::min(g.columns - 1, x0 + 1); ++x)
                for (int32_t c = 0; c < g.channels; ++c)
                    if (m.at(c, y, x) - background[m.index(c, y, x)] >= t.screen_evidence) return true;
        return false;
    };
    std::vector<Frequency> f;
    for (std::size_t i = 0; i < std::min(peaks.size(), t.lattice_peaks); ++i) {
        const Frequency p = frequency_of(g, peaks[i].row, peaks[i].column);
        f.push_back(p);
        f.push_back({-p.u, -p.v});
    }
    std::size_t generators = 0;  // frequencies (each peak's and its mirror's) strong enough to span a screen
    while (generators < f.size() && peaks[generators / 2].amplitude >= strong * shown) generators += 2;
    double lowest = 0;
    for (std::size_t a = 0; a < generators; ++a)
        for (std::size_t b = a + 1; b < generators; ++b) {
            if (!square_pair(g, f[a], f[b], t)) continue;  // not a square grid's
            const double ra = std::hypot(f[a].u, f[a].v), rb = std::hypot(f[b].u, f[b].v);
            const Frequency sum{f[a].u + f[b].u, f[a].v + f[b].v}, diff{f[a].u - f[b].u, f[a].v - f[b].v};
            bool has_sum = false, has_diff = false;
            for (const Frequency& c : f) {
                has_sum = has_sum || distance_in_samples(g, c, sum) <= t.lattice_tolerance;
                has_diff = has_diff || distance_in_samples(g, c, diff) <= t.lattice_tolerance;
            }
            // One of the sum and difference is enough for two frequencies as strong as a screen's
            // at the usual sensitivity, and it may stand out without being a peak; weaker ones,
            // let in by a higher sensitivity, need both among the peaks.
            const double weaker = std::min(peaks[a / 2].amplitude, peaks[b / 2].amplitude);
            const bool strong_pair = weaker >= t.screen_amplitude * shown;
            const bool lattice = (has_sum && has_diff) ||
                                 (strong_pair && (has_sum || has_diff || stands_out(sum) || stands_out(diff)));
            if (!lattice || (lowest > 0 && std::min(ra, rb) >= lowest)) continue;
            if (!coarser_than_pair(g, peaks, f[a], f[b], weaker, t)) lowest = std::min(ra, rb);
        }
    // A lattice coarser than a screen's is a drawing's (circles or tiles laid out in rows and
    // columns), and its harmonics make finer lattices of their own: none is a screen.
    return lowest > 0 && 1 / lowest > t.longest_screen ? 0 : lowest;
}

// Follows the line through the zero frequency from peak p outwards (direction 1) or inwards
// (-1), nudged towards its strongest samples at each step, while the mean over the last
// ridge_run steps of the strongest channel-averaged power ratio across the line stays above
// ridge_level; the samples of the line that stand above the background are marked as the peak's
// ridge.
template <class Protected>
void follow_ridge(const LogMagnitudes& m, Detection& d, Peak& p, const Protected& is_protected, const Thresholds& t,
                  int direction) {
    const SpectrumGeometry& g = m.geometry;
    const std::size_t plane = static_cast<std::size_t>(g.rows) * g.columns;
    double x = p.column, y = p.row;
    std::vector<double> run;
    std::vector<std::vector<std::size_t>> flagged;
    for (int step = 0; step < 4 * (g.rows + g.columns); ++step) {
        double rx = x - g.centre_x, ry = y - g.centre_y;
        const double r = std::hypot(rx, ry);
        if (r < 1) break;
        rx /= r;
        ry /= r;
        x += direction * rx;
        y += direction * ry;
        double best = 0, best_offset = 0;
        std::vector<std::size_t> here;
        for (int o = -t.ridge_half_width; o <= t.ridge_half_width; ++o) {
            const int32_t sx = static_cast<int32_t>(std::lround(x - o * ry)), sy = static_cast<int32_t>(std::lround(y + o * rx));
            if (sx < 0 || sy < 0 || sx >= g.columns || sy >= g.rows || is_protected(sy, sx)) continue;
            const std::size_t i = std::size_t(sy) * g.columns + sx;
            double q = 0;
            bool above = false;
            for (int32_t c = 0; c < g.channels; ++c) {
                const double e = m.values[plane * c + i] - d.background[plane * c + i];
                q += std::pow(10.0, 2 * e) / g.channels;
                above = above || e > t.ridge_flag;
            }
            if (q > best) {
                best = q;
                best_offset = o;
            }
            if (above) here.push_back(i);
        }
        if (here.empty() && best == 0) break;  // off the spectrum or into the protected centre
        x -= 0.5 * best_offset * ry;
        y += 0.5 * best_offset * rx;
        run.push_back(best);
        flagged.push_back(std::move(here));
        if (run.size() < t.ridge_run) continue;
        double mean = 0;
        for (std::size_t k = run.size() - t.ridge_run; k < run.size(); ++k) mean += run[k] / t.ridge_run;
        if (mean < t.ridge_level) {
            flagged.resize(flagged.size() - t.ridge_run);
            break;
        }
    }
    if (run.size() < t.ridge_run) return;
    p.ridge += static_cast<double>(flagged.size());
    for (const auto& step : flagged)
        for (std::size_t i : step)
            if (!d.group[i] && !d.ridge[i]) d.ridge[i] = p.group;
}

// The spectrum being searched, with the options and thresholds it is searched by.
struct Search {
    const LogMagnitudes& m;
    const DetectOptions& options;
    const Thresholds& t;
    // The protected low frequencies: of a period longer than protect_period, or too near the zero frequency.
    bool is_protected(int32_t y, int32_t x) const {
        const SpectrumGeometry& g = m.geometry;
        const Frequency f = frequency_of(g, y, x);
        return std::hypot(f.u, f.v) * options.protect_period < 1 ||
               std::hypot(x - g.centre_x, y - g.centre_y) < t.protected_samples;
    }
};

// The background of each channel (see peaks.h); the channels are independent, one thread each.
void find_background(const Search& search, Detection& d) {
    const LogMagnitudes& m = search.m;
    const SpectrumGeometry& g = m.geometry;
    const std::size_t plane = static_cast<std::size_t>(g.rows) * g.columns;
    d.background.resize(m.values.size());
    const Rings rings(g);
    std::vector<std::future<void>> channels;
    for (int32_t c = 0; c < g.channels; ++c)
        channels.push_back(std::async(std::launch::async, [&, c] {
            channel_background(m, rings, c, d.background.data() + plane * c, search.t);
        }));
    for (std::future<void>& done : channels) done.get();
}

// A wave along an axis whose period is not a whole fraction of the frame splits its energy
// between the two samples of the axis line either side of its frequency, each of which may then
// fall short of the axis threshold though the wave is as strong as one that does not. So each two
// neighbours on an axis line are weighed together as well: their power summed, over their
// backgrounds' mean, against the limit at which the sum of two samples of a clean background
// (the sum of two exponentially distributed powers, of chance (1 + T) e^-T to exceed T times their
// mean) stands out as rarely as one sample does beyond `limit`; both are flagged when it does.
void flag_split_pairs(const Search& search, const Detection& d, double limit, const std::vector<uint8_t>& is_protected,
                      std::vector<uint32_t>& flags) {
    const LogMagnitudes& m = search.m;
    const SpectrumGeometry& g = m.geometry;
    const int32_t rows = g.rows, cols = g.columns;
    const std::size_t plane = static_cast<std::size_t>(rows) * cols;
    // The single limit in units of the mean background power (the background is a median, of an
    // exponential distribution's ln 2 times its mean), and the pair's, by Newton's method.
    const double single = std::pow(10.0, 2 * limit) * std::numbers::ln2;
    double pair = single + std::log1p(single);
    for (int i = 0; i < 8; ++i) pair -= (pair - std::log1p(pair) - single) / (1 - 1 / (1 + pair));
    const double pair_limit = pair / std::numbers::ln2;  // over the median background power
    // A pair is a split wave's when it stands above both samples beyond it by split_pair_rise at
    // least, each of its two: the leakage a sinusoid leaves a sample and a half away is a third
    // of what it leaves either sample of the pair, or less; a broad hump of the picture's own,
    // or a drawing's lines, rise and fall over several samples.
    const auto along = [&](int32_t length, auto position) {
        for (int32_t k = 1; k + 2 < length; ++k) {
            const auto [y0, x0] = position(k);
            const auto [y1, x1] = position(k + 1);
            const std::size_t a = std::size_t(y0) * cols + x0, b = std::size_t(y1) * cols + x1;
            if (is_protected[a] || is_protected[b]) continue;
            const auto [yb, xb] = position(k - 1);
            const auto [ya, xa] = position(k + 2);
            for (int32_t c = 0; c < g.channels; ++c) {
                const std::size_t i = plane * c + a, j = plane * c + b;
                const double beyond = std::max(m.at(c, yb, xb), m.at(c, ya, xa));
                if (std::min(m.values[i], m.values[j]) - beyond < search.t.split_pair_rise) continue;
                const double power = std::pow(10.0, 2.0 * m.values[i]) + std::pow(10.0, 2.0 * m.values[j]);
                const double background = 0.5 * (std::pow(10.0, 2.0 * d.background[i]) + std::pow(10.0, 2.0 * d.background[j]));
                if (power > pair_limit * background) {
                    flags[a] |= 1u << c;
                    flags[b] |= 1u << c;
                }
            }
        }
    };
    for (int32_t x = 0; x < cols; ++x)
        if (std::fabs(x - g.centre_x) <= 0.5) along(rows, [x](int32_t k) { return std::pair{k, x}; });
    for (int32_t y = 0; y < rows; ++y)
        if (std::fabs(y - g.centre_y) <= 0.5) along(cols, [y](int32_t k) { return std::pair{y, k}; });
}

// The samples (by y * columns + x) that stand above the threshold over their background, a bit
// for each channel where they do: the threshold from the false-alarm budget over the samples
// tested, stricter on the axes.
std::vector<uint32_t> flag_samples(const Search& search, const Detection& d) {
    const LogMagnitudes& m = search.m;
    const SpectrumGeometry& g = m.geometry;
    const int32_t rows = g.rows, cols = g.columns;
    const std::size_t plane = static_cast<std::size_t>(rows) * cols;
    int64_t tested = 0;
    std::vector<uint8_t> is_protected(plane);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            is_protected[std::size_t(y) * cols + x] = search.is_protected(y, x);
            tested += !is_protected[std::size_t(y) * cols + x];
        }
    tested = std::max<int64_t>(tested * g.channels, 2);
    const double threshold = 0.5 * std::log10(std::log(double(tested) / search.t.false_alarms) / std::numbers::ln2) -
                             std::log10(search.options.sensitivity);
    std::vector<uint32_t> flags(plane, 0);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            if (is_protected[std::size_t(y) * cols + x]) continue;
            const double limit = near_axis(g, y, x) ? threshold + search.t.axis_margin : threshold;
            for (int32_t c = 0; c < g.channels; ++c) {
                const std::size_t i = plane * c + std::size_t(y) * cols + x;
                if (m.values[i] - d.background[i] > limit) flags[std::size_t(y) * cols + x] |= 1u << c;
            }
        }
    flag_split_pairs(search, d, threshold + search.t.axis_margin, is_protected, flags);
    return flags;
}

// Connected groups of flagged samples (eight neighbours), each with its excess energy.
std::vector<Component> components_of(const Search& search, const Detection& d, const std::vector<uint32_t>& flags) {
    const LogMagnitudes& m = search.m;
    const SpectrumGeometry& g = m.geometry;
    const int32_t rows = g.rows, cols = g.columns;
    const std::size_t plane = static_cast<std::size_t>(rows) * cols;
    std::vector<Component> components;
    std::vector<int32_t> label(plane, -1), stack;
    for (std::size_t start = 0; start < plane; ++start) {
        if (!flags[start] || label[start] >= 0) continue;
        Component comp;
        const int32_t id = static_cast<int32_t>(components.size());
        stack.assign(1, static_cast<int32_t>(start));
        label[start] = id;
        while (!stack.empty()) {
            const int32_t s = stack.back();
            stack.pop_back();
            comp.samples.push_back(s);
            const int32_t y = s / cols, x = s % cols;
            for (int32_t ny = std::max(0, y - 1); ny <= std::min(rows - 1, y + 1); ++ny)
                for (int32_t nx = std::max(0, x - 1); nx <= std::min(cols - 1, x + 1); ++nx) {
                    const int32_t n = ny * cols + nx;
                    if (flags[std::size_t(n)] && label[std::size_t(n)] < 0) {
                        label[std::size_t(n)] = id;
                        stack.push_back(n);
                    }
                }
        }
        double best_excess = -1e30;
        for (int32_t c = 0; c < g.channels; ++c) {
            double energy = 0;
            for (int32_t s : comp.samples) {
                const std::size_t i = plane * c + std::size_t(s);
                energy += excess_energy(m, d.background, i);
                if (flags[std::size_t(s)] & (1u << c)) comp.channels |= 1u << c;
                if (m.values[i] > best_excess) {  // the largest magnitude: the peak itself, not its leakage
                    best_excess = m.values[i];
                    comp.strongest = s;
                }
            }
            if (energy > comp.energy) {
                comp.energy = energy;
                comp.channel = c;
            }
        }
        components.push_back(std::move(comp));
    }
    return components;
}

// Whether column x is a half spectrum's highest (that of the highest horizontal frequency).
bool on_highest_column(const SpectrumGeometry& g, int32_t x) { return 2 * (x - g.centre_x) + 1 >= g.period_x; }

// The peaks of the components strong enough to matter, each with its group marked in d.group;
// returns, by peak, whether it is the half of a pair left of the zero frequency, or above it.
std::vector<uint8_t> peaks_of(const Search& search, const std::vector<Component>& components, Detection& d) {
    const LogMagnitudes& m = search.m;
    const SpectrumGeometry& g = m.geometry;
    const int32_t rows = g.rows, cols = g.columns;
    const std::size_t plane = static_cast<std::size_t>(rows) * cols;
    d.group.assign(plane, 0);
    int32_t groups = 0;
    std::vector<uint8_t> mirrored;  // by peak: the half of a pair left of the zero frequency, or above it
    const double min_amplitude = kSmallestAmplitude / search.options.sensitivity;
    for (const Component& comp : components) {
        const double amplitude = 2 * std::sqrt(comp.energy);
        if (amplitude < min_amplitude) continue;
        const int32_t py = comp.strongest / cols, px = comp.strongest % cols;
        double radius = 0;
        ++groups;
        for (int32_t s : comp.samples) {
            radius = std::max(radius, std::hypot(s / cols - py, s % cols - px));
            d.group[std::size_t(s)] = groups;
        }
        const Frequency f = frequency_of(g, py, px);
        // (the highest column, as the zero column, holds a frequency's mirror too: beside it,
        // wrapped, when the width is odd)
        mirrored.push_back(f.u < 0 || ((f.u == 0 || on_highest_column(g, px)) && f.v < 0));
        const double angle = std::atan2(f.v, f.u) * 180 / std::numbers::pi;
        d.peaks.push_back({py, px, std::ceil(radius) + 1, amplitude, 1 / std::hypot(f.u, f.v),
                           angle < 0 ? angle + 180 : angle, comp.channels, groups, 0, notch_radius(comp, m, d.background, search.options.protect_period, search.t)});
    }
    return mirrored;
}

// One of each mirrored pair is reported: the one right of the zero frequency, or below it; the
// other joins its twin's group, so that whatever is done to the peak (left alone, fitted or
// filled) is done to both. A peak whose twin is not among them stays a peak of its own: in a
// half spectrum, one whose strongest sample lies on the vertical axis above the zero frequency
// while the rest of it lies right of the axis, a frequency of its own. On the highest column of an
// odd width a wave's two halves are not each other's mirror exactly (that lies half a sample past
// the column): there the stronger of the two is reported, as the nearer the wave's frequency.
void pair_mirrors(const Search& search, std::vector<uint8_t> mirrored, Detection& d) {
    const SpectrumGeometry& g = search.m.geometry;
    const auto twin_of = [&](std::size_t i) {
        const Frequency f = frequency_of(g, d.peaks[i].row, d.peaks[i].column);
        for (std::size_t j = 0; j < d.peaks.size(); ++j)
            if (const Frequency q = frequency_of(g, d.peaks[j].row, d.peaks[j].column);
                !mirrored[j] && distance_in_samples(g, wrapped({q.u + f.u, q.v + f.v}), {0, 0}) <= search.t.twin_distance)
                return j;
        return d.peaks.size();
    };
    for (std::size_t i = 0; i < d.peaks.size(); ++i)
        if (const std::size_t j = mirrored[i] && on_highest_column(g, d.peaks[i].column) ? twin_of(i) : d.peaks.size();
            j < d.peaks.size() && d.peaks[j].amplitude < d.peaks[i].amplitude)
            mirrored[i] = 0, mirrored[j] = 1;
    const int32_t groups = d.group.empty() ? 0 : *std::max_element(d.group.begin(), d.group.end());
    std::vector<int32_t> twin(static_cast<std::size_t>(groups) + 1, 0);
    std::vector<Peak> reported;
    for (std::size_t i = 0; i < d.peaks.size(); ++i) {
        const Peak& p = d.peaks[i];
        if (mirrored[i]) {
            if (const std::size_t j = twin_of(i); j < d.peaks.size()) {
                twin[std::size_t(p.group)] = d.peaks[j].group;
                continue;
            }
        }
        reported.push_back(p);
    }
    d.peaks = std::move(reported);
    for (int32_t& mark : d.group)
        if (mark > 0 && twin[std::size_t(mark)] > 0) mark = twin[std::size_t(mark)];
}

// Hysteresis: a kept peak takes in the samples around it that still stand above the
// background (the leakage of a frequency between samples, the spread of a modulated one).
// Grown ring by ring, search.t.grow_steps at most, so that it never wanders into the picture itself.
void grow_peaks(const Search& search, Detection& d) {
    const LogMagnitudes& m = search.m;
    const SpectrumGeometry& g = m.geometry;
    const int32_t rows = g.rows, cols = g.columns;
    const std::size_t plane = static_cast<std::size_t>(rows) * cols;
    std::vector<int32_t> stack;
    for (std::size_t i = 0; i < plane; ++i)
        if (d.group[i]) stack.push_back(static_cast<int32_t>(i));
    for (int step = 0; step < search.t.grow_steps && !stack.empty(); ++step) {
        std::vector<int32_t> ring;
        for (const int32_t s : stack) {
            const int32_t y = s / cols, x = s % cols;
            for (int32_t ny = std::max(0, y - 1); ny <= std::min(rows - 1, y + 1); ++ny)
                for (int32_t nx = std::max(0, x - 1); nx <= std::min(cols - 1, x + 1); ++nx) {
                    const std::size_t n = std::size_t(ny) * cols + nx;
                    if (d.group[n] || search.is_protected(ny, nx)) continue;
                    bool above = false;
                    for (int32_t c = 0; c < g.channels && !above; ++c)
                        above = m.values[plane * c + n] - d.background[plane * c + n] > search.t.grow_level;
                    if (!above) continue;
                    d.group[n] = d.group[std::size_t(s)];
                    ring.push_back(static_cast<int32_t>(n));
                }
        }
        stack.swap(ring);
    }
}

// Faint candidates: local maxima of the strongest channel's excess, off the axes, the
// protected centre and the peaks kept.
void faint_candidates(const Search& search, Detection& d) {
    const LogMagnitudes& m = search.m;
    const SpectrumGeometry& g = m.geometry;
    const int32_t rows = g.rows, cols = g.columns;
    const std::size_t plane = static_cast<std::size_t>(rows) * cols;
    std::vector<float> excess(plane, 0);
    for (std::size_t i = 0; i < plane; ++i)
        for (int32_t c = 0; c < g.channels; ++c)
            excess[i] = std::max(excess[i], m.values[plane * c + i] - d.background[plane * c + i]);
    std::vector<std::pair<float, int32_t>> faint;
    for (int32_t y = 1; y + 1 < rows; ++y)
        for (int32_t x = 1; x + 1 < cols; ++x) {
            const std::size_t i = std::size_t(y) * cols + x;
            if (excess[i] <= search.t.faint_level || d.group[i] || near_axis(g, y, x) || search.is_protected(y, x)) continue;
            bool highest = true;
            for (int32_t ny = y - 1; ny <= y + 1; ++ny)
                for (int32_t nx = x - 1; nx <= x + 1; ++nx) highest = highest && excess[std::size_t(ny) * cols + nx] <= excess[i];
            if (highest) faint.push_back({excess[i], static_cast<int32_t>(i)});
        }
    std::sort(faint.rbegin(), faint.rend());
    for (std::size_t k = 0; k < std::min(faint.size(), search.t.faint_candidates); ++k) d.faint.push_back(faint[k].second);
}

}  // namespace

bool coarser_than_pair(const SpectrumGeometry& g, const std::vector<Peak>& peaks, const Frequency& a, const Frequency& b,
                       double weaker, const Thresholds& t) {
    for (std::size_t k = 0; k < std::min(peaks.size(), t.lattice_peaks); ++k) {
        if (peaks[k].amplitude < weaker) continue;
        const Frequency p = frequency_of(g, peaks[k].row, peaks[k].column);
        // A point i / n of the way along a and j / n along b is one of a lattice n times coarser
        // that holds the pair's. A peak's place is known to a sample or so; the finer the fraction,
        // the more such points, and the closer a peak must lie to one, so that none is met by
        // chance (at halves, the whole lattice_tolerance).
        for (int32_t n = 2; n <= t.coarser_lattice; ++n) {
            const double within = t.lattice_tolerance / (n - 1);
            for (int32_t i = 0; i < n; ++i)
                for (int32_t j = -n + 1; j < n; ++j) {
                    if (i == 0 && j == 0) continue;
                    const Frequency h{(i * a.u + j * b.u) / n, (i * a.v + j * b.v) / n};
                    if (wave_distance(g, p, h) <= within) return true;
                }
        }
    }
    return false;
}

bool square_pair(const SpectrumGeometry& g, const Frequency& a, const Frequency& b, const Thresholds& t) {
    return distance_in_samples(g, {-a.v, a.u}, b) <= t.lattice_tolerance ||
           distance_in_samples(g, {a.v, -a.u}, b) <= t.lattice_tolerance;
}

double distance_in_samples(const SpectrumGeometry& g, const Frequency& a, const Frequency& b) {
    return std::hypot((a.u - b.u) * g.period_x, (a.v - b.v) * g.rows);
}

double wave_distance(const SpectrumGeometry& g, const Frequency& a, const Frequency& b) {
    return std::min(distance_in_samples(g, a, b), distance_in_samples(g, a, {-b.u, -b.v}));
}

double directions_apart(double a, double b) {
    const double apart = std::fabs(a - b);
    return std::min(apart, 180 - apart);
}

double sample_step(const SpectrumGeometry& g) { return 1.0 / std::min(g.period_x, g.rows); }

Frequency wrapped(Frequency f) {
    f.u -= std::floor(f.u + 0.5);
    f.v -= std::floor(f.v + 0.5);
    return f;
}

bool near_axis_row(const SpectrumGeometry& g, int32_t y) { return std::fabs(y - g.centre_y) <= kAxisReach; }

bool near_axis_column(const SpectrumGeometry& g, int32_t x) { return std::fabs(x - g.centre_x) <= kAxisReach; }

bool near_axis(const SpectrumGeometry& g, int32_t y, int32_t x) { return near_axis_column(g, x) || near_axis_row(g, y); }

double excess_energy(const LogMagnitudes& m, const std::vector<float>& background, std::size_t i) {
    return std::max(0.0, std::pow(10.0, 2.0 * m.values[i]) - std::pow(10.0, 2.0 * background[i]));
}

bool sample_index(const SpectrumGeometry& g, Frequency f, int32_t& y, int32_t& x) {
    f = wrapped(f);
    if (g.centre_x == 0 && f.u < 0) f = {-f.u, -f.v};
    const long sx = std::lround(g.centre_x + f.u * g.period_x), sy = std::lround(g.centre_y + f.v * g.rows);
    if (sx < 0 || sx >= g.columns || sy < 0 || sy >= g.rows) return false;
    y = int32_t(sy), x = int32_t(sx);
    return true;
}

bool mirror_row(const SpectrumGeometry& g, int32_t y, int32_t x, int32_t& my) {
    const double across = x - g.centre_x;
    if (across != 0 && std::fabs(2 * across) != g.period_x) return false;
    my = static_cast<int32_t>(std::lround(2 * g.centre_y)) - y;
    return my != y && my >= 0 && my < g.rows;
}

double samples_off_axes(const SpectrumGeometry& g, const Peak& p) {
    return std::min(std::fabs(p.column - g.centre_x), std::fabs(p.row - g.centre_y));
}

// Quickselect whose partitions do not branch on the values: a spectrum's log magnitudes fall
// either side of a pivot at random, so a branch would be mispredicted every other sample. Values
// equal to the pivot are gathered apart, so that many equal ones cannot stall it. Partitions go
// on down to eight values, which are then sorted: sorting a few dozen mispredicts at most steps.
float median(std::vector<float>& v) {
    if (v.empty()) return 0;
    float* a = v.data();
    std::size_t n = v.size(), k = n / 2;
    while (n > 8) {
        float p0 = a[0], p1 = a[n / 2], p2 = a[n - 1];
        if (p1 < p0) std::swap(p0, p1);
        if (p2 < p1) p1 = p0 < p2 ? p2 : p0;
        const float pivot = p1;
        // Those below the pivot to the front, then those equal to it after them.
        std::size_t below = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const float x = a[i];
            a[i] = a[below];
            a[below] = x;
            below += x < pivot;
        }
        if (k < below) {
            n = below;
            continue;
        }
        a += below, n -= below, k -= below;
        std::size_t same = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const float x = a[i];
            a[i] = a[same];
            a[same] = x;
            same += !(pivot < x);
        }
        if (k < same) return pivot;
        a += same, n -= same, k -= same;
    }
    std::sort(a, a + n);
    return a[k];
}

Frequency frequency_of(const SpectrumGeometry& g, double y, double x) {
    return {(x - g.centre_x) / g.period_x, (y - g.centre_y) / g.rows};
}

std::vector<float> spectrum_background(const LogMagnitudes& m, const DetectOptions& options, const Thresholds& t) {
    Detection d;
    find_background(Search{m, options, t}, d);
    return std::move(d.background);
}

Detection detect_peaks(const LogMagnitudes& m, const DetectOptions& options, const Thresholds& t, double shown) {
    const Search search{m, options, t};
    const auto is_protected = [&](int32_t y, int32_t x) { return search.is_protected(y, x); };
    Detection d;
    find_background(search, d);
    const std::vector<Component> components = components_of(search, d, flag_samples(search, d));
    pair_mirrors(search, peaks_of(search, components, d), d);
    grow_peaks(search, d);
    faint_candidates(search, d);
    // Ridges: a wave whose frequency sweeps across the frame (a chirp) spreads along a line
    // through the zero frequency, each sample of it too weak to stand out alone. From each kept
    // peak the line is followed outwards and inwards while it stands above the background on
    // average. (A straight edge of the picture leaves such a line too: a ridge is marked apart
    // from the peak, for a fit to judge.)
    d.ridge.assign(d.group.size(), 0);
    for (Peak& p : d.peaks) follow_ridge(m, d, p, is_protected, t, 1);
    for (Peak& p : d.peaks) follow_ridge(m, d, p, is_protected, t, -1);
    std::sort(d.peaks.begin(), d.peaks.end(), [](const Peak& a, const Peak& b) { return a.amplitude > b.amplitude; });
    const double screen = lattice_frequency(m, d.background, d.peaks, t.screen_amplitude / options.sensitivity, 1, t);
    d.screen_period = screen > 0 ? 1 / screen : 0;
    const double cut = screen > 0 || shown >= 1 ? 0 : lattice_frequency(m, d.background, d.peaks, t.screen_amplitude / options.sensitivity, shown, t);
    d.cut_screen = cut > 0 ? 1 / cut : 0;
    return d;
}

}  // namespace quen::cleaning
