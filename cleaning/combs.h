// Combs and grids: the picture's own repeating content. Things a picture repeats at a steady
// spacing along one axis (a chart's categories, a fence, a row of windows, lines of text) put a comb of peaks on the other axis: many harmonics of one
// frequency, where interference puts one or two. Of a line pattern's combs, the lines' gains
// decide (lines.h); any other comb that makes most of an axis's peaks, or holds half their power, is
// the picture's own, and its peaks are left alone. The fundamental is the one whose harmonics hold
// the most peaks beyond what chance would put within the tolerance of them.
#pragma once

#include <cstdint>

#include "decisions.h"
#include "peaks.h"
#include "thresholds.h"

namespace quen::cleaning {

// Whether a (samples from the zero frequency) lies within the comb tolerance of a multiple of f0.
bool near_multiple(double a, double f0, const Thresholds& t);

// Keeps the peaks of a comb along one axis (Rows: on the vertical axis, things repeated down the
// rows), and their sidebands, unless settled already. Returns the comb's fundamental in samples, 0
// when none.
double keep_comb(const Detection& d, const host::SpectrumGeometry& g, Axis along, Decisions& decisions, const Thresholds& t);

// A grid of things repeated along both axes (a table's cells, tiles, a wallpaper) puts a comb on
// each axis and its peaks on the lattice the two combs' fundamentals (samples) span.
struct Grid {
    double across = 0, down = 0;  // 0: no grid
    bool holds(const host::SpectrumGeometry& g, int32_t row, int32_t column, const Thresholds& t) const;
};

// The grid's peaks off the axes are left alone too, when it holds a comb's worth of them; otherwise
// the grid is dropped. With a comb on one axis only (rows of text whose characters' columns leave
// nothing on the other axis, a terminal's), the other fundamental is looked for among the peaks off
// the axes at the comb's harmonics: most of them must lie on harmonics of one.
void keep_grid(const Detection& d, const host::SpectrumGeometry& g, Grid& grid, Decisions& decisions, const Thresholds& t);

}  // namespace quen::cleaning
