// Fitted tones: a peak that one sinusoid explains is fitted (its frequency between samples, each
// channel's complex amplitude) and the whole wave, leakage and all, subtracted from the picture.
#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>
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
    bool unclipped = false;  // fitted to samples the ends did not cut off: its amplitudes are whole
};

// The amplitude of a wave in the channel that holds it most, from its coefficients by channel
// (twice the fitted coefficient's magnitude: the wave swings that far either way).
inline double strongest_amplitude(const std::complex<double> (&amplitude)[3]) {
    double strongest = 0;
    for (const std::complex<double>& a : amplitude) strongest = std::max(strongest, 2 * std::abs(a));
    return strongest;
}
inline double strongest_amplitude(const FittedTone& tone) { return strongest_amplitude(tone.amplitude); }

// The tone of frequency `tone` fitted in each channel about the peak at (y0, x0).
FittedTone fitted_tone(const ComplexHalf& z, const host::SpectrumGeometry& g, const Tone& tone, int32_t y0, int32_t x0);

// Takes the sinusoids out of a float picture (planes 0..2, in units of full scale); with
// `rows_wanted`, out of those rows alone (the others are left as they are).
void subtract_tones(host::Image& picture, const std::vector<FittedTone>& tones,
                    const std::vector<bool>* rows_wanted = nullptr);

// What a sample pinned at an end of the range (`end`, 0 or 1 of full scale) held beneath waves that
// leave `cleaned` there: a value between the two. The cleaned samples about it (`reach` pixels
// either way) that were not pinned say where: their mean, held between the two (a shadow or
// highlight near the end), of those not beyond `cleaned` (brighter ground than the sample can
// hold, past black) but those past the end too: the cleaning errs either way about a flat black
// or white ground, and left out, they would lift the mean off it. With none, the end (deep in
// such a ground, which the waves lifted off in places and pushed further past elsewhere).
// `pinned(y, x)` and `cleaned_at(y, x)` give the channel's samples about it.
template <class Pinned, class Cleaned>
double held_at_end(int32_t rows, int32_t cols, int32_t y, int32_t x, double end, double cleaned, int32_t reach,
                   const Pinned& pinned, const Cleaned& cleaned_at) {
    const double lo = end < cleaned ? end : cleaned, hi = end < cleaned ? cleaned : end;
    double sum = 0;
    int32_t count = 0;
    for (int32_t j = y > reach ? y - reach : 0; j <= y + reach && j < rows; ++j)
        for (int32_t i = x > reach ? x - reach : 0; i <= x + reach && i < cols; ++i)
            if (!pinned(j, i)) {
                const double u = cleaned_at(j, i);
                const bool past = end < 0.5 ? u < end : u > end;
                if (past || (u >= lo && u <= hi)) sum += u, ++count;
            }
    return count > 0 ? std::clamp(sum / count, lo, hi) : end;
}

// Whether sample (y, x) of channel c sits at black or white in the float picture `came` (`ends`:
// by sample, (y * cols + x) * 3 + c, 1 at black, 2 at white); `at` receives the end. A sample past
// either end (a float picture's) was not cut off there.
bool pinned_at(const host::Image& came, const std::vector<uint8_t>& ends, int32_t y, int32_t x, int32_t c, float& at);

// The samples of channel c pinned at black or white in `came` take what held_at_end says they held
// beneath the waves `work` has had taken out since. Left at the end less the whole wave, they would
// hold the part of its swing the end cut off, turned over (half a wave on a flat black ground, a
// third of a screen's dots there), which the searches after would find again as a wave.
void hold_pinned(host::Image& work, const host::Image& came, const std::vector<uint8_t>& ends, int32_t c, int32_t reach);

// Refits the amplitudes of sinusoids fitted to the float picture `work` whose samples at black or
// white (`ends`: by sample, (y * cols + x) * 3 + c, 1 at black, 2 at white, 0 between) cut their
// waves off. A wave that pushed a sample past black was clipped there, and its fit, taken from
// the clipped picture, comes out weaker than the wave (by up to a quarter where half the picture
// lies at black or white), which leaves the difference everywhere else. Each sample at an end is
// taken to hold what held_at_end says the picture held there plus the waves, where that lies past
// the end, and the amplitudes are fitted again to the picture so unclipped, `rounds` times (each
// round takes about three quarters of what is left off). A tone fitted unclipped keeps its amplitudes.
void unclip_tones(std::vector<FittedTone>& tones, const host::Image& work, const std::vector<uint8_t>& ends, int rounds,
                  int32_t reach);

}  // namespace quen::cleaning
