// The half-spectrum filters transform only the first W - 2 columns of a picture: the last two give
// the half spectrum's layout its room. To transform, and get back, every column of a picture, widen
// it by two columns before the forward filter and crop the inverse filter's result back after.
#pragma once

#include <cstdint>

#include "image.h"

namespace quen::host {

// Columns the half-spectrum filters leave out of the transform.
inline constexpr int32_t kHalfSpectrumExtraColumns = 2;

// The picture with two more columns, each a copy of its last column; every plane is kept.
Image widen_for_half_spectrum(const Image& picture);

// The first picture.cols - 2 columns of a picture widened by widen_for_half_spectrum (after the
// inverse filter). Throws std::invalid_argument when the picture has fewer than three columns.
Image crop_after_half_spectrum(const Image& picture);

}  // namespace quen::host
