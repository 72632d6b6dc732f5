// Halftone screens: the lattice of peaks a screen's dots leave is cut with a smooth low-pass below
// each channel's screen frequency, taken only where the screen is (a printed picture on a page of
// text keeps its text sharp).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "clean.h"
#include "decisions.h"
#include "descreen.h"
#include "peaks.h"
#include "round_trip.h"
#include "thresholds.h"

namespace quen::cleaning {

struct ScreenCut {
    double lowpass_period = 0;                // pixels: the period the low-pass halves, the shortest kept at half strength
    std::array<std::vector<float>, 3> share;  // by channel: where the low-pass is taken (0 to 1 a pixel); empty: nowhere
    Screens screens;                          // each channel's screen, to descreen the picture with
    double keep = 0;                          // cycles per pixel: frequencies below are kept
};

// Each channel's screen and where it is, frequencies of a period longer than protect_period kept;
// `found`: the magnitudes as found, `m` with the peaks filled; `whole`: over the whole picture (a
// scanned print).
ScreenCut cut_screen(const host::ModuleLibrary& inverse, const host::Image& spectrum, const LogMagnitudes& found,
                     const LogMagnitudes& m, const Detection& d, double protect_period, bool whole, const Thresholds& t);

// The float picture `work` descreened by the cut's screens, with the peaks filled in `m` (from the
// magnitudes as `found`) filled as well; adds the magnitude samples it changes to `changed`.
host::Image descreen_picture(const CleanModules& modules, const host::Image& work, const LogMagnitudes& found,
                             const LogMagnitudes& m, const ScreenCut& cut, const Thresholds& t, int64_t& changed);

// Where a descreened picture is flat, what is left of the screen stands out most, and nothing of
// the picture is lost to a stronger low-pass: channel c of the float picture is taken smoothed over
// half the screen's `period` (pixels) by the share exp(-activity / flat), the activity being how
// far the smoothed channel's slope turns over half a period each way (full scale per pixel), root
// mean square over a period: the smoothing leaves a ramp as it was (a smooth photograph's shading)
// and changes the picture only where it bends; about edges and fine detail it stays as it was.
// With `plain` (0 to 1 per pixel), for a picture that keeps detail finer than the smoothing (a
// folded print's), what the smoothing takes out counts in the activity too, but for the share
// `plain` of it known to be no more than grain, and the activity is the smoothed channel's slope
// itself (over so short a reach a bend is the grain's).
void smooth_where_flat(host::Image& picture, int32_t c, double period, double flat, const std::vector<float>* plain = nullptr);

// Descreening keeps the picture below the screen: peaks there are the picture's own (the streaks
// of a panned shot) and are kept, but for the moire of two inks printed in one channel (cyan and
// black in red), which lies at the difference of two inks' fundamentals: peaks within
// fundamental_ring of the screen's lowest frequency and at least fundamental_share as strong as
// the strongest. (The picture's own detail modulates the dots and puts weaker sidebands about each
// fundamental, whose differences with it are the picture's frequencies.)
void keep_below_screen(const Detection& d, const host::SpectrumGeometry& g, Decisions& decisions, const Thresholds& t);

// A scanned print's screen where the lattice of its peaks was not made out (a dark or low-key
// picture, whose dots leave few and weak harmonics): the period of the strongest peak that has a
// partner at right angles (within partner_angle) and of about its period (within partner_period),
// as a screen lays its dots on a square grid, both as strong as a screen's dots leave their waves.
// A picture's own stripes (blinds, the streaks of a panned shot) have no such partner. 0: none.
double print_screen_period(const Detection& d, double sensitivity, const Thresholds& t);

// A square lattice among the peaks: its period (pixels) and turn (degrees, 0 to 90; a square
// lattice turned 90 degrees is itself).
struct ScreenTurn {
    double period = 0, turn = 0;
};

// The square pairs of peaks at least `strong` and alike in strength (screen_alike), strongest first.
std::vector<ScreenTurn> square_screens(const Detection& d, const host::SpectrumGeometry& g, double strong,
                                       const Thresholds& t);

// The period of a print's rosette among `screens`: rosette_screens of them or more of one period
// (within rosette_period of it), turned from one another by whole multiples of 15 degrees (within
// rosette_angle), as a press turns its inks' screens (15, 75, 0 and 45 degrees). The inks' screens
// beat against one another into a coarser lattice of moire, which would pass for a drawing's
// lattice, and each ink fades with its own tone, which would pass for a screen laid over the
// picture: neither is, here. A page of text or a table shows no such family (its rows and columns
// put their pairs on the axes alone). The inks' harmonics make finer rosettes of their own, each
// the harmonic of a coarser screen among `screens`, whose period stands for them. An ink whose
// own two frequencies make no pair (one lost in a neighbour's peak) shows itself by its harmonics:
// when no rosette is found otherwise, a screen that is an ink's diagonals (sqrt 2 times finer,
// turned 45 degrees) or second harmonics counts as that ink's, in a frame whose shorter `side`
// (pixels) holds screen_cells of its periods (and screen_side at least). The first rosette found,
// screens in their order; 0: none.
double rosette_period(const std::vector<ScreenTurn>& screens, int32_t side, const Thresholds& t);

// The period of the screen whose lattice's lowest frequency is d.screen_period: that, unless a
// peak stronger than every one there stands sqrt 2 times coarser, turned 45 degrees from one of
// them (within rosette_period and rosette_angle): the lattice made out is then the diagonals of a
// screen whose own two frequencies made no pair (one of them lost in a neighbour's peak), and that
// peak's period is the screen's. A picture's own detail is not that strong beside a screen. The
// lattice made out may be a step finer still, the diagonals' with the inks' second harmonics
// (twice the screen's frequency: a dark picture's inks, whose dots are small, leave their own
// pairs too weak): the step is taken twice.
double screen_fundamental(const Detection& d, const Thresholds& t);

// Whether a screen found where lines are drawn both ways, every kx columns and every ky rows, is
// a print's rather than the grid's: an ink at 0 degrees (yellow) rules rows and columns, but it
// leaves a peak of the screen's period (within partner_period) on an axis, as strong as a
// screen's dots leave it (on the other axis the picture's own edges may hide its twin), and
// beside it the other inks turned 15 and
// 75 degrees leave a peak of about the screen's lowest frequency (kScreenLattice to
// fundamental_ring of it) off the spectrum's axes (screen_off_axis) and off the grid's lattice
// (lattice_tolerance). A table's or graph paper's rules put their peaks there on the axes alone.
// So is a print's rosette (d.rosette) with a screen of its period, or of its inks' diagonals or
// second harmonics, off the axes and off the grid's lattice: a grid's harmonics may make a
// rosette of their own, on the lattice.
bool screen_off_grid(const Detection& d, const host::SpectrumGeometry& g, int32_t kx, int32_t ky, const Thresholds& t);

// Takes the low-passed picture `cleaned` where the screen is, the picture `work` as it was elsewhere.
void blend_screened(host::Image& cleaned, const host::Image& work, const std::array<std::vector<float>, 3>& share);

}  // namespace quen::cleaning
