// The cleaning pipeline around the filter modules.
#include "clean.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <future>
#include <limits>
#include <numbers>
#include <optional>
#include <string>

#include "descreen.h"
#include "half_width.h"
#include "run.h"

namespace quen::cleaning {
namespace {


host::Image run_module(const host::ModuleLibrary& module, host::Image image, const char* what) {
    host::RunResult run;
    try {
        run = host::run_filter(module, std::move(image));
    } catch (const host::ProtocolError& e) {
        throw CleanError(std::string(what) + " filter: " + e.what());
    }
    if (run.result != 0)
        throw CleanError(std::string(what) + " filter failed with result code " + std::to_string(run.result) +
                         (run.result == -108 ? " (not enough memory)" : ""));
    return std::move(run.image);
}

// Planes 0..2 in units of full scale as 32-bit floats.
host::Image to_float(const host::Image& picture) {
    host::Image f = host::Image::make(picture.rows, picture.cols, 3, 32);
    const double full = host::Image::full_scale(picture.depth);
    for (int32_t y = 0; y < picture.rows; ++y)
        for (int32_t x = 0; x < picture.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) f.set<float>(y, x, c, static_cast<float>(picture.value(y, x, c) / full));
    return f;
}

// The float half spectrum read as complex values divided by the samples transformed, so that a
// frequency on a sample carries its complex amplitude. Magnitude sample s holds
// log10(count x |value|) / log10(count); phase sample p holds arg / (2 pi) + 1/2.
class ComplexHalf {
public:
    ComplexHalf(const host::Image& spectrum, const host::SpectrumGeometry& g)
        : im_(spectrum), g_(g), log_count_(std::log10(g.sample_count())) {}
    // Channel c, or the sum of the three for c = -1.
    std::complex<double> get(int32_t c, int32_t y, int32_t x) const {
        if (c < 0) return get(0, y, x) + get(1, y, x) + get(2, y, x);
        const double m = std::pow(10.0, (im_.get<float>(y, x, c) - 1) * log_count_);
        return std::polar(m, (im_.get<float>(y, g_.columns + x, c) - 0.5) * 2 * std::numbers::pi);
    }

private:
    const host::Image& im_;
    const host::SpectrumGeometry& g_;
    double log_count_;
};

// Spectrum over n samples of a complex exponential delta samples off, divided by n.
std::complex<double> dirichlet(double delta, int32_t n) {
    const double s = std::sin(std::numbers::pi * delta / n);
    if (std::fabs(s) < 1e-12) return 1;
    return std::polar(std::sin(std::numbers::pi * delta) / (n * s), -std::numbers::pi * delta * (n - 1) / n);
}

// A sinusoid between samples: column a and row b of its frequency in the half spectrum's sample
// coordinates. The real wave holds the mirrored frequency too, with the conjugate amplitude, whose
// leakage reaches the first columns when the frequency lies near the vertical axis.
struct Tone {
    double a = 0, b = 0;
};

constexpr int32_t kFitReach = 2;       // the fit looks at (2 x 2 + 1)^2 samples about the peak
constexpr double kFitExplains = 0.5;   // a fit must leave at most this share of the energy, or
constexpr double kFitNatural = 2;      // ... no more than this many times what the picture puts there

struct Fit {
    std::complex<double> amplitude;
    double left = 0;   // energy the tone leaves in the samples fitted
    double total = 0;  // their energy
};

// The samples of channel c (-1: the sum of the three) about (y0, x0) that a fit looks at, read
// once for the many frequencies tried.
struct Window {
    static constexpr int32_t kSide = 2 * kFitReach + 1;
    int32_t y0 = 0, x0 = 0;
    std::complex<double> v[kSide][kSide] = {};
    bool in[kSide][kSide] = {};
    Window(const ComplexHalf& z, const host::SpectrumGeometry& g, int32_t c, int32_t y, int32_t x) : y0(y), x0(x) {
        for (int32_t i = 0; i < kSide; ++i)
            for (int32_t j = 0; j < kSide; ++j) {
                const int32_t sy = y0 - kFitReach + i, sx = x0 - kFitReach + j;
                in[i][j] = sy >= 0 && sy < g.rows && sx >= 0 && sx < g.columns;
                if (in[i][j]) v[i][j] = z.get(c, sy, sx);
            }
    }
};

// Least-squares amplitude of the tone over the window's samples. With the mirrored term the
// model A k + conj(A) l is linear in the real and imaginary parts of A only. The shapes are
// products of a row and a column factor, worked out once a row and a column.
Fit fit_amplitude(const Window& w, const host::SpectrumGeometry& g, const Tone& t) {
    const bool mirrored = t.a < 2 * kFitReach + 1;
    std::complex<double> kx[Window::kSide], ky[Window::kSide], lx[Window::kSide], ly[Window::kSide];
    for (int32_t i = 0; i < Window::kSide; ++i) {
        const int32_t x = w.x0 - kFitReach + i, y = w.y0 - kFitReach + i;
        kx[i] = dirichlet(x - t.a, g.period_x);
        ky[i] = dirichlet(y - t.b, g.rows);
        lx[i] = mirrored ? dirichlet(x + t.a, g.period_x) : 0.0;
        ly[i] = mirrored ? dirichlet(y - (2 * g.centre_y - t.b), g.rows) : 0.0;
    }
    double g11 = 0, g12 = 0, g22 = 0, r1 = 0, r2 = 0, xx = 0;
    for (int32_t i = 0; i < Window::kSide; ++i)
        for (int32_t j = 0; j < Window::kSide; ++j) {
            if (!w.in[i][j]) continue;
            const std::complex<double> v = w.v[i][j], k = kx[j] * ky[i], l = lx[j] * ly[i];
            const std::complex<double> e1 = k + l, e2 = std::complex<double>(0, 1) * (k - l);
            g11 += std::norm(e1);
            g22 += std::norm(e2);
            g12 += std::real(e1 * std::conj(e2));
            r1 += std::real(v * std::conj(e1));
            r2 += std::real(v * std::conj(e2));
            xx += std::norm(v);
        }
    const double det = g11 * g22 - g12 * g12;
    if (det <= 0 || xx == 0) return {0, xx, xx};
    const double p = (g22 * r1 - g12 * r2) / det, q = (g11 * r2 - g12 * r1) / det;
    return {{p, q}, std::max(0.0, xx - p * r1 - q * r2), xx};
}

// The energy a natural picture is expected to put in the samples fitted about (y0, x0), channel
// c: a magnitude squared is about exponential, with the background as its median.
double natural_energy(const Detection& d, const host::SpectrumGeometry& g, int32_t c, int32_t y0, int32_t x0) {
    double sum = 0;
    for (int32_t y = std::max(0, y0 - kFitReach); y <= std::min(g.rows - 1, y0 + kFitReach); ++y)
        for (int32_t x = std::max(0, x0 - kFitReach); x <= std::min(g.columns - 1, x0 + kFitReach); ++x)
            sum += std::pow(10.0, 2.0 * d.background[(std::size_t(c) * g.rows + y) * g.columns + x]);
    return sum / std::numbers::ln2;
}

// Fits a tone to the peak at (y0, x0) of channel c (-1: the sum of the three), searching the
// frequency within half a sample of it.
Fit fit_tone(const ComplexHalf& z, const host::SpectrumGeometry& g, int32_t c, int32_t y0, int32_t x0, Tone& best) {
    const Window w(z, g, c, y0, x0);
    Fit fit{0, HUGE_VAL, 0};
    best = Tone{double(x0), double(y0)};
    for (double step : {0.05, 0.005}) {
        const Tone centre = best;
        for (int i = -10; i <= 10; ++i)
            for (int j = -10; j <= 10; ++j) {
                const Tone t{centre.a + i * step, centre.b + j * step};
                if (t.a < 0) continue;
                const Fit f = fit_amplitude(w, g, t);
                if (f.left < fit.left) {
                    fit = f;
                    best = t;
                }
            }
    }
    return fit;
}

// Whether the fit explains the peak at (y0, x0) of channel c.
bool explains(const Fit& fit, const Detection& d, const host::SpectrumGeometry& g, int32_t c, int32_t y0, int32_t x0) {
    return fit.left <= std::max(kFitExplains * fit.total, kFitNatural * natural_energy(d, g, c, y0, x0));
}

// A fitted sinusoid: the frequency in cycles per pixel and each channel's complex amplitude.
struct FittedTone {
    Frequency f;
    std::complex<double> amplitude[3];
};

FittedTone fitted_tone(const ComplexHalf& z, const host::SpectrumGeometry& g, const Tone& t, int32_t y0, int32_t x0) {
    FittedTone tone{frequency_of(g, t.b, t.a), {}};
    for (int32_t c = 0; c < 3; ++c) tone.amplitude[c] = fit_amplitude(Window(z, g, c, y0, x0), g, t).amplitude;
    return tone;
}

// Takes the sinusoids out of a float picture (planes 0..2, in units of full scale). The half
// spectrum of the row-signed channel holds amplitude A at frequency (u, v) for the wave
// 2 Re(A exp(2 pi i (u x + v y))) of the picture: the whole wave, leakage and all, goes at once.
// Along a row that wave is a complex factor times exp(2 pi i u x), worked out once per tone, so
// the waves are summed row by row over contiguous buffers and subtracted once: a few operations
// per sample and tone, where a picture with a hundred tones would otherwise take minutes.
void subtract_tones(host::Image& picture, const std::vector<FittedTone>& tones) {
    constexpr std::size_t kBatch = 64;  // tones summed per pass over the picture
    const std::size_t cols = static_cast<std::size_t>(picture.cols);
    std::vector<double> cos_x(kBatch * cols), sin_x(kBatch * cols), sum(3 * cols);
    for (std::size_t first = 0; first < tones.size(); first += kBatch) {
        const std::size_t count = std::min(kBatch, tones.size() - first);
        for (std::size_t t = 0; t < count; ++t)
            for (std::size_t x = 0; x < cols; ++x) {
                const std::complex<double> w = std::polar(1.0, 2 * std::numbers::pi * tones[first + t].f.u * double(x));
                cos_x[t * cols + x] = w.real();
                sin_x[t * cols + x] = w.imag();
            }
        for (int32_t y = 0; y < picture.rows; ++y) {
            std::fill(sum.begin(), sum.end(), 0.0);
            for (std::size_t t = 0; t < count; ++t) {
                const FittedTone& tone = tones[first + t];
                const std::complex<double> row = std::polar(1.0, 2 * std::numbers::pi * tone.f.v * y);
                const double* re = &cos_x[t * cols];
                const double* im = &sin_x[t * cols];
                for (int32_t c = 0; c < 3; ++c) {
                    const std::complex<double> b = 2.0 * tone.amplitude[c] * row;  // 2 Re(b (re + i im))
                    double* s = &sum[static_cast<std::size_t>(c) * cols];
                    for (std::size_t x = 0; x < cols; ++x) s[x] += b.real() * re[x] - b.imag() * im[x];
                }
            }
            for (int32_t x = 0; x < picture.cols; ++x)
                for (int32_t c = 0; c < 3; ++c)
                    picture.set<float>(y, x, c, static_cast<float>(picture.get<float>(y, x, c) -
                                                                   sum[static_cast<std::size_t>(c) * cols + x]));
        }
    }
}

constexpr double kFrameWide = 0.2;  // the weakest quarter of the frame holds this share of the strongest's
constexpr double kScreenCells = 24;     // periods of a screen along the picture's shorter side, at least
constexpr double kScreenSide = 128;     // pixels of a printed picture's shorter side, at least (an icon is not)
constexpr double kScreenOffAxis = 5;    // degrees between a screen's frequencies and the axes, at least
constexpr double kScreenAlike = 1.5;    // ratio of the stronger of a screen's two frequencies to the weaker, at most
constexpr double kCompact = 3;      // peaks this small (radius in samples) must run across the frame

// Whether the waves of frequency (u, v) run across the whole picture, as interference does, rather
// than through a part of it, as a picture's own pattern (a fence, a fabric) does: their amplitude in
// each quarter of the frame, channel c.
bool across_the_frame(const host::Image& picture, int32_t c, const Frequency& f) {
    double amplitude[2][2];
    const int32_t half_rows = picture.rows / 2, half_cols = picture.cols / 2;
    for (int32_t qy = 0; qy < 2; ++qy)
        for (int32_t qx = 0; qx < 2; ++qx) {
            std::complex<double> sum = 0;
            const int32_t y0 = qy * half_rows, y1 = qy ? picture.rows : half_rows;
            const int32_t x0 = qx * half_cols, x1 = qx ? picture.cols : half_cols;
            const std::complex<double> step = std::polar(1.0, -2 * std::numbers::pi * f.u);
            for (int32_t y = y0; y < y1; ++y) {
                std::complex<double> w = std::polar(1.0, -2 * std::numbers::pi * (f.u * x0 + f.v * y));
                for (int32_t x = x0; x < x1; ++x, w *= step) sum += picture.value(y, x, c) * w;
            }
            amplitude[qy][qx] = std::abs(sum) / (double(y1 - y0) * (x1 - x0));
        }
    const double lo = std::min({amplitude[0][0], amplitude[0][1], amplitude[1][0], amplitude[1][1]});
    const double hi = std::max({amplitude[0][0], amplitude[0][1], amplitude[1][0], amplitude[1][1]});
    return lo >= kFrameWide * hi;
}

// Whether the picture can hold no wave across the frame. At black or white a wave shows half the
// time: one of `weakest` (full scale 1) leaves a sample there at most 1/2 + asin(half a level /
// its amplitude) / pi of the time, 61 % for the weakest taken out at 8 bits. A picture with a
// tenth more of its samples there (a barcode, a QR code, line art, a page of text: black and white
// but for the antialiased edges) holds none.
// Whether a sample value lies at either end of the range, where a wave shows only half the time.
bool at_either_end(double v, double full) { return v <= 0 || v >= full; }

bool mostly_pinned(const host::Image& picture, double weakest) {
    const double full = host::Image::full_scale(picture.depth);
    const double levels = picture.depth == 32 ? HUGE_VAL : weakest * full;
    const double most = 0.6 + std::asin(std::min(1.0, 0.5 / levels)) / std::numbers::pi;
    int64_t pinned = 0;
    for (int32_t y = 0; y < picture.rows; ++y)
        for (int32_t x = 0; x < picture.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) pinned += at_either_end(picture.value(y, x, c), full);
    return pinned >= most * 3 * double(picture.rows) * picture.cols;
}

// The side of the largest square of the picture whose samples are all alike (a figure's margin, a
// flat panel of a drawing). A wave across the whole frame, as strong as the weakest taken out,
// changes the samples of any square a period wide, so a picture holding such a square holds no
// such wave of that period or shorter: what repeats there is the picture's own (a figure's
// panels laid out at a steady spacing). Photographs hold none: their grain alone varies every
// sample. At either end of the range a wave shows only half the time: over a highlight pinned
// at white, waves leave flat patches up to about half the longest one's period wide, so such a
// square counts only when it is wider than twice the longest period cleaned (`longest`).
int32_t largest_flat_square(const host::Image& picture, double longest) {
    std::vector<int32_t> above(std::size_t(picture.cols), 0), here(std::size_t(picture.cols), 0);
    const double full = host::Image::full_scale(picture.depth);
    const auto same = [&](int32_t y0, int32_t x0, int32_t y1, int32_t x1) {
        for (int32_t c = 0; c < 3; ++c)
            if (picture.value(y0, x0, c) != picture.value(y1, x1, c)) return false;
        return true;
    };
    int32_t free = 0, pinned = 0;
    for (int32_t y = 0; y < picture.rows; ++y) {
        for (int32_t x = 0; x < picture.cols; ++x) {
            const std::size_t i = std::size_t(x);
            here[i] = y > 0 && x > 0 && same(y, x, y - 1, x) && same(y, x, y, x - 1) && same(y, x, y - 1, x - 1)
                          ? std::min({above[i], here[i - 1], above[i - 1]}) + 1
                          : 1;
            if (here[i] <= std::min(free, pinned)) continue;
            bool at_end = false;
            for (int32_t c = 0; c < 3; ++c) at_end = at_end || at_either_end(picture.value(y, x, c), full);
            int32_t& largest = at_end ? pinned : free;
            largest = std::max(largest, here[i]);
        }
        std::swap(above, here);
    }
    return std::max(free, pinned > 2 * longest ? pinned : 0);
}

// Whether the picture's flattest square refutes a wave of frequency f across the frame.
bool flat_refutes(int32_t flat_side, const Frequency& f) { return 1 / std::hypot(f.u, f.v) <= flat_side; }

// Weak waves, too faint to stand out of the picture's own scatter at their frequency, still run
// across the whole frame with one amplitude and phase, where a picture's own detail at a frequency
// comes and goes with its content. The frame is cut into tiles; each tile's complex amplitude at
// the frequency (under a Hann window, less the tile's mean, phase referred to the frame's origin)
// is judged against that tile's own level there, from its amplitudes at eight frequencies two
// bins of the tile away, where the window's main lobe ends (their median, so that a neighbouring
// peak does not count). Weighting each
// tile by the inverse of its level, quiet tiles (a sky, a wall) carry the evidence; busy ones
// (foliage, fur) hardly count. Two numbers come out: the presence, the weighted amplitude's power
// over its spread if the tiles held nothing but their own detail (about exponential with mean 1
// then), and how alike the tiles are, the share of the weighted power that one amplitude for all
// explains (1 for a wave alone; detail confined to a few tiles gives little).
constexpr int32_t kTiles = 4;           // the frame is cut into kTiles x kTiles tiles
constexpr int32_t kTileSide = 256;      // of a larger tile, the centred block of this side is looked at
constexpr double kWavePresence = 30;    // presence a weak wave must show (the photographs' own: 16 at most)
constexpr double kWaveAlike = 0.5;      // ... and the share of it one amplitude must explain
constexpr double kTonePresence = 6;     // presence a peak's fitted sinusoid must show (once in 400 by chance)
constexpr double kToneAlike = 0.25;     // ... and the share of it one amplitude explains (lines of text: 0.02)
constexpr double kNearAxis = 3;         // bins of a tile from an axis within which a frequency is near it

class Tiles {
public:
    // Planes: the sum of the three channels, then each channel.
    static constexpr int kPlanes = 4;

