// Weak waves: too faint to stand out of the picture's own scatter at their frequency, they still
// run across the whole frame with one amplitude and phase, which the frame's tiles tell.
#pragma once

#include <vector>

#include "combs.h"
#include "frame_evidence.h"
#include "tiles.h"
#include "tones.h"

namespace quen::cleaning {

struct WeakWave {
    Peak peak;          // where it was found, its period, angle and amplitude
    int32_t group = 0;  // the group of the peak it was, 0 for a faint candidate
};

// Judges candidates as weak waves: the peaks of detection d that the quarters of the frame took
// for the picture's own (`own`, by group), then its faint candidates off the grid, strongest first. Each is
// weighed at its frequency from a fit of one tone to the sum of the channels about it; those that
// the tiles show present and alike join the tones to take out, at the frequency whose phase the
// tiles hold best, each channel's amplitude from the tiles. A candidate within a tile's main lobe
// of another peak, or of a wave taken out already, would see that one's waves in the tiles, and
// is passed over. The search ends after weak_tries candidates weighed in vain: a page of text or a
// table holds hundreds that pass the quick look (a second each megapixel), where the weak waves
// of the cleaning benchmark were found among the first five weighed. Candidates of a period longer
// than `longest` pixels (0: none) are passed over.
void find_weak_waves(LazyTiles& tiles_of, const ComplexHalf& z, const LogMagnitudes& m, const Detection& d,
                     const std::vector<uint8_t>& own, const Grid& grid, const std::vector<Frequency>& earlier,
                     const FlatEvidence& flat, double longest, std::vector<FittedTone>& tones,
                     std::vector<WeakWave>& found, const Thresholds& t);

}  // namespace quen::cleaning
