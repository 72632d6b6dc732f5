// The quen commands. Each takes the arguments after its name, prints to stdout (and, for a file
// that fails within a batch, to stderr) and returns the exit status; it throws UsageError or
// ToolError for main to report.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "args.h"
#include "edit.h"
#include "peaks.h"
#include "filters.h"
#include "image_io.h"
#include "image.h"

namespace quen::tool {

int apply_command(const std::vector<std::string>& args);
int edit_command(const std::vector<std::string>& args);
int demo_command(const std::vector<std::string>& args);
int list_command(const std::vector<std::string>& args);
int clean_command(const std::vector<std::string>& args);
int peaks_command(const std::vector<std::string>& args);
int view_command(const std::vector<std::string>& args);

extern const char* const kApplyHelp;
extern const char* const kEditHelp;
extern const char* const kDemoHelp;
extern const char* const kListHelp;
extern const char* const kCleanHelp;
extern const char* const kPeaksHelp;
extern const char* const kViewHelp;

// How apply treats each file.
struct ApplyOptions {
    bool force = false;           // replace a read-only output
    int32_t depth = 0;            // the filters' depth, 0: the input's
    int32_t page = 0;             // the page of a multi-page TIFF file, 0: none chosen
    bool keep_nonfinite = false;  // pass NaN and infinite samples to the filters
};

// A file's result, and the warnings about the spectrum it read.
struct Applied {
    Picture picture;
    std::vector<std::string> warnings;
};

// The steps of apply and edit on one file, which the demo repeats. Both read the whole input
// before writing, so the output may be the input file. They throw FileError or ToolError.
Applied apply_to_file(const std::vector<Filter>& chain, const std::filesystem::path& input,
                      const std::filesystem::path& output, const ApplyOptions& options = {});
int64_t edit_file(const std::filesystem::path& input, const std::filesystem::path& output, Layout layout,
                  const std::vector<Edit>& edits, bool force = false);

// "8", "16" or "32"; throws UsageError otherwise.
int32_t parse_depth(const std::string& text);

// A spectrum file's log magnitudes and the peaks found in them, for peaks and view: the layout
// from --layout, else the one the file records, else full; --sensitivity and --protect as clean
// takes them. Throws FileError or UsageError.
struct SpectrumPeaks {
    Layout layout = Layout::Full;
    cleaning::LogMagnitudes magnitudes;
    cleaning::Detection detection;
};
SpectrumPeaks find_spectrum_peaks(const std::string& input, const ParsedArgs& parsed);

// The value of an option that takes a positive number, or the fallback; throws UsageError.
double positive_option(const ParsedArgs& parsed, const std::string& option, double fallback);

// "RGB", "G": the channels whose bits are set.
std::string channel_names(uint32_t channels);

// "full" or "half"; throws UsageError otherwise.
Layout parse_layout(const std::string& text);

}  // namespace quen::tool
