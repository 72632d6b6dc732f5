// Evidence about the whole picture that refutes or bears out a wave across the frame: where a
// frequency's waves run (all four quarters of the frame or part of it), the share of samples
// pinned at either end of the range, and the largest flat square.
#pragma once

#include <complex>
#include <cstdint>
#include <functional>
#include <vector>

#include "image.h"
#include "peaks.h"
#include "thresholds.h"
#include "tones.h"

namespace quen::cleaning {

// Whether the waves of frequency f run across the whole picture, as interference does, rather
// than through a part of it, as a picture's own pattern (a fence, a fabric) does: their amplitude
// in each quarter of the frame, channel c.
bool across_the_frame(const host::Image& picture, int32_t c, const Frequency& f, const Thresholds& t);

// Whether a sample value lies at either end of the range, where a wave shows only half the time.
inline bool at_either_end(double v, double full) { return v <= 0 || v >= full; }

// What the picture's flat and pinned samples say of waves across the frame, found once.
struct FlatEvidence {
    bool pinned = false;    // black or white nearly everywhere: the picture holds no wave at all
    double share_pinned = 0;      // of the samples, at either end of the range
    double printed_strength = 1;  // the mean of 4 v (1 - v) over the samples v: a screen printed
                                  // with the tones is this strong across the frame, 1 at mid grey
    int32_t flat_side = 0;  // pixels: waves of this period or shorter are refuted (every one when pinned)
    int32_t free_side = 0;  // ... by a square not at either end of the range
    // By side s (pixels): the most 4 v (1 - v) over the channels of a flat square at least s wide
    // not at either end of the range, 0 for none; a screen printed with the tones swings that
    // times its swing at mid grey there.
    std::vector<double> free_tones;
    double half_level = 0;  // half a step of the picture's depth (full scale 1; 0 in floating point)
    int32_t rows = 0, cols = 0;
    std::vector<uint8_t> ends;  // by sample, (y * cols + x) * 3 + c: 1 at black, 2 at white, 0 between
    // Whether a wave of frequency f across the frame is refuted; without `by_pinned`, by a square
    // not at either end of the range (a wave fitted is weighed against the pinned samples one by one).
    bool refutes(const Frequency& f, bool by_pinned = true) const;
    // Whether a flat square not at either end of the range refutes a screen printed with the tones
    // of frequency f whose waves together swing `swing` (full scale 1) across the frame, that is
    // the swing at mid grey times printed_strength: only one whose tone would keep half a level of
    // the swing at mid grey at least. Near black or white the dots fade below
    // a step of the picture's depth, and a square there is flat with the screen printed over it.
    bool refutes_printed(const Frequency& f, double swing) const;
};
// Whether the samples pinned at either end of the range refute the sinusoid `tone` added to the
// picture with the waves `before` it: together they lift a sample at black off it wherever they
// stand well above nought (and lower one at white wherever they stand well below), so the samples
// the picture holds there, in lifted_share of its samples and lifted_chance of those a wave
// unrelated to the picture would find there, are its own black or white without the wave (the
// ground of a chart, a picture's own dark or bright parts, whose edges the spectrum took for a
// wave; a screen printed with the tones, whose dots fade there).
bool pinned_refute(const FlatEvidence& flat, const std::vector<FittedTone>& before, const FittedTone& tone,
                   const Thresholds& t);

// The picture's black and white ground: the samples within `reach` pixels of one pinned at black
// (white) in their channel and within `level` of it (full scale 1). There the picture is its end,
// and what a wave does shows alone: it lifts the ground off black in half-waves and leaves it
// pinned between them (pushes it down from white). `picture` holds each such sample's distance
// from its end (negative at white), 0 elsewhere; `of` says by sample, as FlatEvidence::ends, which
// ground it belongs to.
struct Ground {
    host::Image picture;
    std::vector<uint8_t> of;
};
Ground ground_of(const host::Image& work, const FlatEvidence& flat, int32_t reach, double level);

// Whether a sample of the ground (`end` as Ground::of, `v` its value, full scale 1) lies where a
// wave standing at `w` there puts it: lifted off black (pushed down from white) where w stands
// above (below) nought, pinned where it does not.
inline bool ground_agrees(uint8_t end, double v, double w) { return !at_either_end(v, 1.0) == (end == 1 ? w > 0 : w < 0); }

// A wave's phase along row y of the frame: e^(i phase) by column, written to `turns`.
using RowPhases = std::function<void(int32_t y, std::vector<std::complex<double>>& turns)>;

// The share of the ground's samples that a wave (its phase along the rows, its amplitude by channel
// as FittedTone's) puts where they are: lifted off black (pushed down from white) where it stands
// well above (below) nought, pinned where it stands well below (above); about a half for a wave
// unrelated to the picture.
double ground_agreement(const host::Image& work, const Ground& ground, const RowPhases& phases,
                        const std::complex<double> (&amplitude)[3]);
// ... of sinusoid `tone`.
double ground_agreement(const host::Image& work, const Ground& ground, const FittedTone& tone);

// The least-squares wave of the given phase through the ground's samples lifted off black (pushed
// down from white), every step-th of every step-th row: `amplitude` receives it by channel (as
// FittedTone's), and the return what it leaves of their energy. With `near`, only the samples
// within `tolerance` of that wave count (a shadow beside the ground, whose picture is not at the
// end, does not).
double fit_to_ground(const host::Image& work, const Ground& ground, const RowPhases& phases, int32_t step,
                     std::complex<double> (&amplitude)[3], const std::complex<double>* near = nullptr, double tolerance = 0);

// The wave of the given phase fitted again, twice, with only the ground's samples that the wave
// fitted in `amplitude` explains (within a quarter of its strongest amplitude, kSmallestAmplitude
// at least): a shadow beside the ground, whose picture is not at the end, does not count.
// `amplitude` receives the last fit.
void refit_to_explained(const host::Image& work, const Ground& ground, const RowPhases& phases,
                        std::complex<double> (&amplitude)[3]);

// The sinusoid that the ground's samples lifted off black (pushed down from white) hold: there the
// picture is its end, so each such sample is the wave itself, and a least-squares fit to them
// gives its amplitude in each channel unclipped by the ends. Its frequency is searched about f,
// within half a sample `step` (one sample in frequency each way) and then finer, for the least
// that the fit leaves.
FittedTone fit_on_ground(const host::Image& work, const Ground& ground, const Frequency& f, const Frequency& step);

FlatEvidence flat_evidence(const host::Image& picture, const DetectOptions& options, const Thresholds& t);

}  // namespace quen::cleaning
