// Every threshold cleaning decides by, in one table with its default and unit, so that tests and
// the benchmark can vary one; and the axis type the line and comb rules speak of.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quen::cleaning {

// Sinusoids weaker than this, in units of full scale (1.5 levels at 8 bits), are left alone.
inline constexpr double kSmallestAmplitude = 0.006;
// A halftone screen's ink dots leave waves at least this strong (6 levels at 8 bits).
inline constexpr double kScreenAmplitude = 0.024;

struct Thresholds {
    // Peaks in the spectrum (peaks.cpp). Log magnitudes are log10 of the magnitude.
    double false_alarms = 0.05;         // samples of a clean spectrum expected above the threshold
    double axis_margin = 0.3;           // log10: on the axes a sample must stand twice as high
    double grow_level = 0.3;            // log10: a kept peak takes in its neighbours this far above background
    int grow_steps = 3;                 // ... up to this many samples away
    int ridge_half_width = 2;           // samples either side of a ridge's line looked at
    std::size_t ridge_run = 8;          // steps a ridge's evidence is averaged over
    double ridge_level = 6;             // power over the background's that a ridge keeps on average
    double ridge_flag = 0.15;           // log10: samples of a ridge this far above background are its own
    double faint_level = 0.45;          // log10: local maxima this far above background are faint candidates
    std::size_t faint_candidates = 200; // ... the strongest of them at most
    double protected_samples = 4;       // and never closer than this to the zero frequency, in samples
    int32_t axis_window = 12;           // samples either side for an axis line's own background
    double split_pair_rise = 0.3;       // log10: two neighbours on an axis line stand this far above the samples beyond
    double lattice_tolerance = 2.5;     // samples between a lattice point and the peak found there
    std::size_t lattice_peaks = 48;     // strongest peaks searched for a lattice
    int32_t coarser_lattice = 5;        // a lattice this many times coarser than a pair is looked for under it
    double screen_amplitude = 0.024;    // full scale: a screen's ink dots leave waves at least this strong
    double even_tones_strength = 2.0 / 3;  // the mean of 4 v (1 - v) over tones v spread evenly: below it,
                                           // in a picture at black or white in large parts, screen_amplitude
                                           // falls with the strength a screen printed with its tones has
    double longest_screen = 20;         // pixels between a screen's dots, at most: a coarser lattice is a drawing's
    double screen_evidence = 0.5;       // log10: a lattice point this far above the background stands out
    double twin_distance = 1.5;         // samples between a peak and the mirror of its twin, at most
    double notch_share = 0.99;          // of a peak's excess energy that its suggested notch takes out
    double notch_reach = 8;             // samples from the peak whose excess energy counts for its notch

    // The passes: waves taken out, then what remains searched again.
    int passes = 3;                     // searches of the picture, at most
    int weak_passes = 2;                // weak waves are searched in the first this many passes only

    // One sinusoid fitted to a peak (tones.cpp).
    double fit_explains = 0.5;  // a fit must leave at most this share of the energy, or
    double fit_natural = 2;     // ... no more than this many times what the picture puts there
    int unclip_rounds = 2;      // refits of the sinusoids' amplitudes to the picture unclipped at black and white
    int32_t restore_reach = 2;  // pixels either way of a pinned sample whose cleaned samples say what it held

