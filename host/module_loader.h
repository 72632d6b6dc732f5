// Loads a filter module by path and finds its one entry point: dlopen on Linux, LoadLibraryEx on
// Windows, behind one small interface. As in an editor, a module stays loaded until the process
// ends: FFTW keeps its planner inside the library, and unloading it would strand that memory.
#pragma once

#include <stdexcept>
#include <string>

#include "filter_record.h"

namespace quen::host {

struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ModuleLibrary {
public:
    // Throws LoadError naming the file and the loader's reason when the file cannot be loaded or
    // has no ENTRYPOINT.
    explicit ModuleLibrary(const std::string& path);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    EntryPoint entry() const { return entry_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    void* handle_ = nullptr;
    EntryPoint entry_ = nullptr;
};

}  // namespace quen::host
