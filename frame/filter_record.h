// The part of the host's filter parameter record that the modules use, laid out as the host's
// 64-bit Windows SDK lays it out; shared by the modules and by our own host side.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define QUEN_EXPORT extern "C" __declspec(dllexport)
#else
#define QUEN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Selector values of the filter interface.
enum : int16_t {
    filterSelectorAbout = 0,
    filterSelectorParameters = 1,
    filterSelectorPrepare = 2,
    filterSelectorStart = 3,
    filterSelectorContinue = 4,
    filterSelectorFinish = 5,
};

// Result codes stored through the entry point's result pointer.
enum : int16_t {
    noErr = 0,
    fnfErr = -43,               // the host reports that a file could not be found (the FFTW DLL)
    memFullErr = -108,          // the host reports "not enough memory"
    filterBadParameters = -30100,  // the host reports that the filter could not run
};

// The host SDK packs the record to 4 bytes on every platform: 8-byte pointers sit at 4-byte
// boundaries. Members are read and written by value; never take the address of one.
#pragma pack(push, 4)

struct Point {
    int16_t v;  // rows
    int16_t h;  // columns
};

struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

// Host-owned; valid for the length of one call. Only the fields below are read or written by a
// module; the opaque bytes between them belong to the host. The real record is longer (its size
// varies with the host's interface version), so a host hands over a zero-filled block of at least
// kFilterRecordBlockBytes with these fields set.
struct FilterRecord {
    std::byte reserved0[28];
    Point imageSize;         // read on start and continue: rows (v), columns (h)
    int16_t planes;          // read on start and continue: samples per pixel
    std::byte reserved1[30];
    Rect inRect;             // written on start (whole image) and continue (emptied)
    int16_t inLoPlane;       // written on start
    int16_t inHiPlane;       // written on start
    Rect outRect;            // written on start (whole image) and continue (emptied)
    int16_t outLoPlane;      // written on start
    int16_t outHiPlane;      // written on start
    void* inData;            // read on continue: first byte of the input pixels
    int32_t inRowBytes;      // read on continue: bytes from one input row to the next
    void* outData;           // read on continue: first byte of the output pixels
    int32_t outRowBytes;     // read on continue: bytes from one output row to the next
    std::byte reserved2[4];
    Rect maskRect;           // written on start and continue: always empty
    std::byte reserved3[356];
    int32_t depth;           // read on continue: bits per sample, 8, 16 or 32
};

#pragma pack(pop)

static_assert(offsetof(FilterRecord, imageSize) == 28);
static_assert(offsetof(FilterRecord, planes) == 32);
static_assert(offsetof(FilterRecord, inRect) == 64);
static_assert(offsetof(FilterRecord, inLoPlane) == 72);
static_assert(offsetof(FilterRecord, inHiPlane) == 74);
static_assert(offsetof(FilterRecord, outRect) == 76);
static_assert(offsetof(FilterRecord, outLoPlane) == 84);
static_assert(offsetof(FilterRecord, outHiPlane) == 86);
static_assert(offsetof(FilterRecord, inData) == 88);
static_assert(offsetof(FilterRecord, inRowBytes) == 96);
static_assert(offsetof(FilterRecord, outData) == 100);
static_assert(offsetof(FilterRecord, outRowBytes) == 108);
static_assert(offsetof(FilterRecord, maskRect) == 116);
static_assert(offsetof(FilterRecord, depth) == 480);
static_assert(alignof(FilterRecord) == 4);
static_assert(sizeof(Point) == 4 && sizeof(Rect) == 8);

namespace quen {

// Facts of the interface's samples and sizes, for modules and hosts alike.
// 16-bit samples run from 0 to 32768, not to 65535.
inline constexpr int32_t kSixteenBitFullScale = 32768;
// Sizes are signed 16-bit numbers in the record: 1 to 32767 rows and columns.
inline constexpr int32_t kLargestSide = 32767;
// Bytes of one sample at a depth of 32, 16 or 8 bits (and 1 for any other depth).
constexpr int32_t bytes_per_sample(int32_t depth) { return depth == 32 ? 4 : depth == 16 ? 2 : 1; }

constexpr bool same_rect(const Rect& a, const Rect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

}  // namespace quen

// What a host must hand over at least: the record of any interface version fits in it.
inline constexpr std::size_t kFilterRecordBlockBytes = 1024;
static_assert(sizeof(FilterRecord) <= kFilterRecordBlockBytes);

// The one exported function of every module.
using EntryPoint = void (*)(int16_t selector, FilterRecord* filterRecord, intptr_t* data,
                            int16_t* result);
