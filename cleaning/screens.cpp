// Halftone screens: a low-pass below each channel's screen frequency, taken where the screen is.
#include "screens.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "descreen.h"
#include "smooth.h"

namespace quen::cleaning {
namespace {

// Each ink of a colour screen has its own screen (angle, and maybe period): the screen frequency of
// channel c, in cycles per pixel, is that of its peak standing highest above the background, at or
// above the lattice's lowest frequency (lower peaks are the picture's, or sums of two inks' screens),
// among the peaks found in that channel; 0 for a channel where none was found (a print with fewer
// inks than channels), which is left alone.
std::array<double, 3> screen_frequencies(const LogMagnitudes& m, const Detection& d, const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    const double lowest = 1 / d.screen_period;
    std::array<double, 3> screen{0, 0, 0};
    for (int32_t c = 0; c < 3; ++c) {
        float strongest = -1e30f;
        for (const Peak& p : d.peaks) {
            const Frequency f = frequency_of(g, p.row, p.column);
            const double r = std::hypot(f.u, f.v);
            const std::size_t i = m.index(c, p.row, p.column);
            const float excess = m.values[i] - d.background[i];
            if (!(p.channels & (1u << c)) || r < t.screen_lowest * lowest || excess <= strongest) continue;
            strongest = excess;
            screen[static_cast<std::size_t>(c)] = r;
        }
    }
    return screen;
}

// Where each channel's screen is, as the share (0 to 1) of the descreened picture to take at
// each pixel. A page of text or drawings with a printed picture on it has its dots only in the
// picture, and descreening, which blurs, belongs there alone. The channel's screen band (the
// frequencies within screen_band of the screen frequency about its fundamental peaks: wide enough
// to tell where the dots are to a few periods, narrow enough that text and edges put little there)
// is brought back to the picture, and its power, smoothed over a screen period, gives the screen's
// local strength; the screen is where that reaches screen_level of the strongest (its 99th
// percentile). Those parts, smoothed over a period, have their holes filled (the lightest and
// darkest parts of a printed picture, where the dots all but vanish), and the edge is softened
// over a period. A screen over screened_frame of the frame or more is a print's, whose lightest
// and darkest parts hold faint dots too wherever they lie, even along the border: it is taken out
// everywhere, as for a picture said to be a print (`whole`), and so are the other channels'
// screens, the other inks of the same print (an ink light over most of the picture leaves dots
// too faint there for its own channel to tell where they are).

// Sets to 1 the zeros of a mask that no path of zeros joins to the border.
void fill_holes(std::vector<uint8_t>& mask, int32_t rows, int32_t cols) {
    std::vector<uint8_t> outside(mask.size(), 0);
    std::vector<int32_t> stack;
    auto reach = [&](int32_t y, int32_t x) {
        const std::size_t i = std::size_t(y) * cols + x;
        if (mask[i] || outside[i]) return;
        outside[i] = 1;
        stack.push_back(static_cast<int32_t>(i));
    };
    for (int32_t x = 0; x < cols; ++x) reach(0, x), reach(rows - 1, x);
    for (int32_t y = 0; y < rows; ++y) reach(y, 0), reach(y, cols - 1);
    while (!stack.empty()) {
        const int32_t i = stack.back(), y = i / cols, x = i % cols;
        stack.pop_back();
        if (y > 0) reach(y - 1, x);
        if (y + 1 < rows) reach(y + 1, x);
        if (x > 0) reach(y, x - 1);
        if (x + 1 < cols) reach(y, x + 1);
    }
    for (std::size_t i = 0; i < mask.size(); ++i) mask[i] = !outside[i];
}

// Channel c's share: its screen band's power smoothed over a period, where it reaches screen_level
// of the strongest; that smoothed, its holes filled, and its edge softened. Sets `print` for a
// screen over screened_frame of the frame, taken everywhere.
std::vector<float> share_of(const host::Image& waves, int32_t c, int32_t period, const Thresholds& t, bool& print) {
    const int32_t rows = waves.rows, cols = waves.cols;
    const std::size_t size = std::size_t(rows) * cols;
    RealPlane field(size);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            const float v = waves.get<float>(y, x, c);
            field[std::size_t(y) * cols + x] = v * v;
        }
    smooth(field, rows, cols, period);
    std::vector<float> strength(size);
    for (std::size_t i = 0; i < size; ++i) strength[i] = std::sqrt(std::max(0.0f, field[i]));
    std::vector<float> sorted = strength;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(size * 99 / 100), sorted.end());
    const float level = static_cast<float>(t.screen_level) * sorted[size * 99 / 100];
    for (std::size_t i = 0; i < size; ++i) field[i] = strength[i] >= level ? 1.0f : 0.0f;
    smooth(field, rows, cols, period);
    std::vector<uint8_t> mask(size);
    for (std::size_t i = 0; i < size; ++i) mask[i] = field[i] > 0.5f;
    fill_holes(mask, rows, cols);
    if (std::count(mask.begin(), mask.end(), 1) >= std::ptrdiff_t(t.screened_frame * double(size))) {
        print = true;
        return std::vector<float>(size, 1.0f);
    }
    field.assign(mask.begin(), mask.end());
    smooth(field, rows, cols, period);
    return field;
}

