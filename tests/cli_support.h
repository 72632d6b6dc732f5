// Runs the built quen executable as a user would, capturing its output and exit status.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image_files.h"

extern char** environ;

namespace quen::test {

struct QuenRun {
    int status = -1;  // exit status, or -1 when quen did not exit normally
    std::string out;
    std::string err;
};

// Runs a program with arguments, its output captured through files in the scratch folder.
inline QuenRun run_program(const std::string& program, const std::vector<std::string>& args, const fs::path& scratch) {
    const fs::path out_file = scratch / ".quen_stdout", err_file = scratch / ".quen_stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    QuenRun run;
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = read_bytes(out_file);
    run.err = read_bytes(err_file);
    fs::remove(out_file);
    fs::remove(err_file);
    return run;
}

#ifdef QUEN_TOOL
inline QuenRun run_quen(const std::vector<std::string>& args, const fs::path& scratch) {
    return run_program(QUEN_TOOL, args, scratch);
}
#endif

}  // namespace quen::test
