// The entry point shared by every module: answers the host's selectors, requests the whole image,
// and runs the module's transform on the first continue call with its scratch arrays.
#include <cstdint>
#include <new>

#include "fftw_library.h"
#include "filter_record.h"
#include "module.h"
#include "scratch.h"

namespace quen {
namespace {

constexpr Rect kEmpty{0, 0, 0, 0};

// Ask for every row, column and plane in one piece; no mask.
void filter_start(FilterRecord* record) {
    const Point size = record->imageSize;
    const int16_t planes = record->planes;
    const Rect whole{0, 0, size.v, size.h};
    record->inRect = whole;
    record->inLoPlane = 0;
    record->inHiPlane = static_cast<int16_t>(planes - 1);
    record->outRect = whole;
    record->outLoPlane = 0;
    record->outHiPlane = static_cast<int16_t>(planes - 1);
    record->maskRect = kEmpty;
}

// Per depth: the transform body and the bytes of one sample. The one place that looks at depth.
struct DepthChoice {
    Transform run;
    int32_t sample_bytes;
};

DepthChoice choose_depth(int32_t depth) {
    switch (depth) {
    case 8: return {kModule.run_u8, bytes_per_sample(8)};
    case 16: return {kModule.run_u16, bytes_per_sample(16)};
    case 32: return {kModule.run_f32, bytes_per_sample(32)};
    default: return {nullptr, 0};  // unsupported: no pixel is touched
    }
}

// A row length must hold one row of samples, counted in whole samples as the transforms address it.
bool holds_row(int32_t row_bytes, int64_t samples_per_row, int32_t sample_bytes) {
    return row_bytes > 0 && row_bytes / sample_bytes >= samples_per_row;
}

// Does all the work, then empties the rectangles so the host asks for nothing more. Images the
// transforms cannot address (no rows, fewer than 3 planes, no buffer, rows shorter than the
// image, too narrow for a real-input transform) are left as the host supplied them.
int16_t filter_continue(FilterRecord* record) {
    const int32_t rows = record->imageSize.v;
    const int32_t cols = record->imageSize.h;
    const int32_t planes = record->planes;
    const int32_t depth = record->depth;
    void* const in = record->inData;
    const int32_t in_row_bytes = record->inRowBytes;
    void* const out = record->outData;
    const int32_t out_row_bytes = record->outRowBytes;

    const int32_t width = kModule.shape == Shape::FullComplex ? cols : cols - 2;
    if (rows < 1 || cols < 1 || width < 1 || planes < 3 || in == nullptr || out == nullptr)
        return noErr;

    // Without FFTW nothing can be computed: no pixel is written and the host is told why.
    if (!fftw_ready()) return fnfErr;

    const ScratchSizes sizes = scratch_sizes(kModule.shape, rows, width);
    const Scratch scratch = Scratch::allocate(sizes);
    if (!scratch.complete(sizes)) return memFullErr;

    const DepthChoice choice = choose_depth(depth);
    const int64_t samples_per_row = int64_t{cols} * planes;
    if (choice.run == nullptr || !holds_row(in_row_bytes, samples_per_row, choice.sample_bytes) ||
        !holds_row(out_row_bytes, samples_per_row, choice.sample_bytes))
        return noErr;

    choice.run(Job{rows, cols, planes, static_cast<const std::byte*>(in), in_row_bytes,
                   static_cast<std::byte*>(out), out_row_bytes, scratch.spectrum.get(),
                   scratch.real.get()});
    return noErr;
}

}  // namespace
}  // namespace quen

// No C++ exception may reach the host: out of memory becomes the host's memory error, anything
// else a failed filter. The data pointer is the host's and is never touched.
QUEN_EXPORT void ENTRYPOINT(int16_t selector, FilterRecord* filterRecord, intptr_t* /*data*/,
                            int16_t* result) {
    int16_t code = noErr;
    try {
        if (selector == filterSelectorStart) {
            quen::filter_start(filterRecord);
        } else if (selector == filterSelectorContinue) {
            code = quen::filter_continue(filterRecord);
        }
    } catch (const std::bad_alloc&) {
        code = memFullErr;
    } catch (...) {
        code = filterBadParameters;
    }
    // Empty rectangles end the filtering after the first continue, whatever happened in it.
    if (selector == filterSelectorContinue) {
        filterRecord->inRect = quen::kEmpty;
        filterRecord->outRect = quen::kEmpty;
        filterRecord->maskRect = quen::kEmpty;
    }
    *result = code;
}
