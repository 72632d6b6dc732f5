// The folded screen of a print scanned too coarsely, lowered to its surroundings.
#include "moire.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <optional>
#include <vector>

#include "kernels.h"
#include "screens.h"
#include "smooth.h"

namespace quen::cleaning {

int64_t lower_folded_screen(LogMagnitudes& m, const Detection& d, double keep) {
    const host::SpectrumGeometry& g = m.geometry;
    if (d.background.size() != m.values.size()) return 0;
    const double inner = std::max(keep, kMoireInner);
    int64_t lowered = 0;
    for (int32_t y = 0; y < g.rows; ++y) {
        if (std::fabs(y - g.centre_y) <= 2.5) continue;
        for (int32_t x = 0; x < g.columns; ++x) {
            if (std::fabs(x - g.centre_x) <= 2.5) continue;
            const Frequency f = frequency_of(g, y, x);
            if (std::hypot(f.u, f.v) <= inner) continue;
            for (int32_t c = 0; c < g.channels && c < 3; ++c) {
                const std::size_t i = m.index(c, y, x);
                const float most = d.background[i] + kMoireExcess;
                if (m.values[i] <= most) continue;
                m.values[i] = most;
                ++lowered;
            }
        }
    }
    return lowered;
}

int64_t lower_folded_copies(LogMagnitudes& m) {
    const host::SpectrumGeometry& g = m.geometry;
    constexpr double kRing = 0.025;  // cycles per pixel
    constexpr int32_t kRings = 29;   // out to the corners
    std::vector<int32_t> ring(std::size_t(g.rows) * g.columns);
    std::vector<bool> off_axes(ring.size());
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            const Frequency f = frequency_of(g, y, x);
            const std::size_t i = std::size_t(y) * g.columns + x;
            ring[i] = std::min(kRings - 1, int32_t(std::hypot(f.u, f.v) / kRing));
            off_axes[i] = std::fabs(y - g.centre_y) > 2.5 && std::fabs(x - g.centre_x) > 2.5;
        }
    int64_t lowered = 0;
    std::array<std::vector<float>, kRings> members;
    for (int32_t c = 0; c < g.channels && c < 3; ++c) {
        for (auto& r : members) r.clear();
        const float* v = &m.values[m.index(c, 0, 0)];
        for (std::size_t i = 0; i < ring.size(); ++i)
            if (off_axes[i]) members[std::size_t(ring[i])].push_back(v[i]);
        std::array<double, kRings> level{}, log_radius{};
        LineFit law;
        for (int32_t r = 0; r < kRings; ++r) {
            if (members[std::size_t(r)].empty()) continue;
            level[std::size_t(r)] = median(members[std::size_t(r)]);
            const double centre = (r + 0.5) * kRing;
            log_radius[std::size_t(r)] = std::log10(centre);
            if (centre >= kMoireLawFrom && centre <= kMoireLawTo) law.add(log_radius[std::size_t(r)], level[std::size_t(r)]);
        }
        if (law.n < 3) continue;
        const double slope = law.slope(), at = law.at();
        // The log10 gain of each ring: law / ring in power, so 2 x (law - level) in log magnitude.
        std::array<float, kRings> gain{};
        for (int32_t r = 0; r < kRings; ++r)
            if ((r + 0.5) * kRing > kMoireLawTo && !members[std::size_t(r)].empty())
                gain[std::size_t(r)] = float(std::min(0.0, 2 * (at + slope * log_radius[std::size_t(r)] - level[std::size_t(r)])));
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x) {
                const float lower = gain[std::size_t(ring[std::size_t(y) * g.columns + x])];
                if (lower >= 0) continue;
                float& value = m.at(c, y, x);
                value = std::max(kAbsent, value + lower);
                ++lowered;
            }
    }
    return lowered;
}