    explicit Tiles(const host::Image& picture) {
        for (int32_t ty = 0; ty < kTiles; ++ty)
            for (int32_t tx = 0; tx < kTiles; ++tx) {
                Block b;
                b.y0 = ty * picture.rows / kTiles;
                b.x0 = tx * picture.cols / kTiles;
                b.rows = (ty + 1) * picture.rows / kTiles - b.y0;
                b.cols = (tx + 1) * picture.cols / kTiles - b.x0;
                if (b.rows > kTileSide) b.y0 += (b.rows - kTileSide) / 2, b.rows = kTileSide;
                if (b.cols > kTileSide) b.x0 += (b.cols - kTileSide) / 2, b.cols = kTileSide;
                b.first = samples_;
                samples_ += std::size_t(b.rows) * b.cols;
                blocks_.push_back(b);
            }
        for (auto& plane : planes_) plane.resize(samples_);
        for (Block& b : blocks_) {
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
        for (std::size_t t = 0; t < blocks_.size(); ++t) all_.push_back(t);
        quiet_ = all_;
        std::sort(quiet_.begin(), quiet_.end(), [&](std::size_t a, std::size_t b) { return blocks_[a].busy < blocks_[b].busy; });
        quiet_.resize(quiet_.size() / 2);
    }

    struct Evidence {
        double presence = 0, alike = 0;
        std::complex<double> amplitude;  // the tiles' amplitudes, each weighted by the inverse of its level
        std::complex<double> tile[kTiles * kTiles];  // each tile's amplitude
        double inverse[kTiles * kTiles] = {};        // ... and the inverse of its level (0: not looked at)
    };

    // The evidence at frequency f. A quick look takes the quieter half of the tiles only (they
    // carry most of it), and each one's level from frequencies moved along the rows only, which
    // costs one pass over its samples instead of three.
    Evidence weigh(const Frequency& f, bool quick = false, int plane = 0) const {
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
            const bool near_axis = !quick && std::min(bu, bv) < kNearAxis && std::max(bu, bv) >= kNearAxis + 3;
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

    // The frequency whose phase the tiles hold best about f: a wave off by d turns in each tile
    // by 2 pi d times the tile's place, so the tiles' phases about their weighted mean, fitted as
    // a plane over the tiles' centres (each weighted by its amplitude's power over its level),
    // give the step to take. A few steps, each from the tiles at the frequency reached.
    Frequency steady(Frequency f) const {
        for (int round = 0; round < 3; ++round) {
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

    // How far (in samples of spectrum g) a tile's main lobe reaches from its frequency.
    double lobe(const host::SpectrumGeometry& g) const {
        double reach = 0;
        for (const Block& b : blocks_) reach = std::max({reach, 2.0 * g.period_x / b.cols, 2.0 * g.rows / b.rows});
        return reach;
    }

private:
    struct Block {
        int32_t y0 = 0, x0 = 0, rows = 0, cols = 0;
        std::size_t first = 0;  // its samples' place in the planes
        double weight = 0;      // the window's sum
        double busy = 0;        // the power of its detail (the sum of the channels), per unit of window
    };

    // The median of a few values (the mean of the middle two of an even count).
    static double median_of(std::vector<double>& v) {
        std::sort(v.begin(), v.end());
        const std::size_t h = v.size() / 2;
        return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
    }

    static double hann(int32_t i, int32_t n) { return 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (i + 0.5) / n); }

    // The block's amplitudes of plane p at frequency f moved by the first nu of du along the
    // columns (index k) and the first nv of dv along the rows (index l): s[l][k], s[0][0] at f.
    void sums(int p, const Block& b, const Frequency& f, int nu, int nv, std::complex<double> (&s)[7][7]) const {
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
            for (int32_t x = 0; x < b.cols; ++x, e *= step) {
                re[std::size_t(k) * b.cols + x] = static_cast<float>(e.real());
                im[std::size_t(k) * b.cols + x] = static_cast<float>(e.imag());
            }
        }
        for (auto& line : s) std::fill(std::begin(line), std::end(line), 0.0);
        constexpr int32_t kLanes = 8;  // partial sums the compiler keeps in vector registers
        for (int32_t y = 0; y < b.rows; ++y) {
            const float* v = &planes_[p][b.first + std::size_t(y) * b.cols];
            for (int k = 0; k < nu; ++k) {
                const float* cr = &re[std::size_t(k) * b.cols];
                const float* ci = &im[std::size_t(k) * b.cols];
                float lr[kLanes] = {}, li[kLanes] = {};
                int32_t x = 0;
                for (; x + kLanes <= b.cols; x += kLanes)
                    for (int32_t j = 0; j < kLanes; ++j) {
                        lr[j] += v[x + j] * cr[x + j];
                        li[j] += v[x + j] * ci[x + j];
                    }
                for (; x < b.cols; ++x) {
                    lr[0] += v[x] * cr[x];
                    li[0] += v[x] * ci[x];
                }
                double sr = 0, si = 0;
                for (int32_t j = 0; j < kLanes; ++j) {
                    sr += lr[j];
                    si += li[j];
                }
                for (int l = 0; l < nv; ++l) s[l][k] += std::complex<double>(sr, si) * row[l];
            }
            for (int l = 0; l < nv; ++l) row[l] *= down[l];
        }
    }

    std::vector<Block> blocks_;
    std::vector<std::size_t> all_, quiet_;  // blocks: all, and the quieter half
    std::size_t samples_ = 0;
    std::vector<float> planes_[kPlanes];
};

// The tiles of a picture, cut at the first question: a pass that asks none pays nothing, and the
// questions of one pass share one cut.
struct LazyTiles {
    const host::Image& picture;
    std::optional<Tiles> tiles;
    const Tiles& get() {
        if (!tiles) tiles.emplace(picture);
        return *tiles;
    }
};

// Scan lines and streaks: every k-th row (or column), or a few rows of every k, darker or
// lighter than the rest. Such a pattern leaves peaks on the vertical (horizontal) axis at
// multiples of 1/k, each a copy of the picture's spectrum; notches there take only the copies'
// centres. Its own model takes it out whole: a gain for each of the k classes of rows.
constexpr int32_t kLongestLinePeriod = 32;  // rows (columns) per period of a line pattern, at most
constexpr double kLineTolerance = 1.5;      // samples between a peak and the multiple of 1/k it stands for
constexpr double kLineSignificance = 8;     // a class's gain must stand this many standard errors from 1
constexpr double kLineSmallest = 0.005;     // ... and differ from 1 by this much
constexpr double kLineStrongest = 0.5;      // log gain of a class beyond which its lines are drawn (a table's rules)
constexpr double kLineSpread = 1.1;         // a period's gains may leave this much more spread than the best
constexpr int32_t kLinesPerClass = 8;       // lines of each class at least, for a fair comparison
constexpr double kLineAlike = 0.5;          // share of the lines' gains their samples must bear out
constexpr int kLineAttempts = 3;            // periods tried along one axis, at most
constexpr int32_t kLineParts = 4;           // parts of the lines whose samples must each bear out the gains

// The frequency of a peak along one axis, in cycles per pixel, or -1 when the peak is off that
// axis. Rows: the vertical axis, where patterns along the rows show.
double along_axis(const Peak& p, const host::SpectrumGeometry& g, bool rows) {
    const Frequency f = frequency_of(g, p.row, p.column);
    if (rows) return std::fabs(p.column - g.centre_x) <= 1 ? std::fabs(f.v) : -1;
    return std::fabs(p.row - g.centre_y) <= 1 ? std::fabs(f.u) : -1;
}

// Whether peak p lies on the axis at a multiple of 1/k cycles per pixel, within the tolerance.
bool harmonic_of(const Peak& p, int32_t k, const host::SpectrumGeometry& g, bool rows) {
    const double f = along_axis(p, g, rows);
    const double j = std::round(f * k);
    return j >= 1 && std::fabs(f - j / k) * (rows ? g.rows : g.period_x) <= kLineTolerance;
}

// The period k of the line pattern that the peaks on one axis stand for (the smallest that
// explains the most of them), or 0.
int32_t line_period(const std::vector<Peak>& peaks, const host::SpectrumGeometry& g, bool rows) {
    int32_t best = 0, best_count = 0;
    for (int32_t k = 2; k <= kLongestLinePeriod; ++k) {
        int32_t count = 0;
        for (const Peak& p : peaks) count += harmonic_of(p, k, g, rows);
        if (count > best_count) {
            best = k;
            best_count = count;
        }
    }
    return best;
}

// Things a picture repeats at a steady spacing along one axis (a chart's categories, a fence, a
// row of windows, lines of text) put a comb of peaks on the other axis: many harmonics of one
// frequency, where interference puts one or two. Of a line pattern's combs, the lines' gains
// decide (above); any other comb that makes most of an axis's peaks, or holds half their power, is
// the picture's own, and its peaks are left alone. The fundamental is the one whose harmonics hold
// the most peaks beyond what chance would put within the tolerance of them.
constexpr int32_t kCombPeaks = 4;         // peaks a comb takes at least
constexpr double kCombShare = 2.0 / 3;    // ... and the share of the axis's peaks
constexpr double kCombPowerShare = 0.5;   // ... or the share of their power
constexpr double kCombFundamental = 8;    // samples from the zero frequency to its fundamental, at least
constexpr double kCombTolerance = 0.75;   // samples between a peak and the harmonic it stands for, at most
constexpr double kCombSideband = 8;       // samples off the axis at which a peak on a harmonic still belongs to the comb

// Whether a (samples from the zero frequency) lies within the tolerance of a multiple of f0.
bool near_multiple(double a, double f0) { return std::fabs(a - std::round(a / f0) * f0) <= kCombTolerance; }
// ... and is one of its harmonics, the fundamental included.
bool in_comb(double a, double f0) { return a >= f0 - kCombTolerance && near_multiple(a, f0); }

// A peak's place in samples from the zero frequency: along one axis (rows: the vertical one) and
// off it.
struct AxisPlace {
    double along, off;
};
AxisPlace place_of(const Peak& p, const host::SpectrumGeometry& g, bool rows) {
    const double dy = std::fabs(p.row - g.centre_y), dx = std::fabs(p.column - g.centre_x);
    return rows ? AxisPlace{dy, dx} : AxisPlace{dx, dy};
}

// The fundamental (samples, at least kCombFundamental, at most half the length) whose harmonics
// hold the most of the places `at` beyond what chance would put within the tolerance of them, and
// how many they hold; 0 when none holds more than chance.
double comb_fundamental(const std::vector<double>& at, double length, int32_t& taken) {
    double best = 0, score = 0;
    taken = 0;
    for (double f0 = kCombFundamental; f0 <= length / 2; f0 += 0.05) {
        int32_t count = 0;
        for (double a : at) count += in_comb(a, f0);
        const double beyond = count - double(at.size()) * std::min(1.0, 2 * kCombTolerance / f0);
        if (beyond > score) best = f0, score = beyond, taken = count;
    }
    return best;
}

// The fundamental that fits the harmonics of f0 among the places best, for a grid's far harmonics
// to fall on peaks.
double fit_fundamental(const std::vector<double>& at, double f0) {
    double num = 0, den = 0;
    for (double a : at)
        if (in_comb(a, f0)) {
            const double j = std::round(a / f0);
            num += a * j;
            den += j * j;
        }
    return num / den;
}

// Returns the comb's fundamental in samples, 0 when none.
double leave_combs_alone(const Detection& d, const host::SpectrumGeometry& g, bool rows, std::vector<uint8_t>& done) {
    const double length = rows ? g.rows : g.period_x;  // samples per cycle per pixel
    std::vector<const Peak*> axis;
    std::vector<double> at;  // in samples from the zero frequency
    for (const Peak& p : d.peaks) {
        const double f = along_axis(p, g, rows);
        if (f > 0 && !done[static_cast<std::size_t>(p.group)]) {
            axis.push_back(&p);
            at.push_back(f * length);
        }
    }
    if (axis.size() < std::size_t(kCombPeaks)) return 0;
    int32_t taken = 0;
    double best = comb_fundamental(at, length, taken);
    // Most of the axis's peaks, or half their power: the columns of a chart whose bars vary in
    // height scatter weak peaks along the axis between the harmonics.
    double power = 0, comb_power = 0;
    for (std::size_t i = 0; i < axis.size(); ++i) {
        const double a2 = axis[i]->amplitude * axis[i]->amplitude;
        power += a2;
        if (in_comb(at[i], best)) comb_power += a2;
    }
    if (taken < kCombPeaks || (taken < kCombShare * double(at.size()) && comb_power < kCombPowerShare * power)) return 0;
    best = fit_fundamental(at, best);
    // The comb's peaks, and their sidebands just off the axis: things of different heights (a
    // chart's bars) spread each harmonic a few samples across it, and so do rows of text whose
    // characters come and go along them (a terminal's).
    for (const Peak& p : d.peaks) {
        const AxisPlace q = place_of(p, g, rows);
        if (q.off <= kCombSideband && in_comb(q.along, best)) done[static_cast<std::size_t>(p.group)] = 1;
    }
    return best;
}

// A grid of things repeated along both axes (a table's cells, tiles, a wallpaper) puts a comb on
// each axis and its peaks on the lattice the two combs' fundamentals (samples) span.
struct Grid {
    double across = 0, down = 0;  // 0: no grid
    bool holds(const host::SpectrumGeometry& g, int32_t row, int32_t column) const {
        return across > 0 && down > 0 && near_multiple(std::fabs(column - g.centre_x), across) &&
               near_multiple(std::fabs(row - g.centre_y), down);
    }
};

// The grid's peaks off the axes are left alone too, when it holds a comb's worth of them; otherwise
// the grid is dropped. With a comb on one axis only (rows of text whose characters' columns leave
// nothing on the other axis, a terminal's), the other fundamental is looked for among the peaks off
// the axes at the comb's harmonics: most of them must lie on harmonics of one.
void leave_grid_alone(const Detection& d, const host::SpectrumGeometry& g, Grid& grid, std::vector<uint8_t>& done) {
    if ((grid.down > 0) != (grid.across > 0)) {
        const bool rows = grid.down > 0;  // the comb's axis: the vertical one
        const double f0 = rows ? grid.down : grid.across;
        std::vector<double> at;  // the places along the other axis, in samples from the zero frequency
        for (const Peak& p : d.peaks) {
            const AxisPlace q = place_of(p, g, rows);
            if (!done[static_cast<std::size_t>(p.group)] && q.off > kCombSideband && in_comb(q.along, f0)) at.push_back(q.off);
        }
        int32_t taken = 0;
        const double other = at.size() < std::size_t(kCombPeaks) ? 0 : comb_fundamental(at, rows ? g.period_x : g.rows, taken);
        if (taken >= kCombPeaks && taken >= kCombShare * double(at.size()))
            (rows ? grid.across : grid.down) = fit_fundamental(at, other);
    }
    std::vector<int32_t> groups;
    for (const Peak& p : d.peaks)
        if (!done[static_cast<std::size_t>(p.group)] && grid.holds(g, p.row, p.column)) groups.push_back(p.group);
    if (groups.size() < std::size_t(kCombPeaks)) {
        grid = {};
        return;
    }
    for (int32_t group : groups) done[static_cast<std::size_t>(group)] = 1;
}

// Judges candidates as weak waves: the peaks of detection d that the quarters of the frame took
// for the picture's own (`own`, by group), then its faint candidates off the grid, strongest first. Each is
// weighed at its frequency from a fit of one tone to the sum of the channels about it; those that
// the tiles show present and alike join the tones to take out, at the frequency whose phase the
// tiles hold best, each channel's amplitude from the tiles. A candidate within a tile's main lobe
// of another peak, or of a wave taken out already, would see that one's waves in the tiles, and
// is passed over. The search ends after kWeakTries candidates weighed in vain: a page of text or a
// table holds hundreds that pass the quick look (a second each megapixel), where the weak waves
// of the cleaning benchmark were found among the first five weighed.
constexpr int kWeakTries = 32;
void find_weak_waves(LazyTiles& tiles_of, const ComplexHalf& z, const LogMagnitudes& m, const Detection& d,
                     const std::vector<uint8_t>& own, const Grid& grid, const std::vector<Frequency>& earlier,
                     int32_t flat_side, std::vector<FittedTone>& tones, std::vector<Peak>& removed) {
    const host::SpectrumGeometry& g = m.geometry;
    std::vector<int32_t> candidates;
    std::vector<Frequency> taken = earlier;
    for (const Peak& p : d.peaks)
        if (own[static_cast<std::size_t>(p.group)])
            candidates.push_back(p.row * g.columns + p.column);
        else
            taken.push_back(frequency_of(g, p.row, p.column));
    for (int32_t i : d.faint)
        if (!grid.holds(g, i / g.columns, i % g.columns)) candidates.push_back(i);
    if (candidates.empty()) return;
    const Tiles& tiles = tiles_of.get();
    const double lobe = tiles.lobe(g);
    for (const FittedTone& t : tones) taken.push_back(t.f);
    const auto near = [&](const Frequency& f) {
        return std::any_of(taken.begin(), taken.end(), [&](const Frequency& o) {
            return std::min(distance_in_samples(g, o, f), distance_in_samples(g, o, {-f.u, -f.v})) < lobe;
        });
    };
    // A quick look at each candidate's own sample first, the two halves of the list at once.
    std::vector<double> quick(candidates.size());
    const auto look = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k)
            quick[k] = tiles.weigh(frequency_of(g, candidates[k] / g.columns, candidates[k] % g.columns), true).presence;
    };
    auto first_half = std::async(std::launch::async, look, 0, quick.size() / 2);
    look(quick.size() / 2, quick.size());
    first_half.get();
    int failed = 0;
    for (std::size_t k = 0; k < candidates.size() && failed < kWeakTries; ++k) {
        const int32_t y = candidates[k] / g.columns, x = candidates[k] % g.columns;
        const Frequency f = frequency_of(g, y, x);
        if (quick[k] < kWavePresence / 2 || near(f) || flat_refutes(flat_side, f)) continue;
        Tone t;
        fit_tone(z, g, -1, y, x, t);
        FittedTone tone{frequency_of(g, t.b, t.a), {}};
        const Tiles::Evidence e = tiles.weigh(tone.f);
        if (e.presence < kWavePresence || e.alike < kWaveAlike) {
            ++failed;
            continue;
        }
        tone.f = tiles.steady(tone.f);
        double amplitude = 0;
        for (int32_t c = 0; c < 3; ++c) {
            tone.amplitude[c] = tiles.weigh(tone.f, false, c + 1).amplitude;
            amplitude = std::max(amplitude, 2 * std::abs(tone.amplitude[c]));
        }
        if (amplitude < kSmallestAmplitude) {
            ++failed;
            continue;
        }
        tones.push_back(tone);
        taken.push_back(tone.f);
        const double angle = std::atan2(tone.f.v, tone.f.u) * 180 / std::numbers::pi;
        removed.push_back({y, x, 2, amplitude, 1 / std::hypot(tone.f.u, tone.f.v), angle < 0 ? angle + 180 : angle, 7u, 0});
    }
}

// The step of each channel's line (row or column) from the one before it, laid out channel by
// channel (the first line's step is 0): the log ratio of the two lines' sums.
std::vector<double> line_steps(const host::Image& work, bool rows) {
    const int32_t lines = rows ? work.rows : work.cols;
    std::vector<double> sum(static_cast<std::size_t>(3 * lines), 0), step(sum.size(), 0);
    for (int32_t y = 0; y < work.rows; ++y)
        for (int32_t x = 0; x < work.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) sum[std::size_t(c * lines + (rows ? y : x))] += work.get<float>(y, x, c);
    for (std::size_t i = 1; i < sum.size(); ++i)
        if (i % std::size_t(lines) != 0 && sum[i] > 0 && sum[i - 1] > 0) step[i] = std::log(sum[i] / sum[i - 1]);
    return step;
}

// The same steps as the median over the samples first to last of each line of the log ratio of
// each sample to its neighbour in the line before. A line pattern scales every sample of its lines
// alike, and both steps see it; lines of text or any drawing on a page darken only their ink,
// which moves the sums while most samples, the paper between, keep their neighbours' values.
// (Less precise than the sums on 8-bit samples: it bears out their gains or not, and they say how
// strong.) Of a long line every k-th sample (1024 or more in the line) gives the median as well.
// Which samples a step looks at and how it compares them.
struct StepKind {
    bool offsets = false;         // the difference of the samples rather than their log ratio
    float lo = 0, hi = HUGE_VALF; // only samples whose neighbour in the line before lies in [lo, hi)
};
std::vector<double> sample_steps(const host::Image& work, bool rows, int32_t first, int32_t last,
                                 const StepKind& kind = {}) {
    const int32_t lines = rows ? work.rows : work.cols, length = rows ? work.cols : work.rows;
    const int32_t stride = length / 1024 + 1;
    constexpr float kDark = 1e-4f;  // samples this close to black hold no ratio
    std::vector<double> step(static_cast<std::size_t>(3 * lines), 0);
    std::vector<float> ratios;
    for (int32_t c = 0; c < 3; ++c)
        for (int32_t i = 1; i < lines; ++i) {
            ratios.clear();
            for (int32_t j = first; j < last; j += stride) {
                const float a = rows ? work.get<float>(i, j, c) : work.get<float>(j, i, c);
                const float b = rows ? work.get<float>(i - 1, j, c) : work.get<float>(j, i - 1, c);
                if (a > kDark && b > kDark && b >= kind.lo && b < kind.hi)
                    ratios.push_back(kind.offsets ? a - b : std::log(a / b));
            }
            step[std::size_t(c * lines + i)] = median(ratios);
        }
    return step;
}

struct LineGains {
    std::vector<double> log_gain;  // channel by channel, k classes each
    bool stands_out = false;       // some class's gain differs from 1 beyond doubt
    double scatter = HUGE_VAL;     // what the gains leave of the ratios' spread
};

// A gain for each class of lines y mod k in each channel, from the steps between neighbouring
// lines (a natural picture changes little from one row to the next; medians keep its edges out).
LineGains fit_line_gains(const std::vector<double>& steps, int32_t k) {
    const int32_t lines = static_cast<int32_t>(steps.size() / 3);
    LineGains fit{std::vector<double>(static_cast<std::size_t>(3 * k), 0), false, 0};
    if (lines < kLinesPerClass * k) return {};
    std::vector<float> left;  // the ratios less their class's step, all classes and channels
    for (int32_t c = 0; c < 3; ++c) {
        const double* line_step = &steps[std::size_t(c * lines)];
        std::vector<double> step(static_cast<std::size_t>(k)), error(static_cast<std::size_t>(k));
        for (int32_t r = 0; r < k; ++r) {
            std::vector<float> ratios;
            for (int32_t i = r > 0 ? r : k; i < lines; i += k) ratios.push_back(static_cast<float>(line_step[i]));
            if (ratios.size() < 3) return {};
            const float mid = median(ratios);
            for (float& v : ratios) left.push_back(v = std::fabs(v - mid));
            step[std::size_t(r)] = mid;
            error[std::size_t(r)] = 1.4826 * 1.25 * median(ratios) / std::sqrt(double(ratios.size()));
        }
        // The steps go once round the classes: what they add up to is the picture's own drift.
        double drift = 0;
        for (double v : step) drift += v / k;
        double* g = &fit.log_gain[std::size_t(c * k)];
        for (int32_t r = 0; r < k; ++r) {
            if (r > 0) g[r] = g[r - 1] + step[std::size_t(r)] - drift;
            fit.stands_out = fit.stands_out || std::fabs(step[std::size_t(r)] - drift) >
                                                   std::max(kLineSignificance * error[std::size_t(r)], kLineSmallest);
        }
        std::vector<float> sorted(g, g + k);
        const double mid = median(sorted);  // most classes are as the picture was
        for (int32_t r = 0; r < k; ++r) g[r] -= mid;
    }
    fit.scatter = median(left);
    return fit;
}

// Whether the gains fitted to the lines' samples one by one bear out those fitted to their sums:
// their projection on them keeps at least kLineAlike of their size (a scan line's gain holds
// for every sample of it; the rows of a page of text, written over with a wave, show a twentieth
// of their sums' gains).
bool scales_samples(const LineGains& sums, const LineGains& samples) {
    if (samples.log_gain.size() != sums.log_gain.size()) return false;
    double along = 0, size = 0;
    for (std::size_t i = 0; i < sums.log_gain.size(); ++i) {
        along += samples.log_gain[i] * sums.log_gain[i];
        size += sums.log_gain[i] * sums.log_gain[i];
    }
    return along >= kLineAlike * size;
}

// The steps of one axis's lines in the picture as it is, for every period tried on it: those of
// the sums at once, those of the samples of each part of the lines when a fit first needs them.
// A line pattern scales its lines from end to end; the upright bars of a chart, a fence or the
// posts of a bridge reach only part of the way, and their parts disagree.
struct LineSteps {
    LineSteps(const host::Image& picture, bool along_rows)
        : work(picture), rows(along_rows), sums(line_steps(picture, along_rows)) {}
    const host::Image& work;
    const bool rows;
    const std::vector<double> sums;
    std::optional<std::array<std::vector<double>, kLineParts>> samples;
    const std::array<std::vector<double>, kLineParts>& of_samples() {
        if (!samples) {
            const int32_t length = rows ? work.cols : work.rows;
            samples.emplace();
            for (int32_t i = 0; i < kLineParts; ++i)
                (*samples)[std::size_t(i)] = sample_steps(work, rows, i * length / kLineParts, (i + 1) * length / kLineParts);
        }
        return *samples;
    }
};

// A line pattern found: its period and the gains of its classes of lines.
struct LinePattern {
    int32_t period = 0;  // 0: none
    LineGains fit;
    int32_t drawn = 0;  // the period of lines too dark or too light for a line pattern (a table's rules)
    // The period of the lines found, drawn or not; 0 when none.
    int32_t lines() const { return period > 0 ? period : drawn; }
};

// The line pattern of period k, or of a multiple of it when only some of the pattern's peaks were
// found: the shortest period whose gains leave (almost) the least spread. None when no class of
// lines stands out; none but drawn when one darkens or lightens its lines beyond a line pattern.
LinePattern find_line_pattern(int32_t k, LineSteps& steps) {
    std::vector<LineGains> fits;
    double least = HUGE_VAL;
    for (int32_t period = k; period <= std::max(k, kLongestLinePeriod); period += k) {
        fits.push_back(fit_line_gains(steps.sums, period));
        least = std::min(least, fits.back().scatter);
    }
    for (std::size_t i = 0; i < fits.size(); ++i) {
        LineGains& fit = fits[i];
        if (fit.scatter > kLineSpread * least) continue;
        const int32_t period = k * static_cast<int32_t>(i + 1);
        if (!fit.stands_out) return {};
        for (const std::vector<double>& part : steps.of_samples())
            if (!scales_samples(fit, fit_line_gains(part, period))) return {};
        if (std::any_of(fit.log_gain.begin(), fit.log_gain.end(), [](double g) { return std::fabs(g) > kLineStrongest; }))
            return {0, {}, period};
        return {period, std::move(fit), 0};
    }
    return {};
}

// Whether f (cycles per pixel) is the length of a frequency of the lattice of lines every kx
// columns and every ky rows, within the tolerance of a sample.
bool on_lattice(double f, int32_t kx, int32_t ky, const host::SpectrumGeometry& g) {
    const double tolerance = kLineTolerance / std::min(g.rows, g.period_x);
    for (int32_t i = 0; i <= kx / 2; ++i)
        for (int32_t j = 0; j <= ky / 2; ++j)
            if (std::fabs(std::hypot(double(i) / kx, double(j) / ky) - f) <= tolerance) return true;
    return false;
}

// Scan lines scale their lines (a scanner's or a sensor's gain); stripes added to a picture
// (interference, a sensor's offset) shift their samples alike whatever the tone. The two part
// where the picture is dark and where it is light: a gain moves the log ratios of light and dark
// samples alike, an offset moves the dark ones' more, by the ratio of the tones. The lines' gains
// are fitted again over the samples darker than the picture's median and over the lighter ones;
// the lines add when the dark gains stand further from the light ones than the square root of
// the tones' ratio (halfway on a log scale). A picture of too narrow a range of tones to tell
// keeps the gains.
constexpr double kToneRatio = 1.5;  // the light samples' median tone over the dark ones', at least, to tell
bool adds_to_lines(const host::Image& work, const LinePattern& pattern, bool rows) {
    std::vector<float> tones;
    const int32_t stride = std::max<int32_t>(1, int32_t(std::sqrt(double(work.rows) * work.cols / 65536)));
    for (int32_t y = 0; y < work.rows; y += stride)
        for (int32_t x = 0; x < work.cols; x += stride)
            for (int32_t c = 0; c < 3; ++c) tones.push_back(work.get<float>(y, x, c));
    const float mid = median(tones);
    std::vector<float> dark, light;
    for (float t : tones) (t < mid ? dark : light).push_back(t);
    const double dark_tone = median(dark), light_tone = median(light);
    if (dark_tone <= 0 || light_tone < kToneRatio * dark_tone) return false;
    const int32_t length = rows ? work.cols : work.rows;
    const LineGains in_dark = fit_line_gains(sample_steps(work, rows, 0, length, {false, 0, mid}), pattern.period);
    const LineGains in_light = fit_line_gains(sample_steps(work, rows, 0, length, {false, mid, HUGE_VALF}), pattern.period);
    if (in_dark.log_gain.size() != pattern.fit.log_gain.size() || in_light.log_gain.size() != pattern.fit.log_gain.size())
        return false;
    double along = 0, size = 0;  // the dark gains as a multiple of the light ones
    for (std::size_t i = 0; i < in_light.log_gain.size(); ++i) {
        along += in_dark.log_gain[i] * in_light.log_gain[i];
        size += in_light.log_gain[i] * in_light.log_gain[i];
    }
    return size > 0 && along > std::sqrt(light_tone / dark_tone) * size;
}

// The fit leaves most classes of lines as they were (their median at 0). Stripes added to a
// picture commonly add nothing on the whole (interference); lines offset every few rows leave
// the rest as they were. The offsets keep the median at 0 when at least kLinesUntouched of the
// classes lie near it (within a quarter of the largest offset); otherwise they are made to add
// nothing on the whole, so that stripes of half the lines up and half down are not taken for
// half the lines shifted twice as far.
constexpr double kLinesUntouched = 0.75;
void offsets_without_mean(double* offset, int32_t period) {
    double largest = 0, mean = 0;
    for (int32_t r = 0; r < period; ++r) {
        largest = std::max(largest, std::fabs(offset[r]));
        mean += offset[r] / period;
    }
    int32_t near = 0;
    for (int32_t r = 0; r < period; ++r) near += std::fabs(offset[r]) <= 0.25 * largest;
    if (near >= kLinesUntouched * period) return;
    for (int32_t r = 0; r < period; ++r) offset[r] -= mean;
}

// Takes the pattern out of the picture: divides its gains out, or subtracts its offsets (fitted
// to the medians of the samples' differences from one line to the next) when its lines add.
void take_out_lines(host::Image& work, const LinePattern& pattern, bool rows) {
    const int32_t period = pattern.period;
    if (adds_to_lines(work, pattern, rows)) {
        const int32_t length = rows ? work.cols : work.rows;
        LineGains offsets = fit_line_gains(sample_steps(work, rows, 0, length, {true}), period);
        for (int32_t c = 0; c < 3 && offsets.log_gain.size() == pattern.fit.log_gain.size(); ++c)
            offsets_without_mean(&offsets.log_gain[std::size_t(c * period)], period);
        if (offsets.log_gain.size() == pattern.fit.log_gain.size()) {
            for (int32_t y = 0; y < work.rows; ++y)
                for (int32_t x = 0; x < work.cols; ++x)
                    for (int32_t c = 0; c < 3; ++c)
                        work.set<float>(y, x, c, static_cast<float>(work.get<float>(y, x, c) -
                                                                    offsets.log_gain[std::size_t(c * period + (rows ? y : x) % period)]));
            return;
        }
    }
    for (int32_t y = 0; y < work.rows; ++y)
        for (int32_t x = 0; x < work.cols; ++x)
            for (int32_t c = 0; c < 3; ++c)
                work.set<float>(y, x, c, static_cast<float>(work.get<float>(y, x, c) *
                                                            std::exp(-pattern.fit.log_gain[std::size_t(c * period + (rows ? y : x) % period)])));
}

// Chirps: a wave whose frequency sweeps along its direction across the frame leaves a ridge in
// the spectrum, and notches along it leave the leakage of its ends at the frame's borders. It is
// taken out as a wave instead: the ridge's band brought back to the picture, multiplied by the
// conjugate of the sweep's phase so that the wave becomes its slowly changing envelope, smoothed
// (what else is in the band keeps changing quickly and averages away), and the wave rebuilt from
// the envelope and subtracted.
constexpr double kChirpRidge = 16;      // samples of ridge that make a peak a sweeping wave
constexpr double kChirpAngle = 2;       // degrees between peaks on one ridge, at most
constexpr int32_t kChirpBand = 3;       // samples either side of the ridge that its band takes in
constexpr int32_t kChirpWindow = 96;    // half pixels along the sweep in which its frequency is one
constexpr int32_t kChirpSmooth = 18;    // radius of the three box filters that smooth the envelope
constexpr double kChirpExplains = 0.6;  // share of the band's energy the sweep's envelope must hold
constexpr double kChirpExplainsSlow = 0.75;  // ... of a slow sweep's band
constexpr double kChirpCovers = 0.5;    // share of the ridge's frequencies the sweep must run through
constexpr std::size_t kChirpTries = 4;  // sweeps that may fail in one pass before no more are tried
constexpr double kChirpLeast = 1;       // samples of the spectrum a sweep runs through, at least

using Plane = std::vector<std::complex<float>>;

// Three box filters of the radius over a complex plane (near a Gaussian), each normalised at the
// borders so that the edges are not darkened. Both directions run along the rows in memory: the
// vertical one keeps a sum for each column and the last radius + 1 rows it replaced.
void smooth(Plane& v, int32_t rows, int32_t cols, int32_t radius) {
    std::vector<std::complex<double>> line(static_cast<std::size_t>(cols) + 1), sum(static_cast<std::size_t>(cols));
    std::vector<std::complex<float>> kept(static_cast<std::size_t>(radius + 1) * cols);
    for (int repeat = 0; repeat < 3; ++repeat) {
        for (int32_t y = 0; y < rows; ++y) {
            std::complex<float>* row = &v[std::size_t(y) * cols];
            for (int32_t x = 0; x < cols; ++x) line[std::size_t(x) + 1] = line[std::size_t(x)] + std::complex<double>(row[x]);
            for (int32_t x = 0; x < cols; ++x) {
                const int32_t lo = std::max(0, x - radius), hi = std::min(cols, x + radius + 1);
                row[x] = std::complex<float>((line[std::size_t(hi)] - line[std::size_t(lo)]) / double(hi - lo));
            }
        }
        std::fill(sum.begin(), sum.end(), 0.0);
        for (int32_t y = 0; y < std::min(rows, radius); ++y)
            for (int32_t x = 0; x < cols; ++x) sum[std::size_t(x)] += std::complex<double>(v[std::size_t(y) * cols + x]);
        for (int32_t y = 0; y < rows; ++y) {
            std::complex<float>* row = &v[std::size_t(y) * cols];
            std::complex<float>* slot = &kept[std::size_t(y % (radius + 1)) * cols];
            if (y + radius < rows)
                for (int32_t x = 0; x < cols; ++x) sum[std::size_t(x)] += std::complex<double>(v[std::size_t(y + radius) * cols + x]);
            std::copy(row, row + cols, slot);
            const double count = std::min(rows - 1, y + radius) - std::max(0, y - radius) + 1;
            for (int32_t x = 0; x < cols; ++x) row[x] = std::complex<float>(sum[std::size_t(x)] / count);
            if (y - radius >= 0) {
                const std::complex<float>* gone = &kept[std::size_t((y - radius) % (radius + 1)) * cols];
                for (int32_t x = 0; x < cols; ++x) sum[std::size_t(x)] -= std::complex<double>(gone[x]);
            }
        }
    }
}

// A linear sweep along direction (cu, cv) from frequency `start` where the frame begins to `end`
// where it ends, in cycles per pixel.
struct Sweep {
    double cu = 1, cv = 0, s0 = 0, span = 1, start = 0, end = 0;
    double phase(double y, double x) const {
        const double s = cu * x + cv * y - s0;
        return 2 * std::numbers::pi * s * (start + (end - start) * s / (2 * span));
    }
    // exp(i phase) along row y: the phase is a quadratic in x, so each step turns by a
    // rotation that itself turns by a fixed amount.
    void row(int32_t y, int32_t cols, std::vector<std::complex<double>>& out) const {
        out.resize(static_cast<std::size_t>(cols));
        std::complex<double> w = std::polar(1.0, phase(y, 0)), r = std::polar(1.0, phase(y, 1) - phase(y, 0));
        const std::complex<double> turn = std::polar(1.0, 2 * std::numbers::pi * (end - start) / span * cu * cu);
        for (int32_t x = 0; x < cols; ++x, w *= r, r *= turn) out[std::size_t(x)] = w;
    }
};

// The envelope of the sweep in `band` (planes 0..2, or their sum for plane -1), smoothed.
Plane envelope(const host::Image& band, const Sweep& sweep, int32_t plane) {
    Plane e(static_cast<std::size_t>(band.rows) * band.cols);
    std::vector<std::complex<double>> turns;
    for (int32_t y = 0; y < band.rows; ++y) {
        sweep.row(y, band.cols, turns);
        for (int32_t x = 0; x < band.cols; ++x) {
            double v = 0;
            for (int32_t c = plane < 0 ? 0 : plane; c <= (plane < 0 ? 2 : plane); ++c) v += band.get<float>(y, x, c);
            e[std::size_t(y) * band.cols + x] = std::complex<float>(v * std::conj(turns[std::size_t(x)]));
        }
    }
    smooth(e, band.rows, band.cols, kChirpSmooth);
    return e;
}

// Whether sample i lies in one of the groups (marked by group number) or on its ridge.
bool on_sweep(const Detection& d, const std::vector<uint8_t>& groups, std::size_t i) {
    return groups[static_cast<std::size_t>(d.group[i])] || groups[static_cast<std::size_t>(d.ridge[i])];
}

// The band about the peak's group, brought back to the picture: the picture less the picture
// with the band notched out. (A spectrum picture's magnitudes cannot go below one over the
// samples counted, so a spectrum with everything but the band removed would come back with the
// phases of all the rest.)
host::Image ridge_band(const host::ModuleLibrary& inverse, const host::Image& work, const host::Image& spectrum,
                       const LogMagnitudes& m, const Detection& d, const std::vector<uint8_t>& groups) {
    const host::SpectrumGeometry& g = m.geometry;
    LogMagnitudes notched = m;
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x)
            if (on_sweep(d, groups, std::size_t(y) * g.columns + x))
                for (int32_t ny = std::max(0, y - kChirpBand); ny <= std::min(g.rows - 1, y + kChirpBand); ++ny)
                    for (int32_t nx = std::max(0, x - kChirpBand); nx <= std::min(g.columns - 1, x + kChirpBand); ++nx)
                        for (int32_t c = 0; c < g.channels; ++c) notched.at(c, ny, nx) = kAbsent;
    host::Image s = spectrum;
    write_log_magnitudes(notched, s);
    host::Image band = host::crop_after_half_spectrum(run_module(inverse, std::move(s), "inverse"));
    for (int32_t y = 0; y < band.rows; ++y)
        for (int32_t x = 0; x < band.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) band.set<float>(y, x, c, work.get<float>(y, x, c) - band.get<float>(y, x, c));
    return band;
}

// Takes the sweeping wave of the groups (by group number: 1 for those of the wave, whose peaks
// lie in one direction) out of the picture `work`, found in `analysed` (whose spectrum was
// searched). Returns false, leaving the picture alone, when the sweep's envelope does not hold
// most of the band: a straight edge of the picture rather than a wave.
bool subtract_chirp(host::Image& work, const host::Image& analysed, const host::ModuleLibrary& inverse,
                    const host::Image& spectrum, const LogMagnitudes& m, const Detection& d,
                    const std::vector<uint8_t>& groups, bool slow) {
    const host::SpectrumGeometry& g = m.geometry;
    const std::size_t plane = static_cast<std::size_t>(g.rows) * g.columns;
    // Its direction and the frequencies it sweeps between, from the ridge's excess energy.
    std::vector<std::pair<double, double>> radii;  // frequency, energy
    double du = 0, dv = 0, total = 0;
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            const std::size_t i = std::size_t(y) * g.columns + x;
            if (!on_sweep(d, groups, i)) continue;
            double w = 0;
            for (int32_t c = 0; c < g.channels; ++c)
                w += std::max(0.0, std::pow(10.0, 2.0 * m.values[plane * c + i]) - std::pow(10.0, 2.0 * d.background[plane * c + i]));
            const Frequency f = frequency_of(g, y, x);
            const double r = std::hypot(f.u, f.v);
            du += w * f.u / r;
            dv += w * f.v / r;
            total += w;
            radii.push_back({r, w});
        }
    if (total <= 0) return false;
    Sweep sweep;
    const double norm = std::hypot(du, dv);
    sweep.cu = du / norm;
    sweep.cv = dv / norm;
    double s_min = HUGE_VAL, s_max = -HUGE_VAL;
    for (const double y : {0.0, work.rows - 1.0})
        for (const double x : {0.0, work.cols - 1.0}) {
            s_min = std::min(s_min, sweep.cu * x + sweep.cv * y);
            s_max = std::max(s_max, sweep.cu * x + sweep.cv * y);
        }
    sweep.s0 = s_min;
    sweep.span = std::max(1.0, s_max - s_min);
    std::sort(radii.begin(), radii.end());
    const double lowest = radii.front().first, highest = radii.back().first;
    // The frequencies that hold the ridge's energy, but for its tenth at either end: the leakage
    // of a sweep's ends at the frame's borders widens its peak by a few samples either way, and a
    // ridge followed on past a slow sweep into the picture's own edges reaches further still.
    double energy_lo = 0, energy_hi = 0, below = 0;
    for (const auto& [r, w] : radii) {
        below += w;
        if (energy_lo == 0 && below >= 0.1 * total) energy_lo = r;
        if (energy_hi == 0 && below >= 0.9 * total) energy_hi = r;
    }
    const host::Image band = ridge_band(inverse, analysed, spectrum, m, d, groups);

