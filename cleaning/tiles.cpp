// The frame's tiles and what they show of a wave at one frequency.
#include "tiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "products.h"

namespace quen::cleaning {
namespace {

// The median of a few values (the mean of the middle two of an even count).
double median_of(std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    const std::size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
}


// The products of one row of samples with nu rows of turns (their real parts in re, imaginary in
// im, cols apart), each in eight partial sums, one per lane of a vector (two SSE registers, one AVX
// one). The same sums are added in the same order with or without AVX2, so both give the same bits.
using Lanes = float __attribute__((vector_size(32)));

[[gnu::always_inline]] inline void row_dots(const float* v, const float* re, const float* im, int32_t cols, int nu,
                                            std::complex<double>* dot) {
    constexpr int32_t kLanes = 8;
    for (int k = 0; k < nu; ++k) {
        const float* cr = re + std::size_t(k) * cols;
        const float* ci = im + std::size_t(k) * cols;
        Lanes lr{}, li{};
        int32_t x = 0;
        for (; x + kLanes <= cols; x += kLanes) {
            Lanes samples, turn_re, turn_im;
            std::memcpy(&samples, v + x, sizeof samples);
            std::memcpy(&turn_re, cr + x, sizeof turn_re);
            std::memcpy(&turn_im, ci + x, sizeof turn_im);
            lr += samples * turn_re;
            li += samples * turn_im;
        }
        for (; x < cols; ++x) {
            lr[0] += v[x] * cr[x];
            li[0] += v[x] * ci[x];
        }
        double sr = 0, si = 0;
        for (int32_t j = 0; j < kLanes; ++j) {
            sr += lr[j];
            si += li[j];
        }
        dot[k] = {sr, si};
    }
}

void row_dots_base(const float* v, const float* re, const float* im, int32_t cols, int nu, std::complex<double>* dot) {
    row_dots(v, re, im, cols, nu, dot);
}

[[gnu::target("avx2")]] void row_dots_avx2(const float* v, const float* re, const float* im, int32_t cols, int nu,
                                           std::complex<double>* dot) {
    row_dots(v, re, im, cols, nu, dot);
}

double hann(int32_t i, int32_t n) { return 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (i + 0.5) / n); }

}  // namespace

Tiles::Tiles(const host::Image& picture, const Thresholds& t) : t_(t) {
    cut(picture);
    for (auto& plane : planes_) plane.resize(samples_);
    for (Block& b : blocks_) window(picture, b);
    for (std::size_t i = 0; i < blocks_.size(); ++i) all_.push_back(i);
    quiet_ = all_;
    std::sort(quiet_.begin(), quiet_.end(), [&](std::size_t a, std::size_t b) { return blocks_[a].busy < blocks_[b].busy; });
    quiet_.resize(quiet_.size() / 2);
}

// The tiles' blocks: kTiles x kTiles parts of the frame, each at most tile_side a side about its centre.
void Tiles::cut(const host::Image& picture) {
    const int32_t side = t_.tile_side;
    for (int32_t ty = 0; ty < kTiles; ++ty)
        for (int32_t tx = 0; tx < kTiles; ++tx) {
            Block b;
            b.y0 = ty * picture.rows / kTiles;
            b.x0 = tx * picture.cols / kTiles;
            b.rows = (ty + 1) * picture.rows / kTiles - b.y0;
            b.cols = (tx + 1) * picture.cols / kTiles - b.x0;
            if (b.rows > side) b.y0 += (b.rows - side) / 2, b.rows = side;
            if (b.cols > side) b.x0 += (b.cols - side) / 2, b.cols = side;
            b.first = samples_;
            samples_ += std::size_t(b.rows) * b.cols;
            blocks_.push_back(b);
        }
}

