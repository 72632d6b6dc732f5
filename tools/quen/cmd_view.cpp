// quen view: a picture of a spectrum's log magnitudes alone, contrast-stretched, with the peaks of
// periodic noise circled, for looking rather than reading.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "args.h"
#include "commands.h"
#include "image_io.h"
#include "outputs.h"

namespace fs = std::filesystem;

namespace quen::tool {

const char* const kViewHelp =
    "usage: quen view SPECTRUM -o VIEW [--layout full|half] [--sensitivity S] [--protect PERIOD]\n"
    "\n"
    "Writes an 8-bit grey picture of the spectrum's log magnitudes alone (the mean of the channels\n"
    "that hold them), stretched so that the faint and the bright both show, with each peak that\n"
    "quen peaks lists circled in red (and, in a full spectrum, its mirror). The view has one pixel\n"
    "per magnitude sample, so its columns and rows are those quen edit --notch takes. Any depth\n"
    "and either layout; the layout as quen peaks finds it.\n"
    "\n"
    "  -o VIEW            the view (.png, .tif or .tiff)\n"
    "  --force            replace a read-only file with the view (refused otherwise)\n"
    "\n"
    "example: quen view spectrum.png -o view.png\n";

namespace {

constexpr double kLowShare = 0.01, kHighShare = 0.999;  // the stretch maps these quantiles to black and white
constexpr double kMarkMargin = 3;                        // circles this far outside a peak

void circle(host::Image& view, double cx, double cy, double radius) {
    const int32_t steps = std::max(16, static_cast<int32_t>(8 * radius));
    for (int32_t i = 0; i < steps; ++i) {
        const double a = 2 * 3.14159265358979323846 * i / steps;
        const int32_t x = static_cast<int32_t>(std::lround(cx + radius * std::cos(a)));
        const int32_t y = static_cast<int32_t>(std::lround(cy + radius * std::sin(a)));
        if (x < 0 || y < 0 || x >= view.cols || y >= view.rows) continue;
        view.set<uint8_t>(y, x, 0, 255);
        view.set<uint8_t>(y, x, 1, 0);
        view.set<uint8_t>(y, x, 2, 0);
    }
}

}  // namespace

int view_command(const std::vector<std::string>& args) {
    const ParsedArgs parsed = parse_args(args, {"-o", "--layout", "--sensitivity", "--protect"}, {"--force"});
    if (parsed.help) {
        std::fputs(kViewHelp, stdout);
        return 0;
    }
    if (parsed.operands.size() != 1) throw UsageError("view needs exactly one spectrum picture");
    const OutputRequest request = output_request(parsed);
    if (!request.output) throw UsageError("view needs -o VIEW");
    const fs::path target = plan_outputs(parsed.operands, request)[0];
    check_output_format(target, 8);
    check_replaceable(target, request.force);
    const std::string& input = parsed.operands[0];
    const SpectrumPeaks found = find_spectrum_peaks(input, parsed);

    const cleaning::LogMagnitudes& m = found.magnitudes;
    const host::SpectrumGeometry& g = m.geometry;
    std::vector<float> level(static_cast<std::size_t>(g.rows) * g.columns, 0.0f);
    for (int32_t c = 0; c < g.channels; ++c)
        for (int32_t y = 0; y < g.rows; ++y)
            for (int32_t x = 0; x < g.columns; ++x) level[std::size_t(y) * g.columns + x] += m.at(c, y, x) / g.channels;
    std::vector<float> sorted = level;
    auto quantile = [&](double share) {
        auto at = sorted.begin() + static_cast<std::ptrdiff_t>(share * double(sorted.size() - 1));
        std::nth_element(sorted.begin(), at, sorted.end());
        return *at;
    };
    const double lo = quantile(kLowShare), hi = std::max<double>(quantile(kHighShare), lo + 1e-6);

    Picture view;
    view.image = host::Image::make(g.rows, g.columns, 3, 8);
    for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.columns; ++x) {
            const double v = 255 * (level[std::size_t(y) * g.columns + x] - lo) / (hi - lo);
            for (int32_t c = 0; c < 3; ++c) view.image.set_value(y, x, c, v);
        }
    for (const cleaning::Peak& p : found.detection.peaks) {
        circle(view.image, p.column, p.row, p.notch + kMarkMargin);
        if (found.layout == Layout::Full)
            circle(view.image, 2 * g.centre_x - p.column, 2 * g.centre_y - p.row, p.notch + kMarkMargin);
    }
    write_picture(target, view);
    std::printf("%s -> %s: %d x %d log magnitudes (%s layout), %zu peak%s circled\n", input.c_str(),
                target.string().c_str(), g.columns, g.rows, found.layout == Layout::Full ? "full" : "half",
                found.detection.peaks.size(), found.detection.peaks.size() == 1 ? "" : "s");
    return 0;
}

}  // namespace quen::tool
