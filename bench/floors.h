// Each module's floor: the bare FFTW plan (FFTW_ESTIMATE), execute and destroy of the same
// transform on an already filled array, which no conversion around it can beat.
#pragma once

#include <cstddef>
#include <cstdint>

#include <fftw3.h>

#include "quen_modules.h"

namespace quen::bench {

using Floor = void (*)(int32_t rows, int32_t cols, fftw_complex* spectrum, double* real);

inline void floor_full(int32_t rows, int32_t cols, fftw_complex* a, double*) {
    fftw_plan p = fftw_plan_dft_2d(rows, cols, a, a, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
}
inline void floor_full_backward(int32_t rows, int32_t cols, fftw_complex* a, double*) {
    fftw_plan p = fftw_plan_dft_2d(rows, cols, a, a, FFTW_BACKWARD, FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
}
inline void floor_half(int32_t rows, int32_t cols, fftw_complex* c, double* r) {
    for (int channel = 0; channel < 3; ++channel) {
        fftw_plan p = fftw_plan_dft_r2c_2d(rows, cols - 2, r, c, FFTW_ESTIMATE);
        fftw_execute(p);
        fftw_destroy_plan(p);
    }
}
inline void floor_half_backward(int32_t rows, int32_t cols, fftw_complex* c, double* r) {
    for (int channel = 0; channel < 3; ++channel) {
        fftw_plan p = fftw_plan_dft_c2r_2d(rows, cols - 2, c, r, FFTW_ESTIMATE);
        fftw_execute(p);
        fftw_destroy_plan(p);
    }
}
inline void floor_volume(int32_t rows, int32_t cols, fftw_complex* c, double* r) {
    fftw_plan p = fftw_plan_dft_r2c_3d(3, rows, cols - 2, r, c, FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
}

// The floor of a module of the module list: its spectrum layout and direction (no module inverts
// a volume spectrum).
inline Floor floor_of(const manifest::ModuleEntry& m) {
    const bool forward = m.direction == manifest::Direction::Forward;
    return m.spectrum == manifest::Spectrum::Full   ? (forward ? floor_full : floor_full_backward)
           : m.spectrum == manifest::Spectrum::Half ? (forward ? floor_half : floor_half_backward)
                                                    : floor_volume;
}

// Arrays large enough for every module's transform at size x size (the 3-D one needs 3 planes),
// filled, so that the floor pays for no first touch.
struct FloorArrays {
    explicit FloorArrays(int32_t size)
        : cells(3 * static_cast<std::size_t>(size) * static_cast<std::size_t>(size)),
          spectrum(static_cast<fftw_complex*>(fftw_malloc(cells * sizeof(fftw_complex)))),
          real(static_cast<double*>(fftw_malloc(cells * sizeof(double)))) {
        for (std::size_t i = 0; i < cells; ++i) spectrum[i][0] = spectrum[i][1] = real[i] = static_cast<double>(i % 251);
    }
    ~FloorArrays() {
        fftw_free(real);
        fftw_free(spectrum);
    }
    FloorArrays(const FloorArrays&) = delete;
    FloorArrays& operator=(const FloorArrays&) = delete;

    std::size_t cells;
    fftw_complex* spectrum;
    double* real;
};

}  // namespace quen::bench
