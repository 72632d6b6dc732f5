// Fuzz target for the command-line host's picture readers: each input is the bytes of a file,
// read exactly as quen reads a file named on its command line (the format found by its first
// bytes, then that format's reader: PNG, TIFF, JPEG or WebP). A reader may answer only with a
// well-formed image or a FileError naming the problem; a crash, another exception or an
// inconsistent image is a finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "atomic_file.h"
#include "image_io.h"

namespace {

using quen::host::Image;

// The bytes go into one anonymous in-memory file, reached by path like any file on disk.
const std::string& memory_file(const uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("quen-fuzz-image", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 ||
        (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))) {
        std::perror("fuzz_images: in-memory file");
        std::abort();
    }
    return path;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_images: %s\n", what);
    std::abort();
}

// What every image handed to the filters must be.
void check(const Image& image) {
    if (image.rows < 1 || image.cols < 1 || image.rows > quen::kLargestSide ||
        image.cols > quen::kLargestSide)
        fail("image size outside 1 to 32767");
    if (image.planes < 3) fail("fewer than three planes");
    if (image.depth != 8 && image.depth != 16 && image.depth != 32) fail("depth other than 8, 16 or 32");
    if (image.data.size() != image.row_bytes() * static_cast<std::size_t>(image.rows))
        fail("sample data does not match the image size");
    if (image.depth == 16)
        for (int32_t y = 0; y < image.rows; ++y)
            for (int32_t x = 0; x < image.cols; ++x)
                for (int32_t p = 0; p < image.planes; ++p)
                    if (image.get<uint16_t>(y, x, p) > quen::kSixteenBitFullScale) fail("16-bit sample above 32768");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string& path = memory_file(data, size);
    try {
        check(quen::tool::read_image(path));
    } catch (const quen::tool::FileError&) {
        // The answer to a file that is not a picture we read.
    }
    return 0;
}
