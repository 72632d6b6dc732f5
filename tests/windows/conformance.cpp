// The Windows conformance runner: loads each .8bf as an editor does and checks what the editor
// reads from it (property list, version block, manifest), then filters the shared test images
// and writes inputs and outputs for the comparison with the Linux modules. Run under Wine.
//
//   quen_conformance check MODULE_DIR RESULTS_DIR MODULE...
//   quen_conformance check-interface-4.0 MODULE_DIR DEFAULT_MODULE_DIR MODULE...
//   quen_conformance missing-fftw MODULE_DIR MODULE...
//   quen_conformance threads MODULE_DIR MODULE...
//
// "check-interface-4.0" checks the companion set the same way, without filtering: each file must
// be its default-set module's but for the property list (and the checksum that covers it).
// "missing-fftw" expects a folder without the FFTW DLL: every module must still load, and every
// filtering must fail with an error code and leave the image untouched.
// "threads" calls every module from 8 threads at once at every depth (concurrent_calls.h); every
// output must equal the same call made alone.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "concurrent_calls.h"
#include "conformance_cases.h"
#include "filter_record.h"
#include "image_dump.h"
#include "module_loader.h"
#include "quen_modules.h"
#include "quen_pipl.h"
#include "run.h"

namespace {

using namespace quen;
namespace fs = std::filesystem;

constexpr char kFftwDll[] = "libfftwx64_3-3.dll";

// What the version block of a module must say, from its entry in the module list: the numbers as
// written there, "1.0.5" as the internal version "1.05". The build writes the block from the same
// line with its own arithmetic, so the two are checked against each other.
struct VersionExpectation {
    std::string file_version;
    std::string internal_name;
    WORD file[4];
    WORD product[4];
};

// "a.b.c" or "a.b.c.d" as four numbers, missing ones 0.
void parse_version(std::string_view text, WORD (&out)[4]) {
    int i = 0;
    out[0] = out[1] = out[2] = out[3] = 0;
    for (char c : text) {
        if (c == '.') ++i;
        else out[i] = static_cast<WORD>(out[i] * 10 + (c - '0'));
    }
}

VersionExpectation expected_version(const manifest::ModuleEntry& m) {
    VersionExpectation v;
    v.file_version = std::string(m.file_version);
    parse_version(m.file_version, v.file);
    parse_version(m.product_version, v.product);
    v.internal_name = std::string(m.name) + "v" + std::to_string(v.file[0]) + "." + std::to_string(v.file[1]) +
                      std::to_string(v.file[2]);
    return v;
}

constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Collects the failures of one module; the runner's exit status is 1 if there is any.
class Report {
public:
    explicit Report(std::string module) : module_(std::move(module)) {}
    void fail(const std::string& what) {
        std::printf("FAIL %s: %s\n", module_.c_str(), what.c_str());
        ++failures_;
    }
    void note(const std::string& what) const { std::printf("ok   %s: %s\n", module_.c_str(), what.c_str()); }
    int failures() const { return failures_; }

private:
    std::string module_;
    int failures_ = 0;
};

std::string full_path(const std::string& path) {
    char buffer[MAX_PATH * 4];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    return n == 0 || n >= sizeof buffer ? path : std::string(buffer, n);
}

std::string folder_of(const std::string& path) {
    const std::string::size_type slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string{} : path.substr(0, slash);
}

bool file_exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string own_folder() {
    char buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return folder_of(std::string(buffer, n));
}

std::string_view resource_bytes(HMODULE module, LPCSTR type, LPCSTR name) {
    HRSRC found = FindResourceExA(module, type, name, kEnglishUs);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    return data ? std::string_view(static_cast<const char*>(data), SizeofResource(module, found)) : std::string_view{};
}

using PropertyLists = std::span<const resources::PropertyList>;

const resources::PropertyList* property_list_of(PropertyLists lists, const std::string& name) {
    for (const auto& list : lists)
        if (list.module == name) return &list;
    return nullptr;
}

void check_property_list(HMODULE module, const std::string& name, PropertyLists lists, Report& report) {
    const resources::PropertyList* expected = property_list_of(lists, name);
    if (expected == nullptr) return report.fail("no property list is described for this module");

    const std::string_view bytes = resource_bytes(module, "PIPL", MAKEINTRESOURCEA(16000));
    if (bytes.empty()) return report.fail("no resource PIPL 16000 in language 0x0409");
    if (bytes.size() != expected->bytes.size())
        return report.fail("PIPL 16000 has " + std::to_string(bytes.size()) + " bytes, not " +
                           std::to_string(expected->bytes.size()));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (static_cast<uint8_t>(bytes[i]) != expected->bytes[i])
            return report.fail("PIPL 16000 differs from the described property list at byte " + std::to_string(i));
    report.note("PIPL 16000 (language 0x0409): " + std::to_string(bytes.size()) + " bytes, identical to the description");
}

std::string version_string(const std::vector<char>& block, const char* key) {
    char* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904E4\\") + key;
    if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || value == nullptr)
        return "<missing>";
    return std::string(value, strnlen(value, length));
}

