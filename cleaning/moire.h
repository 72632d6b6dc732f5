// A print whose screen is finer than the scan: the screen's lattice folds back below the sampling
// frequency (each frequency f shows at f - round(f) along each axis), so its points and the dots'
// copies of the picture about them fall among the picture's own frequencies, as a moire, and no
// low-pass can take them out without the picture's detail.
#pragma once

#include <cstdint>

#include "image.h"
#include "log_spectrum.h"
#include "peaks.h"

namespace quen::cleaning {

// A print's screen made out finer than this (pixels) is one the scan folded: each frequency of a
// screen too fine for the scan shows within half a cycle per pixel of 0 along either axis, so its
// folded lattice stands from 1.4 px out, mostly about 2 px, where a low-pass would take the
// picture's finest detail with it. Such a screen is not low-passed: its peaks are judged one by one
// as any picture's, and the print restored as a folded one. (A screen of three inks turned from
// one another by 15 degrees is folded in one ink at least below 1.93 px.)
inline constexpr double kFoldedScreen = 2.8;

// Frequencies below this (cycles per pixel) are the picture's, whatever stands there.
inline constexpr double kMoireInner = 0.05;

// How far a magnitude may stand above its background (log10) before it counts as the folded
// screen's: 4 times the median magnitude, a chance of about 1e-5 per sample for a natural picture
// (see peaks.h), so that its own detail is hardly touched.
inline constexpr float kMoireExcess = 0.6f;

// Lowers every log magnitude of channels 0..2 that stands more than kMoireExcess above its
// background (d.background) to that level, from kMoireInner and `keep` (cycles per pixel) out,
// but for the samples within 2.5 of either axis (where the picture's borders and straight edges
// leave their lines); returns the samples lowered. Of a print with a folded screen, this takes
// out the compact points of its lattice wherever they landed, each only down to what the picture
// puts about it.
int64_t lower_folded_screen(LogMagnitudes& m, const Detection& d, double keep);

// The rings whose median the power law fitted from kMoireLawFrom to kMoireLawTo (cycles per pixel)
// puts lower.
inline constexpr double kMoireLawFrom = 0.05, kMoireLawTo = 0.2;

// The folded dots' copies of the picture spread over the middle frequencies too, above what the
// picture puts there. A natural picture's magnitudes fall about as a power of the frequency: the
// medians of rings from kMoireLawFrom to kMoireLawTo, where the picture's own stand above the
// copies, fix that law for each of channels 0..2, and every ring beyond whose median stands above
// the law is lowered by the Wiener gain, the law's power over the ring's (squared, it took the
// smooth photographs' own middle frequencies with the copies; what grain the copies leave the
// blocks' restoration takes after); rings at or below the law, as a sharp picture's are, stay as
// they are. Returns the samples lowered.
int64_t lower_folded_copies(LogMagnitudes& m);

}  // namespace quen::cleaning