    // Across the frame (evidence.cpp, tiles.cpp).
    double frame_wide = 0.2;     // the weakest quarter of the frame holds this share of the strongest's
    double compact = 3;          // samples: peaks this small (radius) must run across the frame
    double pinned_share = 0.6;   // share of samples at either end of the range, beyond a wave's, that holds no wave
    double lifted_share = 0.04;  // share of the samples pinned where a wave would lift them off, at least (a
                                 // few saturated highlights may lie deeper than the end and swallow it),
    double lifted_chance = 0.5;  // ... and of those a wave unrelated to the picture would find there
    double ground_share = 0.1;   // share of samples at black or white from which their ground is searched for waves
    double ground_level = 0.125; // full scale: how far a wave may lift a sample off that ground
    int ground_candidates = 3;   // the strongest peaks of the ground's spectrum weighed as waves
    double ground_agree = 0.8;   // share of the ground's samples a wave lifts off or leaves where it says
    int32_t ground_glance_step = 4;   // a faint sweep's first look glances at that share every this many samples of every this many rows
    double ground_glance_reach = 0.05; // ... and weighs it in full only where the glance comes this near ground_agree (it keeps within 0.012 of the full share)
    double ground_dots = 0.65;   // ... and one of a dot screen's two frequencies (its dots lift a part of each cell)
    double ground_sweep = 0.6;   // share of the ground's samples one sinusoid at a maximum of the ground's spectrum puts where they are for a sweep to be fitted there (chance is a half)
    int32_t ground_sweep_step = 2;  // ... whose frequencies are searched with every this many samples of every this many rows
    double ground_drift_step = 0.04; // ... and its drift by a quarter, then an eighth of this (share of its frequency) either way
    int32_t tile_side = 256;     // pixels: of a larger tile, the centred block of this side is looked at
    double wave_presence = 30;   // presence a weak wave must show (the photographs' own: 16 at most)
    double wave_alike = 0.5;     // ... and the share of it one amplitude must explain
    double tone_presence = 6;    // presence a peak's fitted sinusoid must show (once in 400 by chance)
    double tone_alike = 0.25;    // ... and the share of it one amplitude explains (lines of text: 0.02)
    double near_axis = 3;        // bins of a tile from an axis within which a frequency is near it
    double off_axis = 3;         // ... and bins beyond that from the other axis for it to count so
    int steady_rounds = 3;       // steps of the search for the frequency whose phase the tiles hold
    int weak_tries = 32;         // weak-wave candidates weighed in vain before the search ends
    double print_own_wave = 16;  // pixels: in a print (--print), a weak or faint wave, or one only a fill takes out, longer than this is the photograph's own

    // Line patterns: scan lines and streaks (lines.cpp).
    int32_t longest_line_period = 32;  // rows (columns) per period of a line pattern, at most
    double line_tolerance = 1.5;       // samples between a peak and the multiple of 1/k it stands for
    double line_significance = 8;      // a class's gain must stand this many standard errors from 1
    double line_smallest = 0.005;      // ... and differ from 1 by this much (log gain)
    double line_strongest = 0.5;       // log gain of a class beyond which its lines are drawn (a table's rules)
    double line_spread = 1.1;          // a period's gains may leave this much more spread than the best
    int32_t lines_per_class = 8;       // lines of each class at least, for a fair comparison
    double line_alike = 0.5;           // share of the lines' gains their samples must bear out
    double line_steady = 0.6;          // cosine between the gains of two parts of the lines, at least
    int line_attempts = 3;             // periods tried along one axis, at most
    int32_t line_stride_samples = 1024; // a line's samples taken for its median steps, about
    int32_t line_tone_bins = 8;        // bins of tone over which added lines are told from scaled ones
    double lines_untouched = 0.75;     // share of the classes near 0 for added lines to keep their median at 0

    // Combs and grids: the picture's own repeating content (combs.cpp). Samples of the spectrum.
    int32_t comb_peaks = 4;            // peaks a comb takes at least
    double comb_share = 2.0 / 3;       // ... and the share of the axis's peaks
    double comb_power_share = 0.5;     // ... or the share of their power
    double comb_fundamental = 8;       // samples from the zero frequency to its fundamental, at least
    double comb_tolerance = 0.75;      // samples between a peak and the harmonic it stands for, at most
    double comb_sideband = 8;          // samples off the axis at which a peak on a harmonic still belongs to the comb
    double comb_step = 0.05;           // samples between the fundamentals tried

