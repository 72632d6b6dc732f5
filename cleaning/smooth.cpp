// Three box filters over a complex plane. Both directions run along the rows in memory: the
// vertical one keeps a sum for each column and the last radius + 1 rows it replaced.
#include "smooth.h"

#include <algorithm>

namespace quen::cleaning {

void smooth(Plane& v, int32_t rows, int32_t cols, int32_t radius) {
    std::vector<std::complex<double>> line(static_cast<std::size_t>(cols) + 1), sum(static_cast<std::size_t>(cols));
    std::vector<std::complex<float>> kept(static_cast<std::size_t>(radius + 1) * cols);
    for (int repeat = 0; repeat < 3; ++repeat) {
        for (int32_t y = 0; y < rows; ++y) {
            std::complex<float>* row = &v[std::size_t(y) * cols];
            for (int32_t x = 0; x < cols; ++x) line[std::size_t(x) + 1] = line[std::size_t(x)] + std::complex<double>(row[x]);
            for (int32_t x = 0; x < cols; ++x) {
                const int32_t lo = std::max(0, x - radius), hi = std::min(cols, x + radius + 1);
                row[x] = std::complex<float>((line[std::size_t(hi)] - line[std::size_t(lo)]) / double(hi - lo));
            }
        }
        std::fill(sum.begin(), sum.end(), 0.0);
        for (int32_t y = 0; y < std::min(rows, radius); ++y)
            for (int32_t x = 0; x < cols; ++x) sum[std::size_t(x)] += std::complex<double>(v[std::size_t(y) * cols + x]);
        for (int32_t y = 0; y < rows; ++y) {
            std::complex<float>* row = &v[std::size_t(y) * cols];
            std::complex<float>* slot = &kept[std::size_t(y % (radius + 1)) * cols];
            if (y + radius < rows)
                for (int32_t x = 0; x < cols; ++x) sum[std::size_t(x)] += std::complex<double>(v[std::size_t(y + radius) * cols + x]);
            std::copy(row, row + cols, slot);
            const double count = std::min(rows - 1, y + radius) - std::max(0, y - radius) + 1;
            for (int32_t x = 0; x < cols; ++x) row[x] = std::complex<float>(sum[std::size_t(x)] / count);
            if (y - radius >= 0) {
                const std::complex<float>* gone = &kept[std::size_t((y - radius) % (radius + 1)) * cols];
                for (int32_t x = 0; x < cols; ++x) sum[std::size_t(x)] -= std::complex<double>(gone[x]);
            }
        }
    }
}


}  // namespace quen::cleaning
