// PNG and TIFF files: the 16-bit mapping, exact round trips at every depth, every layout the
// readers accept against pixels written straight through the libraries, and safe output files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include <zlib.h>

#include "image_files.h"
#include "image_io.h"
#include "support.h"

namespace quen {
namespace {

namespace fs = std::filesystem;

using host::Image;
using test::ScratchDir;
using namespace quen::tool;

TEST(Sixteen, EverySampleSurvivesAFileAndBack) {
    for (uint32_t s = 0; s <= 32768; ++s)
        ASSERT_EQ(file16_to_sample(sample_to_file16(static_cast<uint16_t>(s))), s) << s;
}

TEST(Sixteen, BothDirectionsRoundToNearestAndKeepTheEnds) {
    EXPECT_EQ(sample_to_file16(0), 0);
    EXPECT_EQ(sample_to_file16(32768), 65535);
    EXPECT_EQ(file16_to_sample(0), 0);
    EXPECT_EQ(file16_to_sample(65535), 32768);
    EXPECT_EQ(sample_to_file16(40000), 65535);  // beyond the host's range: capped, never wrapped
    uint16_t previous = 0;
    for (uint32_t f = 0; f <= 65535; ++f) {
        const uint16_t s = file16_to_sample(static_cast<uint16_t>(f));
        ASSERT_LE(std::fabs(s - f * 32768.0 / 65535.0), 0.5) << f;
        ASSERT_GE(s, previous) << f;
        previous = s;
    }
    for (uint32_t s = 0; s <= 32768; ++s)
        ASSERT_LE(std::fabs(sample_to_file16(static_cast<uint16_t>(s)) - s * 65535.0 / 32768.0), 0.5) << s;
}

// Random samples over the whole range of the depth, with float specials.
template <class S>
Image full_range_image(int32_t rows, int32_t cols, int32_t planes) {
    Image im = test::random_image<S>(rows, cols, planes, 99);
    if constexpr (std::is_same_v<S, float>) {
        const float specials[] = {-0.25f, 0.0f, -0.0f, 7.5f, 1e-30f, std::numeric_limits<float>::infinity(),
                                  std::numeric_limits<float>::quiet_NaN()};
        for (int i = 0; i < 7; ++i) im.set<float>(0, i % cols, i % planes, specials[i]);
    } else {
        im.set<S>(0, 0, 0, static_cast<S>(test::full_of<S>()));
        im.set<S>(0, 1, 1, S(0));
    }
    return im;
}

template <class S>
class FileRoundTrip : public ::testing::Test {};
TYPED_TEST_SUITE(FileRoundTrip, test::Depths);

TYPED_TEST(FileRoundTrip, WritesAndReadsBackEverySampleExactly) {
    using S = TypeParam;
    ScratchDir dir;
    for (int32_t planes : {3, 4})
        for (const char* ext : {".png", ".tif", ".TIFF"}) {
            if (sizeof(S) == 4 && std::string(ext) == ".png") continue;
            SCOPED_TRACE(std::string(ext) + " with " + std::to_string(planes) + " planes");
            const Image im = full_range_image<S>(17, 23, planes);
            const fs::path file = dir / (std::string("picture") + ext);
            write_image(file, im);
            const Image back = read_image(file);
            EXPECT_EQ(back.rows, im.rows);
            EXPECT_EQ(back.cols, im.cols);
            EXPECT_EQ(back.planes, planes);
            EXPECT_EQ(back.depth, im.depth);
            EXPECT_TRUE(back.data == im.data);
        }
}

TEST(FileFormats, FloatCannotGoToPng) {
    ScratchDir dir;
    const Image im = Image::make(2, 2, 3, 32);
    try {
        write_image(dir / "out.png", im);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("out.png: PNG cannot hold 32-bit"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(dir.files().empty());
}

// 8-bit samples widen exactly: every value comes back from 16 bits and from float, the colours in
// the filters' range (0..32768) and the further planes in the file's (0..65535).
TEST(Depths, EightBitSamplesWidenExactlyAndNarrowBack) {
    Picture picture;
    picture.image = Image::make(1, 256, 3, 8);
    picture.extra = Image::make(1, 256, 1, 8);
    for (int32_t v = 0; v < 256; ++v) {
        for (int32_t p = 0; p < 3; ++p) picture.image.set<uint8_t>(0, v, p, static_cast<uint8_t>(v));
        picture.extra.set<uint8_t>(0, v, 0, static_cast<uint8_t>(v));
    }
    const Picture wide = at_depth(picture, 16), floats = at_depth(picture, 32);
    for (int32_t v = 0; v < 256; ++v) {
        ASSERT_EQ(wide.image.get<uint16_t>(0, v, 1), std::lround(v * 32768.0 / 255)) << v;
        ASSERT_EQ(wide.extra.get<uint16_t>(0, v, 0), v * 257) << v;
        ASSERT_EQ(floats.image.get<float>(0, v, 2), static_cast<float>(v / 255.0)) << v;
    }
    for (const Picture* p : {&wide, &floats}) {
        const Picture back = at_depth(*p, 8);
        EXPECT_TRUE(back.image.data == picture.image.data) << p->image.depth;
        EXPECT_TRUE(back.extra.data == picture.extra.data) << p->image.depth;
    }
}

// JPEG and WebP files are read (not written): grey JPEG spread to RGB, lossless WebP with its
// alpha exactly, and a JPEG cut short refused rather than filled with grey.
TEST(ReadOnlyFormats, JpegAndWebpAreRead) {
    ScratchDir dir;
    test::write_raw_jpeg(dir / "grey.jpg", 16, 8, 1, std::vector<uint8_t>(16 * 8, 100), 100);
    const Picture grey = read_picture(dir / "grey.jpg");
    ASSERT_EQ(grey.image.planes, 3);
    for (int32_t p = 0; p < 3; ++p) EXPECT_NEAR(grey.image.value(7, 15, p), 100, 1);
    std::vector<uint8_t> rgba(24 * 9 * 4);
    for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 37 % 256);
    test::write_raw_webp(dir / "lossless.webp", 24, 9, rgba);
    EXPECT_TRUE(read_image(dir / "lossless.webp").data == std::vector<std::byte>(reinterpret_cast<std::byte*>(rgba.data()),
                                                                                  reinterpret_cast<std::byte*>(rgba.data()) + rgba.size()));

    std::vector<uint8_t> noise(64 * 64 * 3);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 7919 % 251);
    test::write_raw_jpeg(dir / "full.jpg", 64, 64, 3, noise);
    const std::string bytes = test::read_bytes(dir / "full.jpg");
    test::write_bytes(dir / "cut.jpg", bytes.substr(0, bytes.size() / 2));
    try {
        read_image(dir / "cut.jpg");
        FAIL() << "read";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("cut.jpg: truncated or corrupt JPEG"), std::string::npos) << e.what();
    }
}

// Reads `file` and checks that pixel (y, x) has `expected(y, x, plane)` in every plane.
template <class F>
void expect_pixels(const fs::path& file, int32_t depth, int32_t planes, F expected) {
    const Image im = read_image(file);
    ASSERT_EQ(im.depth, depth);
    ASSERT_EQ(im.planes, planes);
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            for (int32_t p = 0; p < planes; ++p)
                ASSERT_EQ(im.value(y, x, p), expected(y, x, p)) << "pixel " << y << ", " << x << " plane " << p;
}

TEST(PngLayouts, GreyBecomesRgbAtEveryBitDepth) {
    ScratchDir dir;
    const uint32_t w = 13, h = 5;
    for (int bits : {1, 2, 4, 8, 16}) {
        SCOPED_TRACE(bits);
        const uint32_t levels = (1u << bits) - 1;
        auto level = [&](uint32_t y, uint32_t x) { return (y * 7 + x * 3) % (levels + 1); };
        std::vector<std::vector<png_byte>> rows(h, std::vector<png_byte>((w * bits + 7) / 8 + 1));
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint32_t v = level(y, x);
                if (bits == 16) {
                    rows[y][2 * x] = static_cast<png_byte>(v >> 8);
                    rows[y][2 * x + 1] = static_cast<png_byte>(v);
                } else {
                    const uint32_t bit = x * bits;
                    rows[y][bit / 8] |= static_cast<png_byte>(v << (8 - bits - bit % 8));
                }
            }
        test::write_raw_png(dir / "grey.png", {w, h, PNG_COLOR_TYPE_GRAY, bits}, rows);
        // Fewer than 8 bits scale up to 0..255 (each level repeated in the bits below).
        expect_pixels(dir / "grey.png", bits == 16 ? 16 : 8, 3, [&](int32_t y, int32_t x, int32_t) {
            const uint32_t v = level(y, x);
            if (bits == 16) return double(file16_to_sample(static_cast<uint16_t>(v)));
            return double(v * 255 / levels);
        });
    }
}