namespace {

constexpr int32_t kB = kGrainBlock;

// A block's samples, real and imaginary parts apart, row by row.
struct Block {
    alignas(32) std::array<std::array<float, kB>, kB> re{}, im{};
};

// Transforms every column of the block (along y) at once: each step of the radix-2 transform of
// length kB works on whole rows, which the compiler does several samples at a time. Forward, or
// (inverse) backward without the 1/kB.
[[gnu::always_inline]] inline void butterflies_body(Block& b, const std::complex<float>* w) {
    for (int32_t i = 1, j = 0; i < kB; ++i) {
        int32_t bit = kB >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(b.re[std::size_t(i)], b.re[std::size_t(j)]), std::swap(b.im[std::size_t(i)], b.im[std::size_t(j)]);
    }
    for (int32_t len = 2; len <= kB; len <<= 1)
        for (int32_t i = 0; i < kB; i += len)
            for (int32_t k = 0; k < len / 2; ++k) {
                const float wr = w[std::size_t(k * (kB / len))].real(), wi = w[std::size_t(k * (kB / len))].imag();
                auto &ar = b.re[std::size_t(i + k)], &ai = b.im[std::size_t(i + k)];
                auto &br = b.re[std::size_t(i + k + len / 2)], &bi = b.im[std::size_t(i + k + len / 2)];
                for (int32_t x = 0; x < kB; ++x) {
                    const float tr = br[std::size_t(x)] * wr - bi[std::size_t(x)] * wi, ti = br[std::size_t(x)] * wi + bi[std::size_t(x)] * wr;
                    br[std::size_t(x)] = ar[std::size_t(x)] - tr, bi[std::size_t(x)] = ai[std::size_t(x)] - ti;
                    ar[std::size_t(x)] += tr, ai[std::size_t(x)] += ti;
                }
            }
}
QUEN_KERNEL(butterflies, (Block & b, const std::complex<float>* w), (b, w))

void transform_columns(Block& b, bool inverse) {
    static const auto twiddles = [] {
        std::array<std::array<std::complex<float>, kB / 2>, 2> w{};
        for (int32_t k = 0; k < kB / 2; ++k) {
            w[0][std::size_t(k)] = std::polar(1.0f, float(-2 * std::numbers::pi * k / kB));
            w[1][std::size_t(k)] = std::conj(w[0][std::size_t(k)]);
        }
        return w;
    }();
    butterflies(b, twiddles[inverse ? 1 : 0].data());
}

void transpose(Block& b) {
    for (std::size_t y = 0; y < kB; ++y)
        for (std::size_t x = y + 1; x < kB; ++x) std::swap(b.re[y][x], b.re[x][y]), std::swap(b.im[y][x], b.im[x][y]);
}

// The two-dimensional transform; the result is transposed (row x holds frequency u = x along its
// columns' v), which the callers, symmetric in u and v, do not mind as long as they undo it with
// the inverse, which transposes back.
void transform2(Block& b, bool inverse) {
    transform_columns(b, inverse);
    transpose(b);
    transform_columns(b, inverse);
}

// A block's frequency along one axis, cycles per pixel.
double block_frequency(int32_t k) { return double(k < kB / 2 ? k : k - kB) / kB; }

// One channel padded by a block on every side, mirrored at the borders.
struct Padded {
    int32_t rows, cols;
    std::vector<double> v;
    Padded(const host::Image& work, int32_t c) : rows(work.rows + 2 * kB), cols(work.cols + 2 * kB), v(std::size_t(rows) * cols) {
        const auto mirror = [](int32_t i, int32_t n) {
            if (n == 1) return 0;
            const int32_t period = 2 * (n - 1);
            i = ((i % period) + period) % period;
            return i < n ? i : period - i;
        };
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x)
                v[std::size_t(y) * cols + x] = work.get<float>(mirror(y - kB, work.rows), mirror(x - kB, work.cols), c);
    }
    double at(int32_t y, int32_t x) const { return v[std::size_t(y) * cols + x]; }
};

// The blocks at (y, x) of two channels (`second` may be null), each less its mean and under
// `window`, transformed together: the first in the real part, the second in the imaginary. Their
// means go to `mean`.
void windowed(const Padded& first, const Padded* second, int32_t y, int32_t x, const std::array<double, kB * kB>& window,
              Block& block, std::array<double, 2>& mean) {
    mean = {0, 0};
    for (int32_t j = 0; j < kB; ++j)
        for (int32_t i = 0; i < kB; ++i) {
            mean[0] += first.at(y + j, x + i);
            if (second) mean[1] += second->at(y + j, x + i);
        }
    mean[0] /= kB * kB, mean[1] /= kB * kB;
    for (int32_t j = 0; j < kB; ++j)
        for (int32_t i = 0; i < kB; ++i)
            block.re[std::size_t(j)][std::size_t(i)] = float((first.at(y + j, x + i) - mean[0]) * window[std::size_t(j) * kB + i]),
            block.im[std::size_t(j)][std::size_t(i)] = second ? float((second->at(y + j, x + i) - mean[1]) * window[std::size_t(j) * kB + i]) : 0.0f;
    transform2(block, false);
}

