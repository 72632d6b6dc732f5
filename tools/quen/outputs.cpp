// The output options of the commands and the checks made before any picture is read.
#include "outputs.h"

#include <set>

#include <sys/stat.h>
#include <unistd.h>

#include "atomic_file.h"
#include "image_io.h"

namespace fs = std::filesystem;

namespace quen::tool {
namespace {

// The input that `target` would replace, or nullptr. Paths are compared once resolved, and a
// target with several hard links is compared by identity, so no spelling hides an input.
const std::string* replaced_input(const fs::path& target, const std::vector<std::string>& inputs,
                                  const std::set<fs::path>& resolved_inputs) {
    std::error_code ec;
    if (!fs::exists(target, ec)) return nullptr;
    if (!resolved_inputs.count(fs::weakly_canonical(target, ec)) && fs::hard_link_count(target, ec) < 2) return nullptr;
    for (const std::string& input : inputs)
        if (fs::equivalent(target, input, ec)) return &input;
    return nullptr;
}

}  // namespace

OutputRequest output_request(const ParsedArgs& parsed) {
    OutputRequest request;
    request.output = parsed.single("-o");
    request.out_dir = parsed.single("--out-dir");
    for (const auto& option : parsed.options) request.force = request.force || option.first == "--force";
    return request;
}

std::vector<fs::path> plan_outputs(const std::vector<std::string>& inputs, const OutputRequest& request) {
    if (!request.output == !request.out_dir)
        throw UsageError(request.output ? "-o and --out-dir cannot be given together: -o names one result, --out-dir a folder for several"
                                        : "needs either -o OUTPUT or --out-dir DIR");
    if (request.output && inputs.size() > 1) throw UsageError("several inputs need --out-dir DIR instead of -o");
    std::error_code ec;
    std::vector<fs::path> targets;
    if (request.output) {
        const fs::path target = *request.output;
        if (request.output->empty()) throw UsageError("-o needs a file name");
        if (fs::is_directory(target, ec) || !target.has_filename())
            throw UsageError("-o " + *request.output + " is a folder; name the output file, or use --out-dir for a folder");
        check_output_format(target);
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        if (!fs::is_directory(folder, ec)) throw FileError(target, "cannot write: folder " + folder.string() + " does not exist");
        targets.push_back(target);
    } else {
        if (request.out_dir->empty()) throw UsageError("--out-dir needs a folder name");
        const fs::path dir = *request.out_dir;
        if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) throw UsageError("--out-dir " + dir.string() + " is a file, not a folder");
        fs::create_directories(dir, ec);
        if (ec) throw ToolError(dir.string() + ": cannot create the output folder: " + ec.message());
        for (const std::string& input : inputs) {
            fs::path name = fs::path(input).filename();
            if (!writes_format(name)) name.replace_extension(request.depth == 32 ? ".tif" : ".png");
            targets.push_back(dir / name);
        }
    }
    if (!request.force) {
        std::set<fs::path> resolved;
        for (const std::string& input : inputs) resolved.insert(fs::weakly_canonical(input, ec));
        for (const fs::path& target : targets)
            if (const std::string* input = replaced_input(target, inputs, resolved))
                throw UsageError(*input + ": its result would replace it; write elsewhere, or give --force to replace it");
    }
    return targets;
}

void check_replaceable(const fs::path& target, bool force) {
    struct stat st {};
    if (force || ::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const mode_t write_bit = st.st_uid == ::geteuid() ? S_IWUSR : st.st_gid == ::getegid() ? S_IWGRP : S_IWOTH;
    if ((st.st_mode & write_bit) == 0)
        throw FileError(target, "is read-only: not replaced (give --force to replace it)");
}

}  // namespace quen::tool
