// Periodic noise for the held-out cleaning benchmark, made otherwise than bench_clean's so that
// rules fitted to one generator are caught: screens at any angle and any period of 3-12 px, tone-
// modulated or binary; waves drifting by 2-15 % across the frame; stripes added at a whole-pixel
// period beside scan lines that scale the rows they darken.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "measures.h"

namespace quen::bench {

namespace waves {

constexpr double kPi = std::numbers::pi;

inline double uniform(std::mt19937& gen, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(gen);
}

// A sinusoid of random direction, period (3-40 px) and phase on every channel.
inline void add_sinusoid(Planes& p, std::mt19937& gen, double amp_lo, double amp_hi) {
    const double a = uniform(gen, 0, kPi), t = uniform(gen, 3, 40), h = uniform(gen, amp_lo, amp_hi),
                 f = uniform(gen, 0, 2 * kPi);
    const double kx = 2 * kPi * std::cos(a) / t, ky = 2 * kPi * std::sin(a) / t;
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < p.rows; ++y)
            for (int x = 0; x < p.cols; ++x) p.at(c, y, x) += h * std::sin(kx * x + ky * y + f);
}

// What a screen's draws are held at, to try one angle or period (a value below 0: drawn).
struct ScreenCorner {
    double angle = -1;   // degrees
    double period = -1;  // px
};

// A dot screen at a random angle (0-90 degrees) and period (3-12 px), amplitude 16-32 levels.
// Tone-modulated: a cosine screen whose strength follows each sample's tone, 4 v (1 - v), strongest
// at mid grey and gone at black and white, as a print's dots are. Binary: hard-edged dots covering
// about a third of each cell, the same everywhere, each sample the share of it a dot covers
// (sampled 3 x 3). A corner's fixed values replace the draws, which are made all the same so that
// the rest of a seed's screen is as without it.
inline void add_screen(Planes& p, std::mt19937& gen, bool binary, const ScreenCorner& corner = {}) {
    const auto held = [](double fixed, double drawn) { return fixed >= 0 ? fixed : drawn; };
    const double a = held(corner.angle * kPi / 180, uniform(gen, 0, kPi / 2)), t = held(corner.period, uniform(gen, 3, 12)),
                 h = uniform(gen, 16, 32);
    const double u0 = uniform(gen, 0, 1), v0 = uniform(gen, 0, 1), ca = std::cos(a), sa = std::sin(a);
    auto screen = [&](double x, double y) {
        const double u = (ca * x + sa * y) / t + u0, v = (-sa * x + ca * y) / t + v0;
        return (std::cos(2 * kPi * u) + std::cos(2 * kPi * v)) / 2;
    };
    for (int y = 0; y < p.rows; ++y)
        for (int x = 0; x < p.cols; ++x) {
            double s = 0;
            if (binary) {
                const double dot_share = 1.0 / 3, threshold = 0.24;  // cos + cos > 0.48 covers about a third
                for (int i = -1; i <= 1; ++i)
                    for (int j = -1; j <= 1; ++j) s += (screen(x + j / 3.0, y + i / 3.0) > threshold) / 9.0;
                s = (s - dot_share) * 1.5;
            } else {
                s = screen(x, y);
            }
            for (int c = 0; c < 3; ++c) {
                const double v = std::clamp(p.at(c, y, x) / 255, 0.0, 1.0);
                p.at(c, y, x) += h * s * (binary ? 1 : 4 * v * (1 - v));
            }
        }
}

// What a chirp's draws are held at, to try one corner of the range (a value below 0: drawn).
struct ChirpCorner {
    double scale = 1;    // the amplitude, times
    double drift = -1;   // d, either way
    double period = -1;  // the mean period, px
    double angle = -1;   // the direction, degrees
};

// A wave whose frequency drifts linearly across the frame from (1 - d) to (1 + d) times its mean,
// d 2-15 % either way, mean period 5-20 px, random direction, amplitude 8-16 levels (times the
// corner's scale). A corner's fixed values replace the draws, which are made all the same so that
// the rest of a seed's chirp is as without it.
inline void add_chirp(Planes& p, std::mt19937& gen, const ChirpCorner& corner = {}) {
    const auto held = [](double fixed, double drawn) { return fixed >= 0 ? fixed : drawn; };
    const double a = held(corner.angle * kPi / 180, uniform(gen, 0, kPi)), ca = std::cos(a), sa = std::sin(a);
    const double d = held(corner.drift, uniform(gen, 0.02, 0.15)) * (uniform(gen, 0, 1) < 0.5 ? -1 : 1);
    const double f = 1 / held(corner.period, uniform(gen, 5, 20)), h = corner.scale * uniform(gen, 8, 16),
                 phase0 = uniform(gen, 0, 2 * kPi);
    const double length = std::fabs(ca) * p.cols + std::fabs(sa) * p.rows;
    const double t0 = std::min(0.0, ca * p.cols) + std::min(0.0, sa * p.rows);
    for (int y = 0; y < p.rows; ++y)
        for (int x = 0; x < p.cols; ++x) {
            const double t = (ca * x + sa * y - t0) / length;  // 0..1 along the direction
            // The integral of f (1 + d (2t - 1)) over the distance travelled.
            const double phase = phase0 + 2 * kPi * f * length * (t + d * (t * t - t));
            for (int c = 0; c < 3; ++c) p.at(c, y, x) += h * std::sin(phase);
        }
}

// Stripes added along rows or columns at a whole period of 3-12 px: a square wave of a random
// duty with no mean, of 2-4 levels root mean square (as strong as a weak sinusoid of 3-6), the
// same whatever the tone beneath.
inline void add_stripes(Planes& p, std::mt19937& gen) {
    const int k = std::uniform_int_distribution<int>(3, 12)(gen);
    const int on = std::uniform_int_distribution<int>(1, k - 1)(gen), start = std::uniform_int_distribution<int>(0, k - 1)(gen);
    const bool rows = uniform(gen, 0, 1) < 0.5;
    // +h on `on` lines of k and -h on / (k - on) on the rest: mean square h^2 on / (k - on).
    const double h = uniform(gen, 2, 4) * std::sqrt(double(k - on) / on), off = -h * on / (k - on);
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < p.rows; ++y)
            for (int x = 0; x < p.cols; ++x) p.at(c, y, x) += ((rows ? y : x) + start) % k < on ? h : off;
}

// Every k-th row (k 3-8) raised or lowered by 6-10 levels, whatever the tone beneath.
inline void add_offset_lines(Planes& p, std::mt19937& gen) {
    const int k = std::uniform_int_distribution<int>(3, 8)(gen), s = std::uniform_int_distribution<int>(0, k - 1)(gen);
    const double h = uniform(gen, 6, 10) * (uniform(gen, 0, 1) < 0.5 ? -1 : 1);
    for (int c = 0; c < 3; ++c)
        for (int y = s; y < p.rows; y += k)
            for (int x = 0; x < p.cols; ++x) p.at(c, y, x) += h;
}

// Scan lines as a scanner's gain makes them: every k-th row (k 3-8) scaled by 0.85-0.92.
inline void add_scan_lines(Planes& p, std::mt19937& gen) {
    const int k = std::uniform_int_distribution<int>(3, 8)(gen), s = std::uniform_int_distribution<int>(0, k - 1)(gen);
    const double g = uniform(gen, 0.85, 0.92);
    for (int c = 0; c < 3; ++c)
        for (int y = s; y < p.rows; y += k)
            for (int x = 0; x < p.cols; ++x) p.at(c, y, x) *= g;
}

}  // namespace waves

}  // namespace quen::bench
