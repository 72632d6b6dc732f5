// Fitted tones: least-squares fits of one sinusoid to a peak, and their subtraction.
#include "tones.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "kernels.h"
#include "products.h"

namespace quen::cleaning {
namespace {

// Spectrum over n samples of a complex exponential delta samples off, divided by n.
std::complex<double> dirichlet(double delta, int32_t n) {
    const double s = std::sin(std::numbers::pi * delta / n);
    if (std::fabs(s) < 1e-12) return 1;
    return std::polar(std::sin(std::numbers::pi * delta) / (n * s), -std::numbers::pi * delta * (n - 1) / n);
}

constexpr int32_t kFitReach = 2;  // the fit looks at (2 x 2 + 1)^2 samples about the peak

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

// Least-squares amplitude of the tone over the window's samples. The mirrored frequency reaches
// the window beside either end of the columns: at -a about the column of zero horizontal
// frequency, at period_x - a about the highest. With its term the model A k + conj(A) l is linear
// in the real and imaginary parts of A only. The shapes are products of a row and a column factor,
// worked out once a row and a column.
Fit fit_amplitude(const Window& w, const host::SpectrumGeometry& g, const Tone& t) {
    const bool mirrored = std::min(t.a, g.period_x / 2.0 - t.a) < 2 * kFitReach + 1;
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
            const std::complex<double> v = w.v[i][j], k = times(kx[j], ky[i]), l = times(lx[j], ly[i]);
            const std::complex<double> e1 = k + l, e2 = std::complex<double>(0, 1) * (k - l);
            g11 += std::norm(e1);
            g22 += std::norm(e2);
            g12 += real_of_times(e1, std::conj(e2));
            r1 += real_of_times(v, std::conj(e1));
            r2 += real_of_times(v, std::conj(e2));
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

// s[c] += b[c].re re - b[c].im im over n samples, for the three channels c: their share of a wave
// along a row, the row's cosines and sines read once for the three.
[[gnu::always_inline]] inline void add_wave_body(double* s0, double* s1, double* s2, const double* re, const double* im,
                                                 const std::complex<double>* b, std::size_t n) {
    const double b0r = b[0].real(), b0i = b[0].imag(), b1r = b[1].real(), b1i = b[1].imag(), b2r = b[2].real(),
                 b2i = b[2].imag();
    for (std::size_t x = 0; x < n; ++x) {
        const double r = re[x], i = im[x];
        s0[x] += b0r * r - b0i * i;
        s1[x] += b1r * r - b1i * i;
        s2[x] += b2r * r - b2i * i;
    }
}
QUEN_KERNEL(add_wave,
                 (double* s0, double* s1, double* s2, const double* re, const double* im, const std::complex<double>* b,
                  std::size_t n),
                 (s0, s1, s2, re, im, b, n))

// t = d a over n complex numbers as real and imaginary parts apart, as std::complex forms the
// product (its check for infinities aside: none arise from unit phasors).
[[gnu::always_inline]] inline void turn_body(const double* d_re, const double* d_im, const double* a_re,
                                             const double* a_im, double* t_re, double* t_im, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        t_re[k] = d_re[k] * a_re[k] - d_im[k] * a_im[k];
        t_im[k] = d_re[k] * a_im[k] + d_im[k] * a_re[k];
    }
}
QUEN_KERNEL(turn,
                 (const double* d_re, const double* d_im, const double* a_re, const double* a_im, double* t_re,
                  double* t_im, std::size_t n),
                 (d_re, d_im, a_re, a_im, t_re, t_im, n))

// s += v conj(t) over n complex numbers, as real and imaginary parts apart.
[[gnu::always_inline]] inline void add_conj_body(double v, const double* t_re, const double* t_im, double* s_re,
                                                 double* s_im, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        s_re[k] += v * t_re[k];
        s_im[k] += v * -t_im[k];
    }
}
QUEN_KERNEL(add_conj, (double v, const double* t_re, const double* t_im, double* s_re, double* s_im, std::size_t n),
                 (v, t_re, t_im, s_re, s_im, n))

}  // namespace

Fit fit_tone(const ComplexHalf& z, const host::SpectrumGeometry& g, int32_t c, int32_t y0, int32_t x0, Tone& best) {
    const Window w(z, g, c, y0, x0);
    Fit fit{0, HUGE_VAL, 0};
    best = Tone{double(x0), double(y0)};
    for (double step : {0.05, 0.005}) {
        const Tone centre = best;
        for (int i = -10; i <= 10; ++i)
            for (int j = -10; j <= 10; ++j) {
                const Tone t{centre.a + i * step, centre.b + j * step};
                if (t.a < 0 || 2 * t.a > g.period_x) continue;  // (the mirror's, the same wave)
                const Fit f = fit_amplitude(w, g, t);
                if (f.left < fit.left) {
                    fit = f;
                    best = t;
                }
            }
    }
    return fit;
}

