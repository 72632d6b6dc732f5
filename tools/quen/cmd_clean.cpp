// quen clean: finds periodic noise in pictures and removes it, through the half-spectrum filters.
#include <algorithm>
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
    "                     channel (notches at its screen's lattice points, a smooth low-pass beyond)\n"
    "  --print            the picture is a scanned print: its halftone screen, found automatically,\n"
    "                     is descreened over the whole picture, also where its lattice of peaks is\n"
    "                     not made out (a dark or low-key print); without it, only a screen whose\n"
    "                     lattice is made out is descreened, and only where its dots are\n"
    "  --report           list each peak removed: its place in the half spectrum (for quen edit\n"
    "                     --layout half on a QuenFwdR spectrum of the picture widened by two\n"
    "                     columns), period, direction and amplitude\n"
    "  --explain          list every candidate peak, strongest first, with what became of it and why\n"
    "                     (kept as the picture's own, or removed and how), at the same place\n"
    "  --report json      write, instead of the lines, one JSON object per file and line: the files,\n"
    "                     size, and every candidate with its place, period, angle, strength, verdict\n"
    "                     and reason\n"
    "  -j N               batch mode: N files at once (default: the number of cores)\n"
    "  --force            replace the input or a read-only file with the result (refused otherwise)\n"
    "  --modules DIR      look for filter modules in DIR only\n"
    "\n"
    "Output folders are made and checked before any picture is read; an output is written whole or\n"
    "not at all (an error or Ctrl-C leaves no partial file).\n"
    "Exit status: 0 when no file failed (skipped ones included), 1 when any failed, 2 for a wrong\n"
    "command line.\n"
    "\n"
    "example: quen clean scan.png -o scan-clean.png --explain\n";

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
    if (result.folded_screen > 0) {
        std::snprintf(text, sizeof text, ", print's screen folded by the scan (%.2f px): not low-passed, restored", result.folded_screen);
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

// The candidates strongest first.
std::vector<cleaning::Candidate> strongest_first(const cleaning::CleanResult& result) {
    std::vector<cleaning::Candidate> all = result.candidates;
    std::stable_sort(all.begin(), all.end(), [](const cleaning::Candidate& a, const cleaning::Candidate& b) {
        return a.peak.amplitude > b.peak.amplitude;
    });
    return all;
}

// Where quen edit --notch takes the peak out (a weak wave found without a peak: its reach).
std::string notch_of(const cleaning::Peak& p) {
    return std::to_string(p.column) + "," + std::to_string(p.row) + "," + number_text(p.notch > 0 ? p.notch : p.radius);
}

// --explain: a line for each candidate, strongest first, with the reason in words.
std::string explain_lines(const cleaning::CleanResult& result) {
    std::size_t kept = 0;
    for (const cleaning::Candidate& c : result.candidates) kept += c.decision.verdict == cleaning::Verdict::Keep;
    char text[512];
    std::snprintf(text, sizeof text, "  %zu candidate%s: %zu removed, %zu kept\n", result.candidates.size(),
                  result.candidates.size() == 1 ? "" : "s", result.candidates.size() - kept, kept);
    std::string lines = text;
    for (const cleaning::Candidate& c : strongest_first(result)) {
        const cleaning::Peak& p = c.peak;
        std::snprintf(text, sizeof text, "  --notch %-14s period %.2f px, angle %.1f deg, strength %.2f%%, channels %s: %s\n",
                      notch_of(p).c_str(), p.period, p.angle, 100 * p.amplitude, channel_names(p.channels).c_str(),
                      cleaning::reason_text(c.decision).c_str());
        lines += text;
    }
    return lines;
}

// A JSON string: quotes, backslashes and control characters escaped.
std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (const unsigned char ch : s) {
        if (ch == '"' || ch == '\\') out += '\\', out += char(ch);
        else if (ch < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", ch);
            out += esc;
        } else out += char(ch);
    }
    return out + "\"";
}

