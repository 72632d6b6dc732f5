// The cleaning pipeline around the filter modules: find, judge, remove, pass by pass.
#include "clean.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "fills.h"
#include "half_width.h"
#include "judge.h"
#include "moire.h"
#include "round_trip.h"
#include "screens.h"

namespace quen::cleaning {
namespace {

void check_cleanable(const host::Image& picture) {
    if (picture.planes < 3) throw CleanError("cleaning needs a colour picture (three channels)");
    if (picture.rows < 8 || picture.cols < 8) throw CleanError("the picture is too small to clean (8 x 8 at least)");
    if (picture.cols + host::kHalfSpectrumExtraColumns > kLargestSide || picture.rows > kLargestSide)
        throw CleanError("the picture is too large to clean: at most " +
                         std::to_string(kLargestSide - host::kHalfSpectrumExtraColumns) + " columns and " +
                         std::to_string(kLargestSide) + " rows");
}

// Records the pass's candidates: of a pass that takes waves or lines out and searches again, those
// it took out; of the last pass, every one.
void record(Job& job, const Evidence& e, const Judgement& j, bool last) {
    const auto applied = [](Verdict v) {
        return v == Verdict::SubtractTone || v == Verdict::SubtractSweep || v == Verdict::DivideLines;
    };
    for (const Peak& p : e.d.peaks) {
        const Decision& d = j.decisions[p.group];
        if (last || applied(d.verdict)) job.result.candidates.push_back({p, d, e.pass});
    }
    for (const WeakWave& w : j.weak)
        if (w.group == 0) job.result.candidates.push_back({w.peak, {Verdict::SubtractTone, Reason::WeakWave}, e.pass});
}

// The peaks no rule settled in a pass that found a halftone screen are the screen's (a print's
// rosette's, when one was made out); without the low-pass they are filled, and counted among the
// peaks removed.
void decide_screen(const Job& job, const Evidence& e, Judgement& j) {
    const bool lowpass = job.options.lowpass;
    const Reason cut = e.d.rosette > 0 ? Reason::Rosette : Reason::Screen;
    for (const Peak& p : e.d.peaks)
        if (j.decisions.decide(p.group, {lowpass ? Verdict::LowPass : Verdict::Fill,
                                         lowpass ? cut : Reason::ScreenNotched, Axis::Rows,
                                         e.d.screen_period}) &&
            !lowpass)
            j.filled.push_back(p);
}

// A sample pinned at either end of the range only says that the picture plus the noise went past
// it there: what the picture held lies between that end and the cleaned value. Where the
// sinusoids were refitted to the picture unclipped (`unclipped`), it takes what held_at_end says,
// as the refit did (the end, on a flat black or white ground); otherwise the middle of the two (a
// saturated highlight or shadow is common). (The dots of a halftone screen sit at the ends of the
// range too, and the low-pass must take them.) Samples that took what they held once the first
// pass's sinusoids came out (Job::held) are not held again (`keep_pinned` false).
void restore(host::Image& picture, const host::Image& work, bool keep_pinned, bool unclipped, int32_t reach) {
    const double full = host::Image::full_scale(picture.depth);
    const host::Image came = keep_pinned ? picture : host::Image{};
    const auto pinned = [&](int32_t y, int32_t x, int32_t c) {
        const double v = came.value(y, x, c);
        return v == 0 || v == full;
    };
    for (int32_t y = 0; y < picture.rows; ++y)
        for (int32_t x = 0; x < picture.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                const double w = work.get<float>(y, x, c);
                if (!keep_pinned || !pinned(y, x, c)) {
                    picture.set_value(y, x, c, w * full);
                    continue;
                }
                const double v = came.value(y, x, c) / full;
                picture.set_value(y, x, c,
                                  full * (!unclipped ? (v + w) / 2
                                                     : held_at_end(picture.rows, picture.cols, y, x, v, w, reach,
                                                                   [&](int32_t j, int32_t i) { return pinned(j, i, c); },
                                                                   [&](int32_t j, int32_t i) { return double(work.get<float>(j, i, c)); })));
            }
}

// The largest amplitude of the sinusoids in any channel, full scale 1.
double strongest_amplitude(const std::vector<FittedTone>& tones) {
    double a = 0;
    for (const FittedTone& tone : tones) a = std::max(a, strongest_amplitude(tone));
    return a;
}

// A wave laid over a picture at black or white in large parts is cut off where it would push
// past the ends: the samples pinned there hold none of it, and its peaks stand weaker than its
// swing, by the share of the samples that are not.
double shown(const FlatEvidence& flat, const Thresholds& t) {
    return flat.share_pinned >= t.ground_share ? 1 - flat.share_pinned : 1;
}

// The result's peaks in the half spectrum of the picture as it is (the place they are reported at),
// from that of the picture as transformed, lengthened to an even number of rows: the same
// frequency, at the nearest row.
void to_picture_rows(CleanResult& result, int32_t rows, int32_t cols) {
    const int32_t transformed = transformed_rows(rows), wide = cols + host::kHalfSpectrumExtraColumns;
    if (transformed == rows) return;
    const host::SpectrumGeometry from = host::spectrum_geometry(transformed, wide, host::Layout::Half),
                                 to = host::spectrum_geometry(rows, wide, host::Layout::Half);
    const auto move = [&](Peak& p) {
        p.row = static_cast<int32_t>(std::lround(to.centre_y + frequency_of(from, p.row, p.column).v * to.rows));
    };
    for (Peak& p : result.detection.peaks) move(p);
    for (Peak& p : result.removed) move(p);
    for (Candidate& c : result.candidates) move(c.peak);
}

}  // namespace

Evidence find(Job& job, int pass) {
    const CleanOptions& options = job.options;
    Evidence e;
    e.pass = pass;
    e.spectrum = forward_spectrum(job.modules.forward, job.work);
    e.m = read_log_magnitudes(e.spectrum, host::Layout::Half);
    e.d = detect_peaks(e.m, options.detect, options.thresholds, shown(job.flat, options.thresholds));
    if (options.print && e.d.screen_period == 0)
        e.d.screen_period = print_screen_period(e.d, options.detect.sensitivity, options.thresholds);
    // The first pass, filling to the background, keeps the picture as its spectrum shows it for a
    // sweeping wave to be fitted in (any peak may turn out to be one, or a faint one leave none),
    // and looks for line patterns. Filling with zero, it looks for them too, but only to know a
    // grid drawn both ways (graph paper, a table's rules), whose lattice would pass for a screen's.
    if (pass == 0) {
        if (options.fill == Fill::Background) e.analysed = job.work;
        e.lines = find_lines(job.work, e.d.peaks, e.m.geometry, kSmallestAmplitude / options.detect.sensitivity,
                             options.thresholds);
    }
    return e;
}

bool remove(Job& job, Evidence& e, Judgement& j) {
    CleanResult& result = job.result;
    if (j.takes_out()) {
        // The picture's samples at black or white stand as they came in the first pass only. A
        // wave weaker than a screen's dots (as the ends leave them, `shown`) is hardly cut off
        // there, and a photograph's own shadows and highlights a level or two off the end would
        // weigh more than what was cut.
        if (e.pass == 0 &&
            strongest_amplitude(j.tones) >= job.options.thresholds.screen_amplitude * shown(job.flat, job.options.thresholds)) {
            unclip_tones(j.tones, job.work, job.flat.ends, job.options.thresholds.unclip_rounds, job.options.thresholds.restore_reach);
            job.unclipped = true;
        }
        subtract_tones(job.work, j.tones);
        // The pinned samples take what they held beneath the waves at once, not at the end: the
        // next search looks at the picture as it will come out.
        if (job.unclipped && !j.tones.empty() && e.analysed.rows > 0) {
            for (int32_t c = 0; c < 3; ++c) hold_pinned(job.work, e.analysed, job.flat.ends, c, job.options.thresholds.restore_reach);
            job.held = true;
        }
        for (const FittedTone& tone : j.tones) job.subtracted.push_back(tone.f);
        result.changed += static_cast<int64_t>(j.tones.size()) + j.lines + j.sweeps + j.envelopes;
        record(job, e, j, false);
        return true;
    }
    const bool screen = job.options.lowpass && e.d.screen_period > 0;
    if (screen) keep_below_screen(e.d, e.m.geometry, j.decisions, job.options.thresholds);
    if (e.d.screen_period > 0) decide_screen(job, e, j);
    // A screen's magnitudes as found, for telling where it is once its peaks are filled.
    const LogMagnitudes found = screen ? e.m : LogMagnitudes{};
    int64_t changed = fill_peaks(e.m, e.d, j.decisions, job.options.fill);
    // A print whose screen no low-pass takes out may hold it folded below the sampling frequency.
    const bool folded = job.options.print && !screen;
    if (folded) changed += lower_folded_screen(e.m, e.d, 1 / job.options.detect.protect_period) + lower_folded_copies(e.m);
    result.removed.insert(result.removed.end(), j.filled.begin(), j.filled.end());
    ScreenCut cut;
    if (screen) {
        cut = cut_screen(job.modules.inverse, e.spectrum, found, e.m, e.d, job.options.detect.protect_period,
                         job.options.print, job.options.thresholds);
        result.lowpass_period = cut.lowpass_period;
        result.removed.clear();
        for (const Peak& p : e.d.peaks)
            if (!j.decisions.settled(p.group)) result.removed.push_back(p);
    }
    if (changed > 0 || screen) {
        // A screen is taken out of the picture as it was, its filled peaks carried over.
        host::Image cleaned = screen ? descreen_picture(job.modules, job.work, found, e.m, cut, job.options.thresholds, changed)
                                     : back_to_picture(job.modules.inverse, std::move(e.spectrum), e.m, job.work.rows);
        // The low-pass is taken where the screen is; elsewhere the picture stays as it was.
        blend_screened(cleaned, job.work, cut.share);
        job.work = std::move(cleaned);
        // The folded dots' grain, and the scanner's blur, taken out of what the spectrum kept.
        if (folded) changed += restore_folded_print(job.work);
        result.changed += changed;
    }
    record(job, e, j, true);
    return false;
}

// Up to `passes` searches: peaks that one sinusoid explains are fitted and those waves taken out of
// the picture whole, leakage and all (and line patterns and sweeps with their own models); the
// spectrum of what remains is searched again, and the peaks found then (scan lines' leftovers,
// screens) take their surroundings' magnitudes. A screen's lattice found in a later search, after
// an earlier one took a screen's waves out with the strength they have at each place, shows a print
// whose dots that took out only in part: their harmonics and the other inks' waves stand out once
// the strongest are gone, and a low-pass then, telling where the screen is by waves already taken
// out, leaves patches of dots; so does a print's rosette made out only in a later search, whatever
// the earlier ones took out. The cleaning starts again from the picture as it came, with that
// screen descreened in the first search.
CleanResult clean_picture(const CleanModules& modules, host::Image picture, const CleanOptions& options) {
    check_cleanable(picture);
    const FlatEvidence flat = flat_evidence(picture, options.detect, options.thresholds);
    double screen = 0;  // a print's screen period, found after its waves were taken out along the tone
    // A print's rosette of screens is its screen's lattice even where the inks' beats or tones hide
    // that; one ink's screen may stand out only once another's waves are taken out, so the screens
    // of every search count.
    std::vector<ScreenTurn> turns;
    double rosette = 0;
    for (;;) {
        Job job{modules, options, to_float(picture), flat, {}, {}, false, false, {}, {}};
        bool toned = false, again = false;
        for (int pass = 0; pass < options.thresholds.passes; ++pass) {
            Evidence e = find(job, pass);
            if (rosette == 0) {
                const std::vector<ScreenTurn> found = square_screens(
                    e.d, e.m.geometry, options.thresholds.screen_amplitude / options.detect.sensitivity, options.thresholds);
                turns.insert(turns.end(), found.begin(), found.end());
                rosette = rosette_period(turns, std::min(picture.rows, picture.cols), options.thresholds);
            }
            // (A lattice finer than the rosette is its inks' harmonics'; one coarser, their beats'.)
            e.d.rosette = rosette;
            if (rosette > 0) e.d.screen_period = rosette;
            if (e.d.screen_period > 0) e.d.screen_period = screen_fundamental(e.d, options.thresholds);
            if (pass == 0 && screen > 0 && e.d.screen_period == 0) e.d.screen_period = screen;
            // A print's screen finer than kFoldedScreen is one the scan folded: not low-passed, its
            // peaks judged one by one as any picture's, and the print restored as a folded one.
            if (options.print && e.d.screen_period > 0 && e.d.screen_period < kFoldedScreen) {
                job.result.folded_screen = e.d.screen_period;
                e.d.screen_period = 0, e.d.rosette = 0;
            }
            if (pass > 0 && (toned || rosette > 0) && screen == 0 && options.lowpass && e.d.screen_period > 0) {
                screen = e.d.screen_period;
                again = true;
                break;
            }
            Judgement j = judge(job, e);
            toned = toned || j.envelopes > 0;
            const bool more = remove(job, e, j);
            job.result.detection = std::move(e.d);
            if (!more) break;
        }
        if (again) continue;
        CleanResult result = std::move(job.result);
        to_picture_rows(result, picture.rows, picture.cols);
        if (result.changed > 0)
            restore(picture, job.work, result.lowpass_period == 0 && !job.held, job.unclipped, options.thresholds.restore_reach);
        result.image = std::move(picture);  // nothing removed: the picture as it was
        return result;
    }
}

}  // namespace quen::cleaning
