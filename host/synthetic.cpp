// The built-in scene.
#include "synthetic.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

namespace quen::host {
namespace {


// Scene value of one channel in 0..1 at (y, x) of a rows x cols picture.
double scene(int32_t channel, double y, double x, double rows, double cols) {
    const double u = x / cols, v = y / rows;
    double value = 0.25 + 0.35 * u + 0.15 * v * (channel + 1) / 3.0;
    const double dx = u - 0.35 - 0.1 * channel, dy = v - 0.55;
    value += 0.3 * std::exp(-(dx * dx + dy * dy) / 0.02);
    const double ex = u - 0.7, ey = v - 0.3;
    value -= 0.15 * std::exp(-(ex * ex + ey * ey) / 0.01);
    // Fine texture: a few incommensurate low-amplitude waves, like grain in a photograph.
    value += 0.02 * std::sin(x * 0.9 + y * 1.7 + channel) + 0.015 * std::sin(x * 2.3 - y * 0.6);
    return value;
}

}  // namespace

Image synthetic_scene(int32_t rows, int32_t cols, int32_t depth, int32_t planes, const StripePattern& stripes) {
    Image im = Image::make(rows, cols, planes, depth);
    const double full = Image::full_scale(depth);
    const double two_pi = 2 * std::numbers::pi;
    for (int32_t y = 0; y < rows; ++y) {
        for (int32_t x = 0; x < cols; ++x) {
            double stripe = 0;
            if (stripes.period_x > 0) stripe += std::sin(two_pi * x / stripes.period_x);
            if (stripes.period_y > 0) stripe += std::sin(two_pi * y / stripes.period_y);
            for (int32_t p = 0; p < planes; ++p) {
                double v = p < 3 ? scene(p, y, x, rows, cols) + stripes.amplitude * stripe
                                 : 0.5 + 0.5 * std::cos(two_pi * x / cols);  // a smooth alpha
                im.set_value(y, x, p, std::clamp(v, 0.0, 1.0) * full);
            }
        }
    }
    return im;
}

double wave_power(const Image& image, int32_t cols, double fx, double fy, int32_t first_plane, int32_t last_plane) {
    const long double two_pi = 2 * std::numbers::pi_v<long double>;
    const long double scale = Image::full_scale(image.depth) * (last_plane - first_plane + 1);
    std::complex<long double> sum = 0;
    for (int32_t y = 0; y < image.rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            long double v = 0;
            for (int32_t p = first_plane; p <= last_plane; ++p) v += image.value(y, x, p);
            sum += std::polar(v / scale, -two_pi * (fx * x / cols + fy * y / image.rows));
        }
    const long double mean = std::abs(sum) / (static_cast<long double>(image.rows) * cols);
    return static_cast<double>(2 * mean * mean);
}

double mean_square_difference(const Image& a, int32_t pa, const Image& b, int32_t pb, int32_t cols) {
    long double sum = 0;
    for (int32_t y = 0; y < a.rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            const long double d = static_cast<long double>(a.value(y, x, pa)) - b.value(y, x, pb);
            sum += d * d;
        }
    return static_cast<double>(sum / (static_cast<long double>(a.rows) * cols));
}

double psnr_db(double mean_square, double full) {
    if (mean_square == 0) return std::numeric_limits<double>::infinity();
    return 10 * std::log10(full * full / mean_square);
}

double stripe_power(const Image& image, const StripePattern& stripes, int32_t cols) {
    double power = 0;
    if (stripes.period_x > 0) power += wave_power(image, cols, double(cols) / stripes.period_x, 0);
    if (stripes.period_y > 0) power += wave_power(image, cols, 0, double(image.rows) / stripes.period_y);
    return power;
}

}  // namespace quen::host
