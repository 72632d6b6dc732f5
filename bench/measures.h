// Measures the benchmarks share: a picture's colour planes as numbers, PSNR and SSIM.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "image.h"
#include "synthetic.h"

namespace quen::bench {

using quen::host::Image;

// A plane of values in 0..255 per channel, row-major, for the noise arithmetic.
struct Planes {
    int32_t rows, cols;
    std::vector<double> v;  // 3 x rows x cols
    double& at(int c, int y, int x) { return v[(std::size_t(c) * rows + y) * cols + x]; }
    double at(int c, int y, int x) const { return v[(std::size_t(c) * rows + y) * cols + x]; }
};

inline Planes planes_of(const Image& im) {
    Planes p{im.rows, im.cols, std::vector<double>(std::size_t(3) * im.rows * im.cols)};
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < im.rows; ++y)
            for (int x = 0; x < im.cols; ++x) p.at(c, y, x) = im.value(y, x, c);
    return p;
}

inline Image image_of(const Planes& p) {
    Image im = Image::make(p.rows, p.cols, 3, 8);
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < p.rows; ++y)
            for (int x = 0; x < p.cols; ++x) im.set_value(y, x, c, p.at(c, y, x));
    return im;
}

// The picture with noise added by `add`, drawn from a generator seeded with `seed`, as 8-bit RGB.
inline Image noised(const Image& original, void (*add)(Planes&, std::mt19937&), uint32_t seed) {
    std::mt19937 gen(seed);
    Planes p = planes_of(original);
    add(p, gen);
    return image_of(p);
}

// Over the three colour channels; identical pictures count as 99 dB so that means stay finite.
inline double psnr(const Image& a, const Image& b) {
    double mse = 0;
    for (int c = 0; c < 3; ++c) mse += quen::host::mean_square_difference(a, c, b, c, a.cols) / 3;
    return mse == 0 ? 99 : quen::host::psnr_db(mse, 255);
}

// SSIM as Wang, Bovik, Sheikh and Simoncelli define it: means, variances and covariance under an
// 11 x 11 Gaussian window of sigma 1.5 (the sample-weighted forms), constants (0.01 x 255)^2 and
// (0.03 x 255)^2, averaged over the positions where the window lies wholly inside the picture.
inline double ssim_plane(const std::vector<double>& a, const std::vector<double>& b, int rows, int cols) {
    const int r = 5;
    if (rows <= 2 * r || cols <= 2 * r) return 1;
    std::vector<double> w(2 * r + 1);
    double total = 0;
    for (int i = -r; i <= r; ++i) total += w[i + r] = std::exp(-i * i / (2 * 1.5 * 1.5));
    for (double& x : w) x /= total;
    const int out_rows = rows - 2 * r, out_cols = cols - 2 * r;
    auto blur = [&](auto f) {  // the separable window over each inside position
        std::vector<double> across(std::size_t(rows) * out_cols), out(std::size_t(out_rows) * out_cols);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < out_cols; ++x) {
                double s = 0;
                for (int i = 0; i <= 2 * r; ++i) s += w[i] * f(std::size_t(y) * cols + x + i);
                across[std::size_t(y) * out_cols + x] = s;
            }
        for (int y = 0; y < out_rows; ++y)
            for (int x = 0; x < out_cols; ++x) {
                double s = 0;
                for (int i = 0; i <= 2 * r; ++i) s += w[i] * across[std::size_t(y + i) * out_cols + x];
                out[std::size_t(y) * out_cols + x] = s;
            }
        return out;
    };
    const auto ma = blur([&](std::size_t i) { return a[i]; }), mb = blur([&](std::size_t i) { return b[i]; });
    const auto aa = blur([&](std::size_t i) { return a[i] * a[i]; });
    const auto bb = blur([&](std::size_t i) { return b[i] * b[i]; });
    const auto ab = blur([&](std::size_t i) { return a[i] * b[i]; });
    const double c1 = std::pow(0.01 * 255, 2), c2 = std::pow(0.03 * 255, 2);
    double sum = 0;
    for (std::size_t i = 0; i < ma.size(); ++i) {
        const double va = aa[i] - ma[i] * ma[i], vb = bb[i] - mb[i] * mb[i], cov = ab[i] - ma[i] * mb[i];
        sum += (2 * ma[i] * mb[i] + c1) * (2 * cov + c2) / ((ma[i] * ma[i] + mb[i] * mb[i] + c1) * (va + vb + c2));
    }
    return sum / double(ma.size());
}

// SSIM of two colour pictures: the mean of the three channels' and that of their luma
// (0.299 R + 0.587 G + 0.114 B, as for the grey version of a picture).
struct Likeness {
    double channels, luma;
};
inline Likeness ssim(const Image& a, const Image& b) {
    const Planes pa = planes_of(a), pb = planes_of(b);
    const std::size_t n = std::size_t(a.rows) * a.cols;
    Likeness l{0, 0};
    std::vector<double> ya(n, 0), yb(n, 0);
    for (int c = 0; c < 3; ++c) {
        const std::vector<double> ca(pa.v.begin() + c * n, pa.v.begin() + (c + 1) * n);
        const std::vector<double> cb(pb.v.begin() + c * n, pb.v.begin() + (c + 1) * n);
        l.channels += ssim_plane(ca, cb, a.rows, a.cols) / 3;
        const double weight = c == 0 ? 0.299 : c == 1 ? 0.587 : 0.114;
        for (std::size_t i = 0; i < n; ++i) {
            ya[i] += weight * ca[i];
            yb[i] += weight * cb[i];
        }
    }
    l.luma = ssim_plane(ya, yb, a.rows, a.cols);
    return l;
}

}  // namespace quen::bench