    // Sweeping waves (sweeps.cpp).
    double chirp_ridge = 16;       // samples of ridge that make a peak a sweeping wave
    double lattice_reach = 1.5;    // samples between a peak and the sum or difference of two others on one lattice
    double lattice_partner = 0.5;  // frequency of a lattice partner, at least, as a share of the peak's
    double lattice_chance = 0.01;  // odds that chance puts as many pairs of peaks' sums on a peak, at most
    double chirp_angle = 2;        // degrees between peaks on one ridge, at most
    double chirp_drift = 0.2;      // share of a peak's frequency within which another in its direction shows a drift, and within which a sweep is fitted again to the peaks of its direction alone
    int32_t chirp_band = 3;        // samples either side of the ridge that its band takes in
    int32_t chirp_window = 96;     // half pixels along the sweep in which its frequency is one
    int32_t chirp_refine = 2;      // rounds of refining a sweep's frequencies by its phase
    double chirp_refine_reach = 0.8; // ... which may take them this much below the lowest searched (and above the highest), or further when the refined sweep gathers more of the wave
    int32_t chirp_smooth = 18;     // pixels: radius of the three box filters that smooth the envelope a sweep is weighed by
    int32_t chirp_rebuild_smooth = 80; // ... and the one it is rebuilt from
    double chirp_longest = 36;     // pixels: the longest period of a sweep, twice the smoothing radius
    double chirp_explains = 0.6;   // share of the band's energy the sweep's envelope must hold
    double chirp_explains_slow = 0.75; // ... of a slow sweep's band, or one that runs through only the ridge's middle energy
    double chirp_explains_steady = 0.5; // ... of the band of a sweep that keeps one phase and one level across the frame
    double chirp_covers = 0.5;     // share of the ridge's frequencies the sweep must run through
    int32_t chirp_grid = 8;        // tiles each way over which a sweep's envelope is weighed for one phase
    double chirp_steady = 0.8;     // steadiness of phase a compact peak's sweep keeps across the frame
    double chirp_even = 0.5;       // ... and evenness of its level
    double chirp_near_steady = 0.9; // steadiness of phase of a sweep fitted to the peaks about one frequency of its direction alone
    double chirp_near_even = 0.8;  // ... and evenness of its level
    std::size_t chirp_tries = 4;   // sweeps that may fail in one pass before no more are tried
    std::size_t faint_sweep_segments = 16; // stretches of lines through the zero frequency weighed for a faint sweep
    double faint_sweep_steady = 0.75;  // steadiness of phase a first look must find for one to be tried
    std::size_t faint_sweep_tries = 2;  // ... and the steadiest tried, at most
    int32_t faint_sweep_axis_window = 16; // samples either way of a line beside an axis whose median power is its level, at least
    double faint_sweep_axis_share = 0.4;  // ... and share of the sample's distance from the zero frequency at least: a sweep drifting 15 % either way fills 0.3 of it
    double faint_sweep_looked = 2;     // times the least amplitude searched that a segment needs for a first look
    double faint_sweep_cycles = 2;     // periods of a faint sweep that a tile of the frame holds, at least
    double chirp_leakage = 4;      // samples beyond a sweep's frequencies that the leakage of its ends reaches
    int sweep_unclip_rounds = 2;      // refits of a sweep's envelope to the picture unclipped at black and white
    double sweep_unclip_step = 1.5;   // ... each round's change taken this many times over
    double sweep_unclip_share = 0.05; // share of a channel's samples at black or white for a sweep to be refitted unclipped there
    double chirp_least = 1;        // samples of the spectrum a sweep runs through, at least
    double chirp_least_tone = 1.5; // ... in place of a tone that explains its compact peak alone
    double chirp_axis_drift = 0.04; // share of its mean frequency a sweep along an axis runs through, at least

