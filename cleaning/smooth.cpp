// Three box filters over a plane. Both directions run along the rows in memory: the
// vertical one keeps a sum for each column and the last radius + 1 rows it replaced, and each row
// is filtered across just before the vertical filter first reads it, while it is in cache.
#include "smooth.h"

#include <algorithm>

namespace quen::cleaning {

namespace {

// Sums are kept in double (Sum) whatever the plane's samples (T).
template <class T, class Sum>
void boxes(std::vector<T>& v, int32_t rows, int32_t cols, int32_t radius, int repeats) {
    std::vector<Sum> line(static_cast<std::size_t>(cols) + 1), sum(static_cast<std::size_t>(cols));
    std::vector<T> kept(static_cast<std::size_t>(radius + 1) * cols);
    // Sums are scaled by the reciprocal of their count: a division costs several multiplications.
    // Away from the borders every box holds 2 radius + 1 samples, and its reciprocal is taken once.
    const double inner = 1.0 / double(2 * radius + 1);
    const int32_t first = std::min(radius, cols), last = std::max(first, cols - radius);  // [first, last): whole boxes
    const auto across = [&](int32_t y) {
        T* row = &v[std::size_t(y) * cols];
        Sum* s = line.data();
        for (int32_t x = 0; x < cols; ++x) s[x + 1] = s[x] + Sum(row[x]);
        const auto border = [&](int32_t x) {
            const int32_t lo = std::max(0, x - radius), hi = std::min(cols, x + radius + 1);
            row[x] = T((s[hi] - s[lo]) * (1.0 / double(hi - lo)));
        };
        for (int32_t x = 0; x < first; ++x) border(x);
        for (int32_t x = first; x < last; ++x) row[x] = T((s[x + radius + 1] - s[x - radius]) * inner);
        for (int32_t x = last; x < cols; ++x) border(x);
    };
    for (int repeat = 0; repeat < repeats; ++repeat) {
        std::fill(sum.begin(), sum.end(), Sum(0));
        for (int32_t y = 0; y < std::min(rows, radius); ++y) {
            across(y);
            for (int32_t x = 0; x < cols; ++x) sum[std::size_t(x)] += Sum(v[std::size_t(y) * cols + x]);
        }
        for (int32_t y = 0; y < rows; ++y) {
            T* row = &v[std::size_t(y) * cols];
            T* slot = &kept[std::size_t(y % (radius + 1)) * cols];
            if (y + radius < rows) {
                across(y + radius);
                const T* ahead = &v[std::size_t(y + radius) * cols];
                for (int32_t x = 0; x < cols; ++x) sum[std::size_t(x)] += Sum(ahead[x]);
            }
            const double scale = 1.0 / (std::min(rows - 1, y + radius) - std::max(0, y - radius) + 1);
            Sum* s = sum.data();
            if (y - radius >= 0) {
                // The row leaving the sum is kept in another slot than this row's (radius > 0),
                // or in this one, copied just before it is read (radius 0).
                const T* gone = &kept[std::size_t((y - radius) % (radius + 1)) * cols];
                for (int32_t x = 0; x < cols; ++x) {
                    slot[x] = row[x];
                    row[x] = T(s[x] * scale);
                    s[x] -= Sum(gone[x]);
                }
            } else {
                for (int32_t x = 0; x < cols; ++x) {
                    slot[x] = row[x];
                    row[x] = T(s[x] * scale);
                }
            }
        }
    }
}

}  // namespace

void smooth(Plane& v, int32_t rows, int32_t cols, int32_t radius) { boxes<std::complex<float>, std::complex<double>>(v, rows, cols, radius, 3); }

void smooth(RealPlane& v, int32_t rows, int32_t cols, int32_t radius) { boxes<float, double>(v, rows, cols, radius, 3); }

void box_mean(RealPlane& v, int32_t rows, int32_t cols, int32_t radius) { boxes<float, double>(v, rows, cols, radius, 1); }

}  // namespace quen::cleaning
