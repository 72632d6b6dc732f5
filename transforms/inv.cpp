// QuenInv: a spectrum image (log magnitude in red, phase in green) back through one complex 2-D
// backward transform into a grey picture: the modulus of each result over the pixel count.
#include <cstdint>

#include "module.h"
#include "samples.h"
#include "spectrum_rows.h"

namespace quen {
namespace {

struct Inverse {
    template <class S>
    static void run(const Job& job) {
        const int32_t rows = job.rows;
        const int32_t cols = job.cols;
        const Pixels<const S> in = input_pixels<S>(job);
        const Pixels<S> out = output_pixels<S>(job);
        fftw_complex* const spectrum = job.spectrum;

        // The sample count is a 32-bit product, as the forward filter formed it when it encoded;
        // a spectrum image decodes to its magnitudes only at the size it was written at.
        const double n = static_cast<double>(rows * cols);
        const double log_normaliser = Sample<S>::log_normaliser(n);

        // Decode every pixel before any output sample is written, so the input and output may be
        // one buffer. The spectrum stays where the image holds it: no shift, no reordering.
        const Decoder<S> decoder(log_normaliser);
        for (int32_t y = 0; y < rows; ++y) {
            const S* pixel = in.at(y, 0);
            decoder.run(pixel, in.planes, pixel + 1, in.planes, static_cast<std::size_t>(cols),
                        spectrum + static_cast<std::ptrdiff_t>(y) * cols);
        }

        {
            const Plan plan{fftw_plan_dft_2d(rows, cols, spectrum, spectrum, FFTW_BACKWARD, FFTW_ESTIMATE)};
            if (!plan) return;  // no plan: the output stays as the host supplied it
            fftw_execute(plan.get());
        }

        // The modulus removes the forward filter's checkerboard sign and folds in whatever
        // imaginary part a quantised or edited spectrum leaves.
        for (int32_t y = 0; y < rows; ++y) {
            const fftw_complex* row = spectrum + static_cast<std::ptrdiff_t>(y) * cols;
            for (int32_t x = 0; x < cols; ++x) {
                const S grey = grey_sample<S>(row[x][0], row[x][1], n);
                S* p = out.at(y, x);
                p[0] = grey;
                p[1] = grey;
                p[2] = grey;
            }
        }
    }
};

}  // namespace

extern const Module kModule = module_of<Inverse>();

}  // namespace quen
