// Each module's floor: the bare FFTW plan (FFTW_ESTIMATE), execute and destroy of the same
// transform on an already filled array, which no conversion around it can beat; from the FFTW the
// modules carry (linked into the benchmark as into them) or, on Linux, from Debian's own libfftw3,
// loaded apart in the same process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include <fftw3.h>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include "quen_modules.h"

namespace quen::bench {

// The FFTW functions a floor calls, from one library.
struct Fftw {
    fftw_plan (*plan_dft_2d)(int, int, fftw_complex*, fftw_complex*, int, unsigned);
    fftw_plan (*plan_dft_r2c_2d)(int, int, double*, fftw_complex*, unsigned);
    fftw_plan (*plan_dft_c2r_2d)(int, int, fftw_complex*, double*, unsigned);
    fftw_plan (*plan_dft_r2c_3d)(int, int, int, double*, fftw_complex*, unsigned);
    void (*execute)(const fftw_plan);
    void (*destroy_plan)(fftw_plan);
};

// The FFTW linked into this program, the modules' own.
inline Fftw linked_fftw() {
    return {fftw_plan_dft_2d, fftw_plan_dft_r2c_2d, fftw_plan_dft_c2r_2d, fftw_plan_dft_r2c_3d, fftw_execute,
            fftw_destroy_plan};
}

#if !defined(_WIN32)
// Debian's libfftw3, with its own symbols bound first (RTLD_DEEPBIND), so that none of its calls
// lands in the FFTW linked into this program; none when it is not installed.
inline std::optional<Fftw> debian_fftw() {
    void* lib = dlopen("libfftw3.so.3", RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
    if (lib == nullptr) return std::nullopt;
    auto get = [lib]<class F>(F& f, const char* name) { f = reinterpret_cast<F>(dlsym(lib, name)); return f != nullptr; };
    Fftw f{};
    if (get(f.plan_dft_2d, "fftw_plan_dft_2d") && get(f.plan_dft_r2c_2d, "fftw_plan_dft_r2c_2d") &&
        get(f.plan_dft_c2r_2d, "fftw_plan_dft_c2r_2d") && get(f.plan_dft_r2c_3d, "fftw_plan_dft_r2c_3d") &&
        get(f.execute, "fftw_execute") && get(f.destroy_plan, "fftw_destroy_plan"))
        return f;
    return std::nullopt;
}
#endif

using Floor = void (*)(const Fftw& f, int32_t rows, int32_t cols, fftw_complex* spectrum, double* real);

inline void run(const Fftw& f, fftw_plan p) {
    f.execute(p);
    f.destroy_plan(p);
}
inline void floor_full(const Fftw& f, int32_t rows, int32_t cols, fftw_complex* a, double*) {
    run(f, f.plan_dft_2d(rows, cols, a, a, FFTW_FORWARD, FFTW_ESTIMATE));
}
inline void floor_full_backward(const Fftw& f, int32_t rows, int32_t cols, fftw_complex* a, double*) {
    run(f, f.plan_dft_2d(rows, cols, a, a, FFTW_BACKWARD, FFTW_ESTIMATE));
}
inline void floor_half(const Fftw& f, int32_t rows, int32_t cols, fftw_complex* c, double* r) {
    for (int channel = 0; channel < 3; ++channel) run(f, f.plan_dft_r2c_2d(rows, cols - 2, r, c, FFTW_ESTIMATE));
}
inline void floor_half_backward(const Fftw& f, int32_t rows, int32_t cols, fftw_complex* c, double* r) {
    for (int channel = 0; channel < 3; ++channel) run(f, f.plan_dft_c2r_2d(rows, cols - 2, c, r, FFTW_ESTIMATE));
}
inline void floor_volume(const Fftw& f, int32_t rows, int32_t cols, fftw_complex* c, double* r) {
    run(f, f.plan_dft_r2c_3d(3, rows, cols - 2, r, c, FFTW_ESTIMATE));
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
