// WebP files through libwebp, read only: lossy or lossless, with or without alpha, as 8-bit RGB or
// RGBA. Animated files are refused.
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <webp/decode.h>

#include "formats.h"
#include "image_io.h"

namespace fs = std::filesystem;

namespace quen::tool {

FileSamples read_webp(const fs::path& path, int32_t) {
    std::vector<uint8_t> bytes;
    {
        const CFile file = open_for_reading(path);
        uint8_t chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
        if (std::ferror(file.get())) throw FileError(path, std::string("cannot read: ") + std::strerror(errno));
    }
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK)
        throw FileError(path, "truncated or corrupt WebP file");
    if (features.has_animation) throw FileError(path, "unsupported WebP layout: an animation (one picture is read)");
    check_size(path, static_cast<uint64_t>(features.width), static_cast<uint64_t>(features.height));

    // libwebp decodes into memory of its own that becomes resident only as the picture decodes, so
    // a small file claiming a huge picture fails after little memory; the samples are copied after.
    int width = 0, height = 0;
    const std::unique_ptr<uint8_t, void (*)(void*)> decoded(
        features.has_alpha ? WebPDecodeRGBA(bytes.data(), bytes.size(), &width, &height)
                           : WebPDecodeRGB(bytes.data(), bytes.size(), &width, &height),
        WebPFree);
    if (!decoded) throw FileError(path, "truncated or corrupt WebP file");
    host::Image image = host::Image::make(height, width, features.has_alpha ? 4 : 3, 8);
    std::memcpy(image.data.data(), decoded.get(), image.data.size());
    return {std::move(image), ""};
}

}  // namespace quen::tool
