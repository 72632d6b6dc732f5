// The edits a user makes by hand on a spectrum picture, done exactly: zeroing the magnitude
// samples of chosen frequencies, which the inverse filters then leave out of the picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image.h"
#include "spectrum_geometry.h"

namespace quen::tool {

using host::Layout;
using host::SpectrumGeometry;
using host::spectrum_geometry;

struct Edit {
    enum class Kind { Notch, Lowpass, Highpass, Band };
    Kind kind;
    double x = 0;      // notch centre: column of the magnitude sample
    double y = 0;      // notch centre: row
    double radius = 0; // notch radius; lowpass and highpass cut-off; band's inner radius
    double outer = 0;  // band's outer radius
    double soft = 0;   // notch: width of its soft edge beyond the radius (0: a hard notch)
};

// Throws std::invalid_argument with the reason when an edit does not fit the geometry (negative
// radius, a notch centre outside the magnitude samples, a band whose outer radius is smaller).
void check_edit(const Edit& edit, const SpectrumGeometry& geometry);

// Whether the edits remove the frequency held at magnitude sample (row y, column x). Every edit is
// point-symmetric about the zero frequency, as the spectrum of a real picture is: a notch also
// removes the disc's partner, so the inverse never sees half of a conjugate pair. Distances wrap
// around the spectrum's period, as frequencies do.
bool removes(const std::vector<Edit>& edits, const SpectrumGeometry& geometry, int32_t y, int32_t x);

// Zeroes the magnitude samples the edits remove, in every magnitude channel, and lowers those
// under a notch's soft edge (by the weight rising from 0 at the radius to 1 at radius + soft, a
// raised cosine, mirrored like the notch); other samples and planes are left as they are. A notch
// costs time in proportion to its area. Returns the number of frequencies changed.
int64_t apply_edits(host::Image& spectrum, Layout layout, const std::vector<Edit>& edits);

}  // namespace quen::tool