bool same_version(DWORD ms, DWORD ls, const WORD (&v)[4]) {
    return HIWORD(ms) == v[0] && LOWORD(ms) == v[1] && HIWORD(ls) == v[2] && LOWORD(ls) == v[3];
}

void check_version_block(HMODULE module, const std::string& path, const std::string& name, Report& report) {
    const manifest::ModuleEntry* entry = nullptr;
    for (const manifest::ModuleEntry& m : manifest::kModules)
        if (name == m.name) entry = &m;
    if (entry == nullptr) return report.fail("the module list has no such module");
    const VersionExpectation expected_block = expected_version(*entry);
    const VersionExpectation* expected = &expected_block;
    if (resource_bytes(module, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1)).empty())
        return report.fail("no version resource 1 in language 0x0409");

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<char> block(size);
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, block.data()))
        return report.fail("GetFileVersionInfo finds no version block");

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed)
        return report.fail("the version block has no fixed part");
    if (fixed->dwSignature != 0xFEEF04BD) report.fail("the fixed part has a wrong signature");
    if (!same_version(fixed->dwFileVersionMS, fixed->dwFileVersionLS, expected->file)) report.fail("wrong file version");
    if (!same_version(fixed->dwProductVersionMS, fixed->dwProductVersionLS, expected->product))
        report.fail("wrong fixed product version");
    if (fixed->dwFileFlagsMask != 0x3F || fixed->dwFileFlags != 0 || fixed->dwFileOS != 0x4 ||
        fixed->dwFileType != 0x2 || fixed->dwFileSubtype != 0)
        report.fail("wrong flags, operating system, file type or subtype in the fixed part");

    struct Translation {
        WORD language;
        WORD code_page;
    };
    Translation* translation = nullptr;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
        length != sizeof(Translation) || translation->language != 0x0409 || translation->code_page != 0x04E4)
        report.fail("the translation table is not the one pair 0x0409, 0x04E4");

    const std::pair<const char*, std::string> strings[] = {
        {"CompanyName", "TAVL"},
        {"FileDescription", name},
        {"FileVersion", expected->file_version},
        {"InternalName", expected->internal_name},
        {"OriginalFilename", name + ".8bf"},
        {"ProductVersion", "1.0"},
    };
    for (const auto& [key, value] : strings) {
        const std::string found = version_string(block, key);
        if (found != value) report.fail(std::string(key) + " is \"" + found + "\", not \"" + value + "\"");
    }
    for (const char* key : {"LegalCopyright", "ProductName"}) {
        const std::string found = version_string(block, key);
        if (found.empty() || found == "<missing>") report.fail(std::string(key) + " is missing");
    }
    report.note("version " + expected->file_version + ", product version " +
                std::to_string(expected->product[0]) + "." + std::to_string(expected->product[1]) + "." +
                std::to_string(expected->product[2]) + "." + std::to_string(expected->product[3]) +
                ", strings as expected");
}

void check_manifest(HMODULE module, Report& report) {
    const std::string_view manifest = resource_bytes(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(2));
    if (manifest.empty()) return report.fail("no manifest (type 24, id 2) in language 0x0409");
    if (manifest.find("level=\"asInvoker\"") == std::string_view::npos ||
        manifest.find("uiAccess=\"false\"") == std::string_view::npos)
        return report.fail("the manifest does not ask for asInvoker without uiAccess");
    report.note("manifest asks for asInvoker, uiAccess false");
}

// Some editors load plug-ins with a plain LoadLibrary, which does not look beside the module for
// the DLLs it imports: a module must load that way too.
void check_plain_load(const std::string& path, Report& report) {
    HMODULE plain = LoadLibraryA(path.c_str());
    if (plain == nullptr) return report.fail("LoadLibrary fails (error " + std::to_string(GetLastError()) + ")");
    const bool has_entry = GetProcAddress(plain, "ENTRYPOINT") != nullptr;
    FreeLibrary(plain);
    if (!has_entry) return report.fail("LoadLibrary finds no ENTRYPOINT");
}