TEST(PngLayouts, GreyAlphaPaletteAndInterlacedFiles) {
    ScratchDir dir;
    const uint32_t w = 9, h = 7;
    std::vector<std::vector<png_byte>> grey_alpha(h, std::vector<png_byte>(w * 2));
    std::vector<std::vector<png_byte>> indexed(h, std::vector<png_byte>(w));
    std::vector<std::vector<png_byte>> rgb16(h, std::vector<png_byte>(w * 6));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            grey_alpha[y][2 * x] = static_cast<png_byte>(y * 30 + x);
            grey_alpha[y][2 * x + 1] = static_cast<png_byte>(255 - x * 20);
            indexed[y][x] = static_cast<png_byte>((x + y) % 3);
            for (int c = 0; c < 3; ++c) {
                const uint32_t v = (y * 9000 + x * 700 + c * 11111) % 65536;
                rgb16[y][6 * x + 2 * c] = static_cast<png_byte>(v >> 8);
                rgb16[y][6 * x + 2 * c + 1] = static_cast<png_byte>(v);
            }
        }
    test::write_raw_png(dir / "ga.png", {w, h, PNG_COLOR_TYPE_GRAY_ALPHA, 8}, grey_alpha);
    expect_pixels(dir / "ga.png", 8, 4, [&](int32_t y, int32_t x, int32_t p) {
        return double(p == 3 ? 255 - x * 20 : y * 30 + x);
    });

    const png_color colours[3] = {{10, 20, 30}, {200, 100, 0}, {1, 2, 3}};
    test::PngSpec palette{w, h, PNG_COLOR_TYPE_PALETTE, 8};
    palette.palette.assign(colours, colours + 3);
    test::write_raw_png(dir / "palette.png", palette, indexed);
    expect_pixels(dir / "palette.png", 8, 3, [&](int32_t y, int32_t x, int32_t p) {
        const png_color c = colours[(x + y) % 3];
        return double(p == 0 ? c.red : p == 1 ? c.green : c.blue);
    });
    palette.palette_alpha = {255, 128, 0};
    test::write_raw_png(dir / "palette_alpha.png", palette, indexed);
    expect_pixels(dir / "palette_alpha.png", 8, 4, [&](int32_t y, int32_t x, int32_t p) {
        const png_color c = colours[(x + y) % 3];
        return double(p == 0 ? c.red : p == 1 ? c.green : p == 2 ? c.blue : palette.palette_alpha[(x + y) % 3]);
    });

    test::PngSpec interlaced{w, h, PNG_COLOR_TYPE_RGB, 16, true};
    test::write_raw_png(dir / "interlaced.png", interlaced, rgb16);
    expect_pixels(dir / "interlaced.png", 16, 3, [&](int32_t y, int32_t x, int32_t c) {
        return double(file16_to_sample(static_cast<uint16_t>((y * 9000 + x * 700 + c * 11111) % 65536)));
    });
}