    // The band summed across its direction (the wave is the same along each line across it),
    // in bins of half a pixel; then in windows along it the strongest frequency, and a straight
    // line through those.
    const int32_t bins = static_cast<int32_t>(std::lround(2 * sweep.span)) + 1;
    std::vector<double> profile(static_cast<std::size_t>(bins), 0), count(profile.size(), 0);
    for (int32_t y = 0; y < band.rows; ++y)
        for (int32_t x = 0; x < band.cols; ++x) {
            const std::size_t b = static_cast<std::size_t>(std::lround(2 * (sweep.cu * x + sweep.cv * y - sweep.s0)));
            profile[b] += band.get<float>(y, x, 0) + band.get<float>(y, x, 1) + band.get<float>(y, x, 2);
            count[b] += 1;
        }
    double sw = 0, ss = 0, sf = 0, sss = 0, ssf = 0;
    const double f_lo = 0.9 * lowest, f_hi = std::min(0.5, 1.1 * highest);
    for (int32_t at = 0; at + kChirpWindow <= bins; at += kChirpWindow / 2) {
        double best_f = 0, best_power = 0, mean = 0, filled = 0;
        for (int32_t b = at; b < at + kChirpWindow; ++b)
            if (count[std::size_t(b)] > 0) {
                mean += profile[std::size_t(b)] / count[std::size_t(b)];
                ++filled;
            }
        mean /= std::max(1.0, filled);
        for (double f = f_lo; f <= f_hi; f += 0.25 / kChirpWindow) {
            std::complex<double> sum = 0;
            for (int32_t b = at; b < at + kChirpWindow; ++b)
                if (count[std::size_t(b)] > 0)
                    sum += (profile[std::size_t(b)] / count[std::size_t(b)] - mean) * std::polar(1.0, -std::numbers::pi * f * b);
            if (std::norm(sum) > best_power) {
                best_power = std::norm(sum);
                best_f = f;
            }
        }
        const double s = 0.5 * (at + kChirpWindow / 2.0);
        sw += best_power;
        ss += best_power * s;
        sf += best_power * best_f;
        sss += best_power * s * s;
        ssf += best_power * s * best_f;
    }
    const double det = sw * sss - ss * ss;
    if (sw <= 0 || det <= 0) return false;
    const double slope = (sw * ssf - ss * sf) / det, offset = (sf - slope * ss) / sw;

