// Smoothing of a plane by repeated box filters, for envelopes and local strengths.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

namespace quen::cleaning {

using Plane = std::vector<std::complex<float>>;
using RealPlane = std::vector<float>;

// Three box filters of the radius over a plane (near a Gaussian), each normalised at the borders
// so that the edges are not darkened. A real plane gives the real parts a complex one would.
void smooth(Plane& v, int32_t rows, int32_t cols, int32_t radius);
void smooth(RealPlane& v, int32_t rows, int32_t cols, int32_t radius);

// One box filter: the mean over the square of the radius about each sample, within the plane.
void box_mean(RealPlane& v, int32_t rows, int32_t cols, int32_t radius);

}  // namespace quen::cleaning