// The value of sample s of pixel (y, x) in the TIFF layout tests, for the file's sample type.
template <class T>
T tiff_value(uint32_t y, uint32_t x, uint32_t s) {
    const uint32_t v = y * 37 + x * 11 + s * 53;
    if constexpr (std::is_same_v<T, float>) return static_cast<float>(v) / 128.0f - 0.5f;
    else if constexpr (sizeof(T) == 2) return static_cast<T>(v * 97 % 65536);
    else return static_cast<T>(v % 256);
}

template <class T>
std::vector<T> tiff_samples(const test::TiffSpec& spec) {
    std::vector<T> samples;
    for (uint32_t y = 0; y < spec.height; ++y)
        for (uint32_t x = 0; x < spec.width; ++x)
            for (uint16_t s = 0; s < spec.samples; ++s) samples.push_back(tiff_value<T>(y, x, s));
    return samples;
}

template <class T>
double host_value(T file_value) {
    if constexpr (sizeof(T) == 2) return file16_to_sample(file_value);
    else return static_cast<double>(file_value);
}

struct TiffCase {
    const char* name;
    test::TiffSpec spec;
};

template <class T>
void check_tiff_case(const TiffCase& c, const fs::path& file) {
    SCOPED_TRACE(c.name);
    test::write_raw_tiff(file, c.spec, tiff_samples<T>(c.spec));
    const uint16_t colours = c.spec.samples == 1 || c.spec.samples == 2 ? 1 : 3;
    const int32_t planes = c.spec.samples > colours ? 4 : 3;
    expect_pixels(file, c.spec.bits, planes, [&](int32_t y, int32_t x, int32_t p) {
        const uint32_t s = p == 3 ? colours : colours == 1 ? 0 : static_cast<uint32_t>(p);
        return host_value<T>(tiff_value<T>(static_cast<uint32_t>(y), static_cast<uint32_t>(x), s));
    });
}