// --report json: the file's result as one JSON object on one line.
std::string json_line(const std::string& input, const fs::path& target, const Picture& picture,
                      const cleaning::CleanResult& result, double seconds) {
    char text[640];
    std::snprintf(text, sizeof text, ", \"width\": %d, \"height\": %d, \"depth\": %d, \"lowpass_period\": %.6g, \"folded_screen\": %.6g, \"seconds\": %.3f",
                  picture.image.cols, picture.image.rows, picture.image.depth, result.lowpass_period, result.folded_screen, seconds);
    std::string line = "{\"input\": " + json_string(input) + ", \"output\": " + json_string(target.string()) + text +
                       ", \"candidates\": [";
    bool first = true;
    for (const cleaning::Candidate& c : strongest_first(result)) {
        const cleaning::Peak& p = c.peak;
        std::snprintf(text, sizeof text,
                      "%s{\"notch\": [%d, %d, %.6g], \"period\": %.6g, \"angle\": %.6g, \"strength\": %.6g, "
                      "\"channels\": \"%s\", \"verdict\": \"%s\", \"reason\": \"%s\", \"explanation\": ",
                      first ? "" : ", ", p.column, p.row, p.notch > 0 ? p.notch : p.radius, p.period, p.angle, p.amplitude,
                      channel_names(p.channels).c_str(), cleaning::verdict_name(c.decision.verdict),
                      cleaning::reason_name(c.decision.reason));
        line += text + json_string(cleaning::reason_text(c.decision)) + "}";
        first = false;
    }
    return line + "]}\n";
}

enum class Report { None, Text, Json };

// --report, --report text, --report json (or --report=...): taken out of the arguments before the
// rest are parsed, since --report alone takes no value.
Report take_report(std::vector<std::string>& args) {
    Report report = Report::None;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string form;
        if (args[i] == "--") {
            rest.insert(rest.end(), args.begin() + std::ptrdiff_t(i), args.end());
            break;
        }
        if (args[i] == "--report") {
            form = "text";
            if (i + 1 < args.size() && (args[i + 1] == "json" || args[i + 1] == "text")) form = args[++i];
        } else if (args[i].rfind("--report=", 0) == 0) {
            form = args[i].substr(9);
        } else {
            rest.push_back(args[i]);
            continue;
        }
        if (form != "text" && form != "json") throw UsageError("--report " + form + ": expected text or json");
        if (report != Report::None) throw UsageError("--report given more than once");
        report = form == "json" ? Report::Json : Report::Text;
    }
    args = std::move(rest);
    return report;
}

}  // namespace

int clean_command(const std::vector<std::string>& given) {
    std::vector<std::string> args = given;
    const Report report = take_report(args);
    const ParsedArgs parsed = parse_args(args, {"-o", "--out-dir", "--modules", "--sensitivity", "--protect", "--fill", "-j", "--format"},
                                         {"--force", "--skip-existing", "--explain", "--no-lowpass", "--print"});
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
    bool explain = false;
    for (const auto& [option, value] : parsed.options) {
        if (option == "--no-lowpass") options.lowpass = false;
        if (option == "--print") options.print = true;
        if (option == "--explain") explain = true;
    }
    const std::vector<fs::path> targets = plan_outputs(parsed.operands, request);
    const std::vector<Filter> modules = load_chain(module_dirs(parsed.single("--modules")), "QuenFwdR,QuenInvR");
    const cleaning::CleanModules pair{*modules[0].module, *modules[1].module};

    const int32_t jobs = parse_jobs(parsed);
    for (const fs::path& target : targets)
        if (!target.empty()) check_output_format(target);
    // Scripts read --report json's lines from stdout; the batch's counts go to stderr then.
    std::FILE* summary = !request.out_dir ? nullptr : report == Report::Json ? stderr : stdout;
    return run_batch(parsed.operands, targets, jobs, summary, request.skip_existing,
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
                         if (report == Report::Json) return json_line(input, target, picture, result, took.count());
                         std::string line = clean_line(input, target, picture, result, took.count(), report == Report::Text);
                         return explain ? line + explain_lines(result) : line;
                     });
}

}  // namespace quen::tool
