// Drives a loaded module through one filtering run, in the order and with the buffers an editor
// uses, and returns the image the module left in the output buffer.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "image.h"
#include "module_loader.h"

namespace quen::host {

// A module's result code in words for messages: "out of memory", or "error N".
std::string describe_result(int16_t result);

// The module asked for something an editor running it on the whole image would not give it.
struct ProtocolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What a host hands a module: the record, zero-filled and longer than the record of any interface
// version.
struct RecordBlock {
    FilterRecord record;
    std::byte tail[kFilterRecordBlockBytes - sizeof(FilterRecord)];
};

struct RunOptions {
    int32_t row_padding = 0;   // bytes after every row of both buffers; a multiple of the sample size
    bool same_buffer = false;  // the input and output buffers are one memory
};

struct RunResult {
    Image image;               // the output buffer after continue (the input when a selector failed)
    int16_t result = 0;        // the first non-zero result code, else 0
    int16_t failed_selector = -1;  // the selector that returned it, -1 when none did
    bool padding_intact = true;    // no byte of the row padding was changed
};

// Sends about, parameters, prepare, start, continue and finish; stops at the first selector whose
// result is not 0, as an editor does. Throws ProtocolError when the module requests anything but
// the whole image with every plane, or wants more data after continue.
// The input is taken by value: a caller that moves its picture in saves a copy of it, since the
// packed input buffer is then the picture's own memory.
RunResult run_filter(const ModuleLibrary& module, Image input, const RunOptions& options = {});

}  // namespace quen::host