// The screen band of each channel (see above) brought back to the picture as transformed.
host::Image screen_waves(const host::ModuleLibrary& inverse, const host::Image& spectrum, const LogMagnitudes& m,
                         const Detection& d, const std::array<double, 3>& screen, const Thresholds& t) {
    const host::SpectrumGeometry& g = m.geometry;
    LogMagnitudes band = m;
    for (int32_t c = 0; c < g.channels; ++c) {
        const double f = screen[std::size_t(c)];
        std::vector<Frequency> fundamentals;
        for (const Peak& p : d.peaks) {
            const Frequency q = frequency_of(g, p.row, p.column);
            if ((p.channels & (1u << c)) && std::fabs(std::hypot(q.u, q.v) - f) <= t.screen_band * f) fundamentals.push_back(q);
        }
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x) {
                const Frequency q = frequency_of(g, y, x);
                bool near = false;
                for (const Frequency& h : fundamentals)
                    near = near || std::hypot(q.u - h.u, q.v - h.v) <= t.screen_band * f ||
                           std::hypot(q.u + h.u, q.v + h.v) <= t.screen_band * f;
                if (!near) band.at(c, y, x) = kAbsent;
            }
    }
    return back_to_picture(inverse, spectrum, band, g.rows);
}

std::array<std::vector<float>, 3> screened_share(const host::ModuleLibrary& inverse, const host::Image& spectrum,
                                                  const LogMagnitudes& m, const Detection& d,
                                                  const std::array<double, 3>& screen, bool whole, const Thresholds& t) {
    std::array<std::vector<float>, 3> share;
    if (!whole) {
        const host::Image waves = screen_waves(inverse, spectrum, m, d, screen, t);
        for (int32_t c = 0; c < 3; ++c) {
            if (screen[std::size_t(c)] == 0) continue;
            const int32_t period = static_cast<int32_t>(std::ceil(1 / screen[std::size_t(c)]));
            share[std::size_t(c)] = share_of(waves, c, period, t, whole);
        }
        if (!whole) return share;
    }
    const std::size_t size = std::size_t(m.geometry.rows) * std::size_t(m.geometry.period_x);  // the picture transformed
    for (int32_t c = 0; c < 3; ++c)
        if (screen[std::size_t(c)] > 0) share[std::size_t(c)].assign(size, 1.0f);
    return share;
}

}  // namespace

ScreenCut cut_screen(const host::ModuleLibrary& inverse, const host::Image& spectrum, const LogMagnitudes& found,
                     const LogMagnitudes& m, const Detection& d, double protect_period, bool whole, const Thresholds& t) {
    ScreenCut cut;
    const std::array<double, 3> screen = screen_frequencies(m, d, t);
    const double keep = 1 / protect_period;
    cut.screens = screens_of(found, d, screen, keep, t);
    // The period the low-pass halves, in the channel cut lowest.
    cut.lowpass_period = 1 / (keep + std::sqrt(2 * std::numbers::ln2) * narrowest_lowpass(cut.screens));
    cut.share = screened_share(inverse, spectrum, found, d, screen, whole, t);
    cut.keep = keep;
    return cut;
}

