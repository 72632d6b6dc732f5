// QuenFwd3: the three colour channels as the planes of one volume through a real-to-complex 3-D
// transform; frequency plane s is written over channel s as a half-spectrum image.
#include <cstdint>

#include "half_spectrum.h"
#include "module.h"
#include "samples.h"

namespace quen {
namespace {

struct ForwardVolume {
    template <class S>
    static void run(const Job& job) {
        const HalfGeometry g = half_geometry(job);
        const Pixels<const S> in = input_pixels<S>(job);
        const Pixels<S> out = output_pixels<S>(job);

        // The volume is plane (channel), row, column, the column fastest. All of the input is read
        // before any output is written, so the buffers may be one memory.
        for (int32_t channel = 0; channel < 3; ++channel)
            fill_row_signed(in, channel, g, job.real + channel * g.real_count());

        const Plan plan{fftw_plan_dft_r2c_3d(3, g.rows, g.width, job.real, job.spectrum, FFTW_ESTIMATE)};
        if (!plan) return;  // no plan: the image stays as the host supplied it
        fftw_execute(plan.get());

        // 3 x 32767 x 32765 values exceed a 32-bit count.
        const int64_t count = 3 * int64_t{g.rows} * g.width;
        const double log_normaliser = Sample<S>::log_normaliser(static_cast<double>(count));
        // Nothing inverts this picture, so float magnitudes are shown as |log magnitude| like the
        // integer ones: m and 1/m look alike, and no sample is negative.
        for (int32_t plane = 0; plane < 3; ++plane)
            write_half_spectrum<WriteNegativeLog::Folded>(job.spectrum + plane * g.spectrum_count(), out, plane, g,
                                                   log_normaliser);
    }
};

}  // namespace

extern const Module kModule = module_of<ForwardVolume>();

}  // namespace quen
