// Option parsing for the quen commands.
#include "args.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace quen::tool {

const std::string* ParsedArgs::single(const std::string& name) const {
    const std::string* found = nullptr;
    for (const auto& [option, value] : options) {
        if (option != name) continue;
        if (found) throw UsageError(name + " is given more than once");
        found = &value;
    }
    return found;
}

ParsedArgs parse_args(const std::vector<std::string>& args, const std::set<std::string>& valued,
                      const std::set<std::string>& flags) {
    ParsedArgs parsed;
    bool options_end = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_end || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_end = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            parsed.help = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        if (valued.count(name)) {
            if (eq != std::string::npos) parsed.options.emplace_back(name, arg.substr(eq + 1));
            else if (i + 1 < args.size()) parsed.options.emplace_back(name, args[++i]);
            else throw UsageError(name + " needs a value");
        } else if (flags.count(name) && eq == std::string::npos) {
            parsed.options.emplace_back(name, "");
        } else {
            throw UsageError("unknown option " + arg);
        }
    }
    return parsed;
}

std::vector<double> parse_numbers(const std::string& option, const std::string& text, std::size_t count) {
    std::vector<double> numbers;
    const char* p = text.data();
    const char* end = p + text.size();
    while (true) {
        double v = 0;
        const auto [next, ec] = std::from_chars(p, end, v);
        if (ec != std::errc() || !std::isfinite(v)) break;
        numbers.push_back(v);
        p = next;
        if (p == end) {
            if (numbers.size() == count) return numbers;
            break;
        }
        if (*p != ',') break;
        ++p;
    }
    const std::string wanted = count == 1 ? "a number" : std::to_string(count) + " numbers separated by commas";
    throw UsageError(option + " '" + text + "': expected " + wanted);
}

std::string number_text(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

}  // namespace quen::tool