    sweep.start = offset;
    sweep.end = offset + slope * sweep.span;
    // A wave of one frequency would have been fitted as a sinusoid: a sweep that hardly moves
    // along a ridge spanning many frequencies is the picture's own (a panned shot's streaks keep
    // most of their energy at the ridge's low end), and one that runs through less than a sample
    // is one frequency. A sweep that runs through the frequencies holding most of the energy but
    // not the whole ridge (a slow sweep, its peak broadened by leakage), or one of a broad peak
    // without a ridge, must explain more of its band.
    const double swept = std::fabs(sweep.end - sweep.start);
    const bool whole_ridge = swept >= kChirpCovers * (highest - lowest);
    if ((!whole_ridge && swept < kChirpCovers * (energy_hi - energy_lo)) || swept * sweep.span < kChirpLeast) return false;
    double held = 0, band_energy = 0;
    for (const std::complex<float>& e : envelope(band, sweep, -1)) held += std::norm(e);
    for (int32_t y = 0; y < band.rows; ++y)
        for (int32_t x = 0; x < band.cols; ++x) {
            const double v = double(band.get<float>(y, x, 0)) + band.get<float>(y, x, 1) + band.get<float>(y, x, 2);
            band_energy += v * v;
        }
    if (2 * held < (slow || !whole_ridge ? kChirpExplainsSlow : kChirpExplains) * band_energy) return false;  // a pure sweep's envelope holds half
    for (int32_t c = 0; c < 3; ++c) {
        const Plane e = envelope(band, sweep, c);
        std::vector<std::complex<double>> turns;
        for (int32_t y = 0; y < work.rows; ++y) {
            sweep.row(y, work.cols, turns);
            for (int32_t x = 0; x < work.cols; ++x) {
                const double wave = std::real(std::complex<double>(e[std::size_t(y) * work.cols + x]) * turns[std::size_t(x)]);
                work.set<float>(y, x, c, static_cast<float>(work.get<float>(y, x, c) - 2 * wave));
            }
        }
    }
    return true;
}