// The two channels' spectra out of their joint one Z, at sample (j, i): (Z(k) + conj Z(-k)) / 2
// and (Z(k) - conj Z(-k)) / 2i.
std::array<std::complex<float>, 2> split(const Block& b, std::size_t j, std::size_t i) {
    const std::size_t oj = (kB - j) % kB, oi = (kB - i) % kB;
    const float zr = b.re[j][i], zi = b.im[j][i], wr = b.re[oj][oi], wi = -b.im[oj][oi];
    return {std::complex<float>{(zr + wr) * 0.5f, (zi + wi) * 0.5f}, std::complex<float>{(zi - wi) * 0.5f, -(zr - wr) * 0.5f}};
}

using Powers = std::array<float, kB * kB>;
using Spectrum = std::array<std::complex<float>, kB * kB>;

// Each frequency's power averaged over the frequencies within kPowerReach of it each way (round
// the block's period).
void average_about(Powers& p) {
    constexpr float kSquare = float((2 * kPowerReach + 1) * (2 * kPowerReach + 1));
    Powers along{};
    for (int32_t j = 0; j < kB; ++j)
        for (int32_t i = 0; i < kB; ++i) {
            float s = 0;
            for (int32_t d = -kPowerReach; d <= kPowerReach; ++d) s += p[std::size_t(j * kB + ((i + d) & (kB - 1)))];
            along[std::size_t(j * kB + i)] = s;
        }
    for (int32_t j = 0; j < kB; ++j)
        for (int32_t i = 0; i < kB; ++i) {
            float s = 0;
            for (int32_t d = -kPowerReach; d <= kPowerReach; ++d) s += along[std::size_t(((j + d) & (kB - 1)) * kB + i)];
            p[std::size_t(j * kB + i)] = s / kSquare;
        }
}

// Each of `count` channels' spectrum out of a block (split), and each frequency's power averaged
// about it (average_about): one frequency's power scatters as widely as the grain's own, and a
// gain from it lets grain through wherever it happens to stand high, as blotches; the average
// over a square of frequencies scatters less.
void steady_powers(const Block& block, int32_t count, std::array<Spectrum, 2>& value, std::array<Powers, 2>& power) {
    for (std::size_t k = 0; k < power[0].size(); ++k) {
        const auto ab = split(block, k / kB, k % kB);
        for (int32_t h = 0; h < count; ++h) {
            value[std::size_t(h)][k] = ab[std::size_t(h)];
            power[std::size_t(h)][k] = std::norm(ab[std::size_t(h)]);
        }
    }
    for (int32_t h = 0; h < count; ++h) average_about(power[std::size_t(h)]);
}

// The grain by tone: blocks' (mean tone, grain power) in kGrainTones ranges of the mean, each
// range's grain the lower quartile of its blocks' (the blocks smooth there) times `share`.
class GrainByTone {
public:
    GrainByTone(std::vector<std::pair<double, double>> blocks, double share) {
        std::sort(blocks.begin(), blocks.end());
        for (int32_t t = 0; t < kGrainTones; ++t) {
            const std::size_t from = blocks.size() * std::size_t(t) / kGrainTones, to = blocks.size() * std::size_t(t + 1) / kGrainTones;
            upper_[std::size_t(t)] = to > from ? blocks[to - 1].first : -1e300;
            if (to == from) continue;
            std::vector<double> powers;
            for (std::size_t i = from; i < to; ++i) powers.push_back(blocks[i].second);
            std::nth_element(powers.begin(), powers.begin() + std::ptrdiff_t(powers.size() / 4), powers.end());
            grain_[std::size_t(t)] = share * powers[powers.size() / 4];
        }
    }
    // The grain of the range that holds the tone.
    double at(double tone) const {
        const auto range = std::min<std::ptrdiff_t>(std::lower_bound(upper_.begin(), upper_.end(), tone) - upper_.begin(), kGrainTones - 1);
        return grain_[std::size_t(range)];
    }

private:
    std::array<double, kGrainTones> upper_{}, grain_{};  // each range's highest mean, and its grain
};

