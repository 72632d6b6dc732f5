// The filter modules as cleaning runs them: the picture at 32-bit float widened and transformed,
// the half spectrum read as complex amplitudes, and the one way back from changed magnitudes to
// the picture (write, inverse, crop).
#pragma once

#include <complex>
#include <string>

#include "clean.h"
#include "log_spectrum.h"

namespace quen::cleaning {

// Runs one module on the image; a protocol error or a failed run throws CleanError naming `what`.
host::Image run_module(const host::ModuleLibrary& module, host::Image image, const char* what);

// Planes 0..2 in units of full scale as 32-bit floats.
host::Image to_float(const host::Image& picture);

// The half spectrum of the float picture `work` (widened so that every column is transformed).
host::Image forward_spectrum(const host::ModuleLibrary& forward, const host::Image& work);

// The picture back from a half spectrum whose log magnitudes became `m` (phases as they are): the
// magnitudes written into a copy of the spectrum, the inverse run, the widening cropped off.
host::Image back_to_picture(const host::ModuleLibrary& inverse, host::Image spectrum, const LogMagnitudes& m);

// The float half spectrum read as complex values divided by the samples transformed, so that a
// frequency on a sample carries its complex amplitude. Magnitude sample s holds
// log10(count x |value|) / log10(count); phase sample p holds arg / (2 pi) + 1/2.
class ComplexHalf {
public:
    ComplexHalf(const host::Image& spectrum, const host::SpectrumGeometry& g);
    // Channel c, or the sum of the three for c = -1.
    std::complex<double> get(int32_t c, int32_t y, int32_t x) const;

private:
    const host::Image& im_;
    const host::SpectrumGeometry& g_;
    double log_count_;
};

}  // namespace quen::cleaning