// The groups (by group number) of the peaks in the direction of peak p: the pieces of one ridge.
std::vector<uint8_t> same_direction(const Detection& d, const Peak& p) {
    std::vector<uint8_t> along(d.group.empty() ? 1 : static_cast<std::size_t>(*std::max_element(d.group.begin(), d.group.end())) + 1, 0);
    for (const Peak& q : d.peaks) {
        const double apart = std::fabs(q.angle - p.angle);
        if (std::min(apart, 180 - apart) <= kChirpAngle) along[static_cast<std::size_t>(q.group)] = 1;
    }
    return along;
}

// Whether sample i lies in a peak still to be removed: in a group not taken out otherwise.
bool in_peak(const Detection& d, const std::vector<uint8_t>& done, std::size_t i) {
    return d.group[i] != 0 && !done[static_cast<std::size_t>(d.group[i])];
}

// Removes the detected peaks (and lowers their rim) in every channel; returns the samples changed.
int64_t remove_peaks(LogMagnitudes& m, const Detection& d, const std::vector<uint8_t>& done, Fill fill) {
    const host::SpectrumGeometry& g = m.geometry;
    const int32_t rows = g.rows, cols = g.columns;
    const std::size_t plane = static_cast<std::size_t>(rows) * cols;
    int64_t changed = 0;
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            bool core = in_peak(d, done, std::size_t(y) * cols + x), rim = false;
            for (int32_t ny = std::max(0, y - 1); !core && !rim && ny <= std::min(rows - 1, y + 1); ++ny)
                for (int32_t nx = std::max(0, x - 1); nx <= std::min(cols - 1, x + 1); ++nx)
                    rim = rim || in_peak(d, done, std::size_t(ny) * cols + nx);
            if (!core && !rim) continue;
            for (int32_t c = 0; c < g.channels; ++c) {
                const std::size_t i = plane * c + std::size_t(y) * cols + x;
                const float target = core && fill == Fill::Zero ? kAbsent : std::min(m.values[i], d.background[i]);
                if (target != m.values[i]) {
                    m.values[i] = target;
                    ++changed;
                }
            }
        }
    return changed;
}

