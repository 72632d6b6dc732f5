// The modules this build made, taken from the build's own list, so that every check that loops
// over them covers a module as soon as it is added to the build.
#pragma once

#include <string>
#include <vector>

namespace quen::test {

inline std::string module_path(const std::string& name) {
    return std::string(QUEN_MODULE_DIR) + "/" + name + QUEN_MODULE_SUFFIX;
}

// Names in build order, from the comma-separated QUEN_MODULE_NAMES.
inline std::vector<std::string> built_modules() {
    std::vector<std::string> names;
    std::string current;
    for (const char* c = QUEN_MODULE_NAMES;; ++c) {
        if (*c == ',' || *c == '\0') {
            if (!current.empty()) names.push_back(current);
            current.clear();
            if (*c == '\0') break;
        } else {
            current += *c;
        }
    }
    return names;
}

}  // namespace quen::test
