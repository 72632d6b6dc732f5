// Automatic removal of periodic noise (stripes, scan lines, moiré, halftone screens) from a colour
// picture, through the half-spectrum filter modules as an editor runs them: the picture at 32-bit
// float, widened so that every column is transformed (and lengthened by its last row when its rows
// are odd), forward, peaks found and removed in each channel's half spectrum, inverse, cropped, and
// back to the picture's own depth.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "image.h"
#include "module_loader.h"
#include "peaks.h"
#include "thresholds.h"
#include "verdicts.h"

namespace quen::cleaning {

// The two modules cleaning runs: the half-spectrum forward and inverse filters.
struct CleanModules {
    const host::ModuleLibrary& forward;
    const host::ModuleLibrary& inverse;
};

enum class Fill {
    Background,  // a peak's magnitudes become the local background's, phases kept
    Zero,        // a peak's magnitudes become zero, its rim is lowered to the background
};

struct CleanOptions {
    DetectOptions detect;
    Fill fill = Fill::Background;
    bool lowpass = true;    // cut a detected halftone screen with a low-pass below each channel's screen
    bool print = false;     // the picture is a scanned print: its halftone screen is descreened even where
                            // the evidence for it is too weak to act on in a picture of unknown origin
    Thresholds thresholds;  // what every rule decides by
};

// One candidate and what became of it: a peak found in the spectrum (or a weak wave found without
// one), its verdict and the rule that decided it.
struct Candidate {
    Peak peak;          // in the half-spectrum picture's coordinates (quen peaks', quen edit --notch's)
    Decision decision;
    int pass = 0;       // the search of the picture that decided it (0: the first)
};

struct CleanResult {
    host::Image image;          // the input's size, depth and planes; planes past the third unchanged
    Detection detection;        // what the last search found (peaks in the half-spectrum picture's coordinates)
    std::vector<Peak> removed;  // the peaks taken out, in the order they were (all the screen's for a low-pass)
    std::vector<Candidate> candidates;  // every candidate decided: those taken out in each search, and
                                        // all of the last search's, kept or taken out
    double lowpass_period = 0;  // the low-pass halved waves of this period (pixels), the shortest it kept
                                // at half strength or more; 0: none
    double folded_screen = 0;   // a print's screen made out finer than kFoldedScreen (pixels), taken as one
                                // the scan folded: not low-passed, the print restored; 0: none
    int64_t changed = 0;        // magnitude samples changed over the three channels, and sinusoids taken out
};

// A module failed or the picture cannot be cleaned (too small, too wide, not colour).
struct CleanError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

CleanResult clean_picture(const CleanModules& modules, host::Image picture, const CleanOptions& options = {});

}  // namespace quen::cleaning
