// Finding, loading and running filters for the quen commands.
#include "filters.h"

#include "args.h"
#include "half_width.h"
#include "module_finder.h"
#include "quen_modules.h"
#include "run.h"

namespace fs = std::filesystem;

namespace quen::tool {
namespace {

// The layout of the spectrum a filter makes and the one it reads, from the module list: "full",
// "half", "volume", or null.
struct SpectrumUse {
    const char* makes = nullptr;
    const char* reads = nullptr;
};

SpectrumUse spectrum_use(const std::string& name) {
    for (const manifest::ModuleEntry& m : manifest::kModules) {
        if (host::lower_case(std::string(m.name)) != host::lower_case(name)) continue;
        const char* layout = m.spectrum == manifest::Spectrum::Full   ? "full"
                             : m.spectrum == manifest::Spectrum::Half ? "half"
                                                                      : "volume";
        return m.direction == manifest::Direction::Forward ? SpectrumUse{layout, nullptr} : SpectrumUse{nullptr, layout};
    }
    return {};
}

}  // namespace

std::string join(const std::vector<std::string>& texts, const std::string& separator) {
    std::string text;
    for (const std::string& t : texts) text += (text.empty() ? "" : separator) + t;
    return text;
}

std::string join_dirs(const std::vector<fs::path>& dirs) {
    std::vector<std::string> texts;
    for (const fs::path& d : dirs) texts.push_back(d.string());
    return join(texts);
}

std::vector<fs::path> module_dirs(const std::string* modules_option) {
    if (modules_option) return {fs::path(*modules_option)};
    return host::default_module_dirs(host::executable_dir());
}

std::string describe_filter(const std::string& name) {
    for (const manifest::ModuleEntry& m : manifest::kModules)
        if (host::lower_case(std::string(m.name)) == host::lower_case(name)) return std::string(m.description);
    return "filter module";
}

std::vector<Filter> load_chain(const std::vector<fs::path>& dirs, const std::string& chain) {
    std::vector<Filter> filters;
    std::size_t start = 0;
    while (start <= chain.size()) {
        const std::size_t comma = std::min(chain.find(',', start), chain.size());
        const std::string name = chain.substr(start, comma - start);
        start = comma + 1;
        const std::optional<host::ModuleFile> file = host::find_module(dirs, name);
        if (!file) {
            std::vector<std::string> names;
            for (const host::ModuleFile& m : host::find_modules(dirs)) names.push_back(m.name);
            const std::string known = join(names);
            throw UsageError("unknown filter '" + name + "' (" +
                            (known.empty() ? "no filter modules" : "filters: " + known) + " in " + join_dirs(dirs) + ")");
        }
        try {
            filters.push_back({file->name, std::make_unique<host::ModuleLibrary>(file->path.string())});
        } catch (const host::LoadError& e) {
            throw ToolError(e.what());
        }
    }
    return filters;
}

ChainRun run_chain(const std::vector<Filter>& chain, host::Image image, const std::string& what,
                   std::optional<SpectrumTag> spectrum) {
    ChainRun out;
    bool widened = false;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const Filter& filter = chain[i];
        const SpectrumUse use = spectrum_use(filter.name);
        if (use.reads) {
            const std::string mismatch = spectrum_mismatch(spectrum, use.reads, image.cols, image.rows);
            if (!mismatch.empty()) out.warnings.push_back(what + ": " + filter.name + ": " + mismatch);
        }
        if (use.makes && std::string(use.makes) == "half")
            for (std::size_t j = i + 1; j < chain.size() && !widened; ++j) {
                const SpectrumUse later = spectrum_use(chain[j].name);
                if (later.makes) break;
                if (later.reads && std::string(later.reads) == "half") {
                    image = host::widen_for_half_spectrum(image);
                    widened = true;
                }
            }
        spectrum = use.makes ? std::optional<SpectrumTag>(SpectrumTag{use.makes, filter.name, image.cols, image.rows})
                             : std::nullopt;
        try {
            host::RunResult run = host::run_filter(*filter.module, std::move(image));
            if (run.result != 0)
                throw ToolError(what + ": " + filter.name + " failed: " + host::describe_result(run.result) + " (selector " +
                                std::to_string(run.failed_selector) + ")");
            image = std::move(run.image);
        } catch (const host::ProtocolError& e) {
            throw ToolError(what + ": " + filter.name + ": " + e.what());
        }
        if (widened && use.reads && std::string(use.reads) == "half") {
            image = host::crop_after_half_spectrum(image);
            widened = false;
        }
    }
    out.image = std::move(image);
    out.spectrum = std::move(spectrum);
    return out;
}

std::string chain_name(const std::vector<Filter>& chain) {
    std::vector<std::string> names;
    for (const Filter& f : chain) names.push_back(f.name);
    return join(names, ",");
}

}  // namespace quen::tool