namespace {

// The smallest length from n up whose only prime factors are 2, 3, 5 and 7 (quick to transform).
int32_t smooth_length(int32_t n) {
    for (;; ++n) {
        int32_t r = n;
        for (int32_t p : {2, 3, 5, 7})
            while (r % p == 0) r /= p;
        if (r == 1) return n;
    }
}

// Each channel with a screen smoothed where it is flat (smooth_where_flat) over half its screen
// period; a channel where two inks beat up to a steeper gradient (rosette_flat times descreen_flat):
// their rosette's residue stands higher in its flat parts than one ink's dots leave.
void smooth_flat(host::Image& picture, const Screens& screens, const Thresholds& t) {
    for (int32_t c = 0; c < 3; ++c)
        if (const ChannelScreen& s = screens[std::size_t(c)]; s.frequency > 0)
            smooth_where_flat(picture, c, 1 / s.frequency, s.moire.empty() ? t.descreen_flat : t.rosette_flat * t.descreen_flat);
}

}  // namespace

void smooth_where_flat(host::Image& picture, int32_t c, double period, double flat, const std::vector<float>* plain) {
    const int32_t rows = picture.rows, cols = picture.cols;
    const std::size_t size = std::size_t(rows) * cols;
    RealPlane smoothed(size), activity(size);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) smoothed[std::size_t(y) * cols + x] = picture.get<float>(y, x, c);
    // Three boxes of radius r smooth with a deviation of about sqrt(r (r + 1)).
    smooth(smoothed, rows, cols, std::max(1, int32_t(std::lround(period / 2 - 0.5))));
    const auto at = [&](int32_t y, int32_t x) { return smoothed[std::size_t(std::clamp(y, 0, rows - 1)) * cols + std::clamp(x, 0, cols - 1)]; };
    const int32_t bend = std::max(1, int32_t(std::lround(period / 2)));
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            // (how far the slope turns over the smoothing's reach each way; for a folded print,
            // smoothed over a pixel or two, too short a reach to tell a bend from its grain, the
            // slope itself)
            const float mid = 2 * at(y, x);
            const float gy = plain ? (at(y + 1, x) - at(y - 1, x)) / 2 : (at(y + bend, x) + at(y - bend, x) - mid) / float(bend),
                        gx = plain ? (at(y, x + 1) - at(y, x - 1)) / 2 : (at(y, x + bend) + at(y, x - bend) - mid) / float(bend);
            // (what the smoothing takes out, but for the share known to be grain)
            const float fine = plain ? (1 - (*plain)[std::size_t(y) * cols + x]) * (picture.get<float>(y, x, c) - at(y, x)) : 0.0f;
            activity[std::size_t(y) * cols + x] = gy * gy + gx * gx + fine * fine;
        }
    smooth(activity, rows, cols, std::max(1, int32_t(std::lround(period - 0.5))));
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            const std::size_t i = std::size_t(y) * cols + x;
            const double a = std::exp(-std::sqrt(std::max(0.0f, activity[i])) / flat);
            picture.set<float>(y, x, c, static_cast<float>(a * smoothed[i] + (1 - a) * picture.get<float>(y, x, c)));
        }
}

