// The platform's library loader behind ModuleLibrary.
#include "module_loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace quen::host {
namespace {

#if defined(_WIN32)
std::string last_error() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = text ? text : "";
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message + " (error " + std::to_string(code) + ")";
}

// Modules find the DLLs they import in their own folder, as an editor loading them by full path does.
void* open_library(const std::string& path) {
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
void* find_symbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void close_library(void*) {}
#else
std::string last_error() {
    const char* text = dlerror();
    return text ? text : "unknown reason";
}
void* open_library(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}
void* find_symbol(void* handle, const char* name) { return dlsym(handle, name); }
void close_library(void* handle) { dlclose(handle); }
#endif

}  // namespace

ModuleLibrary::ModuleLibrary(const std::string& path) : path_(path) {
    handle_ = open_library(path);
    if (handle_ == nullptr) throw LoadError(path + ": cannot load module: " + last_error());
    entry_ = reinterpret_cast<EntryPoint>(find_symbol(handle_, "ENTRYPOINT"));
    if (entry_ == nullptr) {
        const std::string reason = last_error();
        close_library(handle_);
        throw LoadError(path + ": not a filter module (no ENTRYPOINT): " + reason);
    }
}

ModuleLibrary::~ModuleLibrary() {
    if (handle_ != nullptr) close_library(handle_);
}

}  // namespace quen::host
