// The module search of our host side.
#include "module_finder.h"

#include <algorithm>
#include <cctype>
#include <map>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace quen::host {

const std::string& module_suffix() {
    static const std::string suffix = QUEN_MODULE_SUFFIX;
    return suffix;
}

fs::path executable_dir() {
#if defined(_WIN32)
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return fs::current_path();
        if (n < buffer.size()) return fs::path(buffer.substr(0, n)).parent_path();
        buffer.resize(buffer.size() * 2);
    }
#else
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
#endif
}

std::vector<fs::path> default_module_dirs(const fs::path& exe_dir) {
    return {exe_dir, (exe_dir / QUEN_INSTALLED_MODULE_DIR).lexically_normal()};
}

std::string lower_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<ModuleFile> find_modules(const std::vector<fs::path>& dirs) {
    std::map<std::string, ModuleFile> found;  // keyed by lower-case name: sorted, first folder wins
    for (const fs::path& dir : dirs) {
        std::error_code ec;
        fs::directory_iterator it(dir, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            const fs::path& path = it->path();
            if (path.extension().string() != module_suffix() || !it->is_regular_file(ec)) continue;
            const std::string name = path.stem().string();
            found.try_emplace(lower_case(name), ModuleFile{name, path});
        }
    }
    std::vector<ModuleFile> modules;
    for (auto& entry : found) modules.push_back(std::move(entry.second));
    return modules;
}

std::optional<ModuleFile> find_module(const std::vector<fs::path>& dirs, const std::string& name) {
    const std::string wanted = lower_case(name);
    for (ModuleFile& module : find_modules(dirs))
        if (lower_case(module.name) == wanted) return std::move(module);
    return std::nullopt;
}

}  // namespace quen::host
