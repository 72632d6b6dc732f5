// quen clean: finds periodic noise in pictures and removes it, through the half-spectrum filters.
#include <chrono>
#include <cstdio>

#include "args.h"
#include "batch.h"
#include "clean.h"
#include "commands.h"
#include "image_io.h"
#include "outputs.h"

namespace fs = std::filesystem;

namespace quen::tool {

const char* const kCleanHelp =
    "usage: quen clean INPUT -o OUTPUT [OPTIONS]\n"
    "       quen clean INPUT... --out-dir DIR [OPTIONS]\n"
    "\n"
    "Finds periodic noise (stripes, scan lines, moire, halftone screens) in each picture and removes\n"
    "it, in colour and at full size: the picture goes through QuenFwdR at 32-bit float, the noise's\n"
    "peaks are found in each channel's spectrum and removed, and QuenInvR gives the picture back at\n"
    "its own depth; alpha is kept as it is. A picture without periodic noise is written unchanged:\n"
    "a copy of the input file when the result's format is the input's, else every sample as the\n"
    "input held it (a grey picture stays grey).\n"
    "\n"
    "  -o OUTPUT          the cleaned picture (.png, .tif or .tiff), at the input's depth\n"
    "  --out-dir DIR      batch mode: each result goes to DIR under its input's file name and its\n"
    "                     path below the deepest folder holding every input (a/x.png and b/x.png\n"
    "                     go to DIR/a/x.png and DIR/b/x.png); a file given twice is done once\n"
    "  --format F         png or tiff: the format of every result (default: the input's, PNG for a\n"
    "                     JPEG or WebP input; a change of format is told on stderr)\n"
    "  --skip-existing    leave a result that is already there alone, reported as skipped: a batch\n"
    "                     run again after an interrupt does only what is left\n"
    "  --sensitivity S    1 (default); 2 also finds peaks half as strong, 0.5 only twice as strong\n"
    "  --protect PERIOD   never touch waves longer than PERIOD pixels (default 48): the picture's\n"
    "                     broad shapes live there\n"
    "  --fill background  (default) give each peak the magnitude of its surroundings, or take out\n"
    "                     the sinusoid that explains it exactly\n"
    "  --fill zero        remove each peak's frequencies altogether (a hard notch)\n"
    "  --no-lowpass       for a halftone screen, remove its peaks instead of descreening each\n"
    "                     channel (a smooth low-pass below its screen frequency, notches at its peaks)\n"
    "  --print            the picture is a scanned print: its halftone screen, found automatically,\n"
    "                     is descreened over the whole picture, also where its lattice of peaks is\n"
    "                     not made out (a dark or low-key print); without it, only a screen whose\n"
    "                     lattice is made out is descreened, and only where its dots are\n"
    "  --report           list each peak removed: its place in the half spectrum (for quen edit\n"
    "                     --layout half on a QuenFwdR spectrum of the picture widened by two\n"
    "                     columns), period, direction and amplitude\n"
    "  -j N               batch mode: N files at once (default: the number of cores)\n"
    "  --force            replace the input or a read-only file with the result (refused otherwise)\n"
    "  --modules DIR      look for filter modules in DIR only\n"
    "\n"
    "Output folders are made and checked before any picture is read; an output is written whole or\n"
    "not at all (an error or Ctrl-C leaves no partial file).\n"
    "Exit status: 0 when no file failed (skipped ones included), 1 when any failed, 2 for a wrong\n"
    "command line.\n"
    "\n"
    "example: quen clean scan.png -o scan-clean.png --report\n";

namespace {

// The line printed for a cleaned file, and with --report one more for each peak removed.
std::string clean_line(const std::string& input, const fs::path& target, const Picture& picture,
                       const cleaning::CleanResult& result, double seconds, bool report) {
    const host::Image& im = picture.image;
    const std::size_t found = result.removed.size();
    char text[256];
    std::snprintf(text, sizeof text, ": %d x %d, %s, %zu peak%s removed", im.cols, im.rows,
                  describe_samples(im.depth, 3 + picture.extra.planes).c_str(), found, found == 1 ? "" : "s");
    std::string line = input + " -> " + target.string() + text;
    if (result.lowpass_period > 0) {
        std::snprintf(text, sizeof text, ", halftone screen: low-pass, waves of %.1f px halved, shorter ones cut more", result.lowpass_period);
        line += text;
    }
    std::snprintf(text, sizeof text, ", %.2f s\n", seconds);
    line += text;
    if (report)
        for (const cleaning::Peak& p : result.removed) {
            std::snprintf(text, sizeof text,
                          "  peak at %d,%d (radius %s): period %.2f px, angle %.1f deg, amplitude %.2f%% of full "
                          "scale, channels %s\n",
                          p.column, p.row, number_text(p.notch).c_str(), p.period, p.angle, 100 * p.amplitude,
                          channel_names(p.channels).c_str());
            line += text;
        }
    return line;
}

}  // namespace

int clean_command(const std::vector<std::string>& args) {
    const ParsedArgs parsed = parse_args(args, {"-o", "--out-dir", "--modules", "--sensitivity", "--protect", "--fill", "-j", "--format"},
                                         {"--force", "--skip-existing", "--report", "--no-lowpass", "--print"});
    if (parsed.help) {
        std::fputs(kCleanHelp, stdout);
        return 0;
    }
    if (parsed.operands.empty()) throw UsageError("clean needs at least one input");
    const OutputRequest request = output_request(parsed);
    cleaning::CleanOptions options;
    options.detect.sensitivity = positive_option(parsed, "--sensitivity", options.detect.sensitivity);
    options.detect.protect_period = positive_option(parsed, "--protect", options.detect.protect_period);
    if (const std::string* fill = parsed.single("--fill")) {
        if (*fill == "background") options.fill = cleaning::Fill::Background;
        else if (*fill == "zero") options.fill = cleaning::Fill::Zero;
        else throw UsageError("--fill '" + *fill + "': expected background or zero");
    }
    bool report = false;
    for (const auto& [option, value] : parsed.options) {
        if (option == "--no-lowpass") options.lowpass = false;
        if (option == "--print") options.print = true;
        if (option == "--report") report = true;
    }
    const std::vector<fs::path> targets = plan_outputs(parsed.operands, request);
    const std::vector<Filter> modules = load_chain(module_dirs(parsed.single("--modules")), "QuenFwdR,QuenInvR");
    const cleaning::CleanModules pair{*modules[0].module, *modules[1].module};

    const int32_t jobs = parse_jobs(parsed);
    for (const fs::path& target : targets)
        if (!target.empty()) check_output_format(target);
    return run_batch(parsed.operands, targets, jobs, request.out_dir != nullptr, request.skip_existing,
                     [&](const std::string& input, const fs::path& target, std::vector<std::string>& warnings) {
                         const auto start = std::chrono::steady_clock::now();
                         check_replaceable(target, request.force);
                         Picture picture = read_picture(input);
                         if (picture.spectrum)
                             throw FileError(input, "is a spectrum (made by " + picture.spectrum->filter +
                                                        "); clean takes the picture itself");
                         check_output_format(target, picture.image.depth);
                         check_finite(input, picture.image);
                         cleaning::CleanResult result;
                         try {
                             result = cleaning::clean_picture(pair, std::move(picture.image), options);
                         } catch (const cleaning::CleanError& e) {
                             throw FileError(input, e.what());
                         }
                         picture.image = std::move(result.image);
                         if (std::string change = format_change(input, picture, target); !change.empty())
                             warnings.push_back(std::move(change));
                         if (result.changed == 0) write_unchanged(target, picture, input);
                         else write_picture(target, picture);
                         const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
                         return clean_line(input, target, picture, result, took.count(), report);
                     });
}

}  // namespace quen::tool
