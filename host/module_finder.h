// Finds filter modules by name in the folders a host searches: beside the executable (the build
// tree), in the installed layout's module folder, or in one folder the user names.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quen::host {

struct ModuleFile {
    std::string name;             // the file name without its suffix, e.g. "QuenFwd"
    std::filesystem::path path;
};

// The file name suffix of a module on this platform (".so" on Linux).
const std::string& module_suffix();

// The folder of the running executable.
std::filesystem::path executable_dir();

// The executable's own folder, then the installed layout's module folder relative to it.
std::vector<std::filesystem::path> default_module_dirs(const std::filesystem::path& exe_dir);

// Every module file in the folders, sorted by name; a name found in an earlier folder hides the
// same name in a later one. Folders that do not exist are skipped.
std::vector<ModuleFile> find_modules(const std::vector<std::filesystem::path>& dirs);

// The module whose name matches, ignoring case, or nothing.
std::optional<ModuleFile> find_module(const std::vector<std::filesystem::path>& dirs, const std::string& name);

// Lower-case copy, for comparing module names.
std::string lower_case(std::string text);

}  // namespace quen::host
