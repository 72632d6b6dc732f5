// Spectrum edits: the geometry of the two spectrum layouts and the zeroing of magnitude samples.
#include "edit.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <stdexcept>

#include "args.h"
#include "log_spectrum.h"

namespace quen::tool {
namespace {

// Distance from a to b along a circle of `period` samples.
double wrapped(double a, double b, double period) {
    const double d = std::fmod(std::fabs(a - b), period);
    return std::min(d, period - d);
}

bool in_disc(const SpectrumGeometry& g, double y, double x, double cy, double cx, double r) {
    return std::hypot(wrapped(x, cx, g.period_x), wrapped(y, cy, g.rows)) <= r;
}

// The weight a notch gives sample (y, x): 0 within its radius of the centre or of the centre's
// mirror, rising as a raised cosine to 1 at radius + soft, 1 beyond.
double notch_weight(const Edit& e, const SpectrumGeometry& g, int32_t y, int32_t x) {
    const double d = std::min(std::hypot(wrapped(x, e.x, g.period_x), wrapped(y, e.y, g.rows)),
                              std::hypot(wrapped(x, 2 * g.centre_x - e.x, g.period_x),
                                         wrapped(y, 2 * g.centre_y - e.y, g.rows)));
    if (d <= e.radius) return 0;
    if (d >= e.radius + e.soft) return 1;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * (d - e.radius) / e.soft);
}

// Calls visit(y, x) once for every magnitude sample within `reach` of (cy, cx), wrapping around
// the spectrum's period.
template <class Visit>
void around(const SpectrumGeometry& g, double cy, double cx, double reach, Visit visit) {
    const int32_t y0 = static_cast<int32_t>(std::floor(cy - reach)), x0 = static_cast<int32_t>(std::floor(cx - reach));
    const int32_t ny = std::min(g.rows, static_cast<int32_t>(std::ceil(cy + reach)) - y0 + 1);
    const int32_t nx = std::min(g.period_x, static_cast<int32_t>(std::ceil(cx + reach)) - x0 + 1);
    for (int32_t i = 0; i < ny; ++i) {
        const int32_t y = ((y0 + i) % g.rows + g.rows) % g.rows;
        for (int32_t j = 0; j < nx; ++j) {
            const int32_t x = ((x0 + j) % g.period_x + g.period_x) % g.period_x;
            if (x < g.columns) visit(y, x);
        }
    }
}

// Applies a weight to the magnitudes of one frequency in every magnitude channel: 0 removes it
// (sample 0, which the inverse filters leave out), less than 1 lowers it; a frequency already
// removed stays so. Returns whether anything changed.
bool weigh(host::Image& image, const SpectrumGeometry& g, const cleaning::LogScale& scale, int32_t y, int32_t x,
           double weight) {
    if (weight >= 1) return false;
    for (int32_t c = 0; c < g.channels; ++c) {
        const double s = image.value(y, x, c);
        if (s == 0) continue;
        image.set_value(y, x, c, weight <= 0 ? 0.0 : scale.to_sample(scale.to_log(s) + std::log10(weight)));
    }
    return true;
}

}  // namespace

void check_edit(const Edit& edit, const SpectrumGeometry& g) {
    if (!(edit.radius >= 0) || !std::isfinite(edit.radius)) throw std::invalid_argument("radius " + number_text(edit.radius) + " is not a distance");
    if (!(edit.soft >= 0) || !std::isfinite(edit.soft))
        throw std::invalid_argument("soft edge " + number_text(edit.soft) + " is not a distance");
    if (edit.kind == Edit::Kind::Band && !(edit.outer >= edit.radius))
        throw std::invalid_argument("band " + number_text(edit.radius) + "," + number_text(edit.outer) +
                                    ": the outer radius must not be smaller than the inner one");
    if (edit.kind == Edit::Kind::Notch && !(edit.x >= 0 && edit.x < g.columns && edit.y >= 0 && edit.y < g.rows))
        throw std::invalid_argument("notch centre " + number_text(edit.x) + "," + number_text(edit.y) +
                                    " is outside the magnitude samples (columns 0 to " + std::to_string(g.columns - 1) +
                                    ", rows 0 to " + std::to_string(g.rows - 1) + ")");
}

bool removes(const std::vector<Edit>& edits, const SpectrumGeometry& g, int32_t y, int32_t x) {
    const double radius = std::hypot(x - g.centre_x, y - g.centre_y);
    for (const Edit& e : edits) {
        switch (e.kind) {
        case Edit::Kind::Notch: {
            // The partner of frequency f is -f: the point mirrored through the zero frequency.
            const double px = 2 * g.centre_x - e.x, py = 2 * g.centre_y - e.y;
            if (in_disc(g, y, x, e.y, e.x, e.radius) || in_disc(g, y, x, py, px, e.radius)) return true;
            break;
        }
        case Edit::Kind::Lowpass:
            if (radius > e.radius) return true;
            break;
        case Edit::Kind::Highpass:
            if (radius < e.radius) return true;
            break;
        case Edit::Kind::Band:
            if (radius < e.radius || radius > e.outer) return true;
            break;
        }
    }
    return false;
}

int64_t apply_edits(host::Image& spectrum, Layout layout, const std::vector<Edit>& edits) {
    const SpectrumGeometry g = spectrum_geometry(spectrum.rows, spectrum.cols, layout);
    if (spectrum.planes < 3) throw std::invalid_argument("a spectrum picture has three colour channels");
    for (const Edit& e : edits) check_edit(e, g);
    const cleaning::LogScale scale = cleaning::log_scale(g, spectrum.depth);
    int64_t changed = 0;
    // Radial cuts reach over the whole spectrum; notches only over their discs and the discs'
    // mirrors, so that their cost follows the area they edit.
    std::vector<Edit> radial;
    for (const Edit& e : edits)
        if (e.kind != Edit::Kind::Notch) radial.push_back(e);
    if (!radial.empty())
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x)
                if (removes(radial, g, y, x)) changed += weigh(spectrum, g, scale, y, x, 0);
    // A frequency counts once: not again when an earlier edit has already changed it.
    auto earlier_changed = [&](const Edit* notch, int32_t y, int32_t x) {
        if (!radial.empty() && removes(radial, g, y, x)) return true;
        for (const Edit* e = edits.data(); e != notch; ++e)
            if (e->kind == Edit::Kind::Notch && notch_weight(*e, g, y, x) < 1) return true;
        return false;
    };
    for (const Edit& e : edits) {
        if (e.kind != Edit::Kind::Notch) continue;
        const double reach = e.radius + e.soft, mx = 2 * g.centre_x - e.x, my = 2 * g.centre_y - e.y;
        // Each sample once: from the disc whose centre is nearer.
        auto nearer_to = [&](double cy, double cx, double oy, double ox) {
            return [&, cy, cx, oy, ox](int32_t y, int32_t x) {
                const double d = std::hypot(wrapped(x, cx, g.period_x), wrapped(y, cy, g.rows));
                const double other = std::hypot(wrapped(x, ox, g.period_x), wrapped(y, oy, g.rows));
                if (d < other || (d == other && cx == e.x && cy == e.y))
                    if (weigh(spectrum, g, scale, y, x, notch_weight(e, g, y, x)) && !earlier_changed(&e, y, x)) ++changed;
            };
        };
        around(g, e.y, e.x, reach, nearer_to(e.y, e.x, my, mx));
        around(g, my, mx, reach, nearer_to(my, mx, e.y, e.x));
    }
    return changed;
}

}  // namespace quen::tool
