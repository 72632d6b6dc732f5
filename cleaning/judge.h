// The three stages of one cleaning pass. Find: the spectrum of the picture as it is, its peaks and
// the evidence about them. Judge: the rules, in order, give each candidate a verdict and the
// reason. Remove: each noise model takes out its own (fitted tones, line patterns, sweeps, fills,
// screens), and the pass says whether what remains is searched again.
#pragma once

#include <optional>
#include <vector>

#include "clean.h"
#include "combs.h"
#include "decisions.h"
#include "frame_evidence.h"
#include "lines.h"
#include "tones.h"
#include "weak_waves.h"

namespace quen::cleaning {

// What lasts from one pass to the next.
struct Job {
    const CleanModules& modules;
    const CleanOptions& options;
    host::Image work;                   // the picture at 32-bit float, as cleaned so far
    FlatEvidence flat;                  // of the picture as it came
    PerAxis<int32_t> divided;           // the periods of the line patterns divided out, 0: none
    Grid drawn;                         // lines found both ways: a grid drawn on the picture
    bool weak_searched = false;         // weak waves are searched once
    bool added_screen = false;          // a screen added to the picture was subtracted: no low-pass
    std::vector<Frequency> subtracted;  // the sinusoids taken out in earlier passes
    CleanResult result;                 // what was found, removed and kept so far
    bool unclipped = false;             // the first pass's sinusoids were refitted to the picture unclipped at its ends
    bool held = false;                  // ... and its pinned samples took what they held beneath them (hold_pinned)
};

// Found in one pass.
struct Evidence {
    int pass = 0;
    host::Image spectrum;                // the half spectrum of the picture as the pass found it
    LogMagnitudes m;                     // its log magnitudes
    Detection d;                         // its peaks (strongest first) and their background
    std::optional<LineEvidence> lines;   // the first pass's line patterns (filling to the background)
    host::Image analysed;                // the picture the pass searched, kept when a sweep may be taken out
};

// Judged in one pass: every peak's decision by group, and what the removal models take out.
struct Judgement {
    explicit Judgement(int32_t groups) : decisions(groups) {}
    Decisions decisions;
    std::vector<FittedTone> tones;  // to subtract at the end of the pass
    std::vector<WeakWave> weak;     // weak waves among them
    std::vector<Peak> filled;       // peaks to fill, when nothing else is taken out in the pass
    int64_t lines = 0;              // line patterns divided out
    int64_t sweeps = 0;             // sweeping waves taken out
    int64_t envelopes = 0;          // screen waves taken out with the amplitude they have at each place
    bool takes_out() const { return !tones.empty() || lines > 0 || sweeps > 0 || envelopes > 0; }
};

Evidence find(Job& job, int pass);
Judgement judge(Job& job, Evidence& e);
// Returns whether what remains is to be searched again.
bool remove(Job& job, Evidence& e, Judgement& j);

}  // namespace quen::cleaning
