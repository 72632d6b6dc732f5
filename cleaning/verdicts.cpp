// The words for verdicts and reasons.
#include "verdicts.h"

#include <cstdio>

namespace quen::cleaning {

std::string reason_text(const Decision& d) {
    char spacing[32];
    std::snprintf(spacing, sizeof spacing, "%.4g px", d.spacing);
    const std::string of = d.axis == Axis::Rows ? " of the rows" : " of the columns";
    const std::string every = std::string(d.axis == Axis::Rows ? "rows" : "columns") + " every " + spacing;
    switch (d.reason) {
    case Reason::None: return "undecided";
    case Reason::LeftByDividedLines:
        return "kept: a harmonic of the lines every " + std::string(spacing) + " divided out before; what is left "
               "there is the picture's own";
    case Reason::DrawnGrid:
        return "kept: on the lattice of lines drawn both ways (graph paper, a table's rules), the picture's own";
    case Reason::RepeatingContent:
        return "kept: one of the harmonics of a " + std::string(spacing) + " spacing" + of +
               ", the picture's own repeating content";
    case Reason::RepeatingGrid:
        return "kept: on the lattice of things repeated both ways (a table's cells, tiles), the picture's own";
    case Reason::PartOfFrame:
        return "kept: its waves run through part of the frame only, as the picture's own pattern does (a fence, "
               "a fabric)";
    case Reason::MostlyPinned:
        return "kept: the picture is black or white nearly everywhere (a barcode, line art, text) and holds no wave";
    case Reason::FlatSquare:
        return "kept: a flat square of the picture wider than its period shows that no wave of it runs across "
               "the frame";
    case Reason::PinnedEnds:
        return "kept: one wave would explain it, but the picture holds black or white where that wave would "
               "lift its samples off, so no such wave runs across the frame";
    case Reason::NotOneWave:
        return "kept: neither one wave nor a sweep explains it, and the parts of the frame do not show one wave "
               "there (a panned shot's streaks, a pattern in part of the frame)";
    case Reason::BelowScreen:
        return "kept: below the halftone screen's frequency, the picture's own detail that descreening keeps";
    case Reason::PrintsOwn:
        return "kept: in a print, a wave this long that no one sinusoid explains is the photograph's own (its "
               "screen's folded copies fall anywhere in the band, a photograph's own gather at low frequencies)";
    case Reason::LinePattern:
        return "removed: a harmonic of " + every + " darker or lighter than the rest, divided out (subtracted when the lines add to the picture rather than scale it)";
    case Reason::FaintLines:
        return "removed: " + every + " darker or lighter than the rest, too faint for the spectrum to show but "
               "borne out by every part of the lines, divided out (subtracted when the lines add to the picture)";
    case Reason::OneWave: return "removed: one wave across the whole frame, fitted and subtracted";
    case Reason::WeakWave:
        return "removed: a weak wave that every part of the frame shows alike, fitted and subtracted";
    case Reason::GroundWave:
        return "removed: a wave that lifts the picture's black ground off and pushes its white ground down in "
               "half-waves where one sinusoid across the frame would, fitted and subtracted";
    case Reason::Sweep:
        return "removed: part of a wave sweeping in frequency across the frame, rebuilt from its envelope and "
               "subtracted";
    case Reason::FaintSweep:
        return "removed: a wave sweeping in frequency across the frame, too faint for any of its frequencies to "
               "stand out but keeping one phase and one strength everywhere, or lifting the black or white ground in "
               "its half-waves, rebuilt from its envelope and subtracted";
    case Reason::GroundSweep:
        return "removed: a wave sweeping in frequency across the frame that lifts the picture's black ground off "
               "and pushes its white ground down in half-waves where no one sinusoid would, fitted to those samples "
               "and subtracted";
    case Reason::Filled:
        return "removed: a wave across the frame that no one sinusoid explains, its peak filled";
    case Reason::ScreenEnvelope:
        return "removed: one of a screen's two frequencies at right angles, its wave taken out with the strength "
               "it has at each place (its dots fade with the tone)";
    case Reason::FaintScreen:
        return "removed: a screen printed with the tones over a picture black or white in large parts, too faint "
               "for a peak: one of the spectrum's strongest maxima and its partner at right angles, their waves taken out "
               "with the strength they have at each place";
    case Reason::ScreenPair:
        return "removed: one of a screen's two frequencies at right angles (its dots fade with the tone), its peak "
               "filled";
    case Reason::AddedScreen:
        return "removed: on the lattice of a dot screen laid over the picture (as strong in its light and dark "
               "parts as in its mid tones, so not printed with it), each point fitted and subtracted";
    case Reason::Screen:
        return "removed: part of a halftone screen (lowest period " + std::string(spacing) +
               "), cut by a low-pass where the screen is";
    case Reason::Rosette:
        return "removed: part of a print's rosette, inks' screens of one period turned by multiples of 15 degrees "
               "(lowest period " + std::string(spacing) + "), cut by a low-pass where the screen is";
    case Reason::ScreenNotched:
        return "removed: part of a halftone screen (lowest period " + std::string(spacing) + "), its peak filled";
    }
    return "undecided";
}

const char* verdict_name(Verdict v) {
    switch (v) {
    case Verdict::Undecided: return "undecided";
    case Verdict::Keep: return "keep";
    case Verdict::SubtractTone: return "subtract-tone";
    case Verdict::SubtractSweep: return "subtract-sweep";
    case Verdict::DivideLines: return "divide-lines";
    case Verdict::Fill: return "fill";
    case Verdict::LowPass: return "low-pass";
    }
    return "undecided";
}

const char* reason_name(Reason r) {
    switch (r) {
    case Reason::None: return "none";
    case Reason::LeftByDividedLines: return "left-by-divided-lines";
    case Reason::DrawnGrid: return "drawn-grid";
    case Reason::RepeatingContent: return "repeating-content";
    case Reason::RepeatingGrid: return "repeating-grid";
    case Reason::PartOfFrame: return "part-of-frame";
    case Reason::MostlyPinned: return "mostly-pinned";
    case Reason::FlatSquare: return "flat-square";
    case Reason::PinnedEnds: return "pinned-ends";
    case Reason::NotOneWave: return "not-one-wave";
    case Reason::BelowScreen: return "below-screen";
    case Reason::PrintsOwn: return "prints-own";
    case Reason::LinePattern: return "line-pattern";
    case Reason::FaintLines: return "faint-lines";
    case Reason::OneWave: return "one-wave";
    case Reason::WeakWave: return "weak-wave";
    case Reason::GroundWave: return "ground-wave";
    case Reason::Sweep: return "sweep";
    case Reason::FaintSweep: return "faint-sweep";
    case Reason::GroundSweep: return "ground-sweep";
    case Reason::Filled: return "filled";
    case Reason::ScreenEnvelope: return "screen-envelope";
    case Reason::FaintScreen: return "faint-screen";
    case Reason::ScreenPair: return "screen-pair";
    case Reason::AddedScreen: return "added-screen";
    case Reason::Screen: return "screen";
    case Reason::Rosette: return "rosette";
    case Reason::ScreenNotched: return "screen-notched";
    }
    return "none";
}

}  // namespace quen::cleaning