host::Image descreen_picture(const CleanModules& modules, const host::Image& work, const LogMagnitudes& found,
                             const LogMagnitudes& m, const ScreenCut& cut, const Thresholds& t, int64_t& changed) {
    const int32_t period = std::max(1, int32_t(std::lround(1 / lowest_frequency(cut.screens))));
    const int32_t margin = std::min({int32_t(t.descreen_margin) * period, work.rows - 1, work.cols - 1});
    const int32_t rows = smooth_length(work.rows + 2 * margin), cols = smooth_length(work.cols + 2 * margin);
    const int32_t top = (rows - work.rows) / 2, left = (cols - work.cols) / 2;
    // The picture mirrored about each edge (the edge's pixels once)...
    const auto mirror = [](int32_t i, int32_t n) {
        const int32_t turn = 2 * n - 2;
        i = ((i % turn) + turn) % turn;
        return i < n ? i : turn - i;
    };
    host::Image padded = host::Image::make(rows, cols, 3, 32);
    Plane plane(std::size_t(rows) * cols);
    const auto sharp = [&](int32_t y, int32_t x, int32_t c) {
        return work.get<float>(mirror(y - top, work.rows), mirror(x - left, work.cols), c);
    };
    for (int32_t c = 0; c < 3; c += 2) {  // channels 0 and 1 as one plane's real and imaginary parts, then 2
        const bool pair = c + 1 < 3;
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x)
                plane[std::size_t(y) * cols + x] = {sharp(y, x, c), pair ? sharp(y, x, c + 1) : 0.0f};
        // ... and smoothed over a screen period from a period beyond them: the mirror's dots lie on
        // a screen turned the other way, which the screen's lattice does not take out.
        smooth(plane, rows, cols, period);
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x) {
                const int32_t dy = std::max({0, top - y, y - (top + work.rows - 1)});
                const int32_t dx = std::max({0, left - x, x - (left + work.cols - 1)});
                const double a = std::min(1.0, std::hypot(dy, dx) / period);
                const std::complex<float> smoothed = plane[std::size_t(y) * cols + x];
                padded.set<float>(y, x, c, static_cast<float>((1 - a) * sharp(y, x, c) + a * smoothed.real()));
                if (pair) padded.set<float>(y, x, c + 1, static_cast<float>((1 - a) * sharp(y, x, c + 1) + a * smoothed.imag()));
            }
    }
    host::Image spectrum = forward_spectrum(modules.forward, padded);
    LogMagnitudes wide = read_log_magnitudes(spectrum, host::Layout::Half);
    carry_fills(wide, found, m);
    changed += descreen(wide, cut.screens, cut.keep, t);
    const host::Image back = back_to_picture(modules.inverse, std::move(spectrum), wide, padded.rows);
    host::Image out = host::Image::make(work.rows, work.cols, 3, 32);
    for (int32_t y = 0; y < work.rows; ++y)
        for (int32_t x = 0; x < work.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) out.set<float>(y, x, c, back.get<float>(y + top, x + left, c));
    smooth_flat(out, cut.screens, t);
    return out;
}

void keep_below_screen(const Detection& d, const host::SpectrumGeometry& g, Decisions& decisions, const Thresholds& t) {
    const double lowest = 1 / d.screen_period;
    std::vector<Frequency> fundamentals;  // and their mirrors
    for (const Peak& p : d.peaks) {
        const Frequency f = frequency_of(g, p.row, p.column);
        const double r = std::hypot(f.u, f.v);
        if (r < kScreenLattice * lowest || r > t.fundamental_ring * lowest ||
            p.amplitude < t.fundamental_share * d.peaks.front().amplitude)
            continue;
        fundamentals.push_back(f);
        fundamentals.push_back({-f.u, -f.v});
    }
    for (const Peak& p : d.peaks) {
        const Frequency f = frequency_of(g, p.row, p.column);
        if (std::hypot(f.u, f.v) >= kScreenLattice * lowest) continue;
        bool moire = false;
        for (const Frequency& a : fundamentals)
            for (const Frequency& b : fundamentals)
                moire = moire || distance_in_samples(g, {a.u - b.u, a.v - b.v}, f) <= t.moire_tolerance;
        if (!moire) decisions.decide(p.group, {Verdict::Keep, Reason::BelowScreen});
    }
}

double print_screen_period(const Detection& d, double sensitivity, const Thresholds& t) {
    const double strong = kScreenAmplitude / sensitivity;
    for (const Peak& p : d.peaks) {
        if (p.amplitude < strong) break;  // strongest first
        for (const Peak& q : d.peaks) {
            if (q.amplitude < strong) break;
            const double turn = std::fmod(std::fabs(p.angle - q.angle), 180.0);
            if (std::fabs(turn - 90) <= t.partner_angle && std::fabs(q.period - p.period) <= t.partner_period * p.period)
                return std::max(p.period, q.period);
        }
    }
    return 0;
}

