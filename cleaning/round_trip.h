// The filter modules as cleaning runs them: the picture at 32-bit float widened (and lengthened to
// an even number of rows) and transformed, the half spectrum read as complex amplitudes, and the
// one way back from changed magnitudes to the picture (write, inverse, crop).
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

// The rows the transform of a picture of `rows` rows holds: one more when they are odd. The forward
// layout puts the zero vertical frequency at row rows / 2, between two rows for an odd count: the
// transform then takes each column as going on negated past its ends, and the picture's mean (and
// every wave the same down the columns) leaks down its whole column of the spectrum, the zero
// column standing several times higher than at an even count and hiding the waves across the rows
// there. With the last row repeated the count is even, and the zero frequency falls on a row. (At
// the largest size the modules take, an odd count is transformed as it is.)
int32_t transformed_rows(int32_t rows);

// The half spectrum of the float picture `work`: widened so that every column is transformed, and
// of transformed_rows rows.
host::Image forward_spectrum(const host::ModuleLibrary& forward, const host::Image& work);

// The picture of `rows` rows back from a half spectrum whose log magnitudes became `m` (phases as
// they are): the magnitudes written into a copy of the spectrum, the inverse run, the widening and
// the lengthening cropped off.
host::Image back_to_picture(const host::ModuleLibrary& inverse, host::Image spectrum, const LogMagnitudes& m,
                            int32_t rows);

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
