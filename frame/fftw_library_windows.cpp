// Finds FFTW for a Windows module. The module delay-loads libfftwx64_3-3.dll: nothing of FFTW is
// resolved when the editor loads the module, only when the first FFTW function is called. Before
// that, the frame calls fftw_ready(), which loads the DLL from the module's own folder
// (where the installation puts it) and falls back to the usual search (the editor's folder, the
// system folders, PATH). The delay-load helper is then handed exactly that DLL.
// fftw_make_planner_thread_safe is looked up by name rather than imported, so that a DLL built
// without FFTW's threads still loads.
#include <windows.h>

#include <delayimp.h>

#include <atomic>
#include <string>

#include "fftw_library.h"

namespace {

constexpr char kFftwDll[] = "libfftwx64_3-3.dll";
constexpr wchar_t kFftwDllWide[] = L"libfftwx64_3-3.dll";

// The DLL once found; kept loaded for the life of the process, as FFTW keeps its planner state
// inside it. An atomic because an editor may run filters from more than one thread.
std::atomic<HMODULE> g_fftw{nullptr};

// The folder of the module this code is linked into, with a trailing separator; empty if unknown.
std::wstring module_folder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&g_fftw), &self))
        return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);  // truncated: long path
    }
    const std::wstring::size_type slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring{} : path.substr(0, slash + 1);
}

HMODULE load_fftw() {
    const std::wstring folder = module_folder();
    if (!folder.empty()) {
        // The altered search path lets the DLL's own imports resolve beside it as well.
        const std::wstring beside = folder + kFftwDllWide;
        if (HMODULE h = LoadLibraryExW(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) return h;
    }
    return LoadLibraryW(kFftwDllWide);
}

// Called by the delay-load helper before it loads a DLL itself: for FFTW it gets the DLL found
// above, never another copy of the same name elsewhere on the search path.
FARPROC WINAPI delay_load_notify(unsigned reason, PDelayLoadInfo info) {
    if (reason == dliNotePreLoadLibrary && info != nullptr && lstrcmpiA(info->szDll, kFftwDll) == 0)
        return reinterpret_cast<FARPROC>(g_fftw.load());
    return nullptr;
}

}  // namespace

// The helper's notification hook (declared with C linkage in delayimp.h).
PfnDliHook __pfnDliNotifyHook2 = delay_load_notify;

namespace quen {

bool fftw_ready() {
    if (g_fftw.load() == nullptr) {
        HMODULE h = load_fftw();
        if (h == nullptr) return false;
        HMODULE expected = nullptr;
        if (!g_fftw.compare_exchange_strong(expected, h)) FreeLibrary(h);  // another thread was first
    }
    // Once per module, before its first plan; FFTW itself installs its lock only once.
    static const bool thread_safe = [] {
        using Function = void (*)();
        const FARPROC f = GetProcAddress(g_fftw.load(), "fftw_make_planner_thread_safe");
        if (f != nullptr) reinterpret_cast<Function>(f)();
        return true;
    }();
    return thread_safe;
}

}  // namespace quen
