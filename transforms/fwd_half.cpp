// QuenFwdR: each colour channel through its own real-to-complex 2-D transform, written over that
// channel as a half-spectrum image.
#include <cstdint>

#include "half_spectrum.h"
#include "module.h"
#include "samples.h"

namespace quen {
namespace {

struct ForwardHalf {
    template <class S>
    static void run(const Job& job) {
        const HalfGeometry g = half_geometry(job);
        const Pixels<const S> in = input_pixels<S>(job);
        const Pixels<S> out = output_pixels<S>(job);

        // Sample count of one channel: a 32-bit product, as the inverse filter forms it (at most
        // 32767 x 32765, which fits).
        const double log_normaliser = Sample<S>::log_normaliser(static_cast<double>(g.rows * g.width));

        // The two work arrays serve the channels in turn, through one plan made for them (an
        // estimated plan does not touch the arrays). A channel is read completely before any of it
        // is written and touches no other channel, so the buffers may be one memory.
        const Plan plan{fftw_plan_dft_r2c_2d(g.rows, g.width, job.real, job.spectrum, FFTW_ESTIMATE)};
        if (!plan) return;  // no plan: the channels stay as the host supplied them
        for (int32_t channel = 0; channel < 3; ++channel) {
            fill_row_signed(in, channel, g, job.real);
            fftw_execute(plan.get());
            // Float samples keep the sign of the log magnitude so that the inverse can tell a
            // magnitude m below 1 from 1/m; folded, every such coefficient would come back as its
            // reciprocal, and float images, whose spectra hold many of them, would be ruined.
            write_half_spectrum<WriteNegativeLog::SignedOrZero>(job.spectrum, out, channel, g, log_normaliser);
        }
    }
};

}  // namespace

extern const Module kModule = module_of<ForwardHalf>();

}  // namespace quen
