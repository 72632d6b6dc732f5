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
    bool skip_existing = false;            // --skip-existing: a result already there is left alone
    const std::string* format = nullptr;   // --format png|tiff
    int32_t depth = 0;                     // the results' depth when known beforehand, else 0
};

// Reads -o, --out-dir, --force, and --skip-existing and --format when the command takes them
// (parse -o, --out-dir and --format as valued, the others as flags).
OutputRequest output_request(const ParsedArgs& parsed);

// The result file of each input, in input order. With --out-dir, a result keeps its input's path
// below the deepest folder that holds every input (inputs from one folder land in DIR itself;
// a/x.png and b/x.png in DIR/a and DIR/b), and its name, with the extension of --format, or .png
// instead of one quen does not write (.tif for 32-bit results). An input that is the same file as
// an earlier one, however spelled, gets an empty path: it is done once. Throws UsageError for a
// wrong command line: neither or both of -o and --out-dir, -o with several inputs, an empty name,
// -o naming a folder, an extension quen does not write or that --format contradicts, --out-dir
// naming a file, two inputs whose results would be one file, or a result that would replace one
// of the inputs (unless force). Makes the output folders and checks that each takes a new file,
// and that no result to be replaced is read-only (unless force): throws ToolError or FileError
// with the system's reason, before any picture is read.
std::vector<std::filesystem::path> plan_outputs(const std::vector<std::string>& inputs, const OutputRequest& request);

// Throws FileError when `target` exists and its permissions forbid writing, whoever runs quen
// (root included), unless force: a read-only file is one its owner meant to keep.
void check_replaceable(const std::filesystem::path& target, bool force);

}  // namespace quen::tool