// Each ink of a colour screen has its own screen (angle, and maybe period): the screen frequency of
// channel c, in cycles per pixel, is that of its peak standing highest above the background, at or
// above the lattice's lowest frequency (lower peaks are the picture's, or sums of two inks' screens),
// among the peaks found in that channel; 0 for a channel where none was found (a print with fewer
// inks than channels), which is left alone.
std::array<double, 3> screen_frequencies(const LogMagnitudes& m, const Detection& d) {
    const host::SpectrumGeometry& g = m.geometry;
    const double lowest = 1 / d.screen_period;
    std::array<double, 3> screen{0, 0, 0};
    for (int32_t c = 0; c < 3; ++c) {
        float strongest = -1e30f;
        for (const Peak& p : d.peaks) {
            const Frequency f = frequency_of(g, p.row, p.column);
            const double r = std::hypot(f.u, f.v);
            const std::size_t i = m.index(c, p.row, p.column);
            const float excess = m.values[i] - d.background[i];
            if (!(p.channels & (1u << c)) || r < kScreenLattice * lowest || excess <= strongest) continue;
            strongest = excess;
            screen[static_cast<std::size_t>(c)] = r;
        }
    }
    return screen;
}

// Where each channel's screen is, as the share (0 to 1) of the descreened picture to take at
// each pixel. A page of text or drawings with a printed picture on it has its dots only in the
// picture, and descreening, which blurs, belongs there alone. The channel's screen band (the
// frequencies within kScreenBand of the screen frequency about its fundamental peaks: wide enough
// to tell where the dots are to a few periods, narrow enough that text and edges put little there)
// is brought back to the picture, and its power, smoothed over a screen period, gives the screen's
// local strength; the screen is where that reaches kScreenLevel of the strongest (its 99th
// percentile). Those parts, smoothed over a period, have their holes filled (the lightest and
// darkest parts of a printed picture, where the dots all but vanish), and the edge is softened
// over a period. A screen over kScreenedFrame of the frame or more is a print's, whose lightest
// and darkest parts hold faint dots too wherever they lie, even along the border: it is taken out
// everywhere, as for a picture said to be a print (`whole`).
constexpr double kScreenBand = 0.1;
constexpr double kScreenLevel = 0.3;
constexpr double kScreenedFrame = 0.5;  // share of the frame

