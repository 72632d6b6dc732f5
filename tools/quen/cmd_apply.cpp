// quen apply: runs one filter or a chain of filters on picture files, one file or a batch.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <set>

#include "args.h"
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
    "  --out-dir DIR    batch mode: each result goes to DIR under its input's file name; a file\n"
    "                   that fails does not stop the others\n"
    "  --force          replace an input or a read-only file with its result (refused otherwise)\n"
    "  --modules DIR    look for filter modules in DIR only\n"
    "\n"
    "Inputs are PNG or TIFF files (8 or 16 bits, or 32-bit float TIFF; grey, RGB, with or without\n"
    "alpha). The result keeps the input's depth and alpha; a 32-bit result needs a TIFF output.\n"
    "An output is written whole or not at all: an error or an interrupt leaves no partial file.\n"
    "Exit status: 0 when every file was written, 1 when any failed, 2 for a wrong command line.\n"
    "\n"
    "example: quen apply QuenFwd photo.png -o spectrum.png\n"
    "         quen apply QuenFwdR,QuenInvR scans/*.tif --out-dir roundtrip\n";

host::Image apply_to_file(const std::vector<Filter>& chain, const fs::path& input, const fs::path& output,
                          const ApplyOptions& options) {
    format_for(output);
    check_replaceable(output, options.force);
    host::Image image = read_image(input);
    check_writable(output, image.depth);
    image = run_chain(chain, std::move(image), input.string());
    write_image(output, image);
    return image;
}

int apply_command(const std::vector<std::string>& args) {
    const ParsedArgs parsed = parse_args(args, {"-o", "--out-dir", "--modules"}, {"--force"});
    if (parsed.help) {
        std::fputs(kApplyHelp, stdout);
        return 0;
    }
    if (parsed.operands.size() < 2) throw UsageError("apply needs a filter and at least one input");
    const OutputRequest request = output_request(parsed);
    ApplyOptions options;
    options.force = request.force;

    const std::vector<Filter> chain = load_chain(module_dirs(parsed.single("--modules")), parsed.operands[0]);
    const std::vector<std::string> inputs(parsed.operands.begin() + 1, parsed.operands.end());
    const std::vector<fs::path> targets = plan_outputs(inputs, request);

    const auto start = std::chrono::steady_clock::now();
    std::set<fs::path> written;
    int failed = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string& input = inputs[i];
        const fs::path& target = targets[i];
        const auto t0 = std::chrono::steady_clock::now();
        try {
            if (!written.insert(fs::weakly_canonical(target)).second)
                throw ToolError(input + ": skipped: its output " + target.string() + " was already written by an earlier input");
            const host::Image result = apply_to_file(chain, input, target, options);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
            std::printf("%s -> %s: %d x %d, %s, %s, %.2f s\n", input.c_str(), target.string().c_str(), result.cols,
                        result.rows, describe_samples(result).c_str(), chain_name(chain).c_str(), took.count());
        } catch (const std::runtime_error& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "quen: %s\n", e.what());
            ++failed;
        } catch (const std::bad_alloc&) {
            std::fflush(stdout);
            std::fprintf(stderr, "quen: %s: not enough memory\n", input.c_str());
            ++failed;
        }
    }
    if (request.out_dir) {
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        const std::size_t total = inputs.size();
        std::printf("%zu file%s: %zu written, %d failed, %.2f s\n", total, total == 1 ? "" : "s",
                    total - static_cast<std::size_t>(failed), failed, took.count());
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace quen::tool
