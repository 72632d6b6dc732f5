// Combs and grids: what a picture repeats at a steady spacing, found among the peaks and left alone.
#include "combs.h"

#include <algorithm>
#include <cmath>

#include "lines.h"

namespace quen::cleaning {

bool near_multiple(double a, double f0, const Thresholds& t) {
    return std::fabs(a - std::round(a / f0) * f0) <= t.comb_tolerance;
}

namespace {

// Whether a is one of the harmonics of f0, the fundamental included.
bool in_comb(double a, double f0, const Thresholds& t) { return a >= f0 - t.comb_tolerance && near_multiple(a, f0, t); }

// A peak's place in samples from the zero frequency: along one axis (rows: the vertical one) and
// off it.
struct AxisPlace {
    double along, off;
};
AxisPlace place_of(const Peak& p, const host::SpectrumGeometry& g, Axis axis) {
    const double dy = std::fabs(p.row - g.centre_y), dx = std::fabs(p.column - g.centre_x);
    return axis == Axis::Rows ? AxisPlace{dy, dx} : AxisPlace{dx, dy};
}

// The fundamental (samples, at least comb_fundamental, at most half the length) whose harmonics
// hold the most of the places `at` beyond what chance would put within the tolerance of them, and
// how many they hold; 0 when none holds more than chance.
double comb_fundamental(const std::vector<double>& at, double length, int32_t& taken, const Thresholds& t) {
    double best = 0, score = 0;
    taken = 0;
    for (double f0 = t.comb_fundamental; f0 <= length / 2; f0 += t.comb_step) {
        int32_t count = 0;
        for (double a : at) count += in_comb(a, f0, t);
        const double beyond = count - double(at.size()) * std::min(1.0, 2 * t.comb_tolerance / f0);
        if (beyond > score) best = f0, score = beyond, taken = count;
    }
    return best;
}

// The fundamental that fits the harmonics of f0 among the places best, for a grid's far harmonics
// to fall on peaks.
double fit_fundamental(const std::vector<double>& at, double f0, const Thresholds& t) {
    double num = 0, den = 0;
    for (double a : at)
        if (in_comb(a, f0, t)) {
            const double j = std::round(a / f0);
            num += a * j;
            den += j * j;
        }
    return num / den;
}

}  // namespace

double keep_comb(const Detection& d, const host::SpectrumGeometry& g, Axis along, Decisions& decisions, const Thresholds& t) {
    const double length = along == Axis::Rows ? g.rows : g.period_x;  // samples per cycle per pixel
    std::vector<const Peak*> axis;
    std::vector<double> at;  // in samples from the zero frequency
    for (const Peak& p : d.peaks) {
        const double f = along_axis(p, g, along);
        if (f > 0 && !decisions.settled(p.group)) {
            axis.push_back(&p);
            at.push_back(f * length);
        }
    }
    if (axis.size() < std::size_t(t.comb_peaks)) return 0;
    int32_t taken = 0;
    double best = comb_fundamental(at, length, taken, t);
    // Most of the axis's peaks, or half their power: the columns of a chart whose bars vary in
    // height scatter weak peaks along the axis between the harmonics.
    double power = 0, comb_power = 0;
    for (std::size_t i = 0; i < axis.size(); ++i) {
        const double a2 = axis[i]->amplitude * axis[i]->amplitude;
        power += a2;
        if (in_comb(at[i], best, t)) comb_power += a2;
    }
    if (taken < t.comb_peaks || (taken < t.comb_share * double(at.size()) && comb_power < t.comb_power_share * power))
        return 0;
    best = fit_fundamental(at, best, t);
    // The comb's peaks, and their sidebands just off the axis: things of different heights (a
    // chart's bars) spread each harmonic a few samples across it, and so do rows of text whose
    // characters come and go along them (a terminal's).
    for (const Peak& p : d.peaks) {
        const AxisPlace q = place_of(p, g, along);
        if (q.off <= t.comb_sideband && in_comb(q.along, best, t))
            decisions.decide(p.group, {Verdict::Keep, Reason::RepeatingContent, along, length / best});
    }
    return best;
}

void keep_grid(const Detection& d, const host::SpectrumGeometry& g, Grid& grid, Decisions& decisions, const Thresholds& t) {
    if ((grid.down > 0) != (grid.across > 0)) {
        const Axis comb = grid.down > 0 ? Axis::Rows : Axis::Columns;  // the comb's axis
        const bool rows = comb == Axis::Rows;
        const double f0 = rows ? grid.down : grid.across;
        std::vector<double> at;  // the places along the other axis, in samples from the zero frequency
        for (const Peak& p : d.peaks) {
            const AxisPlace q = place_of(p, g, comb);
            if (!decisions.settled(p.group) && q.off > t.comb_sideband && in_comb(q.along, f0, t)) at.push_back(q.off);
        }
        int32_t taken = 0;
        const double other =
            at.size() < std::size_t(t.comb_peaks) ? 0 : comb_fundamental(at, rows ? g.period_x : g.rows, taken, t);
        if (taken >= t.comb_peaks && taken >= t.comb_share * double(at.size()))
            (rows ? grid.across : grid.down) = fit_fundamental(at, other, t);
    }
    std::vector<int32_t> groups;
    for (const Peak& p : d.peaks)
        if (!decisions.settled(p.group) && grid.holds(g, p.row, p.column, t)) groups.push_back(p.group);
    if (groups.size() < std::size_t(t.comb_peaks)) {
        grid = {};
        return;
    }
    for (int32_t group : groups) decisions.decide(group, {Verdict::Keep, Reason::RepeatingGrid});
}

bool Grid::holds(const host::SpectrumGeometry& g, int32_t row, int32_t column, const Thresholds& t) const {
    return across > 0 && down > 0 && near_multiple(std::fabs(column - g.centre_x), across, t) &&
           near_multiple(std::fabs(row - g.centre_y), down, t);
}

}  // namespace quen::cleaning