bool explains(const Fit& fit, const Detection& d, const host::SpectrumGeometry& g, int32_t c, int32_t y0, int32_t x0,
              const Thresholds& t) {
    return fit.left <= std::max(t.fit_explains * fit.total, t.fit_natural * natural_energy(d, g, c, y0, x0));
}

FittedTone fitted_tone(const ComplexHalf& z, const host::SpectrumGeometry& g, const Tone& t, int32_t y0, int32_t x0) {
    FittedTone tone{frequency_of(g, t.b, t.a), {}};
    for (int32_t c = 0; c < 3; ++c) tone.amplitude[c] = fit_amplitude(Window(z, g, c, y0, x0), g, t).amplitude;
    return tone;
}

// The half
// spectrum of the row-signed channel holds amplitude A at frequency (u, v) for the wave
// 2 Re(A exp(2 pi i (u x + v y))) of the picture: the whole wave, leakage and all, goes at once.
// Along a row that wave is a complex factor times exp(2 pi i u x), worked out once per tone, so
// the waves are summed over contiguous buffers, eight rows at a time (each tone's cosines and
// sines read once for them), and subtracted once: a few operations per sample and tone, where a
// picture with a hundred tones would otherwise take minutes.
void subtract_tones(host::Image& picture, const std::vector<FittedTone>& tones, const std::vector<bool>* rows_wanted) {
    constexpr std::size_t kBatch = 64;  // tones summed per pass over the picture
    constexpr int32_t kBlock = 8;       // rows summed together
    const std::size_t cols = static_cast<std::size_t>(picture.cols);
    std::vector<double> cos_x(kBatch * cols), sin_x(kBatch * cols), sum(kBlock * 3 * cols);
    std::vector<int32_t> block;  // the rows of a block that are wanted
    for (std::size_t first = 0; first < tones.size(); first += kBatch) {
        const std::size_t count = std::min(kBatch, tones.size() - first);
        for (std::size_t t = 0; t < count; ++t)
            for (std::size_t x = 0; x < cols; ++x) {
                const std::complex<double> w = std::polar(1.0, 2 * std::numbers::pi * tones[first + t].f.u * double(x));
                cos_x[t * cols + x] = w.real();
                sin_x[t * cols + x] = w.imag();
            }
        for (int32_t y0 = 0; y0 < picture.rows; y0 += kBlock) {
            block.clear();
            for (int32_t y = y0; y < std::min(picture.rows, y0 + kBlock); ++y)
                if (!rows_wanted || (*rows_wanted)[std::size_t(y)]) block.push_back(y);
            std::fill(sum.begin(), sum.end(), 0.0);
            for (std::size_t t = 0; t < count; ++t) {
                const FittedTone& tone = tones[first + t];
                for (std::size_t r = 0; r < block.size(); ++r) {
                    const std::complex<double> row = std::polar(1.0, 2 * std::numbers::pi * tone.f.v * block[r]);
                    std::complex<double> b[3];
                    for (int32_t c = 0; c < 3; ++c) b[c] = 2.0 * tone.amplitude[c] * row;  // 2 Re(b (re + i im))
                    double* s = &sum[r * 3 * cols];
                    add_wave(s, s + cols, s + 2 * cols, &cos_x[t * cols], &sin_x[t * cols], b, cols);
                }
            }
            for (std::size_t r = 0; r < block.size(); ++r)
                for (int32_t x = 0; x < picture.cols; ++x)
                    for (int32_t c = 0; c < 3; ++c)
                        picture.set<float>(block[r], x, c,
                                           static_cast<float>(picture.get<float>(block[r], x, c) -
                                                              sum[(r * 3 + std::size_t(c)) * cols + std::size_t(x)]));
        }
    }
}

bool pinned_at(const host::Image& came, const std::vector<uint8_t>& ends, int32_t y, int32_t x, int32_t c, float& at) {
    const uint8_t end = ends[(std::size_t(y) * came.cols + x) * 3 + std::size_t(c)];
    at = end == 1 ? 0.0f : 1.0f;
    return end != 0 && came.get<float>(y, x, c) == at;
}

void hold_pinned(host::Image& work, const host::Image& came, const std::vector<uint8_t>& ends, int32_t c, int32_t reach) {
    if (ends.empty()) return;
    float at = 0;
    const auto pinned = [&](int32_t y, int32_t x) { return pinned_at(came, ends, y, x, c, at); };
    const auto cleaned = [&](int32_t y, int32_t x) { return double(work.get<float>(y, x, c)); };
    // Written once all are worked out, as each reads its neighbours.
    std::vector<std::pair<std::size_t, float>> held;
    for (int32_t y = 0; y < work.rows; ++y)
        for (int32_t x = 0; x < work.cols; ++x)
            if (pinned(y, x))
                held.push_back({std::size_t(y) * work.cols + x,
                                static_cast<float>(held_at_end(work.rows, work.cols, y, x, at, cleaned(y, x), reach, pinned, cleaned))});
    for (const auto& [i, v] : held) work.set<float>(int32_t(i / work.cols), int32_t(i % work.cols), c, v);
}

