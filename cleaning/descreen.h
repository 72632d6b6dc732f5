// Descreening: a scanned print's halftone screen taken out of each channel's spectrum by a gain
// that keeps the picture's detail where the screen's copies of it do not reach, and takes out the
// screen's lattice points and the dots' spread about them, each as far as it is strong.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "log_spectrum.h"
#include "peaks.h"
#include "thresholds.h"

namespace quen::cleaning {

// The low-pass's deviation, in units of the screen frequency: for a channel of one ink, and for a
// channel where two inks beat, whose rosette leaves its residue between the lattice's points and
// below them, which a narrower low-pass takes out more of.
inline constexpr double kDescreenWidth = 0.7;
inline constexpr double kRosetteWidth = 0.65;

// Peaks below this share of a screen's lowest frequency are the picture's, or moire between inks.
inline constexpr double kScreenLattice = 0.9;

// One channel's screen: the points of its lattice (cycles per pixel, each once; the mirror is
// implied) and the weight of each, the power of the picture's copy about it over the picture's.
struct ChannelScreen {
    std::vector<Frequency> points;
    std::vector<double> weights;
    double frequency = 0;  // the screen's fundamental, cycles per pixel; 0: no screen in this channel
    double reach = 0;      // cycles per pixel about a point within which its copy is taken out
    double falloff = 2;    // the picture's power falls as the frequency to this power
    std::vector<Frequency> moire;  // where two inks printed in this channel beat below the screen (each once)
};
using Screens = std::array<ChannelScreen, 3>;

// Each channel's screen from the magnitudes as found and the peaks: its frequency (cycles per
// pixel, 0 for a channel left alone) and its lattice beyond the protected frequencies from
// kScreenLattice times its frequency up: the channel's peaks there, and the sums of two of its
// fundamentals (its peaks within fundamental_reach of its frequency), each with its copy's weight
// where that is copy_least at least, else none. (The moire of two inks in one channel lies lower, at the differences of
// their lattices' points, where taking out a copy takes more of the picture's own detail than of
// the moire: there the magnitudes that stand out of their surroundings are lowered to them.) A
// channel whose peaks make out only a harmonic's lattice (a dark print, whose inks' fundamentals
// merge into few peaks) takes the coarser lattice whose fundamentals stand out beneath it.
Screens screens_of(const LogMagnitudes& m, const Detection& d, const std::array<double, 3>& frequency, double keep,
                   const Thresholds& t);

// The lowest of the channels' screen frequencies (cycles per pixel); 1 when no channel has one.
double lowest_frequency(const Screens& screens);

// The deviation of channel screen's low-pass (cycles per pixel), kDescreenWidth or, where two inks
// beat, kRosetteWidth times its frequency; the narrowest of the channels' for `narrowest`.
double lowpass_width(const ChannelScreen& screen);
double narrowest_lowpass(const Screens& screens);

// Lowers the log magnitudes of `to` (a spectrum of the same picture, maybe sampled more finely) by
// what `filled` took off `found` at the same frequency (its nearest sample).
void carry_fills(LogMagnitudes& to, const LogMagnitudes& found, const LogMagnitudes& filled);

// Lowers each channel's log magnitudes by the descreening gain, and those of its moire and of its
// lattice points to their surroundings' where they stand moire_excess above them; returns the
// samples changed.
int64_t descreen(LogMagnitudes& m, const Screens& screens, double keep, const Thresholds& t);

}  // namespace quen::cleaning
