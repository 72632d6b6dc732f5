// Command-line parsing shared by the commands: options and operands, numbers, and the two kinds
// of failure a command reports.
#pragma once

#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quen::tool {

// The command line itself is wrong; quen exits with status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A file, a module or a filter run failed; quen exits with status 1.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ParsedArgs {
    std::vector<std::pair<std::string, std::string>> options;  // in the order given; flags have ""
    std::vector<std::string> operands;
    bool help = false;  // -h or --help anywhere

    // The value of an option given at most once; throws UsageError when it is repeated.
    const std::string* single(const std::string& name) const;
};

// Splits a command's arguments. Options in `valued` take a value ("--name value" or
// "--name=value"), options in `flags` none; "--" ends the options. Throws UsageError for an
// unknown option or a missing value.
ParsedArgs parse_args(const std::vector<std::string>& args, const std::set<std::string>& valued,
                      const std::set<std::string>& flags = {});

// "3,4.5,2" -> {3, 4.5, 2}: exactly `count` finite numbers separated by commas; throws UsageError
// naming the option otherwise.
std::vector<double> parse_numbers(const std::string& option, const std::string& text, std::size_t count);

// A number as a user would type it back: "3", "2.5", "1e-05".
std::string number_text(double v);

}  // namespace quen::tool