host::RunOptions options_of(const conformance::Case& c, int32_t depth) {
    return {c.padding_samples * host::Image::bytes_per_sample(depth), c.same_buffer};
}

void run_cases(const host::ModuleLibrary& module, const std::string& name, std::size_t module_index,
               const fs::path& results, Report& report) {
    const fs::path folder = results / name;
    std::error_code ec;
    fs::create_directories(folder, ec);
    int runs = 0;
    for (std::size_t ci = 0; ci < std::size(conformance::kCases); ++ci) {
        const conformance::Case& c = conformance::kCases[ci];
        for (const int32_t depth : conformance::kDepths) {
            const std::string stem = conformance::file_stem(c, depth);
            const host::Image in = conformance::random_image(c, depth, (module_index * 100 + ci) * 100 + depth);
            try {
                const host::RunResult run = host::run_filter(module, in, options_of(c, depth));
                if (run.result != 0) {
                    report.fail(stem + ": result " + std::to_string(run.result) + " on selector " +
                                std::to_string(run.failed_selector));
                    continue;
                }
                if (!run.padding_intact) report.fail(stem + ": bytes of the row padding were written");
                if (!test::write_image((folder / (stem + ".in")).string(), in) ||
                    !test::write_image((folder / (stem + ".out")).string(), run.image))
                    report.fail(stem + ": cannot write the results into " + folder.string());
                ++runs;
            } catch (const std::exception& e) {
                report.fail(stem + ": " + e.what());
            }
        }
    }
    report.note(std::to_string(runs) + " filterings written to " + folder.string());
}

// What an editor reads before it runs a module: it loads, and its resources are as described.
void check_loading_and_resources(const std::string& path, const std::string& name, PropertyLists lists,
                                 Report& report) {
    check_plain_load(path, report);
    // An editor reads the resources without running the module's code.
    if (HMODULE data = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        check_property_list(data, name, lists, report);
        check_version_block(data, path, name, report);
        check_manifest(data, report);
        FreeLibrary(data);
    } else {
        report.fail("cannot open the file to read its resources (error " + std::to_string(GetLastError()) + ")");
    }
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A module of the interface-4.0 set against the same module of the default set: the files must be
// the same byte for byte but for the property list and the PE checksum, which covers it.
void check_only_property_list_differs(const std::string& path, const std::string& default_path,
                                      const std::string& name, Report& report) {
    const std::string bytes = file_bytes(path), reference = file_bytes(default_path);
    if (bytes.empty() || bytes.size() != reference.size())
        return report.fail("has " + std::to_string(bytes.size()) + " bytes, the default set's module " +
                           std::to_string(reference.size()));
    const resources::PropertyList* list = property_list_of(resources::kPropertyListsInterface40, name);
    if (list == nullptr) return report.fail("no property list is described for this module");
    const std::size_t pipl = bytes.find(std::string_view(reinterpret_cast<const char*>(list->bytes.data()), list->bytes.size()));
    if (pipl == std::string::npos) return report.fail("the property list is not in the file");
    uint32_t header = 0;
    std::memcpy(&header, bytes.data() + 0x3C, 4);
    const std::size_t checksum = std::size_t{header} + 4 + 20 + 64;  // signature, file header, optional header
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool allowed = (i >= pipl && i < pipl + list->bytes.size()) || (i >= checksum && i < checksum + 4);
        if (bytes[i] != reference[i] && !allowed)
            return report.fail("differs from the default set's module at byte " + std::to_string(i));
    }
    report.note("the same bytes as " + default_path + " but for the property list and the checksum");
}

int check_interface40(const std::string& module_dir, const std::string& default_dir, const std::vector<std::string>& names) {
    int failures = 0;
    for (const std::string& name : names) {
        const std::string path = module_dir + "\\" + name + ".8bf";
        Report report("interface-4.0 " + name + ".8bf");
        check_loading_and_resources(path, name, resources::kPropertyListsInterface40, report);
        check_only_property_list_differs(path, default_dir + "\\" + name + ".8bf", name, report);
        failures += report.failures();
    }
    return failures == 0 ? 0 : 1;
}

