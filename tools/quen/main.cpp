// quen: runs the filter modules on picture files from the command line, as an image editor would.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "args.h"
#include "atomic_file.h"
#include "commands.h"

using namespace quen::tool;

namespace {

const char* const kHelp =
    "usage: quen COMMAND [ARGUMENTS]\n"
    "\n"
    "Runs the Quen Fourier-spectrum filter modules on pictures: PNG and TIFF files are read and\n"
    "written, JPEG and WebP files read.\n"
    "\n"
    "commands:\n"
    "  apply FILTER[,FILTER...] INPUT... (-o OUTPUT | --out-dir DIR)\n"
    "                  run filters on pictures\n"
    "  edit SPECTRUM -o OUTPUT [--notch X,Y,R] [--lowpass R] [--highpass R] [--band R1,R2]\n"
    "                  remove frequencies from a spectrum picture\n"
    "  clean INPUT... (-o OUTPUT | --out-dir DIR)\n"
    "                  find periodic noise (stripes, scan lines, halftone screens) and remove it\n"
    "  peaks SPECTRUM  list the peaks of periodic noise in a spectrum, ready for edit --notch\n"
    "  view SPECTRUM -o VIEW.png\n"
    "                  a picture of the spectrum's log magnitudes with the peaks circled\n"
    "  demo [DIR]      remove stripes from a built-in picture, step by step\n"
    "  list            the filters found and what each does\n"
    "  help COMMAND    the options of one command (also: quen COMMAND --help)\n"
    "\n"
    "  --version       the version of quen\n"
    "\n"
    "The forward-edit-inverse workflow:\n"
    "  quen apply QuenFwd photo.png -o spectrum.png\n"
    "  quen edit spectrum.png --notch 240,192,3 -o notched.png\n"
    "  quen apply QuenInv notched.png -o cleaned.png\n";

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>&);
    const char* const* help;
};

const Command kCommands[] = {
    {"apply", apply_command, &kApplyHelp},
    {"edit", edit_command, &kEditHelp},
    {"demo", demo_command, &kDemoHelp},
    {"list", list_command, &kListHelp},
    {"clean", clean_command, &kCleanHelp},
    {"peaks", peaks_command, &kPeaksHelp},
    {"view", view_command, &kViewHelp},
};

const Command* find_command(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    remove_temp_files_on_interrupt();
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string command_name;
    try {
        if (args.empty()) {
            std::fputs(kHelp, stderr);
            return 2;
        }
        if (args[0] == "--help" || args[0] == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (args[0] == "--version") {
            std::printf("quen %s\n", QUEN_VERSION);
            return 0;
        }
        if (args[0] == "help") {
            const Command* c = args.size() == 2 ? find_command(args[1]) : nullptr;
            if (args.size() == 1) std::fputs(kHelp, stdout);
            else if (c) std::fputs(*c->help, stdout);
            else throw UsageError("help: unknown command '" + (args.size() > 1 ? args[1] : "") + "'");
            return 0;
        }
        const Command* command = find_command(args[0]);
        if (!command) throw UsageError("unknown command '" + args[0] + "' (apply, clean, edit, peaks, view, demo, list, help)");
        command_name = command->name;
        return command->run(std::vector<std::string>(args.begin() + 1, args.end()));
    } catch (const UsageError& e) {
        const std::string more = command_name.empty() ? "quen --help" : "quen " + command_name + " --help";
        std::fprintf(stderr, "quen%s%s: %s (see %s)\n", command_name.empty() ? "" : " ", command_name.c_str(), e.what(),
                     more.c_str());
        return 2;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "quen: not enough memory\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quen: %s\n", e.what());
        return 1;
    }
}