namespace quen::cleaning {

// Side of the square blocks a folded print is restored in (pixels, a power of two) and the step
// between them (half of it: each pixel lies in four blocks).
inline constexpr int32_t kGrainBlock = 16, kGrainStep = 8;

// The folded dots leave a grain all over the print: each scan pixel holds a share of a dot that
// depends on where the screen falls on it and on the tones about it, beyond what any lattice
// explains, about as strong at every frequency and strongest in the middle tones. And the scanner's
// optics (a Gaussian of kScanOptics pixels) and its sensor's area blurred the print's detail. Each
// channel of `work` (a float picture, three channels at least) is restored block by block, in
// overlapping blocks of kGrainBlock pixels under a Hann window: each frequency of a block is
// multiplied by the gain that takes out the grain (1 - grain / power, a Wiener gain from the
// block's own power, averaged over the frequencies within kPowerReach of it each way) over the
// scanner's response there, held to at most a bound set by the block's detail. The grain's power is the
// blocks' own at the high frequencies (kGrainFrom to kGrainTo cycles per pixel, where the blur left
// little of the picture), each frequency's the lesser of its own and that of the frequency a right
// angle from it (a screen's folded lattice is square; the picture's fine lines and edges are not):
// in each of kGrainTones ranges of the blocks' mean tone, its lower quartile (the blocks smooth
// there), spread over the frequencies in the shape the blocks hold it in. A block's grain is that of each of its pixels' tones,
// averaged under the window's square (a block across an edge between tones that hold little grain
// is not taken for the middle tone it averages to). Returns the samples changed.
inline constexpr double kScanOptics = 0.5;
inline constexpr double kGrainFrom = 0.25, kGrainTo = 0.45;
inline constexpr int32_t kGrainTones = 16;
// How strongly a block is restored goes by the detail it holds beyond the grain: its own power at
// the high frequencies over its grain's. A smooth block (kDetailFrom times its grain or less) takes
// out kGrainShare times its grain and is not lifted (its gain held to kGrainGainSmooth: what it
// holds up there is grain, and lifting it lifts the folded dots' leftovers with it); a block with
// more, a textured one, takes out less, kGrainShare times (kDetailFrom / detail)^kShareFall, at
// least kGrainShareLeast times, and is lifted more, its gain's most rising with the detail's log up
// to kGrainGain at kDetailTo times its grain (its fine detail is the picture's, blurred by the
// scanner). (Smooth photographs did best with more smoothing and no lift, textured ones with less
// smoothing and more lift; one strength for all traded one for the other.) The share stays near
// the grain's own: a photograph's own fine texture as strong as the grain (film grain, a fruit's
// skin) stands about as high as the grain does, and taking out more than the grain takes it
// with the grain; what grain a smooth block keeps is smoothed out after, where the picture is flat
// (kFoldedFlat).
inline constexpr double kGrainShare = 1.5, kGrainShareLeast = 0.5, kShareFall = 1.0;
inline constexpr double kDetailFrom = 2, kDetailTo = 8;
inline constexpr double kGrainGainSmooth = 1.0, kGrainGain = 1.6;
inline constexpr int32_t kPowerReach = 2;
// Both lifts (the scanner's response undone, and the gain's most above 1) go by how steeply the
// picture's power falls over the middle frequencies (kMoireLawFrom to kMoireLawTo; its log against
// the log of the frequency, summed over the blocks): in full where it falls as gently as kFallGentle,
// not at all where as steeply as kFallSteep or more (a soft or smooth picture: what its blocks
// hold at the high frequencies beyond the grain measured is grain that varies with the tones
// about it, and lifting it left these prints below a plain blur). Sharp photographs fall by 1.6
// to 3.8; the same ones blurred over a pixel and a half before printing, by 3.1 to 4.6.
inline constexpr double kFallGentle = -3.2, kFallSteep = -4.0;
// A block's own power scatters about the picture's, and where the picture holds next to nothing
// of its own at a frequency (a soft or smooth picture, whose power falls steeply) each block's
// gain lets through the grain wherever it happens to stand high, and the print came out grainier
// than a plain blur would leave it. So each block's gain is also multiplied by the Wiener gain of
// the blocks about it at the frequency (1 - grain / power, both summed over the blocks side by
// side within kRegionReach of it each way, a square of 80 pixels), which falls where the grain
// stands high against the picture there, as a blur's response does, but by the picture's own
// spectrum; squared (the grain the tones about a pixel vary counts in the picture's power, as
// with the folded copies), at least kRegionGainLeast, and only as far as the channel is not
// lifted: to the power kRegionGainPower x (1 - lift share / kRegionLiftTo)^2, so that a sharp
// picture, lifted in full, keeps its blocks' gains as they are. Twenty-five blocks scatter a fifth
// as much as one; and unlike the whole picture's, their power follows where the picture's detail
// is (a sharp subject before a smooth ground, whose detail the whole picture's mean power, held
// down by the ground, took for grain).
inline constexpr int32_t kRegionReach = 2;
inline constexpr double kRegionGainPower = 2, kRegionGainLeast = 0.01, kRegionLiftTo = 1;
// What grain the blocks leave is smoothed out last by a guided filter of each channel by itself,
// over squares of kGuideRadius about each pixel, the grain being what the blocks let through of
// the grain they measured (the mean of their gains' squares under its shape), kGuidePassed times:
// the grain of a screen folded near the scan's own stands partly below the high frequencies it is
// measured at. A channel not lifted in full (a soft picture, whose blocks hold more grain below
// the high frequencies than measured there) takes in that share the grain measured again on the
// restored channel instead (the lower quartile of its high-pass by tone, kGuideShare times): in a
// sharp or textured picture that measure counts the picture's own fine texture as grain, and the
// guide smoothed that texture away.
inline constexpr int32_t kGuideRadius = 1;
inline constexpr double kGuidePassed = 1.4, kGuideShare = 0.5;
// Then, where the picture is flat (its gradient, smoothed, kFoldedFlat full scale per pixel or less:
// twice what a descreened picture's is taken flat at, for the grain left raises it), what grain is
// left is smoothed further over half the period the folded lattice stands at mostly, kFoldedPeriod
// pixels (smooth_where_flat): in a smooth photograph, the grain there is all that stands out. A
// gradient smoothed over 2 px does not see the picture's finest detail (lines 3 px apart), which
// only the blocks tell from the grain: what the smoothing would take out counts as detail too but
// for the share of it that lies in plain blocks, 1 for a block whose power at the high frequencies
// is kPlainFrom times its grain or less, down to 0 at kPlainTo times (about kDetailFrom, where
// its lift begins), so that the grain a plain block keeps is smoothed and a fine pattern kept.
inline constexpr double kFoldedPeriod = 2, kFoldedFlat = 2.0 / 255;
inline constexpr double kPlainFrom = 1.5, kPlainTo = 2.5;
int64_t restore_folded_print(host::Image& work);

}  // namespace quen::cleaning