int check(const std::string& module_dir, const fs::path& results, const std::vector<std::string>& names) {
    // The modules must find FFTW beside themselves, not beside this program.
    if (_stricmp(own_folder().c_str(), module_dir.c_str()) == 0 || file_exists(own_folder() + "\\" + kFftwDll)) {
        std::printf("FAIL the runner must sit in a folder of its own, without %s\n", kFftwDll);
        return 1;
    }
    int failures = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        const std::string path = module_dir + "\\" + name + ".8bf";
        Report report(name + ".8bf");
        check_loading_and_resources(path, name, resources::kPropertyLists, report);
        try {
            const host::ModuleLibrary module(path);
            run_cases(module, name, i, results, report);
        } catch (const std::exception& e) {
            report.fail(e.what());
        }
        failures += report.failures();
    }
    return failures == 0 ? 0 : 1;
}

int missing_fftw(const std::string& module_dir, const std::vector<std::string>& names) {
    if (file_exists(module_dir + "\\" + kFftwDll)) {
        std::printf("FAIL %s holds %s; this check needs a folder without it\n", module_dir.c_str(), kFftwDll);
        return 1;
    }
    int failures = 0;
    for (const std::string& name : names) {
        const std::string path = module_dir + "\\" + name + ".8bf";
        Report report(name + ".8bf");
        try {
            const host::ModuleLibrary module(path);
            for (const int32_t depth : conformance::kDepths) {
                const conformance::Case& c = conformance::kCases[1];  // padded rows, four planes
                const host::Image in = conformance::random_image(c, depth, 7);
                const host::RunResult run = host::run_filter(module, in, options_of(c, depth));
                const std::string stem = conformance::file_stem(c, depth);
                if (run.result == 0 || run.failed_selector != filterSelectorContinue)
                    report.fail(stem + ": without FFTW the filter reported success");
                if (run.image.data != in.data || !run.padding_intact)
                    report.fail(stem + ": without FFTW the filter changed the image");
            }
            if (GetModuleHandleA(kFftwDll) != nullptr) report.fail(std::string(kFftwDll) + " was found after all");
            if (report.failures() == 0) report.note("loads, and without FFTW reports result " + std::to_string(fnfErr) +
                                                    " and leaves the image untouched");
        } catch (const std::exception& e) {
            report.fail(e.what());
        }
        failures += report.failures();
    }
    return failures == 0 ? 0 : 1;
}

int threads(const std::string& module_dir, const std::vector<std::string>& names) {
    std::vector<std::unique_ptr<host::ModuleLibrary>> loaded;
    std::vector<std::pair<std::string, const host::ModuleLibrary*>> modules;
    for (const std::string& name : names) {
        loaded.push_back(std::make_unique<host::ModuleLibrary>(module_dir + "\\" + name + ".8bf"));
        modules.emplace_back(name, loaded.back().get());
    }
    int failures = 0;
    for (const int32_t depth : conformance::kDepths) {
        const auto calls = test::calls_made_alone(modules, depth);
        const std::vector<std::string> differing = test::differing_concurrent_calls(calls, 8, 24);
        Report report("depth " + std::to_string(depth));
        for (const std::string& name : differing) report.fail(name + " differed from the same call made alone");
        if (differing.empty())
            report.note(std::to_string(calls.size() * 24) + " calls from 8 threads, each as made alone");
        failures += report.failures();
    }
    return failures == 0 ? 0 : 1;
}

void usage() {
    std::fputs("usage: quen_conformance check MODULE_DIR RESULTS_DIR MODULE...\n"
               "       quen_conformance check-interface-4.0 MODULE_DIR DEFAULT_MODULE_DIR MODULE...\n"
               "       quen_conformance missing-fftw MODULE_DIR MODULE...\n"
               "       quen_conformance threads MODULE_DIR MODULE...\n",
               stderr);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 4 && args[0] == "check")
        return check(full_path(args[1]), fs::path(full_path(args[2])), {args.begin() + 3, args.end()});
    if (args.size() >= 4 && args[0] == "check-interface-4.0")
        return check_interface40(full_path(args[1]), full_path(args[2]), {args.begin() + 3, args.end()});
    if (args.size() >= 3 && args[0] == "missing-fftw")
        return missing_fftw(full_path(args[1]), {args.begin() + 2, args.end()});
    if (args.size() >= 3 && args[0] == "threads") return threads(full_path(args[1]), {args.begin() + 2, args.end()});
    usage();
    return 2;
}
