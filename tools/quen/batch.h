// One command's work over its input files, several at once: each input to its planned result, a
// failure reported and the rest carried on, the lines in input order, and a summary in batch mode.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "args.h"

namespace quen::tool {

// Does one file: writes the result and returns the line to print (with its newline); adds any
// warnings (one line each, without "quen: warning: ") to `warnings`. Throws std::runtime_error or
// std::bad_alloc when the file fails.
using FileJob = std::function<std::string(const std::string& input, const std::filesystem::path& target,
                                          std::vector<std::string>& warnings)>;

// Runs `one` for each input and its target on `jobs` threads; prints each file's line on stdout
// and its warnings and failure on stderr, in input order. An input with an empty target (the
// same file as an earlier input) is not done again; with `skip_existing`, neither is one whose
// target exists, and its line says so. A target already claimed by an earlier input is refused.
// With a `summary` stream (the --out-dir mode; stderr when stdout carries JSON lines for a script)
// prints there the counts written, skipped and failed and the time; null: none. Returns the exit
// status: 0 when no file failed, else 1.
int run_batch(const std::vector<std::string>& inputs, const std::vector<std::filesystem::path>& targets, int32_t jobs,
              std::FILE* summary, bool skip_existing, const FileJob& one);

// -j N: the files done at once, the number of cores by default.
int32_t parse_jobs(const ParsedArgs& parsed);

// A whole number from low to high given with an option; throws UsageError otherwise.
int32_t parse_count(const std::string& option, const std::string& text, int32_t low, int32_t high);

}  // namespace quen::tool
