// The encoding and decoding over runs of spectrum values, for the transforms' loops: the maths
// functions are computed in bulk (vectorised where available), the rules of samples.h applied
// to each element.
#pragma once

#include <algorithm>
#include <cstddef>

#include <fftw3.h>

#include "samples.h"
#include "vmath.h"

namespace quen {

// Elements per bulk call: small enough for the stack and the first-level cache.
inline constexpr std::size_t kRunBlock = 256;

// Encodes count values; magnitude sample i goes to magnitude[i * mag_stride], phase sample i to
// phase[i * phase_stride].
template <class S, WriteNegativeLog sign>
void encode_run(const fftw_complex* values, std::size_t count, double log_normaliser, S* magnitude,
                std::ptrdiff_t mag_stride, S* phase, std::ptrdiff_t phase_stride) {
    double m[kRunBlock], lg[kRunBlock], angle[kRunBlock];
    for (std::size_t start = 0; start < count; start += kRunBlock) {
        const std::size_t n = std::min(kRunBlock, count - start);
        vmath::polar(values[start], n, m, lg, angle);
        S* mag_out = magnitude + static_cast<std::ptrdiff_t>(start) * mag_stride;
        S* phase_out = phase + static_cast<std::ptrdiff_t>(start) * phase_stride;
        for (std::size_t i = 0; i < n; ++i) {  // branch-free: vectorised by the compiler
            lg[i] = log_value(lg[i], log_normaliser);
            angle[i] = phase_value<S>(angle[i]);
        }
        for (std::size_t i = 0; i < n; ++i) {
            const Encoded<S> e = encode_values<S, sign>(m[i], lg[i], angle[i]);
            mag_out[static_cast<std::ptrdiff_t>(i) * mag_stride] = e.magnitude;
            phase_out[static_cast<std::ptrdiff_t>(i) * phase_stride] = e.phase;
        }
    }
}

// Decodes count (magnitude, phase) sample pairs read with the given strides into values.
template <class S, ReadNegativeLog negative = ReadNegativeLog::AsAbsent>
void decode_run(const S* magnitude, std::ptrdiff_t mag_stride, const S* phase, std::ptrdiff_t phase_stride,
                std::size_t count, double log_normaliser, fftw_complex* values) {
    double exponent[kRunBlock], power[kRunBlock], phi[kRunBlock], s[kRunBlock], c[kRunBlock];
    for (std::size_t start = 0; start < count; start += kRunBlock) {
        const std::size_t n = std::min(kRunBlock, count - start);
        const S* mag_in = magnitude + static_cast<std::ptrdiff_t>(start) * mag_stride;
        const S* phase_in = phase + static_cast<std::ptrdiff_t>(start) * phase_stride;
        for (std::size_t i = 0; i < n; ++i) {
            exponent[i] = decode_exponent(mag_in[static_cast<std::ptrdiff_t>(i) * mag_stride], log_normaliser);
            phi[i] = decode_phase(phase_in[static_cast<std::ptrdiff_t>(i) * phase_stride]);
        }
        vmath::exp10(exponent, power, n);
        vmath::sincos(phi, s, c, n);
        fftw_complex* out = values + start;
        for (std::size_t i = 0; i < n; ++i) {
            if (decodes_to_zero<negative>(mag_in[static_cast<std::ptrdiff_t>(i) * mag_stride])) {
                out[i][0] = 0;
                out[i][1] = 0;
            } else {
                const double mag = decode_magnitude<S>(power[i]);
                out[i][0] = c[i] * mag;
                out[i][1] = s[i] * mag;
            }
        }
    }
}

}  // namespace quen
