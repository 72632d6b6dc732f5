// The images on which the Windows modules run under Wine and the Linux modules run natively, so
// that the two builds can be compared sample by sample; shared by the Windows conformance runner
// and the Linux comparison test. The runner writes each input and output into
// <results>/<module>/<case>-<depth>.in and .out.
#pragma once

#include <cstdint>
#include <string>

#include "image.h"

namespace quen::conformance {

struct Case {
    const char* name;
    int32_t rows;
    int32_t cols;
    int32_t planes;
    int32_t padding_samples;  // samples of padding after every row of both buffers
    bool same_buffer;         // input and output are one buffer
};

// Odd and even sizes in both directions, padded rows, a fourth plane, filtering in place, and
// sizes large enough for FFTW's vectorised codelets: at 100 x 60, FFTW with AVX-512 codelets
// rounds some samples otherwise than FFTW without them (a phase at the Nyquist row flips between
// +pi and -pi), so a Windows and a Linux FFTW built with different codelets differ there. Rows of
// 600 samples put the column transforms' elements a page apart, where FFTW_ESTIMATE buffers them.
inline constexpr Case kCases[] = {
    {"odd-7x9", 7, 9, 3, 0, false},
    {"even-8x12-rgba-padded", 8, 12, 4, 3, false},
    {"mixed-6x11-padded", 6, 11, 3, 1, false},
    {"mixed-9x10-rgba-in-place", 9, 10, 4, 0, true},
    {"even-48x64", 48, 64, 3, 0, false},
    {"even-100x60", 100, 60, 3, 0, false},
    {"wide-24x600", 24, 600, 3, 0, false},
};

inline constexpr int32_t kDepths[] = {8, 16, 32};

inline std::string file_stem(const Case& c, int32_t depth) {
    return std::string(c.name) + "-" + std::to_string(depth);
}

// splitmix64: the same numbers from every compiler and C library.
inline uint64_t next_random(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Random samples over the depth's whole nominal range (0..255, 0..32768, 0..1) in every plane:
// spectra of such pictures have no coefficients at rounding level, except where the symmetry of a
// real input makes them exactly real.
inline host::Image random_image(const Case& c, int32_t depth, uint64_t seed) {
    host::Image im = host::Image::make(c.rows, c.cols, c.planes, depth);
    uint64_t state = seed;
    for (int32_t y = 0; y < c.rows; ++y)
        for (int32_t x = 0; x < c.cols; ++x)
            for (int32_t p = 0; p < c.planes; ++p) {
                const uint64_t r = next_random(state);
                if (depth == 8) im.set<uint8_t>(y, x, p, static_cast<uint8_t>(r % 256));
                else if (depth == 16) im.set<uint16_t>(y, x, p, static_cast<uint16_t>(r % 32769));
                else im.set<float>(y, x, p, static_cast<float>(static_cast<double>(r >> 11) * 0x1.0p-53));
            }
    return im;
}

}  // namespace quen::conformance