TEST(TiffLayouts, StripsTilesPlanesCompressionsAndByteOrders) {
    ScratchDir dir;
    const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
    const auto spec = [](uint16_t samples, uint16_t bits, uint16_t photometric) {
        test::TiffSpec s;
        s.width = 37;
        s.height = 21;
        s.samples = samples;
        s.bits = bits;
        s.photometric = photometric;
        if (bits == 32) s.format = SAMPLEFORMAT_IEEEFP;
        return s;
    };
    std::vector<TiffCase> u8 = {{"grey", spec(1, 8, PHOTOMETRIC_MINISBLACK)},
                                {"rgb", spec(3, 8, PHOTOMETRIC_RGB)},
                                {"rgba lzw", spec(4, 8, PHOTOMETRIC_RGB)},
                                {"rgb separate planes", spec(3, 8, PHOTOMETRIC_RGB)},
                                {"rgb tiled big-endian", spec(3, 8, PHOTOMETRIC_RGB)}};
    u8[2].spec.compression = COMPRESSION_LZW;
    u8[2].spec.extra = {alpha};
    u8[3].spec.separate = true;
    u8[4].spec.tiled = true;
    u8[4].spec.big_endian = true;
    for (const TiffCase& c : u8) check_tiff_case<uint8_t>(c, dir / "u8.tif");

    std::vector<TiffCase> u16 = {{"grey+alpha deflate big-endian", spec(2, 16, PHOTOMETRIC_MINISBLACK)},
                                 {"rgba tiled separate packbits", spec(4, 16, PHOTOMETRIC_RGB)}};
    u16[0].spec.extra = {alpha};
    u16[0].spec.compression = COMPRESSION_ADOBE_DEFLATE;
    u16[0].spec.big_endian = true;
    u16[1].spec.extra = {EXTRASAMPLE_ASSOCALPHA};
    u16[1].spec.tiled = u16[1].spec.separate = true;
    u16[1].spec.compression = COMPRESSION_PACKBITS;
    for (const TiffCase& c : u16) check_tiff_case<uint16_t>(c, dir / "u16.tif");

    std::vector<TiffCase> f32 = {{"float grey big-endian", spec(1, 32, PHOTOMETRIC_MINISBLACK)},
                                 {"float rgba tiled", spec(4, 32, PHOTOMETRIC_RGB)}};
    f32[0].spec.big_endian = true;
    f32[1].spec.extra = {alpha};
    f32[1].spec.tiled = true;
    for (const TiffCase& c : f32) check_tiff_case<float>(c, dir / "f32.tif");
}