// Sets to 1 the zeros of a mask that no path of zeros joins to the border.
void fill_holes(std::vector<uint8_t>& mask, int32_t rows, int32_t cols) {
    std::vector<uint8_t> outside(mask.size(), 0);
    std::vector<int32_t> stack;
    auto reach = [&](int32_t y, int32_t x) {
        const std::size_t i = std::size_t(y) * cols + x;
        if (mask[i] || outside[i]) return;
        outside[i] = 1;
        stack.push_back(static_cast<int32_t>(i));
    };
    for (int32_t x = 0; x < cols; ++x) reach(0, x), reach(rows - 1, x);
    for (int32_t y = 0; y < rows; ++y) reach(y, 0), reach(y, cols - 1);
    while (!stack.empty()) {
        const int32_t i = stack.back(), y = i / cols, x = i % cols;
        stack.pop_back();
        if (y > 0) reach(y - 1, x);
        if (y + 1 < rows) reach(y + 1, x);
        if (x > 0) reach(y, x - 1);
        if (x + 1 < cols) reach(y, x + 1);
    }
    for (std::size_t i = 0; i < mask.size(); ++i) mask[i] = !outside[i];
}

std::array<std::vector<float>, 3> screened_share(const host::ModuleLibrary& inverse, const host::Image& spectrum,
                                                  const LogMagnitudes& m, const Detection& d,
                                                  const std::array<double, 3>& screen, int32_t rows, int32_t cols,
                                                  bool whole) {
    std::array<std::vector<float>, 3> share;
    const std::size_t size = std::size_t(rows) * cols;
    if (whole) {
        for (int32_t c = 0; c < 3; ++c)
            if (screen[std::size_t(c)] > 0) share[std::size_t(c)].assign(size, 1.0f);
        return share;
    }
    const host::SpectrumGeometry& g = m.geometry;
    LogMagnitudes band = m;
    for (int32_t c = 0; c < g.channels; ++c) {
        const double f = screen[std::size_t(c)];
        std::vector<Frequency> fundamentals;
        for (const Peak& p : d.peaks) {
            const Frequency q = frequency_of(g, p.row, p.column);
            if ((p.channels & (1u << c)) && std::fabs(std::hypot(q.u, q.v) - f) <= kScreenBand * f) fundamentals.push_back(q);
        }
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x) {
                const Frequency q = frequency_of(g, y, x);
                bool near = false;
                for (const Frequency& h : fundamentals)
                    near = near || std::hypot(q.u - h.u, q.v - h.v) <= kScreenBand * f ||
                           std::hypot(q.u + h.u, q.v + h.v) <= kScreenBand * f;
                if (!near) band.at(c, y, x) = kAbsent;
            }
    }
    host::Image s = spectrum;
    write_log_magnitudes(band, s);
    const host::Image waves = host::crop_after_half_spectrum(run_module(inverse, std::move(s), "inverse"));

    for (int32_t c = 0; c < 3; ++c) {
        if (screen[std::size_t(c)] == 0) continue;
        const int32_t period = static_cast<int32_t>(std::ceil(1 / screen[std::size_t(c)]));
        Plane field(size);
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x) {
                const float v = waves.get<float>(y, x, c);
                field[std::size_t(y) * cols + x] = v * v;
            }
        smooth(field, rows, cols, period);
        std::vector<float> strength(size);
        for (std::size_t i = 0; i < size; ++i) strength[i] = std::sqrt(std::max(0.0f, field[i].real()));
        std::vector<float> sorted = strength;
        std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(size * 99 / 100), sorted.end());
        const float level = static_cast<float>(kScreenLevel) * sorted[size * 99 / 100];
        for (std::size_t i = 0; i < size; ++i) field[i] = strength[i] >= level ? 1.0f : 0.0f;
        smooth(field, rows, cols, period);
        std::vector<uint8_t> mask(size);
        for (std::size_t i = 0; i < size; ++i) mask[i] = field[i].real() > 0.5f;
        fill_holes(mask, rows, cols);
        if (std::count(mask.begin(), mask.end(), 1) >= std::ptrdiff_t(kScreenedFrame * double(size))) {
            share[std::size_t(c)].assign(size, 1.0f);
            continue;
        }
        field.assign(mask.begin(), mask.end());
        smooth(field, rows, cols, period);
        share[std::size_t(c)].resize(size);
        for (std::size_t i = 0; i < size; ++i) share[std::size_t(c)][i] = field[i].real();
    }
    return share;
}

// Descreening keeps the picture below the screen: peaks there are the picture's own (the streaks
// of a panned shot) and are left alone, but for the moire of two inks printed in one channel (cyan
// and black in red), which lies at the difference of two inks' fundamentals: peaks within
// kFundamentalRing of the screen's lowest frequency and at least kFundamentalShare as strong as
// the strongest. (The picture's own detail modulates the dots and puts weaker sidebands about each
// fundamental, whose differences with it are the picture's frequencies.)
constexpr double kMoireTolerance = 2.5;   // samples between such a difference and the peak found there
constexpr double kFundamentalRing = 1.2;  // times the screen's lowest frequency
constexpr double kFundamentalShare = 0.25;
void leave_alone_below_screen(const Detection& d, const host::SpectrumGeometry& g, std::vector<uint8_t>& done) {
    const double lowest = 1 / d.screen_period;
    std::vector<Frequency> fundamentals;  // and their mirrors
    for (const Peak& p : d.peaks) {
        const Frequency f = frequency_of(g, p.row, p.column);
        const double r = std::hypot(f.u, f.v);
        if (r < kScreenLattice * lowest || r > kFundamentalRing * lowest ||
            p.amplitude < kFundamentalShare * d.peaks.front().amplitude)
            continue;
        fundamentals.push_back(f);
        fundamentals.push_back({-f.u, -f.v});
    }
    for (const Peak& p : d.peaks) {
        const Frequency f = frequency_of(g, p.row, p.column);
        if (std::hypot(f.u, f.v) >= kScreenLattice * lowest) continue;
        bool moire = false;
        for (const Frequency& a : fundamentals)
            for (const Frequency& b : fundamentals)
                moire = moire || distance_in_samples(g, {a.u - b.u, a.v - b.v}, f) <= kMoireTolerance;
        if (!moire) done[static_cast<std::size_t>(p.group)] = 1;
    }
}

// A scanned print's screen where the lattice of its peaks was not made out (a dark or low-key
// picture, whose dots leave few and weak harmonics): the strongest peak that has a partner at
// right angles (within kPartnerAngle degrees) and of about its period (within kPartnerPeriod), as
// a screen lays its dots on a square grid, both as strong as a screen's dots leave their waves.
// A picture's own stripes (blinds, the streaks of a panned shot) have no such partner; a screen
// finer than the scan, which the scanner's optics all but smooth away, leaves only weak moire
// (1-2 % of full scale, where the fundamentals of screens the scan resolves stand at 15-30 %),
// whose peaks are taken out as any others. 0 when there is none.
constexpr double kPartnerAngle = 8;
constexpr double kPartnerPeriod = 0.1;
double print_screen_period(const Detection& d, double sensitivity) {
    const double strong = kScreenAmplitude / sensitivity;
    for (const Peak& p : d.peaks) {
        if (p.amplitude < strong) break;  // strongest first
        for (const Peak& q : d.peaks) {
            if (q.amplitude < strong) break;
            const double turn = std::fmod(std::fabs(p.angle - q.angle), 180.0);
            if (std::fabs(turn - 90) <= kPartnerAngle && std::fabs(q.period - p.period) <= kPartnerPeriod * p.period)
                return std::max(p.period, q.period);
        }
    }
    return 0;
}

}  // namespace

