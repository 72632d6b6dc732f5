// quen demo: the whole job on a built-in picture. A smooth scene crossed by periodic stripes goes
// through the forward filter, the stripe peaks are notched out of its spectrum, and the inverse
// filter gives the picture back without the stripes; each step is a file, as by hand.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "args.h"
#include "commands.h"
#include "image_io.h"
#include "synthetic.h"

namespace fs = std::filesystem;

namespace quen::tool {
namespace {

constexpr int32_t kRows = 384;
constexpr int32_t kTransformCols = 384;  // columns that enter the transform
constexpr double kNotchRadius = 3;
const host::StripePattern kStripes{0.08, 8, 12};  // amplitude, pixels per cycle across and down

double decibels(double power) { return 10 * std::log10(std::max(power, 1e-30)); }

}  // namespace

const char* const kDemoHelp =
    "usage: quen demo [DIR] [--layout full|half] [--depth 8|16|32] [--modules DIR]\n"
    "\n"
    "Shows the whole job on a built-in picture, writing each step into DIR (default: demo):\n"
    "  picture    a smooth scene crossed by periodic stripes\n"
    "  spectrum   its spectrum from the forward filter\n"
    "  notched    the spectrum with the stripes' peaks removed (quen edit --notch)\n"
    "  cleaned    the picture the inverse filter makes of the notched spectrum\n"
    "and prints how much of the stripes' energy is left.\n"
    "\n"
    "  --layout full    (default) QuenFwd and QuenInv on the luminance\n"
    "  --layout half    QuenFwdR and QuenInvR on each colour channel\n"
    "  --depth D        8 (default) or 16 bits per sample in PNG files, or 32-bit float TIFF\n"
    "  --modules DIR    look for filter modules in DIR only\n";

int demo_command(const std::vector<std::string>& args) {
    const ParsedArgs parsed = parse_args(args, {"--layout", "--depth", "--modules"});
    if (parsed.help) {
        std::fputs(kDemoHelp, stdout);
        return 0;
    }
    if (parsed.operands.size() > 1) throw UsageError("demo takes at most one folder");
    const fs::path dir = parsed.operands.empty() ? fs::path("demo") : fs::path(parsed.operands[0]);
    const std::string* layout_text = parsed.single("--layout");
    const Layout layout = layout_text ? parse_layout(*layout_text) : Layout::Full;
    const std::string* depth_text = parsed.single("--depth");
    const int32_t depth = depth_text ? parse_depth(*depth_text) : 8;

    const bool full = layout == Layout::Full;
    const auto dirs = module_dirs(parsed.single("--modules"));
    const std::vector<Filter> forward = load_chain(dirs, full ? "QuenFwd" : "QuenFwdR");
    const std::vector<Filter> inverse = load_chain(dirs, full ? "QuenInv" : "QuenInvR");

    // The half-spectrum filters leave out the last two columns, so that picture is two wider.
    const int32_t cols = full ? kTransformCols : kTransformCols + 2;
    const std::string ext = depth == 32 ? ".tif" : ".png";
    const fs::path picture = dir / ("picture" + ext), spectrum = dir / ("spectrum" + ext);
    const fs::path notched = dir / ("notched" + ext), cleaned = dir / ("cleaned" + ext);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) throw ToolError(dir.string() + ": cannot create the folder");

    const host::Image scene = host::synthetic_scene(kRows, cols, depth, 3, kStripes);
    write_image(picture, scene);
    apply_to_file(forward, picture, spectrum);

    // Each stripe direction leaves one peak (and its mirror, which the notch removes too) at its
    // frequency from the zero frequency: transform width / period columns across, rows / period down.
    const SpectrumGeometry g = spectrum_geometry(kRows, cols, layout);
    const double across = double(kTransformCols) / kStripes.period_x, down = double(kRows) / kStripes.period_y;
    const std::vector<Edit> notches = {{Edit::Kind::Notch, g.centre_x + across, g.centre_y, kNotchRadius},
                                       {Edit::Kind::Notch, g.centre_x, g.centre_y + down, kNotchRadius}};
    edit_file(spectrum, notched, layout, notches);
    const host::Image result = apply_to_file(inverse, notched, cleaned).picture.image;

    const double before = decibels(host::stripe_power(scene, kStripes, kTransformCols));
    const double after = decibels(host::stripe_power(result, kStripes, kTransformCols));
    const std::string fwd = forward[0].name, inv = inverse[0].name;
    std::printf("quen demo: a %d x %d picture, %s, a smooth scene crossed by stripes every %d columns and every %d rows\n",
                cols, kRows, describe_samples(scene.depth, scene.planes).c_str(), kStripes.period_x, kStripes.period_y);
    const int width = static_cast<int>(std::max(picture.string().size(), spectrum.string().size()));
    std::printf("  %-*s  the picture\n", width, picture.string().c_str());
    std::printf("  %-*s  its spectrum (%s)\n", width, spectrum.string().c_str(), fwd.c_str());
    std::printf("  %-*s  the spectrum with the 4 stripe peaks notched out (radius %s)\n", width,
                notched.string().c_str(), number_text(kNotchRadius).c_str());
    std::printf("  %-*s  the picture made from the notched spectrum (%s)\n", width, cleaned.string().c_str(),
                inv.c_str());
    std::printf("stripe energy: %.1f dB before, %.1f dB after: %.1f dB less (0 dB = full scale)\n", before, after,
                before - after);
    std::printf("the same by hand:\n  quen apply %s %s -o %s\n", fwd.c_str(), picture.string().c_str(),
                spectrum.string().c_str());
    std::printf("  quen edit %s%s", spectrum.string().c_str(), full ? "" : " --layout half");
    for (const Edit& e : notches)
        std::printf(" --notch %s,%s,%s", number_text(e.x).c_str(), number_text(e.y).c_str(), number_text(e.radius).c_str());
    std::printf(" -o %s\n  quen apply %s %s -o %s\n", notched.string().c_str(), inv.c_str(), notched.string().c_str(),
                cleaned.string().c_str());
    return 0;
}

}  // namespace quen::tool
