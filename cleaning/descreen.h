// Descreening: a scanned print's halftone screen taken out of each channel's spectrum by a gain
// that keeps the picture's detail up to about the screen frequency and takes out the screen's
// peaks and the dots' spread about them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "log_spectrum.h"
#include "peaks.h"

namespace quen::cleaning {

// The low-pass's deviation, in units of the screen frequency.
inline constexpr double kDescreenWidth = 0.55;

// Peaks below this share of a screen's lowest frequency are the picture's, or moire between inks.
inline constexpr double kScreenLattice = 0.9;

// One channel's screen: the frequencies of its peaks (cycles per pixel, each once; the mirror is
// implied).
struct ChannelScreen {
    std::vector<Frequency> points;
    double frequency = 0;  // the screen's fundamental, cycles per pixel; 0: no screen in this channel
};
using Screens = std::array<ChannelScreen, 3>;

// Each channel's screen from the peaks found: its frequency (cycles per pixel, 0 for a channel
// left alone) and the channel's peaks beyond the protected frequencies from kScreenLattice times
// its frequency up. (The moire of two inks in one channel lies lower, where a notch as wide as the
// screen's would take the picture's own detail: its peaks are only filled.)
Screens screens_of(const LogMagnitudes& m, const Detection& d, const std::array<double, 3>& frequency, double keep);

// Lowers each channel's log magnitudes by the descreening gain; returns the samples changed.
int64_t descreen(LogMagnitudes& m, const Screens& screens, double keep);

}  // namespace quen::cleaning
