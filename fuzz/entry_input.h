// The byte format of the entry-point fuzz inputs: a host record's geometry, the buffers that go
// with it and the selectors to send. Decoding is total: every byte string is an input, and bytes
// past the end read as 0. The seed generator writes inputs with encode().
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quen::fuzz {

// Reads an input front to back.
class ByteReader {
public:
    ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() {
        const uint16_t lo = u8();
        return static_cast<uint16_t>(lo | (u8() << 8));
    }
    bool done() const { return pos_ >= size_; }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Images of a few hundred pixels a side at most; zero and negative sizes pass through as they are.
inline constexpr int16_t kMaxSide = 320;

// What the host record says about the image and its buffers, and how the buffers are made.
struct Geometry {
    int16_t rows = 0;
    int16_t cols = 0;
    int16_t planes = 0;
    int32_t depth = 0;
    int8_t in_padding = 0;   // bytes added to the packed row length (negative: rows too short)
    int8_t out_padding = 0;
    bool same_buffer = false;     // one buffer for input and output, with the input's row length
    bool no_input = false;        // a null input pointer
    bool no_output = false;       // a null output pointer
    bool whole_last_row = false;  // the last row as long as the others, else only its pixels
    bool opaque_filled = false;   // the record's other bytes hold the fill seed, not zeros
    uint8_t fill = 0;             // how the input samples are made (FillStyle)
    uint8_t seed = 0;

    friend bool operator==(const Geometry&, const Geometry&) = default;
};

enum FillStyle : uint8_t {
    kRandomBytes = 0,  // any bit pattern: at 32 bits also NaN, infinities, huge values
    kNominal = 1,      // samples spread over the depth's nominal range
    kConstant = 2,     // every byte the seed
    kExtremes = 3,     // the largest and smallest values a sample can hold, and non-numbers
};

// Sizes and depths are decoded so that most inputs describe a usable image. Sides are mostly
// small, which keeps each run fast; bit 14 asks for up to kMaxSide.
inline constexpr uint16_t kLargeSide = 0x4000;
inline constexpr int16_t kMaxSmallSide = 64;

inline int16_t decode_side(uint16_t raw) {
    const int16_t v = static_cast<int16_t>(raw);
    if (v <= 0) return v;
    if (raw & kLargeSide) return static_cast<int16_t>((raw & (kLargeSide - 1)) % (kMaxSide + 1));
    return static_cast<int16_t>(v % (kMaxSmallSide + 1));
}

inline uint16_t encode_side(int16_t side) {
    return side > kMaxSmallSide ? static_cast<uint16_t>(side | kLargeSide) : static_cast<uint16_t>(side);
}

inline int32_t decode_depth(ByteReader& in) {
    const uint8_t code = in.u8();
    if (code < 80) return 8;
    if (code < 160) return 16;
    if (code < 240) return 32;
    return static_cast<int16_t>(in.u16());  // anything, mostly unsupported
}

inline Geometry decode_geometry(ByteReader& in) {
    Geometry g;
    g.rows = decode_side(in.u16());
    g.cols = decode_side(in.u16());
    g.planes = static_cast<int16_t>(in.u8() % 12 - 2);
    g.depth = decode_depth(in);
    g.in_padding = static_cast<int8_t>(in.u8());
    g.out_padding = static_cast<int8_t>(in.u8());
    const uint8_t flags = in.u8();
    g.same_buffer = flags & 1;
    g.no_input = flags & 2;
    g.no_output = flags & 4;
    g.whole_last_row = flags & 8;
    g.opaque_filled = flags & 16;
    g.fill = static_cast<uint8_t>(in.u8() % 4);
    g.seed = in.u8();
    return g;
}

// After the geometry, each byte is one step. No steps at all means an editor's ordinary run:
// about, parameters, prepare, start, continue, finish.
enum Step : uint8_t {
    kSelector0 = 0,  // 0 to 5: that selector
    kOddSelector = 6,  // followed by a 16-bit selector value
    kNewGeometry = 7,  // followed by a geometry: new buffers and fields, the rest of the record kept
};
inline constexpr int kSteps = 8;
inline constexpr int kMaxSteps = 24;

// The encoder for seeds, the exact inverse of the decoders for the values it is given.
struct Encoder {
    std::vector<uint8_t> bytes;

    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v) {
        u8(static_cast<uint8_t>(v & 0xFF));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void geometry(const Geometry& g) {
        u16(encode_side(g.rows));
        u16(encode_side(g.cols));
        u8(static_cast<uint8_t>(g.planes + 2));
        if (g.depth == 8) u8(0);
        else if (g.depth == 16) u8(80);
        else if (g.depth == 32) u8(160);
        else {
            u8(240);
            u16(static_cast<uint16_t>(g.depth));
        }
        u8(static_cast<uint8_t>(g.in_padding));
        u8(static_cast<uint8_t>(g.out_padding));
        u8(static_cast<uint8_t>(g.same_buffer | g.no_input << 1 | g.no_output << 2 | g.whole_last_row << 3 |
                                g.opaque_filled << 4));
        u8(g.fill);
        u8(g.seed);
    }
    void selector(int16_t s) {
        if (s >= 0 && s <= 5) {
            u8(static_cast<uint8_t>(s));
        } else {
            u8(kOddSelector);
            u16(static_cast<uint16_t>(s));
        }
    }
    void new_geometry(const Geometry& g) {
        u8(kNewGeometry);
        geometry(g);
    }
};

}  // namespace quen::fuzz
