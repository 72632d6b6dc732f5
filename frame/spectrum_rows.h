// The encoding and decoding over runs of spectrum values, for the transforms' loops: the maths
// functions are computed in bulk (vectorised where available), the rules of samples.h applied
// to each element.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

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

// Decodes (magnitude, phase) sample pairs into spectrum values. An integer depth has few sample
// values: their magnitudes and phase factors are worked out once, for every value the depth can
// hold, by the same functions the float depth uses per sample, so that each sample then costs two
// lookups and gives the same bits. (A 16-bit call builds 64 Ki entries, about 0.3 ms, where a
// 2048 x 2048 spectrum holds 4 Mi samples.)
template <class S, ReadNegativeLog negative = ReadNegativeLog::AsAbsent>
class Decoder {
public:
    explicit Decoder(double log_normaliser) : log_normaliser_(log_normaliser) {
        if constexpr (Sample<S>::is_integer) {
            constexpr std::size_t kValues = std::size_t{1} << (8 * sizeof(S));
            std::vector<double> x(kValues), phi(kValues), s(kValues), c(kValues);
            magnitude_.resize(kValues);
            cos_sin_.resize(kValues);
            for (std::size_t v = 0; v < kValues; ++v) {
                x[v] = decode_exponent(static_cast<S>(v), log_normaliser);
                phi[v] = decode_phase(static_cast<S>(v));
            }
            vmath::exp10(x.data(), magnitude_.data(), kValues);
            vmath::sincos(phi.data(), s.data(), c.data(), kValues);
            for (std::size_t v = 0; v < kValues; ++v) {
                magnitude_[v] = decode_magnitude<S>(magnitude_[v]);
                cos_sin_[v] = {c[v], s[v]};
            }
        }
    }

    // Decodes count pairs read with the given strides into values.
    void run(const S* magnitude, std::ptrdiff_t mag_stride, const S* phase, std::ptrdiff_t phase_stride,
             std::size_t count, fftw_complex* values) const {
        if constexpr (Sample<S>::is_integer) {
            for (std::size_t i = 0; i < count; ++i) {
                const S r = magnitude[static_cast<std::ptrdiff_t>(i) * mag_stride];
                if (decodes_to_zero<negative>(r)) {
                    store(values[i], 0, 0, 0);
                } else {
                    const CosSin& f = cos_sin_[phase[static_cast<std::ptrdiff_t>(i) * phase_stride]];
                    store(values[i], magnitude_[r], f.cos, f.sin);
                }
            }
        } else {
            run_blocks(magnitude, mag_stride, phase, phase_stride, count, values);
        }
    }

private:
    struct CosSin {
        double cos, sin;
    };

    // The value of magnitude mag at the phase whose cosine and sine are given (an absent
    // coefficient is stored as magnitude 0 at phase 0, a plain (0, 0)).
    static void store(fftw_complex& value, double mag, double cos, double sin) {
        value[0] = cos * mag;
        value[1] = sin * mag;
    }

    void run_blocks(const S* magnitude, std::ptrdiff_t mag_stride, const S* phase, std::ptrdiff_t phase_stride,
                    std::size_t count, fftw_complex* values) const {
        double exponent[kRunBlock], power[kRunBlock], phi[kRunBlock], s[kRunBlock], c[kRunBlock];
        for (std::size_t start = 0; start < count; start += kRunBlock) {
            const std::size_t n = std::min(kRunBlock, count - start);
            const S* mag_in = magnitude + static_cast<std::ptrdiff_t>(start) * mag_stride;
            const S* phase_in = phase + static_cast<std::ptrdiff_t>(start) * phase_stride;
            for (std::size_t i = 0; i < n; ++i) {
                exponent[i] = decode_exponent(mag_in[static_cast<std::ptrdiff_t>(i) * mag_stride], log_normaliser_);
                phi[i] = decode_phase(phase_in[static_cast<std::ptrdiff_t>(i) * phase_stride]);
            }
            vmath::exp10(exponent, power, n);
            vmath::sincos(phi, s, c, n);
            fftw_complex* out = values + start;
            for (std::size_t i = 0; i < n; ++i) {
                if (decodes_to_zero<negative>(mag_in[static_cast<std::ptrdiff_t>(i) * mag_stride]))
                    store(out[i], 0, 0, 0);
                else
                    store(out[i], decode_magnitude<S>(power[i]), c[i], s[i]);
            }
        }
    }

    double log_normaliser_;
    std::vector<double> magnitude_;  // integer depths: by magnitude sample
    std::vector<CosSin> cos_sin_;    // integer depths: by phase sample
};

}  // namespace quen
