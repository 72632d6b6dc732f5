// The output options of the commands and the checks made before any picture is read.
#include "outputs.h"

#include <map>
#include <optional>
#include <set>
#include <utility>

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

// The file's identity (device and inode), which no spelling of its path changes; none for a file
// that cannot be looked at (reading it will say why).
std::optional<std::pair<dev_t, ino_t>> identity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::pair{st.st_dev, st.st_ino};
}

// The deepest folder holding every input, each input taken as an absolute path without "." or "..".
fs::path common_folder(const std::vector<fs::path>& inputs) {
    fs::path base = inputs.front().parent_path();
    for (const fs::path& input : inputs) {
        const fs::path folder = input.parent_path();
        fs::path shared;
        for (auto a = base.begin(), b = folder.begin(); a != base.end() && b != folder.end() && *a == *b; ++a, ++b)
            shared /= *a;
        base = shared;
    }
    return base;
}

// The result's name in the output folder: the input's path below `base`, and an extension quen writes.
fs::path result_name(const fs::path& input, const fs::path& base, const OutputRequest& request) {
    fs::path name = input.lexically_relative(base);
    if (request.format) name.replace_extension(*request.format == "png" ? ".png" : ".tif");
    else if (!writes_format(name)) name.replace_extension(request.depth == 32 ? ".tif" : ".png");
    return name;
}

}  // namespace

OutputRequest output_request(const ParsedArgs& parsed) {
    OutputRequest request;
    request.output = parsed.single("-o");
    request.out_dir = parsed.single("--out-dir");
    request.format = parsed.single("--format");
    if (request.format && *request.format != "png" && *request.format != "tiff")
        throw UsageError("--format '" + *request.format + "': expected png or tiff");
    for (const auto& option : parsed.options) {
        request.force = request.force || option.first == "--force";
        request.skip_existing = request.skip_existing || option.first == "--skip-existing";
    }
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
        if (request.format && output_format_name(target) != output_format_name(std::string("x.") + *request.format))
            throw UsageError("-o " + *request.output + " and --format " + *request.format + " disagree; give one of them");
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        if (!fs::is_directory(folder, ec)) throw FileError(target, "cannot write: folder " + folder.string() + " does not exist");
        targets.push_back(target);
    } else {
        if (request.out_dir->empty()) throw UsageError("--out-dir needs a folder name");
        const fs::path dir = *request.out_dir;
        if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) throw UsageError("--out-dir " + dir.string() + " is a file, not a folder");
        std::vector<fs::path> absolute;
        for (const std::string& input : inputs) absolute.push_back(fs::absolute(input, ec).lexically_normal());
        const fs::path base = common_folder(absolute);
        std::map<std::pair<dev_t, ino_t>, std::size_t> seen;  // each file's first input
        std::map<fs::path, std::size_t> claimed;               // each result's input
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            const auto id = identity(inputs[i]);
            if (id && !seen.emplace(*id, i).second) {
                targets.emplace_back();  // the same file again: done once
                continue;
            }
            targets.push_back(dir / result_name(absolute[i], base, request));
            const auto [at, fresh] = claimed.emplace(targets.back().lexically_normal(), i);
            if (!fresh)
                throw UsageError(inputs[at->second] + " and " + inputs[i] + " would both be written to " +
                                 targets.back().string() + "; rename one, or write them in separate runs");
        }
        std::set<fs::path> folders;
        for (const fs::path& target : targets)
            if (!target.empty()) folders.insert(target.parent_path());
        for (const fs::path& folder : folders) {
            fs::create_directories(folder, ec);
            if (ec) throw ToolError(folder.string() + ": cannot create the output folder: " + ec.message());
        }
    }
    if (!request.force && !request.skip_existing) {
        std::set<fs::path> resolved;
        for (const std::string& input : inputs) resolved.insert(fs::weakly_canonical(input, ec));
        for (const fs::path& target : targets)
            if (const std::string* input = target.empty() ? nullptr : replaced_input(target, inputs, resolved))
                throw UsageError(*input + ": its result would replace it; write elsewhere, or give --force to replace it");
    }
    // Every place a result goes takes a new file, and none to be replaced is read-only: a batch
    // that cannot be written fails now, not after its work.
    std::set<fs::path> probed;
    for (const fs::path& target : targets) {
        if (target.empty() || (request.skip_existing && fs::exists(target, ec))) continue;
        check_replaceable(target, request.force);
        if (probed.insert(target.parent_path()).second) AtomicFile probe(target);
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
