// quen list: the filter modules found, where they are, and what each does.
#include <cstdio>

#include "args.h"
#include "commands.h"
#include "filters.h"
#include "module_finder.h"

namespace quen::tool {

const char* const kListHelp =
    "usage: quen list [--modules DIR]\n"
    "\n"
    "Lists the filter modules quen finds, with their files and what each does. Modules are looked\n"
    "for beside the quen executable, then in " QUEN_INSTALLED_MODULE_DIR " relative to it\n"
    "(the installed layout).\n"
    "\n"
    "  --modules DIR    look in DIR only\n";

int list_command(const std::vector<std::string>& args) {
    const ParsedArgs parsed = parse_args(args, {"--modules"});
    if (parsed.help) {
        std::fputs(kListHelp, stdout);
        return 0;
    }
    if (!parsed.operands.empty()) throw UsageError("list takes no operands");
    const std::vector<std::filesystem::path> dirs = module_dirs(parsed.single("--modules"));
    const std::vector<host::ModuleFile> modules = host::find_modules(dirs);
    if (modules.empty()) throw ToolError("no filter modules found in " + join_dirs(dirs));
    int broken = 0;
    for (const host::ModuleFile& m : modules) {
        std::string note = describe_filter(m.name);
        try {
            host::ModuleLibrary library(m.path.string());
        } catch (const host::LoadError& e) {
            note = std::string("cannot be loaded: ") + e.what();
            ++broken;
        }
        std::printf("%-10s %s\n%-10s %s\n", m.name.c_str(), note.c_str(), "", m.path.string().c_str());
    }
    return broken == 0 ? 0 : 1;
}

}  // namespace quen::tool
