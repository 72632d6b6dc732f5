// The maths functions of the conversions over whole arrays: vectorised where the processor and the
// build allow it, the C library's scalar functions otherwise. Vector results differ from the
// scalar ones by at most the last bit.
#pragma once

#include <cstddef>

namespace quen::vmath {

// y[i] = log10(x[i])
void log10(const double* x, double* y, std::size_t n);
// out[i] = atan2(y[i], x[i])
void atan2(const double* y, const double* x, double* out, std::size_t n);
// y[i] = 10 to the power x[i]
void exp10(const double* x, double* y, std::size_t n);
// s[i] = sin(x[i]), c[i] = cos(x[i])
void sincos(const double* x, double* s, double* c, std::size_t n);

// Whether the vector functions are in use (for tests and benchmarks).
bool vectorised();

}  // namespace quen::vmath
