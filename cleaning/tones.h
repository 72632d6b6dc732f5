// Fitted tones: a peak that one sinusoid explains is fitted (its frequency between samples, each
// channel's complex amplitude) and the whole wave, leakage and all, subtracted from the picture.
#pragma once

#include <complex>
#include <vector>

#include "peaks.h"
#include "round_trip.h"
#include "thresholds.h"

namespace quen::cleaning {

// A sinusoid between samples: column a and row b of its frequency in the half spectrum's sample
// coordinates. The real wave holds the mirrored frequency too, with the conjugate amplitude, whose
// leakage reaches the first columns when the frequency lies near the vertical axis.
struct Tone {
    double a = 0, b = 0;
};

struct Fit {
    std::complex<double> amplitude;
    double left = 0;   // energy the tone leaves in the samples fitted
    double total = 0;  // their energy
};

// Fits a tone to the peak at (y0, x0) of channel c (-1: the sum of the three), searching the
// frequency within half a sample of it; `best` receives the frequency.
Fit fit_tone(const ComplexHalf& z, const host::SpectrumGeometry& g, int32_t c, int32_t y0, int32_t x0, Tone& best);

// Whether the fit explains the peak at (y0, x0) of channel c: it leaves at most fit_explains of
// the energy, or no more than fit_natural times what a natural picture puts there.
bool explains(const Fit& fit, const Detection& d, const host::SpectrumGeometry& g, int32_t c, int32_t y0, int32_t x0,
              const Thresholds& t);

// A fitted sinusoid: the frequency in cycles per pixel and each channel's complex amplitude.
struct FittedTone {
    Frequency f;
    std::complex<double> amplitude[3];
};

// The tone of frequency `tone` fitted in each channel about the peak at (y0, x0).
FittedTone fitted_tone(const ComplexHalf& z, const host::SpectrumGeometry& g, const Tone& tone, int32_t y0, int32_t x0);

// Takes the sinusoids out of a float picture (planes 0..2, in units of full scale).
void subtract_tones(host::Image& picture, const std::vector<FittedTone>& tones);

}  // namespace quen::cleaning