// The block's samples under its Hann window, less their windowed mean, into the planes; and how busy it is.
void Tiles::window(const host::Image& picture, Block& b) {
    std::vector<double> wx(static_cast<std::size_t>(b.cols)), wy(static_cast<std::size_t>(b.rows));
    for (int32_t x = 0; x < b.cols; ++x) wx[std::size_t(x)] = hann(x, b.cols);
    for (int32_t y = 0; y < b.rows; ++y) wy[std::size_t(y)] = hann(y, b.rows);
    double mean[kPlanes] = {};
    for (int32_t y = 0; y < b.rows; ++y)
        for (int32_t x = 0; x < b.cols; ++x) {
            const double w = wy[std::size_t(y)] * wx[std::size_t(x)];
            b.weight += w;
            for (int32_t c = 0; c < 3; ++c) mean[c + 1] += w * picture.get<float>(b.y0 + y, b.x0 + x, c);
        }
    for (int p = 1; p < kPlanes; ++p) mean[0] += mean[p] /= b.weight;
    for (int32_t y = 0; y < b.rows; ++y)
        for (int32_t x = 0; x < b.cols; ++x) {
            const std::size_t i = b.first + std::size_t(y) * b.cols + x;
            const double w = wy[std::size_t(y)] * wx[std::size_t(x)];
            double sum = 0;
            for (int32_t c = 0; c < 3; ++c) {
                const double v = picture.get<float>(b.y0 + y, b.x0 + x, c);
                sum += v;
                planes_[c + 1][i] = static_cast<float>(w * (v - mean[c + 1]));
            }
            planes_[0][i] = static_cast<float>(w * (sum - mean[0]));
            b.busy += double(planes_[0][i]) * planes_[0][i];
        }
    b.busy /= b.weight;
}


Tiles::Evidence Tiles::weigh(const Frequency& f, bool quick, int plane) const {
    Evidence e;
    std::complex<double> weighted = 0, judged = 0;
    double power = 0, weights = 0, judges = 0, judged_power = 0;
    for (std::size_t t : quick ? quiet_ : all_) {
        const Block& b = blocks_[t];
        // Long straight edges (a chart's boxes, a building) put a tile's detail on the axes of
        // its spectrum, and a row of like things (the pins of a connector) on lines across an
        // axis, where the usual ring of neighbours hardly reaches: a tile of such edges alone
        // looks quiet and outweighs the rest. Near one axis (and not so near the other that
        // the neighbours along one reach it), the tiles are also weighed by the largest of the
        // levels about f, the ring's, along the axis and across it, and the wave must show
        // both ways. Its amplitude is taken with the usual weights.
        const double bu = std::abs(f.u) * b.cols, bv = std::abs(f.v) * b.rows;  // in the tile's bins
        const bool near_axis = !quick && std::min(bu, bv) < t_.near_axis && std::max(bu, bv) >= t_.near_axis + t_.off_axis;
        const int nu = quick ? 1 : near_axis ? 5 : 3, nv = quick ? 7 : near_axis ? 5 : 3;
        std::complex<double> s[7][7];
        sums(plane, b, f, nu, nv, s);
        std::vector<double> ring, along_u, along_v;
        for (int l = 0; l < nv; ++l)
            for (int k = 0; k < nu; ++k) {
                if (!l && !k) continue;
                if (!near_axis || (l < 3 && k < 3)) ring.push_back(std::norm(s[l][k]));  // the usual ring
                if (near_axis && !l) along_u.push_back(std::norm(s[l][k]));
                if (near_axis && !k) along_v.push_back(std::norm(s[l][k]));
            }
        const double level = median_of(ring);
        const double inverse = std::numbers::ln2 / std::max(level, 1e-30);
        const double judge = near_axis ? std::numbers::ln2 / std::max({level, median_of(along_u), median_of(along_v), 1e-30})
                                       : inverse;
        e.tile[t] = s[0][0];
        e.inverse[t] = inverse;
        weighted += s[0][0] * inverse;
        weights += inverse;
        power += std::norm(s[0][0]) * inverse;
        judged += s[0][0] * judge;
        judges += judge;
        judged_power += std::norm(s[0][0]) * judge;
    }
    // Weighted either way, the tiles must show the wave.
    const double presence = std::norm(weighted) / weights, judged_presence = std::norm(judged) / judges;
    e.presence = std::min(presence, judged_presence);
    e.alike = std::min(power > 0 ? presence / power : 0, judged_power > 0 ? judged_presence / judged_power : 0);
    e.amplitude = weighted / weights;
    return e;
}

