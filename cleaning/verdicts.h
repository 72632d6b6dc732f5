// What cleaning decided about each candidate peak, and the rule that decided it, in words a user
// can question.
#pragma once

#include <cstdint>
#include <string>

#include "thresholds.h"

namespace quen::cleaning {

// What becomes of a candidate.
enum class Verdict : uint8_t {
    Undecided,      // no rule has decided yet
    Keep,           // left alone: the picture's own
    SubtractTone,   // one sinusoid fitted and subtracted, leakage and all
    SubtractSweep,  // a wave sweeping in frequency, rebuilt from its envelope and subtracted
    DivideLines,    // a line pattern's gains divided out of the lines
    Fill,           // its magnitudes lowered to the surroundings' (or to nothing with --fill zero)
    LowPass,        // part of a halftone screen, cut with a low-pass where the screen is
};

// The rule that decided a candidate. Each has one sentence (reason_text).
enum class Reason : uint8_t {
    None,
    // Kept.
    LeftByDividedLines,  // at a harmonic of a line pattern divided out in an earlier pass
    DrawnGrid,           // on the lattice of lines found both ways
    RepeatingContent,    // on a comb of harmonics along one axis
    RepeatingGrid,       // on the lattice of two combs
    PartOfFrame,         // compact, and its waves do not run across the four quarters of the frame
    MostlyPinned,        // the picture is black or white nearly everywhere
    FlatSquare,          // a flat square a period wide refutes the wave
    PinnedEnds,          // samples pinned at black or white where the wave would lift them off refute it
    NotOneWave,          // neither a tone nor a sweep explains it, and the tiles do not show one wave
    BelowScreen,         // below a halftone screen, the picture's own, which descreening keeps
    PrintsOwn,           // in a print, longer than its screen's folded copies are likely to be, with no more evidence than a fill's
    // Removed.
    LinePattern,         // a harmonic of a line pattern, divided out
    FaintLines,          // the fundamental of a line pattern too faint to show in the spectrum, divided out
    OneWave,             // one sinusoid explains the peak and the frame shows it
    WeakWave,            // too faint to be a peak, but every tile shows it alike
    GroundWave,          // lifts a black ground off (pushes a white one down) in half-waves, as one sinusoid would
    Sweep,               // on a ridge that a sweeping wave explains
    FaintSweep,          // a sweeping wave too faint for any of its frequencies to stand out, found along its line
    GroundSweep,         // lifts a black ground off (pushes a white one down) in half-waves, as one sweeping wave would
    Filled,              // a wave across the frame that no one sinusoid explains
    ScreenEnvelope,      // one of a screen's two frequencies, taken out with the amplitude it has at each place
    FaintScreen,         // a screen printed with the tones too faint for any peak, found among the spectrum's strongest maxima
    ScreenPair,          // one of a screen's two frequencies at right angles, filled even where the tone fades it
    AddedScreen,         // on the lattice of a screen added to the picture (as strong in light and dark parts), fitted and subtracted
    Screen,              // a halftone screen's, cut by the low-pass
    Rosette,             // a print's rosette of screens, cut by the low-pass
    ScreenNotched,       // a halftone screen's, notched out (no low-pass)
};

// The decision about one candidate.
struct Decision {
    Verdict verdict = Verdict::Undecided;
    Reason reason = Reason::None;
    Axis axis = Axis::Rows;  // for the line and comb reasons: along which axis
    double spacing = 0;      // pixels: the lines' period or the comb's spacing (the screen's period), 0: none
};

// Whether the verdict takes the candidate out of the picture.
inline bool removes(Verdict v) { return v != Verdict::Undecided && v != Verdict::Keep; }

// The sentence that says why, e.g. "kept: one of the harmonics of a 24 px spacing of the rows, the
// picture's own repeating content".
std::string reason_text(const Decision& d);

// Short names for scripts: "keep", "subtract-tone", ...; "line-pattern", "one-wave", ...
const char* verdict_name(Verdict v);
const char* reason_name(Reason r);

}  // namespace quen::cleaning
