// Output files that appear whole or not at all: the data goes to a temporary file in the target's
// folder, which is renamed over the target only once it is complete and on disk.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace quen::tool {

// A problem with one file; the message starts with the file's name.
struct FileError : std::runtime_error {
    FileError(const std::filesystem::path& file, const std::string& problem)
        : std::runtime_error(file.string() + ": " + problem) {}
};

class AtomicFile {
public:
    // Reserves a fresh temporary name beside `target` (a symbolic link is followed, so the file
    // it points to is replaced). Throws FileError naming the target when that folder cannot take
    // a new file.
    explicit AtomicFile(const std::filesystem::path& target);
    // Removes the temporary file unless commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Where the writer puts the data; it opens, fills and closes this file itself.
    const std::filesystem::path& temp_path() const { return temp_; }

    // Flushes the temporary file to disk, gives it the target's permissions (or the usual ones for
    // a new file) and renames it over the target.
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    bool committed_ = false;
    void* pending_ = nullptr;  // this file's place in the interrupt handler's list
};

// On SIGINT, SIGTERM or SIGHUP, removes the temporary file being written before the process dies.
void remove_temp_files_on_interrupt();

}  // namespace quen::tool
