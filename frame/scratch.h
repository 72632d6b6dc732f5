// Scratch arrays of one continue call: their sizes, and one holder that returns them on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <fftw3.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "module.h"

namespace quen {

struct ScratchSizes {
    uint64_t spectrum_elements;  // fftw_complex elements
    uint64_t real_bytes;         // bytes of the array of doubles; 0 when there is none
};

// The sizes include slack beyond what a transform uses; allocations are exactly these.
// Computed in 64 bits: 32767 x 32767 images overflow 32-bit products.
constexpr ScratchSizes scratch_sizes(Shape shape, int64_t rows, int64_t transform_width) {
    const uint64_t cells = static_cast<uint64_t>(rows + 4) * static_cast<uint64_t>(transform_width + 4);
    if (shape == Shape::FullComplex) return {cells + 4, 0};
    return {4 * cells + 4, 4 * cells * 8 + 64};
}

struct FftwFree {
    void operator()(void* p) const noexcept { fftw_free(p); }
};

// Both arrays of a call, from fftw_malloc; freed when the holder goes out of scope.
struct Scratch {
    std::unique_ptr<fftw_complex[], FftwFree> spectrum;
    std::unique_ptr<double[], FftwFree> real;

    // Empty spectrum (and real, when one is wanted) pointers mean an allocation failed.
    static Scratch allocate(const ScratchSizes& sizes) {
        Scratch s;
        s.spectrum.reset(static_cast<fftw_complex*>(
            checked_malloc(sizes.spectrum_elements, sizeof(fftw_complex))));
        if (s.spectrum && sizes.real_bytes > 0)
            s.real.reset(static_cast<double*>(checked_malloc(sizes.real_bytes, 1)));
        return s;
    }

    bool complete(const ScratchSizes& sizes) const {
        return spectrum && (sizes.real_bytes == 0 || real);
    }

private:
    static void* checked_malloc(uint64_t count, uint64_t unit) {
        if (count > SIZE_MAX / unit) return nullptr;
        const std::size_t bytes = static_cast<std::size_t>(count * unit);
        void* p = fftw_malloc(bytes);
        if (p != nullptr) prefer_huge_pages(p, bytes);
        return p;
    }

    // The arrays are fresh memory touched once per call: with huge pages the first touch costs a
    // fraction of the page faults. Only advice; nothing changes if the system declines.
    static void prefer_huge_pages([[maybe_unused]] void* p, [[maybe_unused]] std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        constexpr uintptr_t kHuge = uintptr_t{1} << 21;
        const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
        const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
        if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
    }
};

}  // namespace quen
