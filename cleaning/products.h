// Complex products written out as std::complex forms them: real part a.re b.re - a.im b.im,
// imaginary part a.re b.im + a.im b.re, the same operations giving the same bits. std::complex
// then checks for a NaN result, to recover infinities, through a library call that keeps the
// compiler from vectorising a loop; the phasors and envelopes multiplied here are finite.
#pragma once

#include <complex>

namespace quen::cleaning {

template <class T>
std::complex<T> times(const std::complex<T>& a, const std::complex<T>& b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// The real part of a b alone.
template <class T>
T real_of_times(const std::complex<T>& a, const std::complex<T>& b) {
    return a.real() * b.real() - a.imag() * b.imag();
}

}  // namespace quen::cleaning
