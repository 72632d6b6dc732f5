// One filtering run as an editor performs it.
#include "run.h"

#include <memory>
#include <string>

namespace quen::host {
namespace {

constexpr std::byte kPaddingByte{0xA5};

std::string describe(const Rect& r) {
    return "(" + std::to_string(r.top) + ", " + std::to_string(r.left) + ", " + std::to_string(r.bottom) +
           ", " + std::to_string(r.right) + ")";
}

void check_request(const FilterRecord& rec, const Image& input) {
    const Rect whole{0, 0, static_cast<int16_t>(input.rows), static_cast<int16_t>(input.cols)};
    const Rect in_rect = rec.inRect, out_rect = rec.outRect, mask_rect = rec.maskRect;
    const int16_t last = static_cast<int16_t>(input.planes - 1);
    if (!same_rect(in_rect, whole) || !same_rect(out_rect, whole))
        throw ProtocolError("module requested input " + describe(in_rect) + " and output " + describe(out_rect) +
                            ", not the whole image " + describe(whole));
    if (rec.inLoPlane != 0 || rec.inHiPlane != last || rec.outLoPlane != 0 || rec.outHiPlane != last)
        throw ProtocolError("module requested planes other than 0 to " + std::to_string(last));
    if (!same_rect(mask_rect, Rect{0, 0, 0, 0})) throw ProtocolError("module requested a selection mask");
}

}  // namespace

std::string describe_result(int16_t result) {
    if (result == -108) return "out of memory";
    return "error " + std::to_string(result);
}

RunResult run_filter(const ModuleLibrary& module, Image input, const RunOptions& options) {
    const int32_t sample_bytes = Image::bytes_per_sample(input.depth);
    if (input.rows < 1 || input.cols < 1 || input.rows > kLargestSide || input.cols > kLargestSide)
        throw ProtocolError("image of " + std::to_string(input.rows) + " x " + std::to_string(input.cols) +
                            " pixels cannot be described to a module (1 to " + std::to_string(kLargestSide) +
                            " rows and columns)");
    if (options.row_padding < 0 || options.row_padding % sample_bytes != 0)
        throw ProtocolError("row padding must be a non-negative multiple of the sample size");

    const std::size_t packed = input.row_bytes();
    const std::size_t stride = packed + static_cast<std::size_t>(options.row_padding);
    if (stride > INT32_MAX) throw ProtocolError("image rows are too long for the host record");
    // Packed rows are handed over as they are (the picture's own memory, moved in); padded rows are
    // copied into a buffer with the padding pattern between them.
    std::vector<std::byte> in_buffer;
    if (stride == packed) {
        in_buffer = std::move(input.data);
    } else {
        in_buffer.assign(stride * static_cast<std::size_t>(input.rows), kPaddingByte);
        for (int32_t y = 0; y < input.rows; ++y)
            std::memcpy(in_buffer.data() + stride * static_cast<std::size_t>(y),
                        input.data.data() + packed * static_cast<std::size_t>(y), packed);
    }
    // The output starts as a copy of the input, as an editor supplies it.
    std::vector<std::byte> out_copy;
    if (!options.same_buffer) out_copy = in_buffer;
    std::vector<std::byte>& out_buffer = options.same_buffer ? in_buffer : out_copy;

    auto block = std::make_unique<RecordBlock>();
    FilterRecord& rec = block->record;
    rec.imageSize = Point{static_cast<int16_t>(input.rows), static_cast<int16_t>(input.cols)};
    rec.planes = static_cast<int16_t>(input.planes);
    rec.depth = input.depth;

    RunResult run;
    intptr_t data = 0;
    auto send = [&](int16_t selector) {
        int16_t result = 0;
        module.entry()(selector, &rec, &data, &result);
        if (result != 0 && run.result == 0) {
            run.result = result;
            run.failed_selector = selector;
        }
        return result == 0;
    };

    // A failed run gives back the input unchanged: the modules write nothing when they fail.
    auto unchanged = [&] {
        if (stride == packed) input.data = std::move(in_buffer);
        run.image = std::move(input);
        return run;
    };
    if (!send(filterSelectorAbout) || !send(filterSelectorParameters) || !send(filterSelectorPrepare) ||
        !send(filterSelectorStart))
        return unchanged();
    check_request(rec, input);

    rec.inData = in_buffer.data();
    rec.inRowBytes = static_cast<int32_t>(stride);
    rec.outData = out_buffer.data();
    rec.outRowBytes = static_cast<int32_t>(stride);
    const bool continued = send(filterSelectorContinue);
    const Rect in_rect = rec.inRect, out_rect = rec.outRect, mask_rect = rec.maskRect;
    const Rect empty{0, 0, 0, 0};
    if (continued && (!same_rect(in_rect, empty) || !same_rect(out_rect, empty) || !same_rect(mask_rect, empty)))
        throw ProtocolError("module asked for more data after continue");
    rec.inData = nullptr;
    rec.outData = nullptr;
    if (!continued) return unchanged();
    send(filterSelectorFinish);

    if (stride == packed) {
        run.image = Image{input.rows, input.cols, input.planes, input.depth, std::move(out_buffer)};
        return run;
    }
    run.image = Image::make(input.rows, input.cols, input.planes, input.depth);
    for (int32_t y = 0; y < input.rows; ++y) {
        const std::byte* row = out_buffer.data() + stride * static_cast<std::size_t>(y);
        std::memcpy(run.image.data.data() + packed * static_cast<std::size_t>(y), row, packed);
        for (std::size_t i = packed; i < stride; ++i)
            if (row[i] != kPaddingByte) run.padding_intact = false;
    }
    return run;
}

}  // namespace quen::host
