// Widening a picture for the half-spectrum filters and cropping it back.
#include "half_width.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace quen::host {
namespace {

// A copy of the first min(from.cols, to.cols) columns of every row of `from` into `to`; when `to`
// is wider, its remaining columns repeat the last column copied.
void copy_columns(const Image& from, Image& to) {
    const std::size_t pixel = static_cast<std::size_t>(from.planes) * Image::bytes_per_sample(from.depth);
    const int32_t shared = std::min(from.cols, to.cols);
    for (int32_t y = 0; y < from.rows; ++y) {
        const std::byte* src = from.data.data() + from.row_bytes() * static_cast<std::size_t>(y);
        std::byte* dst = to.data.data() + to.row_bytes() * static_cast<std::size_t>(y);
        std::memcpy(dst, src, pixel * static_cast<std::size_t>(shared));
        for (int32_t x = shared; x < to.cols; ++x)
            std::memcpy(dst + pixel * static_cast<std::size_t>(x), src + pixel * static_cast<std::size_t>(shared - 1),
                        pixel);
    }
}

}  // namespace

Image widen_for_half_spectrum(const Image& picture) {
    if (picture.cols < 1) throw std::invalid_argument("an empty picture cannot be widened");
    Image wide = Image::make(picture.rows, picture.cols + kHalfSpectrumExtraColumns, picture.planes, picture.depth);
    copy_columns(picture, wide);
    return wide;
}

Image crop_after_half_spectrum(const Image& picture) {
    if (picture.cols <= kHalfSpectrumExtraColumns)
        throw std::invalid_argument("a picture of " + std::to_string(picture.cols) +
                                    " columns was not widened for the half-spectrum filters");
    Image narrow = Image::make(picture.rows, picture.cols - kHalfSpectrumExtraColumns, picture.planes, picture.depth);
    copy_columns(picture, narrow);
    return narrow;
}

}  // namespace quen::host
