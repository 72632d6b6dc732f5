// Spectrum edits: the geometry of the two spectrum layouts and the zeroing of magnitude samples.
#include "edit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "args.h"

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

template <class S>
int64_t zero_removed(host::Image& image, const SpectrumGeometry& g, const std::vector<Edit>& edits) {
    int64_t removed = 0;
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            if (!removes(edits, g, y, x)) continue;
            for (int32_t c = 0; c < g.channels; ++c) image.set<S>(y, x, c, S(0));
            ++removed;
        }
    return removed;
}

}  // namespace

void check_edit(const Edit& edit, const SpectrumGeometry& g) {
    if (!(edit.radius >= 0) || !std::isfinite(edit.radius)) throw std::invalid_argument("radius " + number_text(edit.radius) + " is not a distance");
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
    switch (spectrum.depth) {
    case 8: return zero_removed<uint8_t>(spectrum, g, edits);
    case 16: return zero_removed<uint16_t>(spectrum, g, edits);
    default: return zero_removed<float>(spectrum, g, edits);
    }
}

}  // namespace quen::tool
