// The two modules the cleaning benchmarks clean through, loaded from beside the program.
#pragma once

#include <stdexcept>
#include <string>

#include "clean.h"
#include "module_finder.h"
#include "module_loader.h"

namespace quen::bench {

class CleaningModules {
public:
    CleaningModules() : forward_(path_of("QuenFwdR")), inverse_(path_of("QuenInvR")) {}
    cleaning::CleanModules pair() const { return {forward_, inverse_}; }

private:
    // Throws when the module is not beside the program.
    static std::string path_of(const std::string& name) {
        const auto found = host::find_module(host::default_module_dirs(host::executable_dir()), name);
        if (!found) throw std::runtime_error(name + " not found beside the program");
        return found->path.string();
    }
    host::ModuleLibrary forward_, inverse_;
};

}  // namespace quen::bench