void unclip_tones(std::vector<FittedTone>& tones, const host::Image& work, const std::vector<uint8_t>& ends, int rounds,
                  int32_t reach) {
    if (ends.empty() || tones.empty()) return;
    const int32_t rows = work.rows, cols = work.cols;
    const std::size_t k_count = tones.size(), width = static_cast<std::size_t>(cols);
    // e^{2 pi i f.(x, y)} = along[x] down[y], by tone, as real and imaginary parts apart, for the
    // kernels that run over the tones in step.
    std::vector<double> along_re(k_count * width), along_im(k_count * width), down_re(k_count), down_im(k_count),
        turn_re(k_count), turn_im(k_count);
    for (std::size_t k = 0; k < k_count; ++k)
        for (std::size_t x = 0; x < width; ++x) {
            const std::complex<double> a = std::polar(1.0, 2 * std::numbers::pi * std::fmod(tones[k].f.u * double(x), 1.0));
            along_re[x * k_count + k] = a.real();
            along_im[x * k_count + k] = a.imag();
        }
    // The rows holding a sample at an end, and those within reach of one, whose cleaned samples
    // are read: the waves are taken out of those alone.
    std::vector<bool> pinned_row(std::size_t(rows), false), wanted(std::size_t(rows), false);
    for (int32_t y = 0; y < rows; ++y) {
        const uint8_t* row = &ends[std::size_t(y) * width * 3];
        pinned_row[std::size_t(y)] = std::any_of(row, row + width * 3, [](uint8_t e) { return e != 0; });
        if (pinned_row[std::size_t(y)])
            for (int32_t j = std::max(0, y - reach); j <= std::min(rows - 1, y + reach); ++j) wanted[std::size_t(j)] = true;
    }
    const std::vector<FittedTone> clipped = tones;
    std::vector<double> sum_re(3 * k_count), sum_im(3 * k_count);  // by channel, then tone
    host::Image cleaned = work;
    const double n = double(rows) * cols;
    for (int r = 0; r < rounds; ++r) {
        cleaned = work;
        subtract_tones(cleaned, tones, &wanted);
        std::fill(sum_re.begin(), sum_re.end(), 0.0);
        std::fill(sum_im.begin(), sum_im.end(), 0.0);
        for (int32_t y = 0; y < rows; ++y) {
            if (!pinned_row[std::size_t(y)]) continue;
            const uint8_t* row = &ends[std::size_t(y) * width * 3];
            for (std::size_t k = 0; k < k_count; ++k) {
                const std::complex<double> d = std::polar(1.0, 2 * std::numbers::pi * std::fmod(tones[k].f.v * y, 1.0));
                down_re[k] = d.real();
                down_im[k] = d.imag();
            }
            for (std::size_t x = 0; x < width; ++x) {
                if (!(row[x * 3] | row[x * 3 + 1] | row[x * 3 + 2])) continue;
                bool turned = false;  // turn[] is worked out for this sample once a channel needs it
                for (int32_t c = 0; c < 3; ++c) {
                    // A sample past either end (a float picture's) was not cut off there.
                    const uint8_t end = row[x * 3 + std::size_t(c)];
                    const double at = end == 1 ? 0 : 1;
                    if (!end || work.get<float>(y, int32_t(x), c) != at) continue;
                    const double wave = work.get<float>(y, int32_t(x), c) - cleaned.get<float>(y, int32_t(x), c);
                    const double held = held_at_end(
                        rows, cols, y, int32_t(x), at, cleaned.get<float>(y, int32_t(x), c), reach,
                        [&](int32_t j, int32_t i) { return ends[(std::size_t(j) * width + std::size_t(i)) * 3 + std::size_t(c)] != 0; },
                        [&](int32_t j, int32_t i) { return double(cleaned.get<float>(j, i, c)); });
                    // What the waves push beyond the end the sample was held at.
                    const double beyond = end == 1 ? std::min(0.0, held + wave) : std::max(0.0, held + wave - 1);
                    if (beyond == 0) continue;
                    if (!turned)
                        turn(down_re.data(), down_im.data(), &along_re[x * k_count], &along_im[x * k_count],
                             turn_re.data(), turn_im.data(), k_count);
                    turned = true;
                    add_conj(beyond, turn_re.data(), turn_im.data(), &sum_re[std::size_t(c) * k_count],
                             &sum_im[std::size_t(c) * k_count], k_count);
                }
            }
        }
        for (std::size_t k = 0; k < k_count; ++k)
            for (std::size_t c = 0; c < 3 && !tones[k].unclipped; ++c)
                tones[k].amplitude[c] =
                    clipped[k].amplitude[c] + std::complex<double>(sum_re[c * k_count + k], sum_im[c * k_count + k]) / n;
    }
}

}  // namespace quen::cleaning
