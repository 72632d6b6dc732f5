// quen peaks: lists the peaks of periodic noise in a spectrum picture, in its own coordinates,
// ready for quen edit --notch.
#include <cstdio>

#include "args.h"
#include "commands.h"
#include "image_io.h"

namespace fs = std::filesystem;

namespace quen::tool {

const char* const kPeaksHelp =
    "usage: quen peaks SPECTRUM [--layout full|half] [--sensitivity S] [--protect PERIOD]\n"
    "\n"
    "Lists the peaks that periodic noise leaves in a spectrum picture (from QuenFwd or QuenFwdR, at\n"
    "any depth), strongest first: each as --notch X,Y,R in the picture's own columns and rows, ready\n"
    "for quen edit (which removes the mirrored peak as well), with the period and direction of its\n"
    "waves and its strength: the amplitude of the sinusoid that would leave it, in % of full scale.\n"
    "\n"
    "  --layout L         full (QuenFwd) or half (QuenFwdR); by default the layout the file records,\n"
    "                     else full\n"
    "  --sensitivity S    1 (default); 2 also finds peaks half as strong\n"
    "  --protect PERIOD   never report waves longer than PERIOD pixels (default 48)\n"
    "\n"
    "example: quen apply QuenFwd photo.png -o spectrum.png\n"
    "         quen peaks spectrum.png\n"
    "         quen edit spectrum.png --notch 240,192,3 -o notched.png\n";

SpectrumPeaks find_spectrum_peaks(const std::string& input, const ParsedArgs& parsed) {
    SpectrumPeaks found;
    cleaning::DetectOptions options;
    options.sensitivity = positive_option(parsed, "--sensitivity", options.sensitivity);
    options.protect_period = positive_option(parsed, "--protect", options.protect_period);
    const std::string* layout_text = parsed.single("--layout");
    Picture picture = read_picture(input);
    if (layout_text) found.layout = parse_layout(*layout_text);
    else if (picture.spectrum && picture.spectrum->layout == "half") found.layout = Layout::Half;
    else if (picture.spectrum && picture.spectrum->layout != "full")
        throw FileError(input, "is a " + picture.spectrum->layout + " spectrum; peaks reads full and half spectra");
    const std::string mismatch = spectrum_mismatch(picture.spectrum, found.layout == Layout::Full ? "full" : "half",
                                                   picture.image.cols, picture.image.rows);
    if (!mismatch.empty()) std::fprintf(stderr, "quen: warning: %s: %s\n", input.c_str(), mismatch.c_str());
    try {
        found.magnitudes = cleaning::read_log_magnitudes(picture.image, found.layout);
    } catch (const std::invalid_argument& e) {
        throw FileError(input, e.what());
    }
    found.detection = cleaning::detect_peaks(found.magnitudes, options);
    return found;
}

double positive_option(const ParsedArgs& parsed, const std::string& option, double fallback) {
    const std::string* text = parsed.single(option);
    if (!text) return fallback;
    const double v = parse_numbers(option, *text, 1)[0];
    if (!(v > 0)) throw UsageError(option + " " + *text + ": expected a positive number");
    return v;
}

std::string channel_names(uint32_t channels) {
    std::string names;
    for (int32_t c = 0; c < 3; ++c)
        if (channels & (1u << c)) names += "RGB"[c];
    return names;
}

int peaks_command(const std::vector<std::string>& args) {
    const ParsedArgs parsed = parse_args(args, {"--layout", "--sensitivity", "--protect"});
    if (parsed.help) {
        std::fputs(kPeaksHelp, stdout);
        return 0;
    }
    if (parsed.operands.size() != 1) throw UsageError("peaks needs exactly one spectrum picture");
    const std::string& input = parsed.operands[0];
    const SpectrumPeaks found = find_spectrum_peaks(input, parsed);
    const auto& peaks = found.detection.peaks;
    const bool half = found.layout == Layout::Half;
    std::printf("%s: %zu peak%s (%s layout)\n", input.c_str(), peaks.size(), peaks.size() == 1 ? "" : "s",
                half ? "half" : "full");
    for (const cleaning::Peak& p : peaks) {
        const std::string notch = std::to_string(p.column) + "," + std::to_string(p.row) + "," + number_text(p.notch);
        std::printf("  --notch %-14s period %.2f px, angle %.1f deg, strength %.2f%%", notch.c_str(), p.period, p.angle,
                    100 * p.amplitude);
        if (half) std::printf(", channels %s", channel_names(p.channels).c_str());
        std::printf("\n");
    }
    if (found.detection.screen_period > 0)
        std::printf("a halftone screen: its lowest frequency has a period of %.2f px; a low-pass keeps the picture\n",
                    found.detection.screen_period);
    if (!peaks.empty()) {
        std::printf("to remove them: quen edit %s%s", input.c_str(), half ? " --layout half" : "");
        for (const cleaning::Peak& p : peaks)
            std::printf(" --notch %d,%d,%s", p.column, p.row, number_text(p.notch).c_str());
        std::printf(" -o notched%s\n", fs::path(input).extension().string().c_str());
    }
    return 0;
}

}  // namespace quen::tool
