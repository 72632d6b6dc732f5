// Fills: the peaks that no model of their own explains are removed from the spectrum as they are,
// their magnitudes lowered to the local background's (phases kept) or to nothing, and their rim to
// the background.
#pragma once

#include <cstdint>

#include "clean.h"
#include "decisions.h"

namespace quen::cleaning {

// Fills the peaks of the groups not settled (and lowers their rim) in every channel; returns the
// samples changed.
int64_t fill_peaks(LogMagnitudes& m, const Detection& d, const Decisions& decisions, Fill fill);

}  // namespace quen::cleaning
