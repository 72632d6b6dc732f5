// Line patterns: scan lines and streaks, every k-th row (or column), or a few rows of every k,
// darker or lighter than the rest. Such a pattern leaves peaks on the vertical (horizontal) axis at
// multiples of 1/k, each a copy of the picture's spectrum; notches there take only the copies'
// centres. Its own model takes it out whole: a gain for each of the k classes of rows, divided out.
#pragma once

#include <cstdint>
#include <vector>

#include "image.h"
#include "peaks.h"
#include "thresholds.h"

namespace quen::cleaning {

// The frequency of a peak along one axis, in cycles per pixel, or -1 when the peak is off that
// axis. Rows: the vertical axis, where patterns along the rows show.
double along_axis(const Peak& p, const host::SpectrumGeometry& g, Axis axis);

// Whether peak p lies on the axis at a multiple of 1/k cycles per pixel, within the tolerance.
bool harmonic_of(const Peak& p, int32_t k, const host::SpectrumGeometry& g, Axis axis, const Thresholds& t);

struct LineGains {
    std::vector<double> log_gain;  // channel by channel, k classes each
    bool stands_out = false;       // some class's gain differs from 1 beyond doubt
    double scatter = HUGE_VAL;     // what the gains leave of the ratios' spread
};

// A line pattern found: its period and the gains of its classes of lines.
struct LinePattern {
    int32_t period = 0;  // 0: none
    LineGains fit;
    int32_t drawn = 0;  // the period of lines too dark or too light for a line pattern (a table's rules)
    double faint = 0;   // lines no peak shows: the amplitude (full scale) of the sinusoid that would change the picture as much
    // What taking it out of the picture it was found in does to each class of lines in each channel,
    // once fitted there (faint lines are, to be measured): an offset subtracted when `adds`, a log
    // gain divided out otherwise. Empty: fitted when taken out.
    std::vector<double> per_class{};
    bool adds = false;
    // The period of the lines found, drawn or not; 0 when none.
    int32_t lines() const { return period > 0 ? period : drawn; }
};

// What the lines of the picture say, found once (in the first pass).
struct LineEvidence {
    PerAxis<LinePattern> found;  // the line pattern along each axis; period 0: none
    PerAxis<int32_t> ruled;      // the period of the lines found along the axis, drawn or not; 0: none
};

// The line patterns the peaks on each axis stand for, borne out (or not) by the lines' gains in
// the picture `work`. The period that explains the most peaks first; when its lines' gains do not
// hold (the lines of a page of text), those peaks are set aside and the next tried (scan lines over
// the page). Lines further apart than a line pattern's (a table's columns, when its rows were
// found) are looked for at longer periods: the shortest whose classes of lines stand out, borne out
// by the samples. Their peaks need not stand apart on the axis, where the leakage of the lines'
// many harmonics merges them. On an axis whose peaks point at no period, lines too faint to show
// in the spectrum are looked for the same way among the line patterns' periods, and kept when they
// change the picture less than a sinusoid of amplitude `weakest` (full scale) would.
LineEvidence find_lines(const host::Image& work, const std::vector<Peak>& peaks, const host::SpectrumGeometry& g,
                        double weakest, const Thresholds& t);

// Whether f (cycles per pixel) is the length of a frequency of the lattice of lines every kx
// columns and every ky rows, within the tolerance of a sample.
bool on_lattice(double f, int32_t kx, int32_t ky, const host::SpectrumGeometry& g, const Thresholds& t);

// Takes the pattern out of the picture: divides its gains out, or subtracts its offsets (fitted
// to the medians of the samples' differences from one line to the next) when its lines add; with
// the values of `per_class` when they were fitted already, to this picture as it was found in.
// Returns the amplitude (full scale) of the sinusoid that would change the picture as much.
double take_out_lines(host::Image& work, const LinePattern& pattern, Axis axis, const Thresholds& t);

}  // namespace quen::cleaning
