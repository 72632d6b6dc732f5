// QuenFwd: the luminance of the image, centred by the checkerboard, through one complex 2-D
// transform into the spectrum image: log magnitude in red, phase in green, luminance in blue.
#include <cstdint>

#include "module.h"
#include "samples.h"
#include "spectrum_rows.h"

namespace quen {
namespace {

struct Forward {
    template <class S>
    static void run(const Job& job) {
        const int32_t rows = job.rows;
        const int32_t cols = job.cols;
        const Pixels<const S> in = input_pixels<S>(job);
        const Pixels<S> out = output_pixels<S>(job);
        fftw_complex* const spectrum = job.spectrum;

        // Fill. Blue is written here, after its pixel's three samples were read, so the input and
        // output may be one buffer.
        for (int32_t y = 0; y < rows; ++y) {
            fftw_complex* row = spectrum + static_cast<std::ptrdiff_t>(y) * cols;
            for (int32_t x = 0; x < cols; ++x) {
                const S* p = in.at(y, x);
                const double lum = luminance<S>(p[0], p[1], p[2]);
                out.at(y, x)[2] = to_sample<S>(lum);
                row[x][0] = centre(lum, y, x);
                row[x][1] = 0;
            }
        }

        const Plan plan{fftw_plan_dft_2d(rows, cols, spectrum, spectrum, FFTW_FORWARD, FFTW_ESTIMATE)};
        if (!plan) return;  // no plan: red and green stay as the host supplied them
        fftw_execute(plan.get());

        // The sample count is a 32-bit product, as the inverse filter forms it.
        const double log_normaliser = Sample<S>::log_normaliser(static_cast<double>(rows * cols));
        for (int32_t y = 0; y < rows; ++y) {
            S* pixel = out.at(y, 0);
            encode_run<S, WriteNegativeLog::SignedOrZero>(spectrum + static_cast<std::ptrdiff_t>(y) * cols, static_cast<std::size_t>(cols),
                                         log_normaliser, pixel, out.planes, pixel + 1, out.planes);
        }
    }
};

}  // namespace

extern const Module kModule = module_of<Forward>();

}  // namespace quen
