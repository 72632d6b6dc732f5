// quen edit: the hand edits of a spectrum picture (notches and radial cuts) on a file.
#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "args.h"
#include "commands.h"
#include "image_io.h"
#include "outputs.h"

namespace fs = std::filesystem;

namespace quen::tool {

const char* const kEditHelp =
    "usage: quen edit SPECTRUM -o OUTPUT [--layout full|half] EDIT...\n"
    "\n"
    "Removes frequencies from a spectrum picture by zeroing their magnitude samples, which the\n"
    "inverse filter then leaves out of the picture. Every edit is mirrored through the zero\n"
    "frequency, as the spectrum of a real picture is symmetric. Distances are in samples.\n"
    "\n"
    "  --notch X,Y,R    remove the disc of radius R around column X, row Y (and its mirror);\n"
    "                   may be given several times\n"
    "  --notch X,Y,R,S  the same with a soft edge: magnitudes lowered less and less (a raised\n"
    "                   cosine) from R out to R + S, which rings less than a hard edge\n"
    "  --lowpass R      keep only frequencies within R of the zero frequency\n"
    "  --highpass R     remove the frequencies closer than R to the zero frequency\n"
    "  --band R1,R2     keep only frequencies between R1 and R2 from the zero frequency\n"
    "  --layout full    (default) a QuenFwd spectrum: magnitudes in red, zero frequency at\n"
    "                   row H/2, column W/2; undo with QuenInv\n"
    "  --layout half    a QuenFwdR spectrum: in every channel, magnitudes in columns 0..n-1\n"
    "                   (n = (W-2)/2+1), zero frequency at row H/2, column 0; undo with QuenInvR\n"
    "  -o OUTPUT        the edited spectrum (.png, .tif or .tiff), at the input's depth\n"
    "  --force          replace the input or a read-only file with the result (refused otherwise)\n"
    "\n"
    "example: quen apply QuenFwd photo.png -o spectrum.png\n"
    "         quen edit spectrum.png --notch 240,192,3 -o notched.png\n"
    "         quen apply QuenInv notched.png -o cleaned.png\n";

Layout parse_layout(const std::string& text) {
    if (text == "full") return Layout::Full;
    if (text == "half") return Layout::Half;
    throw UsageError("--layout '" + text + "': expected full or half");
}

int64_t edit_file(const fs::path& input, const fs::path& output, Layout layout, const std::vector<Edit>& edits,
                  bool force) {
    check_output_format(output);
    check_replaceable(output, force);
    Picture spectrum = read_picture(input);
    const std::string mismatch = spectrum_mismatch(spectrum.spectrum, layout == Layout::Full ? "full" : "half",
                                                   spectrum.image.cols, spectrum.image.rows);
    if (!mismatch.empty()) std::fprintf(stderr, "quen: warning: %s: %s\n", input.string().c_str(), mismatch.c_str());
    int64_t removed = 0;
    try {
        removed = apply_edits(spectrum.image, layout, edits);
    } catch (const std::invalid_argument& e) {
        throw FileError(input, e.what());
    }
    write_picture(output, spectrum);
    return removed;
}

int edit_command(const std::vector<std::string>& args) {
    const ParsedArgs parsed =
        parse_args(args, {"-o", "--layout", "--notch", "--lowpass", "--highpass", "--band"}, {"--force"});
    if (parsed.help) {
        std::fputs(kEditHelp, stdout);
        return 0;
    }
    if (parsed.operands.size() != 1) throw UsageError("edit needs exactly one spectrum picture");
    const OutputRequest request = output_request(parsed);
    if (!request.output) throw UsageError("edit needs -o OUTPUT");
    const std::string* layout_text = parsed.single("--layout");
    const Layout layout = layout_text ? parse_layout(*layout_text) : Layout::Full;

    std::vector<Edit> edits;
    for (const auto& [option, value] : parsed.options) {
        Edit edit{Edit::Kind::Notch};
        if (option == "--notch") {
            const bool soft = std::count(value.begin(), value.end(), ',') == 3;
            const std::vector<double> v = parse_numbers(option, value, soft ? 4 : 3);
            edit = {Edit::Kind::Notch, v[0], v[1], v[2], 0, soft ? v[3] : 0};
            if (edit.soft < 0) throw UsageError(option + " " + value + ": a soft edge cannot be negative");
        } else if (option == "--lowpass" || option == "--highpass") {
            edit = {option == "--lowpass" ? Edit::Kind::Lowpass : Edit::Kind::Highpass, 0, 0,
                    parse_numbers(option, value, 1)[0]};
        } else if (option == "--band") {
            const std::vector<double> v = parse_numbers(option, value, 2);
            edit = {Edit::Kind::Band, 0, 0, v[0], v[1]};
        } else {
            continue;
        }
        if (edit.radius < 0) throw UsageError(option + " " + value + ": a radius cannot be negative");
        if (edit.kind == Edit::Kind::Band && edit.outer < edit.radius)
            throw UsageError(option + " " + value + ": the outer radius must not be smaller than the inner one");
        edits.push_back(edit);
    }
    if (edits.empty()) throw UsageError("edit needs at least one of --notch, --lowpass, --highpass, --band");

    const fs::path output = plan_outputs(parsed.operands, request)[0];
    const int64_t removed = edit_file(parsed.operands[0], output, layout, edits, request.force);
    const bool soft = std::any_of(edits.begin(), edits.end(), [](const Edit& e) { return e.soft > 0; });
    std::printf("%s -> %s: %s %lld frequencies (%s layout)\n", parsed.operands[0].c_str(), output.c_str(),
                soft ? "removed or lowered" : "removed",
                static_cast<long long>(removed), layout == Layout::Full ? "full" : "half");
    return 0;
}

}  // namespace quen::tool
