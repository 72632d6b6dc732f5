// Sweeping waves (chirps). Chirps: a wave whose frequency sweeps along its direction across the frame leaves a ridge in
// the spectrum, and notches along it leave the leakage of its ends at the frame's borders. It is
// taken out as a wave instead: the ridge's band brought back to the picture, multiplied by the
// conjugate of the sweep's phase so that the wave becomes its slowly changing envelope, smoothed
// (what else is in the band keeps changing quickly and averages away), and the wave rebuilt from
// the envelope and subtracted.
#pragma once

#include <cstdint>
#include <vector>

#include "frame_evidence.h"
#include "peaks.h"
#include "round_trip.h"
#include "thresholds.h"

namespace quen::cleaning {

// A drifting wave too faint for any of its frequencies to stand out as a peak: the stretches of
// lines through the zero frequency whose samples stand above their background together are
// weighed for a wave that keeps one phase and one level across the frame when a sweep runs
// through the stretch's frequencies; the steadiest few are tried as sweeps (as a compact peak's,
// whose sweep must keep one phase and one level) and the first that explains its band is taken
// out of `work`, `found` the peak it is reported as. Frequencies below `lowest` (cycles per pixel)
// are not searched, nor stretches weaker than a wave of amplitude `least` (of full scale); only
// those of faint_sweep_looked times that are weighed, and the band is brought back only for them.
// Over a picture black or white in large parts (`ground`, its black and white ground, when it has
// one), the picture's own detail in a faint wave's band can outweigh the wave and wander its phase,
// but the ground holds no detail of the picture's: a sweep that puts ground_agree of the ground's
// samples where they are (ground_agreement's rule) is the wave's, however its phase holds.
bool subtract_faint_sweep(host::Image& work, const host::Image& analysed, const FlatEvidence& flat,
                          const host::ModuleLibrary& inverse, const host::Image& spectrum, const LogMagnitudes& m,
                          const Detection& d, double lowest, double least, const Ground* ground, const Thresholds& t,
                          Peak& found, bool& unclipped);

// A drifting wave over a picture black or white in large parts, found on its `ground` about
// frequency f (a maximum of the ground's spectrum): the sweep in f's direction fitted to the
// ground's picture (fit_sweep), then its mean frequency and drift searched for the least that a
// wave of that phase fitted to the ground's lifted samples leaves (fit_to_ground), as fit_on_ground
// searches a sinusoid's. Taken out of `work` (samples pinned in `analysed` held as hold_pinned
// holds them), `found` the peak it is reported as but for its place, when it has an added wave's
// shape (sweep_shaped, in place of a sinusoid: a wave that hardly drifts is one sinusoid's, which
// fit_on_ground fits) and puts ground_agree of the ground's samples where they are.
bool subtract_ground_sweep(host::Image& work, const host::Image& analysed, const FlatEvidence& flat, const Ground& ground,
                           const Frequency& f, const Thresholds& t, Peak& found, bool& unclipped);

// The groups (by group number) of the peaks in the direction of peak p: the pieces of one ridge;
// `near`, only those within chirp_drift of its frequency, where one drifting wave may dwell.
std::vector<uint8_t> same_direction(const Detection& d, const Peak& p, const Thresholds& t, bool near = false);

// The peak a sweep is tried for: on a ridge through the zero frequency; broad, without a ridge (a
// slow sweep broadens its peak by a few samples); or compact, without a ridge (a slow sweep whose
// ridge is hidden, or whose peak alone stands out); or compact, that one tone explains as well.
enum class SweepPeak { Ridge, Broad, Compact, Tone };

// Takes the sweeping wave of the groups (by group number: 1 for those of the wave, whose peaks
// lie in one direction) out of the picture `work`, found in `analysed` (whose spectrum was
// searched; `flat` tells which of its samples sit at black or white). Returns false, leaving the picture alone, when the sweep's envelope does not hold
// most of the band: a straight edge of the picture rather than a wave. `near`: the groups are the
// peaks about one frequency of their direction alone, and the sweep must keep one phase and an
// even level across the frame, more steadily than another. Over a picture black or white in large
// parts (`ground`, its black and white ground, when it has one), a sweep fitted to the whole band,
// of an added wave's shape (sweep_shaped), that puts ground_agree of the ground's samples where they
// are is the wave's, however much of the band (and of its ridge) the picture's own detail holds.
bool subtract_chirp(host::Image& work, const host::Image& analysed, const FlatEvidence& flat,
                    const host::ModuleLibrary& inverse, const host::Image& spectrum, const LogMagnitudes& m,
                    const Detection& d, const std::vector<uint8_t>& groups, SweepPeak peak, const Thresholds& t,
                    bool& unclipped, bool near = false, const Ground* ground = nullptr);

}  // namespace quen::cleaning
