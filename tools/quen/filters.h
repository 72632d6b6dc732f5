// The filters as quen sees them: found by name in the module folders, loaded, described in one
// line, and run one after the other on an image through the host library.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image.h"
#include "module_loader.h"
#include "spectrum_tag.h"

namespace quen::tool {

// The folders to search: the one given with --modules, else the defaults beside the executable.
std::vector<std::filesystem::path> module_dirs(const std::string* modules_option);

// One line on what a filter does, for `quen list`; a module we do not know gets a plain line.
std::string describe_filter(const std::string& name);

struct Filter {
    std::string name;  // as the module file spells it
    std::unique_ptr<host::ModuleLibrary> module;
};

// Loads the filters of a comma-separated chain ("QuenFwd,QuenInv"; names ignore case), in order.
// Throws UsageError for a name without a module file, ToolError for a module that fails to load.
std::vector<Filter> load_chain(const std::vector<std::filesystem::path>& dirs, const std::string& chain);

// What a chain leaves: the image, the tag of the spectrum it made (none when it ends on a
// picture), and warnings on the way (a spectrum of the other layout or resized, fed to an inverse).
struct ChainRun {
    host::Image image;
    std::optional<SpectrumTag> spectrum;
    std::vector<std::string> warnings;
};

// Runs the filters in order; `spectrum` is the input's tag, if it has one. A half-spectrum forward
// filter followed in the chain by the half-spectrum inverse transforms every column: the picture
// is widened by two columns before and cropped back after. Throws ToolError naming the filter and
// `what` (the file) when a filter reports an error or breaks the host protocol.
ChainRun run_chain(const std::vector<Filter>& chain, host::Image image, const std::string& what,
                   std::optional<SpectrumTag> spectrum = std::nullopt);

// The texts joined by `separator`: "a, b, c".
std::string join(const std::vector<std::string>& texts, const std::string& separator = ", ");

// The folders as one line, for messages.
std::string join_dirs(const std::vector<std::filesystem::path>& dirs);

// "QuenFwd,QuenInv": the names of a loaded chain.
std::string chain_name(const std::vector<Filter>& chain);

}  // namespace quen::tool