std::vector<ScreenTurn> square_screens(const Detection& d, const host::SpectrumGeometry& g, double strong,
                                       const Thresholds& t) {
    std::vector<ScreenTurn> screens;
    const std::size_t n = std::min(d.peaks.size(), t.lattice_peaks);
    for (std::size_t i = 0; i < n && d.peaks[i].amplitude >= strong; ++i)
        for (std::size_t k = i + 1; k < n && d.peaks[k].amplitude >= strong; ++k) {
            const Peak &a = d.peaks[i], &b = d.peaks[k];
            if (a.amplitude > t.screen_alike * b.amplitude ||
                !square_pair(g, frequency_of(g, a.row, a.column), frequency_of(g, b.row, b.column), t))
                continue;
            screens.push_back({(a.period + b.period) / 2, std::fmod(a.angle, 90.0)});
        }
    return screens;
}

namespace {

// An ink's screen and the harmonics it shows itself by, each as how many times finer than the
// screen and how many degrees turned from it: its two frequencies, its diagonals (sqrt 2 times
// finer, turned 45 degrees) and its second harmonics (twice as fine, not turned).
constexpr std::pair<double, double> kInkHarmonics[] = {{1.0, 0.0}, {std::numbers::sqrt2, 45.0}, {2.0, 0.0}};

// Degrees between two square lattices' turns, 0 to 45.
double between(double a, double b) {
    const double turn = std::fmod(std::fabs(a - b), 90.0);
    return std::min(turn, 90 - turn);
}

}  // namespace

double screen_fundamental(const Detection& d, const Thresholds& t) {
    const auto near = [&](double period, double other) { return std::fabs(other - period) <= t.rosette_period * period; };
    // The screen's diagonals, sqrt 2 times finer, or the lattice they make with its second
    // harmonics, twice as fine: one step or two.
    const auto coarser = [&](double lattice) {
        double strongest = 0;
        for (const Peak& p : d.peaks)
            if (near(lattice, p.period)) strongest = std::max(strongest, p.amplitude);
        for (const Peak& p : d.peaks) {
            if (p.amplitude <= strongest) break;  // strongest first
            if (!near(std::numbers::sqrt2 * lattice, p.period)) continue;
            for (const Peak& q : d.peaks)
                if (near(lattice, q.period) && between(p.angle + 45, q.angle) <= t.rosette_angle) return p.period;
        }
        return lattice;
    };
    return coarser(coarser(d.screen_period));
}

double rosette_period(const std::vector<ScreenTurn>& screens, int32_t side, const Thresholds& t) {
    const auto near = [&](double period, double other) { return std::fabs(other - period) <= t.rosette_period * period; };
    // The turns of the screens of s's period turned from it by whole multiples of 15 degrees, s's
    // first; with `harmonics`, each screen that is an ink's harmonics stands for that ink's screen
    // too (its diagonals turned back 45 degrees).
    const auto family = [&](const ScreenTurn& s, bool harmonics) {
        std::vector<double> turns{s.turn};
        for (const ScreenTurn& o : screens)
            for (const auto& [finer, turned] : kInkHarmonics) {
                if ((finer > 1 && !harmonics) || !near(s.period, finer * o.period)) continue;
                const double turn = o.turn + turned, apart = between(turn, s.turn), off = std::fmod(apart, 15.0);
                if (std::min(off, 15 - off) > t.rosette_angle) continue;
                bool seen = false;
                for (double known : turns) seen = seen || between(known, turn) < 15 - t.rosette_angle;
                if (!seen) turns.push_back(turn);
            }
        return turns;
    };
    // An ink's own two frequencies may make no pair (one lost in a neighbouring ink's peak, or both
    // fainter than its diagonals, as dots near half cover leave them): its harmonics are counted
    // for it, once no rosette is found without them, about the first screen (the strongest of the
    // first search: an ink's, or its harmonics', not the weaker beats between two inks, which a
    // screen's harmonics would otherwise join), in a frame that holds many of its cells
    // (screen_cells along its shorter side, screen_side at least: in an icon's few samples, peaks'
    // turns are known too roughly).
    for (const bool harmonics : {false, true})
        for (const ScreenTurn& s : screens) {
            if (harmonics && (&s != &screens.front() || side < std::max(t.screen_side, t.screen_cells * s.period))) continue;
            const std::vector<double> turns = family(s, harmonics);
            if (std::ssize(turns) < t.rosette_screens) continue;
            // The inks' harmonics make a rosette of their own, finer. A screen of which the
            // family's are the harmonics is the print's own.
            for (const ScreenTurn& o : screens)
                for (const auto& [finer, turned] : kInkHarmonics)
                    if (finer > 1 && near(finer * s.period, o.period))
                        for (double turn : turns)
                            if (between(o.turn + turned, turn) <= t.rosette_angle) return o.period;
            return s.period;
        }
    return 0;
}