// What grain the restoration left, smoothed out of channel c of `work` by a guided filter of the
// channel by itself over kGuideRadius: each square about a pixel is taken as a straight function
// of the channel, its slope var / (var + grain), so that a square whose spread is the grain's is
// smoothed to its mean and one across an edge kept. Each pixel's grain is `passed`, what its blocks
// let through of the grain they measured (times kGuidePassed), as far as the channel is lifted
// (`lift`, see lift_share); for the rest, the grain measured again on the restored channel, less
// its smoothing over a pixel, in kGrainBlock blocks side by side, by tone (GrainByTone, times
// kGuideShare). Each square's grain is the mean of its pixels'.
void smooth_grain_left(host::Image& work, int32_t c, const std::vector<float>& passed, double lift) {
    const int32_t rows = work.rows, cols = work.cols;
    const std::size_t n = std::size_t(rows) * cols;
    RealPlane p(n);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) p[std::size_t(y) * cols + x] = work.get<float>(y, x, c);
    std::vector<std::pair<double, double>> blocks;
    if (lift < 1) {
        RealPlane fine = p;
        smooth(fine, rows, cols, 1);
        for (int32_t y = 0; y + kB <= rows; y += kB)
            for (int32_t x = 0; x + kB <= cols; x += kB) {
                double mean = 0, left = 0, left2 = 0;
                for (int32_t j = y; j < y + kB; ++j)
                    for (int32_t i = x; i < x + kB; ++i) {
                        const std::size_t at = std::size_t(j) * cols + i;
                        const double d = p[at] - fine[at];
                        mean += p[at], left += d, left2 += d * d;
                    }
                const double count = kB * kB;
                blocks.push_back({mean / count, left2 / count - (left / count) * (left / count)});
            }
    }
    const GrainByTone measured(std::move(blocks), kGuideShare);
    RealPlane mean = p, square(n), noise(n);
    for (std::size_t i = 0; i < n; ++i) square[i] = p[i] * p[i], noise[i] = float(lift * kGuidePassed * passed[i] + (lift < 1 ? (1 - lift) * measured.at(p[i]) : 0.0));
    box_mean(mean, rows, cols, kGuideRadius);
    box_mean(square, rows, cols, kGuideRadius);
    box_mean(noise, rows, cols, kGuideRadius);
    RealPlane& slope = square;
    RealPlane& offset = noise;
    for (std::size_t i = 0; i < n; ++i) {
        const float spread = std::max(0.0f, square[i] - mean[i] * mean[i]);
        const float a = spread + noise[i] > 0 ? spread / (spread + noise[i]) : 1.0f;
        slope[i] = a, offset[i] = mean[i] - a * mean[i];
    }
    box_mean(slope, rows, cols, kGuideRadius);
    box_mean(offset, rows, cols, kGuideRadius);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            const std::size_t at = std::size_t(y) * cols + x;
            work.set<float>(y, x, c, slope[at] * p[at] + offset[at]);
        }
}

// Frequency k of a block turned by a right angle: (j, i) to (i, -j).
std::size_t turned(std::size_t k) { return (k % kB) * kB + (kB - k / kB) % kB; }

// A block's grain level: its mean power at the high frequencies, each frequency's taken as the
// lesser of its own and that of the frequency a right angle from it, twice over. Each ink's
// screen is a square lattice, and folded onto the square grid of samples it stays one, so the
// folded dots' grain stands alike at a frequency and at its turn; the picture's own fine lines and
// edges stand at one and not the other. (The lesser of two powers that scatter alike about one
// mean averages half of it.)
double grain_level(const Powers& power, const std::array<bool, kB * kB>& high) {
    double sum = 0;
    int32_t n = 0;
    for (std::size_t k = 0; k < power.size(); ++k)
        if (high[k]) sum += std::min(power[k], power[turned(k)]), ++n;
    return 2 * sum / n;
}