TEST(TiffLayouts, WhiteIsZeroGreyIsInverted) {
    ScratchDir dir;
    test::TiffSpec spec;
    spec.width = 5;
    spec.height = 4;
    spec.samples = 1;
    spec.photometric = PHOTOMETRIC_MINISWHITE;
    test::write_raw_tiff(dir / "w.tif", spec, tiff_samples<uint8_t>(spec));
    expect_pixels(dir / "w.tif", 8, 3, [&](int32_t y, int32_t x, int32_t) {
        return 255.0 - tiff_value<uint8_t>(uint32_t(y), uint32_t(x), 0);
    });
}

TEST(TiffLayouts, JpegYCbCrIsReadAsRgb) {
    ScratchDir dir;
    test::TiffSpec spec;
    spec.width = 32;
    spec.height = 16;
    spec.photometric = PHOTOMETRIC_YCBCR;
    spec.compression = COMPRESSION_JPEG;
    spec.rows_per_strip = 16;
    std::vector<uint8_t> samples;
    for (uint32_t y = 0; y < spec.height; ++y)
        for (uint32_t x = 0; x < spec.width; ++x)
            for (uint8_t v : {uint8_t(200), uint8_t(60 + x), uint8_t(20 + 4 * y)}) samples.push_back(v);
    test::write_raw_tiff(dir / "jpeg.tif", spec, samples);
    const Image im = read_image(dir / "jpeg.tif");
    ASSERT_EQ(im.planes, 3);
    for (int32_t y = 0; y < im.rows; ++y)
        for (int32_t x = 0; x < im.cols; ++x)
            for (int32_t p = 0; p < 3; ++p)  // lossy, but close
                ASSERT_NEAR(im.value(y, x, p), samples[std::size_t(y * 32 + x) * 3 + std::size_t(p)], 12)
                    << y << ", " << x << ", " << p;
}

// A small file whose header claims a huge picture. PNG: the IHDR size is rewritten and its CRC
// recomputed, so libpng accepts the header. TIFF (written little-endian): the size tags of the
// first directory are rewritten.
std::string claiming_huge_size(const std::string& bytes, uint32_t side) {
    std::string out = bytes;
    auto put_be32 = [&](std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (24 - 8 * i) & 0xFF);
    };
    auto le = [&](std::size_t at, int n) {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(out[at + i]);
        return v;
    };
    if (out.compare(12, 4, "IHDR") == 0) {
        put_be32(16, side);
        put_be32(20, side);
        put_be32(29, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(out.data() + 12), 17)));
        return out;
    }
    const uint32_t ifd = le(4, 4);
    for (uint32_t i = 0; i < le(ifd, 2); ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (le(entry, 2) != TIFFTAG_IMAGEWIDTH && le(entry, 2) != TIFFTAG_IMAGELENGTH) continue;
        const int width = le(entry + 2, 2) == TIFF_SHORT ? 2 : 4;
        for (int b = 0; b < width; ++b) out[entry + 8 + b] = static_cast<char>(side >> (8 * b) & 0xFF);
    }
    return out;
}

