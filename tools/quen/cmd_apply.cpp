// quen apply: runs one filter or a chain of filters on picture files, one file or a batch.
#include <chrono>
#include <cstdio>

#include "args.h"
#include "batch.h"
#include "commands.h"
#include "image_io.h"
#include "outputs.h"

namespace fs = std::filesystem;

namespace quen::tool {

const char* const kApplyHelp =
    "usage: quen apply FILTER[,FILTER...] INPUT -o OUTPUT\n"
    "       quen apply FILTER[,FILTER...] INPUT... --out-dir DIR\n"
    "\n"
    "Runs a filter, or several one after the other, on each input picture, as an image editor\n"
    "would, and writes the result. FILTER is a module name such as QuenFwd or QuenInv (any case;\n"
    "'quen list' shows them).\n"
    "\n"
    "  -o OUTPUT        the output file; its extension (.png, .tif, .tiff) chooses the format\n"
    "  --out-dir DIR    batch mode: each result goes to DIR under its input's file name (.png\n"
    "                   for a JPEG or WebP input) and its path below the deepest folder holding\n"
    "                   every input (a/x.png and b/x.png go to DIR/a/x.png and DIR/b/x.png); two\n"
    "                   inputs with one result are refused before any work; a file given twice is\n"
    "                   done once; a file that fails does not stop the others\n"
    "  --format F       png or tiff: the format of every result (default: the input's, PNG for a\n"
    "                   JPEG or WebP input; a change of format is told on stderr)\n"
    "  --skip-existing  leave a result that is already there alone, reported as skipped: a batch\n"
    "                   run again after an interrupt does only what is left\n"
    "  -j N             batch mode: N files at once (default: the number of cores); the lines\n"
    "                   still come in input order\n"
    "  --depth D        run the filters at 8, 16 or 32 (float) bits and write the result so; 8-bit\n"
    "                   inputs widen exactly (default: the input's depth)\n"
    "  --page N         the page of a multi-page TIFF file (refused without it)\n"
    "  --keep-nonfinite pass NaN and infinite float samples to the filters (refused otherwise)\n"
    "  --force          replace an input or a read-only file with its result (refused otherwise)\n"
    "  --modules DIR    look for filter modules in DIR only\n"
    "\n"
    "Inputs are PNG, TIFF, JPEG or WebP files (8 or 16 bits, or 32-bit float TIFF; grey or RGB,\n"
    "with or without alpha). The result keeps the input's depth, unless --depth, and its alpha and\n"
    "further planes exactly; a 32-bit result needs a TIFF output. QuenFwdR followed by QuenInvR in\n"
    "one chain transforms every column (the picture is widened by two columns, then cropped).\n"
    "A grey input gives a grey result while the filters keep its channels equal, and 16-bit\n"
    "samples the filters leave as they were come back exactly as the input held them. Output\n"
    "folders are made and checked before any picture is read. An output is written whole or not at\n"
    "all: an error or an interrupt (Ctrl-C) leaves no partial file.\n"
    "Exit status: 0 when no file failed (skipped ones included), 1 when any failed, 2 for a wrong\n"
    "command line.\n"
    "\n"
    "example: quen apply QuenFwd photo.png -o spectrum.png\n"
    "         quen apply QuenFwdR,QuenInvR scans/*.tif --out-dir roundtrip\n";

Applied apply_to_file(const std::vector<Filter>& chain, const fs::path& input, const fs::path& output,
                      const ApplyOptions& options) {
    check_output_format(output, options.depth);
    check_replaceable(output, options.force);
    Picture picture = read_picture(input, {options.page});
    if (options.depth != 0) picture = at_depth(picture, options.depth);
    if (!options.keep_nonfinite) check_finite(input, picture.image);
    ChainRun run = run_chain(chain, std::move(picture.image), input.string(), picture.spectrum);
    picture.image = std::move(run.image);
    picture.spectrum = std::move(run.spectrum);
    write_picture(output, picture);
    return {std::move(picture), std::move(run.warnings)};
}

int32_t parse_depth(const std::string& text) {
    if (text != "8" && text != "16" && text != "32") throw UsageError("--depth '" + text + "': expected 8, 16 or 32");
    return std::stoi(text);
}

int apply_command(const std::vector<std::string>& args) {
    const ParsedArgs parsed =
        parse_args(args, {"-o", "--out-dir", "--modules", "--depth", "--page", "-j", "--format"}, {"--force", "--skip-existing", "--keep-nonfinite"});
    if (parsed.help) {
        std::fputs(kApplyHelp, stdout);
        return 0;
    }
    if (parsed.operands.size() < 2) throw UsageError("apply needs a filter and at least one input");
    OutputRequest request = output_request(parsed);
    ApplyOptions options;
    options.force = request.force;
    if (const std::string* depth = parsed.single("--depth")) options.depth = request.depth = parse_depth(*depth);
    if (const std::string* page = parsed.single("--page")) options.page = parse_count("--page", *page, 1, 65535);
    for (const auto& option : parsed.options) options.keep_nonfinite = options.keep_nonfinite || option.first == "--keep-nonfinite";
    const int32_t jobs = parse_jobs(parsed);

    const std::vector<Filter> chain = load_chain(module_dirs(parsed.single("--modules")), parsed.operands[0]);
    const std::vector<std::string> inputs(parsed.operands.begin() + 1, parsed.operands.end());
    const std::vector<fs::path> targets = plan_outputs(inputs, request);
    for (const fs::path& target : targets)
        if (!target.empty()) check_output_format(target, options.depth);

    return run_batch(inputs, targets, jobs, request.out_dir ? stdout : nullptr, request.skip_existing,
                     [&](const std::string& input, const fs::path& target, std::vector<std::string>& warnings) {
                         const auto start = std::chrono::steady_clock::now();
                         Applied applied = apply_to_file(chain, input, target, options);
                         warnings = std::move(applied.warnings);
                         if (std::string change = format_change(input, applied.picture, target); !change.empty())
                             warnings.push_back(std::move(change));
                         const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
                         const host::Image& im = applied.picture.image;
                         char line[160];
                         std::snprintf(line, sizeof line, ": %d x %d, %s, %s, %.2f s\n", im.cols, im.rows,
                                       describe_samples(im.depth, 3 + applied.picture.extra.planes).c_str(),
                                       chain_name(chain).c_str(), took.count());
                         return input + " -> " + target.string() + line;
                     });
}

}  // namespace quen::tool