CleanResult clean_picture(const CleanModules& modules, host::Image picture, const CleanOptions& options) {
    if (picture.planes < 3) throw CleanError("cleaning needs a colour picture (three channels)");
    if (picture.rows < 8 || picture.cols < 8) throw CleanError("the picture is too small to clean (8 x 8 at least)");
    if (picture.cols + host::kHalfSpectrumExtraColumns > kLargestSide || picture.rows > kLargestSide)
        throw CleanError("the picture is too large to clean: at most " +
                         std::to_string(kLargestSide - host::kHalfSpectrumExtraColumns) + " columns and " +
                         std::to_string(kLargestSide) + " rows");

    host::Image work = to_float(picture);
    // A picture that can hold no wave at all refutes every period.
    const int32_t flat_side = mostly_pinned(picture, kSmallestAmplitude / options.detect.sensitivity)
                                  ? std::numeric_limits<int32_t>::max()
                                  : largest_flat_square(picture, options.detect.protect_period);
    CleanResult result;
    std::vector<Peak> removed;
    // Two passes: peaks that one sinusoid explains are fitted and those waves taken out of the
    // picture whole, leakage and all; the spectrum of what remains is searched again, and the
    // peaks found then (chirps, scan lines, screens) take their surroundings' magnitudes.
    // Compact peaks whose waves do not run across the whole frame are the picture's own.
    bool weak_searched = false;
    std::vector<Frequency> subtracted;  // the sinusoids taken out in earlier passes
    int32_t divided[2] = {0, 0};        // the periods of the line patterns divided out: rows, columns
    Grid drawn;                         // lines found both ways: a grid drawn on the picture
    for (int pass = 0; pass < 3; ++pass) {
        host::Image spectrum = run_module(modules.forward, host::widen_for_half_spectrum(work), "forward");
        LogMagnitudes m = read_log_magnitudes(spectrum, host::Layout::Half);
        result.detection = detect_peaks(m, options.detect);
        if (options.print && result.detection.screen_period == 0) result.detection.screen_period = print_screen_period(result.detection, options.detect.sensitivity);
        const Detection& d = result.detection;
        const int32_t groups = d.group.empty() ? 0 : *std::max_element(d.group.begin(), d.group.end());
        std::vector<uint8_t> done(static_cast<std::size_t>(groups) + 1, 0);  // by group: left alone or fitted
        std::vector<uint8_t> own(done.size(), 0);  // by group: left alone, for the frame's quarters differ
        std::vector<FittedTone> tones;
        int64_t lines = 0;  // line patterns divided out
        int64_t chirps = 0;  // sweeping waves taken out
        // The picture as its spectrum shows it, kept only when a sweeping wave may be taken out.
        const bool ridges = std::any_of(d.peaks.begin(), d.peaks.end(), [](const Peak& p) { return p.ridge >= kChirpRidge || p.radius > kCompact; });
        const host::Image analysed = pass == 0 && ridges ? work : host::Image{};
        std::vector<Peak> filled;  // peaks to take their surroundings' magnitudes
        // What is left at a divided line pattern's harmonics is the picture's own (the lines of a
        // page the scan lines ran over): their peaks are left alone.
        for (bool rows : {true, false})
            for (const Peak& p : d.peaks)
                if (divided[rows] > 0 && harmonic_of(p, divided[rows], m.geometry, rows))
                    done[static_cast<std::size_t>(p.group)] = 1;
        if (pass == 0 && options.fill == Fill::Background) {
            // The period that explains the most peaks first; when its lines' gains do not hold (the
            // lines of a page of text), those peaks are set aside and the next tried (scan lines
            // over the page).
            LinePattern found[2];
            int32_t ruled[2] = {0, 0};  // the period of the lines found along the axis, drawn or not
            LineSteps steps[2] = {{work, false}, {work, true}};
            for (bool rows : {true, false}) {
                std::vector<Peak> axis = d.peaks;
                for (int attempt = 0; attempt < kLineAttempts && found[rows].period == 0; ++attempt) {
                    const int32_t k = line_period(axis, m.geometry, rows);
                    if (k == 0) break;
                    found[rows] = find_line_pattern(k, steps[rows]);
                    if (ruled[rows] == 0) ruled[rows] = found[rows].lines();
                    std::erase_if(axis, [&](const Peak& p) { return harmonic_of(p, k, m.geometry, rows); });
                }
            }
            // Lines further apart than a line pattern's (a table's columns, when its rows were
            // found) are looked for at longer periods: the shortest whose classes of lines stand
            // out, borne out by the samples. Their peaks need not stand apart on the axis, where
            // the leakage of the lines' many harmonics merges them.
            for (bool rows : {true, false}) {
                if (ruled[rows] > 0 || ruled[!rows] == 0) continue;
                const int32_t length = rows ? work.rows : work.cols;
                for (int32_t k = kLongestLinePeriod + 1; k * kLinesPerClass <= length && ruled[rows] == 0; ++k)
                    if (fit_line_gains(steps[rows].sums, k).stands_out) ruled[rows] = find_line_pattern(k, steps[rows]).lines();
            }
            // Scan lines and streaks run one way; lines both ways are a grid drawn on the picture
            // (graph paper, a table), and left alone with the whole lattice of its peaks. A dense
            // grid's lattice looks like a screen's, and a screen found on it is the grid. (A screen
            // at 45 degrees darkens rows and columns of its dots too, at a period whose lattice
            // does not hold the screen's own frequency.)
            if (ruled[0] > 0 && ruled[1] > 0 &&
                (d.screen_period == 0 || on_lattice(1 / d.screen_period, ruled[0], ruled[1], m.geometry)))
                drawn = {double(m.geometry.period_x) / ruled[0], double(m.geometry.rows) / ruled[1]};
            else if (d.screen_period == 0)
                for (bool rows : {true, false}) {
                    const int32_t period = found[rows].period;
                    if (period == 0) continue;
                    take_out_lines(work, found[rows], rows);
                    divided[rows] = period;
                    ++lines;
                    for (const Peak& p : d.peaks)
                        if (harmonic_of(p, period, m.geometry, rows)) {
                            done[static_cast<std::size_t>(p.group)] = 1;
                            removed.push_back(p);
                        }
                }
        }
        if (drawn.across > 0 && !options.print) {
            result.detection.screen_period = 0;
            for (const Peak& p : d.peaks)
                if (drawn.holds(m.geometry, p.row, p.column)) done[static_cast<std::size_t>(p.group)] = 1;
        }
        if (d.screen_period == 0) {
            Grid grid;
            grid.down = leave_combs_alone(d, m.geometry, true, done);
            grid.across = leave_combs_alone(d, m.geometry, false, done);
            leave_grid_alone(d, m.geometry, grid, done);
            if (grid.across == 0) grid = drawn;
            const ComplexHalf z(spectrum, m.geometry);
            LazyTiles tiles{work, std::nullopt};  // shared with the weak waves' search below
            // Whether the frame's tiles show one wave at frequency f.
            const auto one_wave = [&](const Frequency& f) {
                return !flat_refutes(flat_side, f) && tiles.get().weigh(f).alike >= kWaveAlike;
            };
            // Whether they show a wave at f over the frame, if not quite one amplitude everywhere.
            const auto present = [&](const Frequency& f) {
                if (flat_refutes(flat_side, f)) return false;
                const Tiles::Evidence e = tiles.get().weigh(f);
                return e.presence >= kTonePresence && e.alike >= kToneAlike;
            };
            std::vector<std::vector<uint8_t>> no_sweep;  // the groups of the sweeps that failed
            // A screen lays its dots on a square lattice: two strong peaks at right angles and of
            // one period are its two frequencies, even when neither runs across the frame at one
            // strength (a screen printed with the tones fades to nothing at black and white) and
            // no sum or difference of the two stands out (a lattice of round soft dots). Its
            // two frequencies are alike in strength, its dots lie close (kLongestScreen) and fill
            // many cells of a frame larger than an icon (kScreenCells, kScreenSide), and it is
            // turned off the axes, where the rows and columns of a page or a table put pairs of
            // their own.
            std::vector<uint8_t> lattice(done.size(), 0);  // by group
            const auto screen_like = [&](const Peak& p) {
                const double turned = std::fmod(p.angle, 90);
                return p.amplitude >= kScreenAmplitude && p.period <= kLongestScreen &&
                       std::min(work.rows, work.cols) >= std::max(kScreenSide, kScreenCells * p.period) &&
                       std::min(turned, 90 - turned) >= kScreenOffAxis;
            };
            for (const Peak& a : d.peaks)
                for (const Peak& b : d.peaks)
                    if (a.group != b.group && screen_like(a) && screen_like(b) &&
                        std::max(a.amplitude, b.amplitude) <= kScreenAlike * std::min(a.amplitude, b.amplitude)) {
                        const Frequency fa = frequency_of(m.geometry, a.row, a.column), fb = frequency_of(m.geometry, b.row, b.column);
                        if (square_pair(m.geometry, fa, fb) &&
                            !coarser_than_pair(m.geometry, d.peaks, fa, fb, std::min(a.amplitude, b.amplitude)))
                            lattice[static_cast<std::size_t>(a.group)] = 1;
                    }
            for (const Peak& p : d.peaks) {
                if (done[static_cast<std::size_t>(p.group)]) continue;
                int32_t strongest = 0;
                for (int32_t c = 1; c < 3; ++c)
                    if (m.at(c, p.row, p.column) > m.at(strongest, p.row, p.column)) strongest = c;
                const bool dotted = lattice[static_cast<std::size_t>(p.group)];
                if (p.radius <= kCompact && !dotted && !across_the_frame(work, strongest, frequency_of(m.geometry, p.row, p.column))) {
                    done[static_cast<std::size_t>(p.group)] = 1;
                    own[static_cast<std::size_t>(p.group)] = p.ridge < kChirpRidge;  // not a piece of a sweep
                    continue;
                }
                // A sinusoid's peak is compact, and the frame's tiles show its wave present; a broad
                // peak, or one on a ridge, that one tone seems to explain must show as one wave
                // across the frame too (a panned shot's streaks do not).
                Tone t;
                if (pass == 0 && options.fill == Fill::Background &&
                    explains(fit_tone(z, m.geometry, strongest, p.row, p.column, t), d, m.geometry, strongest, p.row,
                             p.column) &&
                    (p.radius <= kCompact && p.ridge < kChirpRidge ? present(frequency_of(m.geometry, t.b, t.a))
                                                                   : one_wave(frequency_of(m.geometry, t.b, t.a)))) {
                    tones.push_back(fitted_tone(z, m.geometry, t, p.row, p.column));
                    done[static_cast<std::size_t>(p.group)] = 1;
                    removed.push_back(p);
                    continue;
                }
                // Peaks of one direction give the same groups, and a sweep that failed for them
                // fails again: it is fitted from the pass's spectrum and picture alone. A picture
                // whose ridges failed a few times over is full of straight edges (text, drawings),
                // and its weaker ridges are not tried: each try runs the inverse filter.
                // A wave sweeping only a few per cent across the frame leaves no ridge, but a broad
                // peak that the tiles do not show as one wave (its phase drifts from tile to tile).
                const bool slow_sweep = p.radius > kCompact && p.ridge < kChirpRidge && !dotted &&
                                        !one_wave(frequency_of(m.geometry, p.row, p.column));
                const std::vector<uint8_t> along = pass == 0 && options.fill == Fill::Background &&
                                                           (p.ridge >= kChirpRidge || slow_sweep) && no_sweep.size() < kChirpTries
                                                       ? same_direction(d, p)
                                                       : std::vector<uint8_t>{};
                const bool sweeps = !along.empty() && std::find(no_sweep.begin(), no_sweep.end(), along) == no_sweep.end() &&
                                    !flat_refutes(flat_side, frequency_of(m.geometry, p.row, p.column));
                const bool swept = sweeps && subtract_chirp(work, analysed, modules.inverse, spectrum, m, d, along, slow_sweep);
                if (sweeps && !swept) no_sweep.push_back(along);
                if (swept) {
                    ++chirps;
                    for (const Peak& q : d.peaks)
                        if (along[static_cast<std::size_t>(q.group)] && !done[static_cast<std::size_t>(q.group)]) {
                            done[static_cast<std::size_t>(q.group)] = 1;
                            removed.push_back(q);
                        }
                } else if (!dotted && !one_wave(frequency_of(m.geometry, p.row, p.column))) {
                    // A peak that no sinusoid or sweep explains and that the frame's tiles do not
                    // show as one wave: the picture's own structure (the streaks of a panned shot,
                    // a fence in part of the frame), left alone.
                    done[static_cast<std::size_t>(p.group)] = 1;
                } else {
                    filled.push_back(p);
                }
            }
            // Weak waves: searched once, in the first pass that has nothing else to take out.
            if (!weak_searched && pass < 2 && options.fill == Fill::Background && tones.empty() && lines == 0 &&
                chirps == 0) {
                weak_searched = true;
                find_weak_waves(tiles, z, m, d, own, grid, subtracted, flat_side, tones, removed);
            }
        }
        if (!tones.empty() || lines > 0 || chirps > 0) {
            subtract_tones(work, tones);
            for (const FittedTone& t : tones) subtracted.push_back(t.f);
            result.changed += static_cast<int64_t>(tones.size()) + lines + chirps;
            continue;  // search again what remains
        }
        // A screen's magnitudes as found, for telling where it is once its peaks are filled.
        const LogMagnitudes found = options.lowpass && d.screen_period > 0 ? m : LogMagnitudes{};
        if (options.lowpass && d.screen_period > 0) leave_alone_below_screen(d, m.geometry, done);
        int64_t changed = remove_peaks(m, d, done, options.fill);
        std::array<std::vector<float>, 3> share;  // by channel: where a screen's low-pass is taken
        removed.insert(removed.end(), filled.begin(), filled.end());
        if (options.lowpass && d.screen_period > 0) {
            const std::array<double, 3> screen = screen_frequencies(m, d);
            const double keep = 1 / options.detect.protect_period;
            // The period the low-pass halves, in the channel cut lowest.
            double cut = 1;
            for (double f : screen) cut = f > 0 ? std::min(cut, f) : cut;
            result.lowpass_period = 1 / (keep + std::sqrt(2 * std::numbers::ln2) * kDescreenWidth * cut);
            share = screened_share(modules.inverse, spectrum, found, d, screen, work.rows, work.cols, options.print);
            changed += descreen(m, screens_of(found, d, screen, keep), keep);
            removed.clear();
            for (const Peak& p : d.peaks)
                if (!done[static_cast<std::size_t>(p.group)]) removed.push_back(p);
        }
        if (changed > 0) {
            write_log_magnitudes(m, spectrum);
            host::Image cleaned = host::crop_after_half_spectrum(run_module(modules.inverse, std::move(spectrum), "inverse"));
            // The low-pass is taken where the screen is; elsewhere the picture stays as it was.
            for (int32_t c = 0; c < 3; ++c)
                if (!share[std::size_t(c)].empty())
                    for (int32_t y = 0; y < work.rows; ++y)
                        for (int32_t x = 0; x < work.cols; ++x) {
                            const float a = share[std::size_t(c)][std::size_t(y) * work.cols + x];
                            cleaned.set<float>(y, x, c, a * cleaned.get<float>(y, x, c) + (1 - a) * work.get<float>(y, x, c));
                        }
            work = std::move(cleaned);
            result.changed += changed;
        }
        break;
    }
    result.detection.peaks = std::move(removed);
    if (result.changed == 0) {  // nothing to remove: the picture as it was
        result.image = std::move(picture);
        return result;
    }

    // A sample pinned at either end of the range only says that the picture plus the noise went
    // past it there: what the picture held lies between that end and the cleaned value (a
    // saturated highlight or shadow is common), so it takes the middle of the two rather than the
    // whole inverted wave. (The dots of a halftone screen sit at the ends of the range too, and the
    // low-pass must take them.)
    const double full = host::Image::full_scale(picture.depth);
    const bool keep_pinned = result.lowpass_period == 0;
    for (int32_t y = 0; y < picture.rows; ++y)
        for (int32_t x = 0; x < picture.cols; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                const double v = picture.value(y, x, c);
                const double w = work.get<float>(y, x, c) * full;
                picture.set_value(y, x, c, keep_pinned && (v == 0 || v == full) ? (v + w) / 2 : w);
            }
    result.image = std::move(picture);
    return result;
}

}  // namespace quen::cleaning
