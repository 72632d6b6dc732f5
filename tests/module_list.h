// The modules of this build, from the module list, and where the build put them: every check that
// loops over the modules covers a module as soon as it has its line in the list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "module_finder.h"
#include "quen_modules.h"

namespace quen::test {

inline std::string module_path(std::string_view name) {
    return std::string(QUEN_MODULE_DIR) + "/" + std::string(name) + host::module_suffix();
}

// Names in the list's order.
inline std::vector<std::string> built_modules() {
    std::vector<std::string> names;
    for (const manifest::ModuleEntry& m : manifest::kModules) names.emplace_back(m.name);
    return names;
}

// The list's entry of a module.
inline const manifest::ModuleEntry& module_entry(std::string_view name) {
    for (const manifest::ModuleEntry& m : manifest::kModules)
        if (m.name == name) return m;
    throw std::invalid_argument("no module " + std::string(name) + " in the module list");
}

}  // namespace quen::test
