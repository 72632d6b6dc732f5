// The contract between the shared frame and a module's transform: what the frame hands over on
// continue, and what each transform source declares about itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include <fftw3.h>

#include "shape.h"

namespace quen {

// What the frame hands a transform: the whole image, both buffers and the scratch arrays. The
// buffers may be one and the same memory; row lengths are in bytes, as the host gives them.
struct Job {
    int32_t rows;
    int32_t cols;
    int32_t planes;
    const std::byte* in;
    int32_t in_row_bytes;
    std::byte* out;
    int32_t out_row_bytes;
    fftw_complex* spectrum;
    double* real;  // null for FullComplex transforms
};

// Interleaved pixels of one buffer viewed as samples of type S; rows are addressed by the row
// length, never by the packed width, so padded rows work.
template <class S>
struct Pixels {
    S* base;
    std::ptrdiff_t row_samples;
    int32_t planes;

    S* at(int32_t y, int32_t x) const {
        return base + static_cast<std::ptrdiff_t>(y) * row_samples +
               static_cast<std::ptrdiff_t>(x) * planes;
    }
};

template <class S>
inline Pixels<const S> input_pixels(const Job& job) {
    return {reinterpret_cast<const S*>(job.in), job.in_row_bytes / std::ptrdiff_t(sizeof(S)),
            job.planes};
}

template <class S>
inline Pixels<S> output_pixels(const Job& job) {
    return {reinterpret_cast<S*>(job.out), job.out_row_bytes / std::ptrdiff_t(sizeof(S)),
            job.planes};
}

using Transform = void (*)(const Job&);

// What a transform source tells the frame: its shape and its body for each sample type.
struct Module {
    Shape shape;
    Transform run_u8;
    Transform run_u16;
    Transform run_f32;
};

// T is a type with `template <class S> static void run(const Job&)`, the one body of a transform.
// The shape is the module's, from its line in the module list (the build passes it to the
// transform source as QUEN_MODULE_SHAPE).
#ifdef QUEN_MODULE_SHAPE
template <class T>
constexpr Module module_of() {
    return {Shape::QUEN_MODULE_SHAPE, &T::template run<uint8_t>, &T::template run<uint16_t>,
            &T::template run<float>};
}
#endif

// Defined by the transform source that the frame is linked with.
extern const Module kModule;

// FFTW plans: made after the fill (FFTW_ESTIMATE leaves the arrays alone), executed once,
// destroyed at scope exit.
struct PlanDeleter {
    void operator()(fftw_plan p) const noexcept { fftw_destroy_plan(p); }
};
using Plan = std::unique_ptr<std::remove_pointer_t<fftw_plan>, PlanDeleter>;

}  // namespace quen
