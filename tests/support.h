// Helpers shared by the tests: module paths, typed-test names, random pictures and a direct DFT.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdint>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image.h"
#include "module_list.h"
#include "module_loader.h"
#include "run.h"
#include "synthetic.h"

namespace quen::test {

// A module loaded on first use and kept for the whole test program, as an editor keeps it.
inline const host::ModuleLibrary& loaded_module(const std::string& name) {
    static std::map<std::string, std::unique_ptr<host::ModuleLibrary>> modules;
    std::unique_ptr<host::ModuleLibrary>& module = modules[name];
    if (!module) module = std::make_unique<host::ModuleLibrary>(module_path(name));
    return *module;
}

template <class S>
constexpr int32_t depth_of() {
    return sizeof(S) == 1 ? 8 : sizeof(S) == 2 ? 16 : 32;
}

template <class S>
constexpr double full_of() {
    return host::Image::full_scale(depth_of<S>());
}

// Log normaliser of n samples, written from its meaning: log10 of the largest magnitude n
// full-scale samples produce, spread over the full scale of the integer depths.
template <class S>
double log_norm(double n) {
    return sizeof(S) == 4 ? std::log10(n) : std::log10(n * full_of<S>()) / full_of<S>();
}

// The three depths; CTest names the typed cases after the sample type, e.g. "<unsigned char>".
using Depths = ::testing::Types<uint8_t, uint16_t, float>;


// Uniformly random samples over the nominal range of the depth in every plane.
template <class S>
host::Image random_image(int32_t rows, int32_t cols, int32_t planes, uint32_t seed) {
    host::Image im = host::Image::make(rows, cols, planes, depth_of<S>());
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(0.0, full_of<S>());
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            for (int32_t p = 0; p < planes; ++p) {
                const double v = dist(gen);
                if constexpr (std::is_same_v<S, float>) im.set<S>(y, x, p, static_cast<float>(v));
                else im.set<S>(y, x, p, static_cast<S>(std::lround(v)));
            }
    return im;
}

template <class S>
host::Image uniform_image(int32_t rows, int32_t cols, int32_t planes, S value) {
    host::Image im = host::Image::make(rows, cols, planes, depth_of<S>());
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            for (int32_t p = 0; p < planes; ++p) im.set<S>(y, x, p, value);
    return im;
}

using Cplx = std::complex<long double>;

// Direct DFT over any number of dimensions of a row-major array (slowest dimension first), in
// long double: sum of a[k] * exp(sign * 2 pi i <f, k / sizes>).
inline std::vector<Cplx> direct_dft(const std::vector<Cplx>& a, const std::vector<int32_t>& sizes, int sign = -1) {
    const long double two_pi = 6.283185307179586476925286766559L;
    std::size_t total = 1;
    for (int32_t s : sizes) total *= static_cast<std::size_t>(s);
    std::vector<Cplx> out(total);
    std::vector<int32_t> f(sizes.size()), k(sizes.size());
    for (std::size_t fi = 0; fi < total; ++fi) {
        std::size_t rest = fi;
        for (std::size_t d = sizes.size(); d-- > 0;) { f[d] = int32_t(rest % sizes[d]); rest /= sizes[d]; }
        Cplx sum = 0;
        for (std::size_t ki = 0; ki < total; ++ki) {
            std::size_t r2 = ki;
            long double phase = 0;
            for (std::size_t d = sizes.size(); d-- > 0;) {
                k[d] = int32_t(r2 % sizes[d]);
                r2 /= sizes[d];
                phase += static_cast<long double>((int64_t(f[d]) * k[d]) % sizes[d]) / sizes[d];
            }
            sum += a[ki] * std::polar(1.0L, sign * two_pi * phase);
        }
        out[fi] = sum;
    }
    return out;
}

// Sanitized builds hold shadow memory and quarantined blocks, so resident sizes say little there.
inline constexpr bool kSanitized = QUEN_SANITIZED;

// The process's resident memory from /proc/self/status, in KiB; -1 where the system has no such file.
struct Resident {
    long peak_kib = -1;     // VmHWM: the most the process has held so far
    long current_kib = -1;  // VmRSS
};

inline Resident resident_memory() {
    Resident r;
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmHWM:" && status >> value) r.peak_kib = value;
        else if (key == "VmRSS:" && status >> value) r.current_kib = value;
    }
    return r;
}

// Difference of two phase samples on the circle of the depth's full scale.
inline double phase_distance(double a, double b, double full) {
    const double d = std::fabs(a - b);
    return std::min(d, std::fabs(full - d));
}

// Padded rows and one buffer for input and output must give the image that packed rows in two
// buffers give, and no byte of the padding may change.
template <class S>
void expect_same_whatever_the_buffers(const host::ModuleLibrary& module, const host::Image& in) {
    const host::RunResult packed = host::run_filter(module, in);
    ASSERT_EQ(packed.result, 0);
    const int32_t sample_bytes = static_cast<int32_t>(sizeof(S));
    for (const host::RunOptions options : {host::RunOptions{sample_bytes * 7, false}, host::RunOptions{0, true},
                                            host::RunOptions{sample_bytes * 3, true}}) {
        const host::RunResult other = host::run_filter(module, in, options);
        EXPECT_EQ(other.result, 0);
        EXPECT_TRUE(other.padding_intact);
        EXPECT_EQ(other.image.data, packed.image.data) << options.row_padding << " " << options.same_buffer;
    }
}

// Peak signal-to-noise ratio in dB of plane pa of a against plane pb of b (same size), the peak
// being the depth's full scale; infinity for identical planes. Over the first `columns` columns,
// all of them when negative.
inline double psnr(const host::Image& a, int32_t pa, const host::Image& b, int32_t pb, double full,
                   int32_t columns = -1) {
    return host::psnr_db(host::mean_square_difference(a, pa, b, pb, columns < 0 ? a.cols : columns), full);
}

using host::wave_power;

inline bool module_exists(const std::string& name) {
    std::FILE* f = std::fopen(module_path(name).c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

}  // namespace quen::test