// The readers fill memory only as the file's data decodes: a file of a few hundred bytes that
// claims 32767 x 32767 pixels (3 GB at 8-bit RGB) is refused as corrupt at once, without clearing
// the buffer for the size it claims. An uncompressed tiled TIFF is rewritten to list 2 tiles, of
// different sizes, of the 65536 its claimed size needs: libtiff puts the rest at offset 0, takes
// every tile's size from the tile's shape, and would read each from the file's first bytes.
TEST(FileSafety, ASmallFileClaimingAHugePictureIsRefusedWithLittleMemory) {
    ScratchDir dir;
    const Image small = Image::make(13, 21, 3, 8);
    for (const char* name : {"huge.png", "huge.tif", "huge-tiled.tif"}) {
        SCOPED_TRACE(name);
        const fs::path file = dir / name;
        std::string bytes;
        if (std::string(name) == "huge-tiled.tif") {
            test::TiffSpec spec;
            spec.width = spec.height = 32;
            spec.tiled = true;
            test::write_raw_tiff(file, spec, std::vector<uint8_t>(32 * 32 * 3, 100));
            bytes = test::read_bytes(file);
            auto le32 = [&](std::size_t at) {
                uint32_t v = 0;
                for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
                return v;
            };
            const uint32_t ifd = le32(4);
            for (uint32_t i = 0; i < (le32(ifd) & 0xFFFF); ++i) {
                const std::size_t entry = ifd + 2 + 12 * i;
                const uint32_t tag = le32(entry) & 0xFFFF;
                if (tag != TIFFTAG_TILEOFFSETS && tag != TIFFTAG_TILEBYTECOUNTS) continue;
                bytes[entry + 4] = 2;  // two tiles listed
                if (tag == TIFFTAG_TILEBYTECOUNTS)  // as two shorts in the entry: 768 and 512 bytes
                    bytes.replace(entry + 2, 10, std::string("\x03\0\x02\0\0\0\0\x03\0\x02", 10));
            }
        } else {
            write_image(file, small);
            bytes = test::read_bytes(file);
        }
        test::write_bytes(file, claiming_huge_size(bytes, std::string(name) == "huge-tiled.tif" ? 4095 : 32767));
        std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak from the current size
        const long before = test::resident_memory().peak_kib;
        try {
            read_image(file);
            FAIL() << "read";
        } catch (const FileError& e) {
            EXPECT_NE(std::string(e.what()).find("truncated or corrupt"), std::string::npos) << e.what();
        }
        if (!test::kSanitized) {
            EXPECT_LT(test::resident_memory().peak_kib - before, 64 * 1024) << "KiB more at the peak";
        }
    }
}

TEST(AtomicOutput, AnUncommittedFileLeavesTheTargetAsItWas) {
    ScratchDir dir;
    test::write_bytes(dir / "out.png", "precious");
    {
        AtomicFile out(dir / "out.png");
        test::write_bytes(out.temp_path(), "half-written");
        EXPECT_EQ(dir.files().size(), 2u);
    }
    EXPECT_EQ(dir.files(), std::vector<std::string>{"out.png"});
    EXPECT_EQ(test::read_bytes(dir / "out.png"), "precious");
}

TEST(AtomicOutput, CommitReplacesTheTargetAndKeepsItsPermissions) {
    ScratchDir dir;
    test::write_bytes(dir / "out.png", "old");
    fs::permissions(dir / "out.png", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    {
        AtomicFile out(dir / "out.png");
        test::write_bytes(out.temp_path(), "new");
        out.commit();
    }
    EXPECT_EQ(dir.files(), std::vector<std::string>{"out.png"});
    EXPECT_EQ(test::read_bytes(dir / "out.png"), "new");
    EXPECT_EQ(fs::status(dir / "out.png").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
}

TEST(AtomicOutput, ASymbolicLinkKeepsPointingAtTheReplacedFile) {
    ScratchDir dir;
    test::write_bytes(dir / "real.png", "old");
    fs::create_symlink(dir / "real.png", dir / "link.png");
    {
        AtomicFile out(dir / "link.png");
        test::write_bytes(out.temp_path(), "new");
        out.commit();
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    EXPECT_EQ(test::read_bytes(dir / "real.png"), "new");
}

}  // namespace
}  // namespace quen