namespace {

// Whether a peak as strong as a screen's dots, off the spectrum's axes, at a frequency from lowest
// to highest, lies off the lattice of lines drawn every kx columns and every ky rows.
bool strong_peak_off_grid(const Detection& d, const host::SpectrumGeometry& g, int32_t kx, int32_t ky, double lowest,
                          double highest, const Thresholds& t) {
    for (const Peak& p : d.peaks) {
        if (p.amplitude < t.screen_amplitude) break;  // strongest first
        const Frequency f = frequency_of(g, p.row, p.column);
        const double r = std::hypot(f.u, f.v);
        if (r < lowest || r > highest || samples_off_axes(g, p) < t.screen_off_axis) continue;
        const Frequency grid{std::round(f.u * kx) / kx, std::round(f.v * ky) / ky};
        if (distance_in_samples(g, f, grid) > t.lattice_tolerance) return true;
    }
    return false;
}

}  // namespace

bool screen_off_grid(const Detection& d, const host::SpectrumGeometry& g, int32_t kx, int32_t ky, const Thresholds& t) {
    // A rosette whose inks' screens, or the harmonics they show themselves by, stand off the
    // grid's lattice (a grid's own harmonics may make a rosette, all of them on its lattice; an ink
    // at 0 degrees rules rows and columns, and the others may show only by their harmonics).
    if (d.rosette > 0)
        for (const auto& [finer, turned] : kInkHarmonics)
            if (strong_peak_off_grid(d, g, kx, ky, (1 - t.rosette_period) * finer / d.rosette,
                                     (1 + t.rosette_period) * finer / d.rosette, t))
                return true;
    // An ink at 0 degrees: two peaks of the screen's period on the two axes, alike in strength.
    const auto on_axis = [&](double angle) {
        double strongest = 0;
        for (const Peak& p : d.peaks)
            if (std::fabs(p.angle - angle) <= t.partner_angle && std::fabs(p.period - d.screen_period) <= t.partner_period * d.screen_period)
                strongest = std::max(strongest, p.amplitude);
        return strongest;
    };
    const double across = std::max(on_axis(0), on_axis(180)), down = on_axis(90);
    if (std::max(across, down) < t.screen_amplitude) return false;
    const double lowest = 1 / d.screen_period;
    return strong_peak_off_grid(d, g, kx, ky, kScreenLattice * lowest, t.fundamental_ring * lowest, t);
}

void blend_screened(host::Image& cleaned, const host::Image& work, const std::array<std::vector<float>, 3>& share) {
    for (int32_t c = 0; c < 3; ++c)
        if (!share[std::size_t(c)].empty())
            for (int32_t y = 0; y < work.rows; ++y)
                for (int32_t x = 0; x < work.cols; ++x) {
                    const float a = share[std::size_t(c)][std::size_t(y) * work.cols + x];
                    cleaned.set<float>(y, x, c, a * cleaned.get<float>(y, x, c) + (1 - a) * work.get<float>(y, x, c));
                }
}

}  // namespace quen::cleaning
