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

}  // namespace quen::cleaning