// The grain's shape over a block's frequencies (GrainShape::at): each frequency's power over its
// block's grain level, as the geometric mean over the blocks (the grain has one shape at every
// tone; the few blocks of strong detail weigh little), the lesser of that at the frequency and at
// its turn (see grain_level), averaged as the blocks' powers are (average_about), over its mean at
// the high frequencies, and held to 1. From kGrainFrom out, where the scanner's blur left the
// grain weaker than at the high frequencies on average, the picture's detail is kept that much
// more; below, the picture's own power hides the grain's shape, and it is taken as flat.
class GrainShape {
public:
    void add(const Powers& power, double level) {
        if (level <= 0) return;
        for (std::size_t k = 0; k < power.size(); ++k) log_sum_[k] += std::log(power[k] / level + 1e-12);
        ++blocks_;
    }
    Powers at(const std::array<bool, kB * kB>& high, const std::array<double, kB * kB>& radius) const {
        Powers shape;
        shape.fill(1.0f);
        if (blocks_ == 0) return shape;
        Powers lesser;
        for (std::size_t k = 0; k < lesser.size(); ++k) lesser[k] = float(std::exp(std::min(log_sum_[k], log_sum_[turned(k)]) / blocks_));
        average_about(lesser);
        double high_mean = 0;
        int32_t n = 0;
        for (std::size_t k = 0; k < lesser.size(); ++k)
            if (high[k]) high_mean += lesser[k], ++n;
        high_mean /= n;
        for (std::size_t k = 0; k < lesser.size(); ++k)
            if (radius[k] >= kGrainFrom) shape[k] = float(std::min(1.0, lesser[k] / high_mean));
        return shape;
    }

private:
    std::array<double, kB * kB> log_sum_{};
    int32_t blocks_ = 0;
};

// How strongly a block is restored (see kGrainShare): the share of its grain taken out and its
// gain's most, by its power at the `high` frequencies over its grain's; and how plain it is (see
// kPlainFrom).
struct BlockStrength {
    double share, most, plain;
};
BlockStrength block_strength(const Spectrum& value, const std::array<bool, kB * kB>& high, double grain) {
    double power = 0;
    int32_t n = 0;
    for (std::size_t k = 0; k < high.size(); ++k)
        if (high[k]) power += std::norm(value[k]), ++n;
    // (a block whose tone holds no grain holds nothing but detail)
    const double detail = grain > 0 ? power / n / grain : power > 0 ? kDetailTo : 1;
    const double past = std::clamp(std::log(std::max(detail, 1e-9) / kDetailFrom) / std::log(kDetailTo / kDetailFrom), 0.0, 1.0);
    return {std::max(kGrainShareLeast, kGrainShare * std::pow(std::max(1.0, detail / kDetailFrom), -kShareFall)),
            kGrainGainSmooth + (kGrainGain - kGrainGainSmooth) * past, std::clamp((kPlainTo - detail) / (kPlainTo - kPlainFrom), 0.0, 1.0)};
}

// How much of the lift a channel's blocks get (0 to 1, see kFallSteep): by how steeply the power
// of its blocks, summed, falls with the frequency over kMoireLawFrom to kMoireLawTo (its log
// against the log of the frequency, a straight fit), where the picture's own power stands above
// the grain. A picture whose power falls that steeply (a soft or smooth one) holds next to none of
// its own at the high frequencies, and what its blocks hold there beyond the grain measured is
// grain too (it varies with the tones about it more than by tone): lifting it lifts the grain.
double lift_share(const std::array<double, kB * kB>& power, const std::array<double, kB * kB>& radius) {
    LineFit fall;
    for (std::size_t k = 1; k < power.size(); ++k)
        if (radius[k] >= kMoireLawFrom && radius[k] <= kMoireLawTo && power[k] > 0) fall.add(std::log10(radius[k]), std::log10(power[k]));
    if (fall.n < 3) return 1;
    return std::clamp((fall.slope() - kFallSteep) / (kFallGentle - kFallSteep), 0.0, 1.0);
}

// The blocks side by side over a channel: each one's power at every frequency, and its grain (that
// of its mean tone), row by row.
struct BlockGrid {
    int32_t rows = 0, cols = 0;
    std::vector<Powers> power;
    std::vector<double> grain;
    // The block that holds the centre of the block whose corner is at (y, x).
    std::size_t holding(int32_t y, int32_t x) const {
        return std::size_t(std::min(rows - 1, (y + kB / 2) / kB)) * std::size_t(cols) + std::size_t(std::min(cols - 1, (x + kB / 2) / kB));
    }
};

// How far the channel's lack of lift lets the Wiener gain about a block in (see kRegionGainPower):
// the power it is raised to.
double region_exponent(double lift) {
    const double unlifted = std::max(0.0, 1 - lift / kRegionLiftTo);
    return kRegionGainPower * unlifted * unlifted;
}

