// Built-in test pictures: a smooth scene with texture, optionally crossed by periodic stripes, so
// that the filters can be shown and tested without image files.
#pragma once

#include <cstdint>

#include "image.h"

namespace quen::host {

struct StripePattern {
    double amplitude = 0;  // in units of full scale; 0 for none
    int32_t period_x = 0;  // pixels per cycle along the columns; 0 for none in that direction
    int32_t period_y = 0;  // pixels per cycle along the rows; 0 for none in that direction
};

// An RGB (or RGBA, planes 4) picture of the given size and depth: gradients, soft discs and a
// fine texture, with the stripes added to every channel. Deterministic for the same arguments.
Image synthetic_scene(int32_t rows, int32_t cols, int32_t depth, int32_t planes = 3,
                      const StripePattern& stripes = {});

// Mean square of the stripes' frequencies in the average of channels 0..2, over the first `cols`
// columns of every row, in units of full scale squared: for each direction with a period, twice
// the squared modulus of the mean of the picture times exp(-2 pi i position / period). When the
// periods divide the rows and columns, the stripes synthetic_scene adds measure amplitude^2 / 2
// per direction and the rest of the scene hardly counts.
double stripe_power(const Image& image, const StripePattern& stripes, int32_t cols);

}  // namespace quen::host
