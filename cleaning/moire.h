// A print whose screen is finer than the scan: the screen's lattice folds back below the sampling
// frequency (each frequency f shows at f - round(f) along each axis), so its points and the dots'
// copies of the picture about them fall among the picture's own frequencies, as a moire, and no
// low-pass can take them out without the picture's detail.
#pragma once

#include <cstdint>

#include "log_spectrum.h"
#include "peaks.h"

namespace quen::cleaning {

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
// the law is lowered by the Wiener gain, the law's power over the ring's, squared (the median
// understates the copies, which gather about the lattice's points); rings at or below the law, as
// a sharp picture's are, stay as they are. Returns the samples lowered.
int64_t lower_folded_copies(LogMagnitudes& m);

}  // namespace quen::cleaning
