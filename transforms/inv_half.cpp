// QuenInvR: each channel of a half-spectrum image decoded and rebuilt by a complex-to-real 2-D
// transform into the first columns - 2 columns of that channel.
#include <cmath>
#include <cstdint>

#include "half_spectrum.h"
#include "module.h"
#include "samples.h"
#include "spectrum_rows.h"

namespace quen {
namespace {

template <class S>
using HalfDecoder = Decoder<S, ReadNegativeLog::AsBelowOne>;

// Magnitude half and phase half of one input channel into its rows x spectrum_width coefficients.
// The last column of an odd-width image is not read. A negative float magnitude sample is the
// kept log sign of a magnitude below 1.
template <class S>
void read_half_spectrum(const Pixels<const S>& in, int32_t channel, const HalfGeometry& g,
                        const HalfDecoder<S>& decoder, fftw_complex* spectrum) {
    const int32_t n = g.spectrum_width;
    for (int32_t y = 0; y < g.rows; ++y)
        decoder.run(in.at(y, 0) + channel, in.planes, in.at(y, n) + channel, in.planes, static_cast<std::size_t>(n),
                    spectrum + std::ptrdiff_t{y} * n);
}

struct InverseHalf {
    template <class S>
    static void run(const Job& job) {
        const HalfGeometry g = half_geometry(job);
        const Pixels<const S> in = input_pixels<S>(job);
        const Pixels<S> out = output_pixels<S>(job);

        // The same 32-bit sample count as the forward filter, from the image size alone.
        const int32_t count = g.rows * g.width;
        const HalfDecoder<S> decoder(Sample<S>::log_normaliser(static_cast<double>(count)));

        // One plan serves the three channels (an estimated plan does not touch the arrays).
        const Plan plan{fftw_plan_dft_c2r_2d(g.rows, g.width, job.spectrum, job.real, FFTW_ESTIMATE)};
        if (!plan) return;  // no plan: the channels stay as the host supplied them
        for (int32_t channel = 0; channel < 3; ++channel) {
            // Filled afresh for every channel: the complex-to-real transform overwrites its input.
            read_half_spectrum(in, channel, g, decoder, job.spectrum);
            fftw_execute(plan.get());

            // Normalised by the sample count; the absolute value removes the forward row signs.
            // Columns cols - 2 and cols - 1 keep what the host supplied.
            for (int32_t y = 0; y < g.rows; ++y) {
                const double* row = job.real + std::ptrdiff_t{y} * g.width;
                for (int32_t x = 0; x < g.width; ++x)
                    out.at(y, x)[channel] = to_sample<S>(std::fabs(row[x] / count));
            }
        }
    }
};

}  // namespace

extern const Module kModule = module_of<InverseHalf>();

}  // namespace quen