    // Halftone screens (screens.cpp). Frequencies in units of the screen frequency.
    double screen_band = 0.1;      // the band about the screen frequency that tells where the dots are
    double screen_level = 0.3;     // share of the strongest (99th percentile) screen strength where it is
    double screened_frame = 0.5;   // share of the frame: a screen over this much is a print's, descreened everywhere
    double moire_tolerance = 2.5;  // samples between the difference of two fundamentals and a moire peak
    double fundamental_ring = 1.2; // times the screen's lowest frequency: its fundamentals lie below
    double fundamental_share = 0.25; // ... and are at least this share as strong as the strongest peak
    double partner_angle = 8;      // degrees from a right angle between a print's two screen peaks
    double partner_period = 0.1;   // share of the period by which they may differ
    double screen_lowest = 0.9;    // peaks this far below the lattice's lowest frequency are not the screen
    double screen_cells = 24;      // periods of a screen along the picture's shorter side, at least
    double screen_side = 128;      // pixels of a printed picture's shorter side, at least (an icon is not)
    double screen_off_axis = 3;    // samples of the spectrum between a screen's peaks and its axes, at least
    double screen_turned = 1;      // ... or this many, for a pair taken only as a screen printed with the tones
    double screen_alike = 1.5;     // ratio of the stronger of a screen's two frequencies to the weaker, at most
    double dot_share = 0.3;        // share of the weaker of two waves along the axes that their sum or difference holds
                                   // at least, and their second harmonic less, for them to be soft dots, not drawn lines
    int32_t rosette_screens = 3;   // screens of one period, turned by whole multiples of 15 degrees, that make a print's rosette
    double rosette_period = 0.04;  // share of the period by which a rosette's screens may differ
    double rosette_angle = 3;      // degrees a rosette's screen may lie off a multiple of 15 degrees from another
    double tone_contrast = 0.7;    // 4 v (1 - v) of the tones furthest from mid grey over the nearest, at most, to tell
    double screen_untoned = 0.5;   // a screen following the tone less than this (0 to 1) was laid over the picture
    double print_swing = 0.18;     // full scale per unit of 4 v (1 - v): a print's dots swing more in its mid tones
    double envelope_periods = 3;   // periods a screen wave's amplitude is smoothed over where it does not follow the tone
    double toned_periods = 16;     // periods a printed screen's amplitude per unit of 4 v (1 - v) is fitted over: the
                                   // print's own, it changes slowly if at all, and over few periods the picture's
                                   // edges beside narrow mid tones, leaking into the lock-ins, pull the fit off
    int toned_rounds = 4;          // times a printed screen's waves are refitted to the tone beneath them
    double toned_doubt = 1.1;      // energy a fit to the tone may leave over smoothed amplitudes' where the pinned
                                   // samples show the wave to fade (the picture's edges lie in its mid tones too)
    double toned_steady = 0.9;     // share of the power of a wave's amplitude per unit of 4 v (1 - v) that one
                                   // amplitude across the frame explains, at least, for a screen printed with
                                   // the tones that the frame's tiles miss (its dots are few where they look)
    std::size_t faint_screen_maxima = 48; // strongest maxima of the spectrum weighed for a faint screen's wave
    int faint_screen_tries = 2;    // ... of which this many fitted along the tone in vain end the search
    double faint_screen_steady = 0.95; // share of the power of such a wave's amplitude per unit of 4 v (1 - v) that
                                   // one amplitude across the frame explains, at least (the picture's own texture
                                   // with a partner at right angles: 0.3-0.92 on the pictures looked at)
    int lattice_order = 8;         // an added screen's lattice points k a + l b, |k| and |l| up to this
    double lattice_evidence = 0.15; // log10: a lattice point this far above the background is fitted
    double fitted_reach = 0.5;     // samples between a wave fitted between samples and the lattice point it stands for, at most
    double fundamental_reach = 1.1; // peaks of a channel up to this far beyond its screen frequency are its inks' fundamentals
    double copy_reach = 0.3;       // about a lattice point, its copy of the picture is measured and taken out this far
    double copy_least = 1e-3;      // power of a lattice point's copy over the picture's, at least, for it to be taken out
    double copy_share = 0.25;      // share of a copy's measured weight the descreening gain takes out (see descreen.cpp)
    double moire_radius = 2;       // samples about a point where two inks of one channel beat that the moire covers
    double moire_ink_angle = 15;   // degrees (modulo 90) within which a channel's fundamentals are one ink's
    double moire_twin = 0.25;      // log10: a fundamental's twin about a lattice point this near its level or higher: a sideband
    double moire_inks_apart = 1.5; // log10: the weaker of two inks in one channel this far below the stronger, at most, to beat
    double moire_excess = 3;       // power there over its surroundings' (the median), at least, for it to be lowered
    int descreen_margin = 2;       // screen periods the picture is mirrored beyond each edge while descreened
    double descreen_flat = 1.0 / 255; // full scale per pixel: a descreened picture's gradient about this or less is flat
    double rosette_flat = 1.5;     // ... times this in a channel where two inks beat (their rosette's residue is stronger)
};

// The two directions a line pattern or a comb runs. Rows: lines every k rows, whose peaks lie on
// the vertical axis of the spectrum; Columns: lines every k columns, on the horizontal axis.
enum class Axis { Rows, Columns };
inline constexpr Axis kAxes[] = {Axis::Rows, Axis::Columns};
inline constexpr Axis other(Axis a) { return a == Axis::Rows ? Axis::Columns : Axis::Rows; }

// A value for each axis.
template <class T>
struct PerAxis {
    T rows{}, columns{};
    T& operator[](Axis a) { return a == Axis::Rows ? rows : columns; }
    const T& operator[](Axis a) const { return a == Axis::Rows ? rows : columns; }
};

}  // namespace quen::cleaning
