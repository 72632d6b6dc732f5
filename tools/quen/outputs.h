// Where results go, checked before any picture is read: the output options of the command line,
// the output folder, and the two rules that keep the user's files safe (a result never replaces
// one of the inputs, nor a read-only file) unless --force lifts them.
#pragma once

#include <filesystem>
#include <cstdint>
#include <string>
#include <vector>

#include "args.h"

namespace quen::tool {

// The output options every command that writes results takes.
struct OutputRequest {
    const std::string* output = nullptr;   // -o FILE
    const std::string* out_dir = nullptr;  // --out-dir DIR
    bool force = false;                    // --force
    int32_t depth = 0;                     // the results' depth when known beforehand, else 0
};

// Reads -o, --out-dir and --force (parse them as valued, valued and flag).
OutputRequest output_request(const ParsedArgs& parsed);

// The result file of each input, in input order. With --out-dir, a result keeps its input's
// name, with .png instead of an extension quen does not write (.tif for 32-bit results). Throws UsageError for a wrong command line:
// neither or both of -o and --out-dir, -o with several inputs, an empty name, -o naming a folder,
// an extension quen does not write, --out-dir naming a file, or a result that would replace one
// of the inputs (unless force). Creates the output folder; throws ToolError with the system's
// reason when it cannot, or when the folder of -o does not exist.
std::vector<std::filesystem::path> plan_outputs(const std::vector<std::string>& inputs, const OutputRequest& request);

// Throws FileError when `target` exists and its permissions forbid writing, whoever runs quen
// (root included), unless force: a read-only file is one its owner meant to keep.
void check_replaceable(const std::filesystem::path& target, bool force);

}  // namespace quen::tool