// The Wiener gain about each block of the grid at each frequency, raised to `exponent` (none when
// it is 0): 1 - grain / power, both summed over the blocks within kRegionReach of it each way (the
// grain in the shape the blocks hold it in), at least kRegionGainLeast.
std::vector<Powers> region_gains(const BlockGrid& grid, const Powers& shape, double exponent) {
    std::vector<Powers> gains;
    if (exponent <= 0) return gains;
    gains.resize(grid.power.size());
    for (int32_t cy = 0; cy < grid.rows; ++cy)
        for (int32_t cx = 0; cx < grid.cols; ++cx) {
            std::array<double, kB * kB> power{};
            double grain = 0;
            for (int32_t j = std::max(0, cy - kRegionReach); j <= std::min(grid.rows - 1, cy + kRegionReach); ++j)
                for (int32_t i = std::max(0, cx - kRegionReach); i <= std::min(grid.cols - 1, cx + kRegionReach); ++i) {
                    const std::size_t at = std::size_t(j) * grid.cols + i;
                    for (std::size_t k = 0; k < power.size(); ++k) power[k] += grid.power[at][k];
                    grain += grid.grain[at];
                }
            Powers& gain = gains[std::size_t(cy) * grid.cols + cx];
            gain[0] = 1.0f;
            for (std::size_t k = 1; k < gain.size(); ++k) {
                const double wiener = power[k] > 0 ? 1 - grain * shape[k] / power[k] : 0;
                gain[k] = float(std::pow(std::max(kRegionGainLeast, wiener), exponent));
            }
        }
    return gains;
}

}  // namespace

