// The facts of each sample depth and the pure conversions between samples and spectrum values;
// every transform converts through these and nothing else.
#pragma once

#include <cmath>
#include <cstdint>

#include "filter_record.h"

namespace quen {

// Spectrum images depend on every constant below: changing one changes what a stored spectrum
// image means. The phase divisor is the double product of 57.29577951308232 (degrees per radian)
// and the phase factor, as written, not the correctly rounded quotient.
template <class S>
struct Sample;

template <>
struct Sample<uint8_t> {
    static constexpr bool is_integer = true;
    static constexpr double full = 255;
    static constexpr double lum_constant = 0.01;
    static constexpr double phase_factor = 0.7083333333333334;  // 255 / 360 per degree
    static constexpr double phase_offset = 127.5;
    static constexpr double phase_divisor = 40.58451048843332;
    // log10 of the largest magnitude n full-scale samples produce, spread over full scale.
    static double log_normaliser(double n) { return std::log10(n * 255) / 255; }
};

template <>
struct Sample<uint16_t> {
    static constexpr bool is_integer = true;
    static constexpr double full = kSixteenBitFullScale;
    static constexpr double lum_constant = 0.01;
    static constexpr double phase_factor = 91.02222222222223;  // 32768 / 360 per degree
    static constexpr double phase_offset = 16384;
    static constexpr double phase_divisor = 5215.189175235227;
    static double log_normaliser(double n) { return std::log10(n * kSixteenBitFullScale) * 3.0517578125e-05; }
};

template <>
struct Sample<float> {
    static constexpr bool is_integer = false;
    static constexpr double full = 1.0;  // nominal: float samples are never clamped
    static constexpr double lum_constant = 0.001;
    static constexpr double phase_factor = 0.002777777777777778;  // 1 / 360 per degree
    static constexpr double phase_offset = 0.5;
    static constexpr double phase_divisor = 0.15915494309189535;
    static double log_normaliser(double n) { return std::log10(n); }
};

inline constexpr double kDegreesPerRadian = 57.29577951308232;

// Integer samples: |v| rounded half up, capped at full scale. Negative values fold (-3.2 gives 3),
// nothing wraps, and a value that is not a number gives 0 instead of an undefined conversion.
// Float samples: the single-precision rounding of v, never clamped.
template <class S>
inline S to_sample(double v) {
    if constexpr (Sample<S>::is_integer) {
        double a = std::fabs(v) + 0.5;  // the same sum as v + 0.5 or 0.5 - v, without a branch
        if (a > Sample<S>::full) a = Sample<S>::full;
        else if (!(a >= 0)) a = 0;
        return static_cast<S>(a);
    } else {
        return static_cast<float>(v);
    }
}

// Luminance of one pixel, the weights added in this order. With non-negative samples it is at
// least the depth's constant, never 0.
template <class S>
inline double luminance(double r, double g, double b) {
    return ((r * 0.333 + Sample<S>::lum_constant) + g * 0.333) + b * 0.334;
}

// Transform input of pixel (y, x): lum signed by (-1)^(y+x), which moves the zero frequency to
// the middle of the spectrum, rounded to single precision.
inline double centre(double lum, int32_t y, int32_t x) {
    return static_cast<float>(((y ^ x) & 1) ? -lum : lum);
}

// What an encoder writes for a magnitude below 1 (a negative log magnitude); ReadNegativeLog below
// is the decoding side.
// SignedOrZero: for spectra an inverse filter reads. Floats store the signed value. Integer
// samples cannot hold a sign, so they store 0, which decodes to an absent coefficient: folded onto
// |log m| it would decode as 1/m, and the rounding residues (around 1e-10) of coefficients that
// cancel exactly, as in flat or synthetic pictures, would come back as full-scale magnitudes.
// Folded: |log m| at every depth, for pictures that are only looked at.
enum class WriteNegativeLog { SignedOrZero, Folded };

template <class S>
struct Encoded {
    S magnitude;
    S phase;
};

inline double magnitude_of(double re, double im) { return std::sqrt(im * im + re * re); }

// The encoding in steps, so that array code can compute the maths functions and the arithmetic
// in bulk and still apply the one rule: the log value r = log10(m) / L, the phase value from the
// angle in radians (degrees, then sample units, one multiplication after the other), and the
// samples of (m, r, p). A zero magnitude gives (0, 0), not phase 0.
inline double log_value(double log10_m, double log_normaliser) { return log10_m / log_normaliser; }

template <class S>
inline double phase_value(double angle) {
    return (angle * kDegreesPerRadian) * Sample<S>::phase_factor + Sample<S>::phase_offset;
}

template <class S, WriteNegativeLog sign>
inline Encoded<S> encode_values(double m, double r, double p) {
    if (!(m > 0)) return {S(0), S(0)};
    if constexpr (sign == WriteNegativeLog::Folded) {
        r = std::fabs(r);
        p = std::fabs(p);
    } else if constexpr (Sample<S>::is_integer) {
        if (r < 0) r = 0;
    }
    return {to_sample<S>(r), to_sample<S>(p)};
}

// Spectrum value -> (log-magnitude, phase) samples: the scalar reference of the encoding.
template <class S, WriteNegativeLog sign>
inline Encoded<S> encode_spectrum(double re, double im, double log_normaliser) {
    const double m = magnitude_of(re, im);
    if (!(m > 0)) return {S(0), S(0)};  // and no logarithm of 0 is taken
    return encode_values<S, sign>(m, log_value(std::log10(m), log_normaliser), phase_value<S>(std::atan2(im, re)));
}

struct Complex {
    double re;
    double im;
};

// Pieces of the decoding, shared by the scalar reference and the array code: the exponent whose
// power of ten is the magnitude, the magnitude from that power, and the phase in radians.
template <class S>
inline double decode_exponent(S magnitude, double log_normaliser) {
    return log_normaliser * static_cast<double>(magnitude);
}
template <class S>
inline double decode_magnitude(double power_of_ten) {
    if constexpr (!Sample<S>::is_integer) return static_cast<float>(power_of_ten);
    return power_of_ten;
}
template <class S>
inline double decode_phase(S phase) {
    return (static_cast<double>(phase) - Sample<S>::phase_offset) / Sample<S>::phase_divisor;
}

// What a negative float log-magnitude sample means to a decoder: an absent coefficient, or a
// magnitude below 1 written by an encoder with WriteNegativeLog::SignedOrZero, so that such
// magnitudes survive a round trip.
enum class ReadNegativeLog { AsAbsent, AsBelowOne };

// A magnitude sample of 0 or not a number gives the zero value whatever the phase sample holds;
// so does a negative one (depth 32) unless it is read as a magnitude below 1.
template <ReadNegativeLog negative = ReadNegativeLog::AsAbsent, class S>
inline bool decodes_to_zero(S magnitude) {
    const double r = static_cast<double>(magnitude);
    return !(r > 0 || (negative == ReadNegativeLog::AsBelowOne && r < 0));
}

// (log-magnitude, phase) samples -> spectrum value: the scalar reference of the decoding.
template <class S, ReadNegativeLog negative = ReadNegativeLog::AsAbsent>
inline Complex decode_spectrum(S magnitude, S phase, double log_normaliser) {
    if (decodes_to_zero<negative>(magnitude)) return {0, 0};
    const double m = decode_magnitude<S>(std::pow(10.0, decode_exponent(magnitude, log_normaliser)));
    const double phi = decode_phase(phase);
    return {std::cos(phi) * m, std::sin(phi) * m};
}

// Result of an unnormalised backward transform of n values -> grey sample: the modulus of the
// value divided by n, which also removes the forward centring's sign.
template <class S>
inline S grey_sample(double re, double im, double n) {
    const double a = im / n;
    const double b = re / n;
    return to_sample<S>(std::sqrt(a * a + b * b));
}

}  // namespace quen
