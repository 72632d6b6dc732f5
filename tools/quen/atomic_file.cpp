// Temporary output files, their rename into place, and their removal on an interrupt.
#include "atomic_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace quen::tool {
namespace {

// The temporary files being written (several when a batch runs files in parallel), for the signal
// handler. Plain buffers and lock-free flags, since a handler may only use async-signal-safe calls
// such as unlink. A file beyond the slots is still removed on every ordinary exit path.
struct Pending {
    std::atomic<bool> taken{false};
    volatile std::sig_atomic_t ready = 0;
    char path[4096];
};
Pending g_pending[256];  // as many as -j allows files written at once

Pending* set_pending(const fs::path& path) {
    const std::string text = path.string();
    if (text.size() >= sizeof g_pending[0].path) return nullptr;
    for (Pending& slot : g_pending) {
        if (slot.taken.exchange(true)) continue;
        std::memcpy(slot.path, text.c_str(), text.size() + 1);
        slot.ready = 1;
        return &slot;
    }
    return nullptr;
}

void clear_pending(void* slot) {
    if (!slot) return;
    auto* pending = static_cast<Pending*>(slot);
    pending->ready = 0;
    pending->taken.store(false);
}

extern "C" void on_interrupt(int signal_number) {
    for (const Pending& slot : g_pending)
        if (slot.ready) ::unlink(slot.path);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

int open_new(const fs::path& path) {
#if defined(_WIN32)
    return ::_open(path.string().c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
#endif
}

// Makes the file's data durable before the rename publishes it.
bool sync_file(const fs::path& path) {
#if defined(_WIN32)
    (void)path;
    return true;
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
#endif
}

fs::perms new_file_perms() {
#if defined(_WIN32)
    return fs::perms::owner_read | fs::perms::owner_write;
#else
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<fs::perms>(0666 & ~mask);
#endif
}

}  // namespace

AtomicFile::AtomicFile(const fs::path& target) : target_(target) {
    std::error_code ec;
    if (fs::is_symlink(target_, ec)) {
        const fs::path resolved = fs::weakly_canonical(target_, ec);
        if (!ec) target_ = resolved;
    }
    if (fs::is_directory(target_, ec)) throw FileError(target, "is a folder, not a file");
    const fs::path folder = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec)) throw FileError(target, "cannot write: folder " + folder.string() + " does not exist");

    std::random_device seed;
    std::mt19937 gen(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = target_.filename().string();
        name.insert(0, 1, '.');
        name.append(".").append(std::to_string(gen() % 1000000)).append(".part");
        const fs::path candidate = folder / name;
        const int fd = open_new(candidate);
        if (fd >= 0) {
#if defined(_WIN32)
            ::_close(fd);
#else
            ::close(fd);
#endif
            temp_ = candidate;
            pending_ = set_pending(temp_);
            return;
        }
        if (errno != EEXIST) throw FileError(target, std::string("cannot write in ") + folder.string() + ": " + std::strerror(errno));
    }
    throw FileError(target, "cannot find a free temporary name in " + folder.string());
}

AtomicFile::~AtomicFile() {
    clear_pending(pending_);
    if (!committed_ && !temp_.empty()) {
        std::error_code ec;
        fs::remove(temp_, ec);
    }
}

void AtomicFile::commit() {
    if (!sync_file(temp_)) throw FileError(target_, std::string("cannot write: ") + std::strerror(errno));
    std::error_code ec;
    const fs::file_status existing = fs::status(target_, ec);
    const fs::perms perms = fs::exists(existing) ? existing.permissions() : new_file_perms();
    fs::permissions(temp_, perms, ec);
    fs::rename(temp_, target_, ec);
    if (ec) throw FileError(target_, "cannot replace: " + ec.message());
    committed_ = true;
    clear_pending(pending_);
    pending_ = nullptr;
}

void remove_temp_files_on_interrupt() {
#if !defined(_WIN32)
    for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, on_interrupt);
#else
    for (int s : {SIGINT, SIGTERM}) std::signal(s, on_interrupt);
#endif
}

}  // namespace quen::tool