int64_t restore_folded_print(host::Image& work) {
    if (work.depth != 32 || work.planes < 3 || work.rows < kB || work.cols < kB) return 0;
    // The Hann window, the scanner's response and the high frequencies, over a block's frequencies.
    std::array<double, kB * kB> window{}, response{}, radius{};
    std::array<bool, kB * kB> high{};
    for (int32_t j = 0; j < kB; ++j)
        for (int32_t i = 0; i < kB; ++i) {
            const auto hann = [](int32_t k) { return 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (k + 1) / (kB + 1)); };
            const std::size_t at = std::size_t(j) * kB + i;
            window[at] = hann(j) * hann(i);
            const double u = block_frequency(i), v = block_frequency(j), sinc_u = u == 0 ? 1 : std::sin(std::numbers::pi * u) / (std::numbers::pi * u),
                         sinc_v = v == 0 ? 1 : std::sin(std::numbers::pi * v) / (std::numbers::pi * v);
            // (the optics, then the sensor's area over a print held over the same area)
            response[at] = std::exp(-2 * std::numbers::pi * std::numbers::pi * kScanOptics * kScanOptics * (u * u + v * v)) * sinc_u * sinc_u * sinc_v * sinc_v;
            radius[at] = std::hypot(u, v);
            high[at] = radius[at] >= kGrainFrom && radius[at] <= kGrainTo;
        }
    std::array<double, kB * kB> squared{};
    double squared_sum = 0;
    for (std::size_t k = 0; k < squared.size(); ++k) squared[k] = window[k] * window[k], squared_sum += squared[k];
    std::array<float, kB * kB> boost{};  // 1 over the scanner's response
    for (std::size_t k = 0; k < boost.size(); ++k) boost[k] = float(1 / response[k]);
    int64_t changed = 0;
    Block block, restored;
    // Each pixel's blocks' plainness, under the window's square (see kPlainFrom).
    std::array<std::vector<float>, 3> plain_share;
    for (auto& f : plain_share) f.resize(std::size_t(work.rows) * work.cols);
    // The grain each pixel keeps (see smooth_grain_left), its blocks' under the window's square.
    std::array<std::vector<float>, 3> grain_left = plain_share;
    std::array<double, 3> channel_lift{};
    std::array<Spectrum, 2> value{};
    std::array<Powers, 2> steady{};
    std::array<double, 2> mean{};
    // Channels 0 and 1 are transformed together, then channel 2 alone.
    for (int32_t c = 0; c < 3; c += 2) {
        const int32_t count = c == 0 ? 2 : 1;
        const Padded first(work, c);
        const std::optional<Padded> second = count == 2 ? std::optional<Padded>(std::in_place, work, c + 1) : std::nullopt;
        const Padded* other = second ? &*second : nullptr;
        // The grain's power by tone, and its shape, from blocks side by side.
        std::array<std::vector<std::pair<double, double>>, 2> tone_power;  // (mean, high-frequency power)
        std::array<GrainShape, 2> shape;
        std::array<Powers, 2> power{};
        std::array<std::array<double, kB * kB>, 2> power_sum{};  // each frequency's power over the blocks
        std::array<BlockGrid, 2> grid{};
        for (BlockGrid& g : grid) g.rows = first.rows / kB, g.cols = first.cols / kB;
        for (int32_t y = 0; y + kB <= first.rows; y += kB)
            for (int32_t x = 0; x + kB <= first.cols; x += kB) {
                windowed(first, other, y, x, window, block, mean);
                for (std::size_t k = 0; k < power[0].size(); ++k) {
                    const auto ab = split(block, k / kB, k % kB);
                    power[0][k] = std::norm(ab[0]), power[1][k] = std::norm(ab[1]);
                }
                for (int32_t h = 0; h < count; ++h) {
                    const double level = grain_level(power[std::size_t(h)], high);
                    tone_power[std::size_t(h)].push_back({mean[std::size_t(h)], level});
                    shape[std::size_t(h)].add(power[std::size_t(h)], level);
                    for (std::size_t k = 0; k < power_sum[0].size(); ++k) power_sum[std::size_t(h)][k] += power[std::size_t(h)][k];
                    grid[std::size_t(h)].power.push_back(power[std::size_t(h)]);
                }
            }
        std::array<Powers, 2> grain_shape{};
        std::array<double, 2> lift{};
        for (int32_t h = 0; h < count; ++h) {
            grain_shape[std::size_t(h)] = shape[std::size_t(h)].at(high, radius);
            lift[std::size_t(h)] = lift_share(power_sum[std::size_t(h)], radius);
            channel_lift[std::size_t(c + h)] = lift[std::size_t(h)];
        }
        // The scanner's response undone by each frequency's boost, as far as the channel is lifted.
        std::array<std::array<float, kB * kB>, 2> lifted{};
        for (int32_t h = 0; h < count; ++h)
            for (std::size_t k = 0; k < boost.size(); ++k) lifted[std::size_t(h)][k] = 1 + (boost[k] - 1) * float(lift[std::size_t(h)]);
        // The grain each pixel holds, by its own tone, and a block's the mean of its pixels' under
        // the window's square: a block across an edge between tones that hold little grain is not
        // smoothed as if it were of the middle tone it averages to.
        std::array<std::vector<double>, 2> grain_at;
        for (int32_t h = 0; h < count; ++h) {
            const GrainByTone grain(tone_power[std::size_t(h)], 1.0);
            const std::vector<double>& tones = (h == 0 ? first : *other).v;
            grain_at[std::size_t(h)].resize(tones.size());
            for (std::size_t i = 0; i < tones.size(); ++i) grain_at[std::size_t(h)][i] = grain.at(tones[i]);
            for (const auto& tone_level : tone_power[std::size_t(h)]) grid[std::size_t(h)].grain.push_back(grain.at(tone_level.first));
        }
        std::array<std::vector<Powers>, 2> gains;
        for (int32_t h = 0; h < count; ++h)
            gains[std::size_t(h)] = region_gains(grid[std::size_t(h)], grain_shape[std::size_t(h)], region_exponent(lift[std::size_t(h)]));
        Powers unity;
        unity.fill(1.0f);
        // Each block restored, added up under the window again, divided by the windows' sum.
        std::array<std::vector<double>, 2> sum{std::vector<double>(first.v.size()), std::vector<double>(count == 2 ? first.v.size() : 0)};
        std::vector<double> weight(first.v.size());
        std::array<std::vector<double>, 2> plain{std::vector<double>(first.v.size()), std::vector<double>(count == 2 ? first.v.size() : 0)};
        std::array<std::vector<double>, 2> kept = plain;
        for (int32_t y = 0; y + kB <= first.rows; y += kGrainStep)
            for (int32_t x = 0; x + kB <= first.cols; x += kGrainStep) {
                windowed(first, other, y, x, window, block, mean);
                // Both channels' sums in one pass, each in its own order.
                std::array<double, 2> noise{};
                const double* at0 = grain_at[0].data();
                const double* at1 = count == 2 ? grain_at[1].data() : at0;
                for (int32_t j = 0; j < kB; ++j)
                    for (int32_t i = 0; i < kB; ++i) {
                        const double s = squared[std::size_t(j) * kB + i];
                        const std::size_t to = std::size_t(y + j) * first.cols + std::size_t(x + i);
                        noise[0] += s * at0[to];
                        noise[1] += s * at1[to];
                    }
                for (int32_t h = 0; h < count; ++h) noise[std::size_t(h)] /= squared_sum;
                steady_powers(block, count, value, steady);
                // (the Wiener gain about the block: that about the grid's block that holds its centre)
                std::array<const Powers*, 2> about{};
                for (int32_t h = 0; h < count; ++h)
                    about[std::size_t(h)] = gains[std::size_t(h)].empty() ? &unity : &gains[std::size_t(h)][grid[0].holding(y, x)];
                std::array<float, 2> most{}, plains{};
                // (a block's grain as its samples' variance, the grain standing alike at every
                // frequency but for its shape)
                const std::array<double, 2> measured{noise[0] / squared_sum, noise[1] / squared_sum};
                std::array<double, 2> passed{};
                for (int32_t h = 0; h < count; ++h) {
                    const BlockStrength strength = block_strength(value[std::size_t(h)], high, noise[std::size_t(h)]);
                    noise[std::size_t(h)] *= strength.share;
                    most[std::size_t(h)] = float(1 + (strength.most - 1) * lift[std::size_t(h)]);
                    plains[std::size_t(h)] = float(strength.plain);
                }
                for (std::size_t k = 0; k < response.size(); ++k) {
                    const std::size_t j = k / kB, i = k % kB;
                    if (k == 0) {
                        restored.re[0][0] = block.re[0][0], restored.im[0][0] = block.im[0][0];
                        continue;
                    }
                    const std::array<std::complex<float>, 2> ab{value[0][k], value[1][k]};
                    std::array<float, 2> gain{};
                    for (int32_t h = 0; h < count; ++h) {
                        const float p = steady[std::size_t(h)][k], n = float(noise[std::size_t(h)]) * grain_shape[std::size_t(h)][k];
                        gain[std::size_t(h)] = p > n ? std::min((1 - n / p) * (*about[std::size_t(h)])[k] * lifted[std::size_t(h)][k], most[std::size_t(h)]) : 0.0f;
                        passed[std::size_t(h)] += double(gain[std::size_t(h)]) * gain[std::size_t(h)] * grain_shape[std::size_t(h)][k];
                    }
                    // a + i b
                    restored.re[j][i] = ab[0].real() * gain[0] - ab[1].imag() * gain[1];
                    restored.im[j][i] = ab[0].imag() * gain[0] + ab[1].real() * gain[1];
                }
                transform2(restored, true);
                // (the grain's variance the block lets through: its gains' squares, each under the
                // grain's shape, over the frequencies; the mean's whole)
                std::array<float, 2> keeps{};
                for (int32_t h = 0; h < count; ++h) keeps[std::size_t(h)] = float(measured[std::size_t(h)] * (passed[std::size_t(h)] + 1) / (kB * kB));
                for (int32_t j = 0; j < kB; ++j)
                    for (int32_t i = 0; i < kB; ++i) {
                        const std::size_t at = std::size_t(j) * kB + i, to = std::size_t(y + j) * first.cols + std::size_t(x + i);
                        const double w = window[at];
                        sum[0][to] += (restored.re[std::size_t(j)][std::size_t(i)] / (kB * kB) + mean[0] * w) * w;
                        if (count == 2) sum[1][to] += (restored.im[std::size_t(j)][std::size_t(i)] / (kB * kB) + mean[1] * w) * w;
                        weight[to] += w * w;
                        plain[0][to] += plains[0] * w * w;
                        if (count == 2) plain[1][to] += plains[1] * w * w;
                        kept[0][to] += keeps[0] * w * w;
                        if (count == 2) kept[1][to] += keeps[1] * w * w;
                    }
            }
        for (int32_t h = 0; h < count; ++h)
            for (int32_t y = 0; y < work.rows; ++y)
                for (int32_t x = 0; x < work.cols; ++x) {
                    const std::size_t at = std::size_t(y + kB) * first.cols + std::size_t(x + kB);
                    work.set<float>(y, x, c + h, float(sum[std::size_t(h)][at] / weight[at]));
                    plain_share[std::size_t(c + h)][std::size_t(y) * work.cols + x] = float(plain[std::size_t(h)][at] / weight[at]);
                    grain_left[std::size_t(c + h)][std::size_t(y) * work.cols + x] = float(kept[std::size_t(h)][at] / weight[at]);
                    ++changed;
                }
    }
    for (int32_t c = 0; c < 3; ++c) {
        smooth_grain_left(work, c, grain_left[std::size_t(c)], channel_lift[std::size_t(c)]);
        smooth_where_flat(work, c, kFoldedPeriod, kFoldedFlat, &plain_share[std::size_t(c)]);
    }
    return changed;
}

}  // namespace quen::cleaning
