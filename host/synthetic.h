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

// Mean square of the real wave of fx cycles across the first `cols` columns and fy cycles down the
// rows in the mean of planes first_plane..last_plane, in units of full scale squared: twice the
// squared modulus of the mean of that picture times exp(-2 pi i (fx x / cols + fy y / rows)).
double wave_power(const Image& image, int32_t cols, double fx, double fy, int32_t first_plane = 0,
                  int32_t last_plane = 2);

// Mean square difference of plane pa of a and plane pb of b (pictures of the same rows) over their
// first `cols` columns, in sample units squared.
double mean_square_difference(const Image& a, int32_t pa, const Image& b, int32_t pb, int32_t cols);

// Peak signal-to-noise ratio in dB of a mean square difference against the peak `full`; infinity
// for identical pictures.
double psnr_db(double mean_square, double full);

// The wave_power of the stripes' frequencies, summed over the directions with a period. When the
// periods divide the rows and columns, the stripes synthetic_scene adds measure amplitude^2 / 2
// per direction and the rest of the scene hardly counts.
double stripe_power(const Image& image, const StripePattern& stripes, int32_t cols);

}  // namespace quen::host