Frequency Tiles::steady(Frequency f) const {
    for (int round = 0; round < t_.steady_rounds; ++round) {
        const Evidence e = weigh(f);
        double sxx = 0, sxy = 0, syy = 0, sx = 0, sy = 0, sw = 0, rx = 0, ry = 0, r = 0;
        for (std::size_t t = 0; t < blocks_.size(); ++t) {
            const double w = std::norm(e.tile[t]) * e.inverse[t];
            const double x = blocks_[t].x0 + blocks_[t].cols / 2.0, y = blocks_[t].y0 + blocks_[t].rows / 2.0;
            const double phase = std::arg(e.tile[t] * std::conj(e.amplitude)) / (2 * std::numbers::pi);
            sw += w, sx += w * x, sy += w * y, sxx += w * x * x, sxy += w * x * y, syy += w * y * y;
            rx += w * x * phase, ry += w * y * phase, r += w * phase;
        }
        if (sw <= 0) break;
        // Centred sums: the common phase drops out.
        const double cxx = sxx - sx * sx / sw, cxy = sxy - sx * sy / sw, cyy = syy - sy * sy / sw;
        const double cx = rx - sx * r / sw, cy = ry - sy * r / sw, det = cxx * cyy - cxy * cxy;
        if (det <= 0) break;
        f.u += (cyy * cx - cxy * cy) / det;
        f.v += (cxx * cy - cxy * cx) / det;
    }
    return f;
}


double Tiles::lobe(const host::SpectrumGeometry& g) const {
    double reach = 0;
    for (const Block& b : blocks_) reach = std::max({reach, 2.0 * g.period_x / b.cols, 2.0 * g.rows / b.rows});
    return reach;
}


// The block's amplitudes of plane p at frequency f moved by the first nu of du along the
// columns (index k) and the first nv of dv along the rows (index l): s[l][k], s[0][0] at f.
void Tiles::sums(int p, const Block& b, const Frequency& f, int nu, int nv, std::complex<double> (&s)[7][7]) const {
    const double du[7] = {0, -2.0 / b.cols, 2.0 / b.cols, -3.0 / b.cols, 3.0 / b.cols, -4.0 / b.cols, 4.0 / b.cols};
    const double dv[7] = {0, -2.0 / b.rows, 2.0 / b.rows, -3.0 / b.rows, 3.0 / b.rows, -4.0 / b.rows, 4.0 / b.rows};
    std::vector<float> re(std::size_t(nu) * b.cols), im(std::size_t(nu) * b.cols);
    std::complex<double> row[7], down[7];  // each row's turn, and the turn from one row to the next
    for (int l = 0; l < nv; ++l) {
        row[l] = std::polar(1.0 / b.weight, -2 * std::numbers::pi * (f.v + dv[l]) * b.y0);
        down[l] = std::polar(1.0, -2 * std::numbers::pi * (f.v + dv[l]));
    }
    for (int k = 0; k < nu; ++k) {
        const std::complex<double> step = std::polar(1.0, -2 * std::numbers::pi * (f.u + du[k]));
        std::complex<double> e = std::polar(1.0, -2 * std::numbers::pi * (f.u + du[k]) * b.x0);
        for (int32_t x = 0; x < b.cols; ++x, e = times(e, step)) {
            re[std::size_t(k) * b.cols + x] = static_cast<float>(e.real());
            im[std::size_t(k) * b.cols + x] = static_cast<float>(e.imag());
        }
    }
    for (auto& line : s) std::fill(std::begin(line), std::end(line), 0.0);
    const auto dots = __builtin_cpu_supports("avx2") ? row_dots_avx2 : row_dots_base;
    for (int32_t y = 0; y < b.rows; ++y) {
        std::complex<double> dot[7];
        dots(&planes_[p][b.first + std::size_t(y) * b.cols], re.data(), im.data(), b.cols, nu, dot);
        for (int k = 0; k < nu; ++k)
            for (int l = 0; l < nv; ++l) s[l][k] += times(dot[k], row[l]);
        for (int l = 0; l < nv; ++l) row[l] = times(row[l], down[l]);
    }
}
}  // namespace quen::cleaning
