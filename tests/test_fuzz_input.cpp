// The fuzz input format: the seed generator's encoder and the fuzz target's decoder agree, so the
// seeds describe the records they were written for.
#include <gtest/gtest.h>

#include "entry_input.h"

namespace quen::fuzz {
namespace {

Geometry decoded(const std::vector<uint8_t>& bytes) {
    ByteReader in(bytes.data(), bytes.size());
    Geometry g = decode_geometry(in);
    EXPECT_TRUE(in.done()) << "the geometry left bytes unread";
    return g;
}

TEST(FuzzInput, EveryEncodableGeometryDecodesAsWritten) {
    for (const int16_t side : {int16_t{INT16_MIN}, int16_t{-3}, int16_t{0}, int16_t{1}, int16_t{63}, int16_t{64},
                               int16_t{65}, int16_t{200}, kMaxSide})
        for (const int16_t planes : {-2, 0, 3, 4, 9})
            for (const int32_t depth : {8, 16, 32, 0, 24, -8, 32767})
                for (const int8_t padding : {-128, -1, 0, 7, 127}) {
                    Geometry g;
                    g.rows = side;
                    g.cols = static_cast<int16_t>(side > 1 ? side - 1 : side);
                    g.planes = planes;
                    g.depth = depth;
                    g.in_padding = padding;
                    g.out_padding = static_cast<int8_t>(-padding / 2);
                    g.same_buffer = padding > 0;
                    g.no_input = depth == 0;
                    g.no_output = planes == 9;
                    g.whole_last_row = side % 2 != 0;
                    g.opaque_filled = depth == 16;
                    g.fill = static_cast<uint8_t>((planes + 2) % 4);
                    g.seed = static_cast<uint8_t>(side * 31 + depth);
                    Encoder e;
                    e.geometry(g);
                    SCOPED_TRACE(testing::Message() << side << " " << planes << " " << depth << " " << int(padding));
                    EXPECT_TRUE(decoded(e.bytes) == g);
                }
}

TEST(FuzzInput, AnyBytesGiveSidesWithinTheLimitsAndStopAtTheEnd) {
    for (uint32_t raw = 0; raw <= 0xFFFF; ++raw) {
        const int16_t side = decode_side(static_cast<uint16_t>(raw));
        EXPECT_LE(side, kMaxSide);
        if (static_cast<int16_t>(raw) <= 0) {
            EXPECT_EQ(side, static_cast<int16_t>(raw));
        }
    }
    const uint8_t one = 0xFF;
    ByteReader in(&one, 1);
    EXPECT_EQ(in.u8(), 0xFF);
    EXPECT_TRUE(in.done());
    EXPECT_EQ(in.u16(), 0);  // past the end every read gives 0
}

TEST(FuzzInput, SelectorsEncodeAsSteps) {
    Encoder e;
    for (const int16_t s : {0, 3, 4, 5, 6, -1, INT16_MIN}) e.selector(s);
    ByteReader in(e.bytes.data(), e.bytes.size());
    std::vector<int16_t> read;
    while (!in.done()) {
        const uint8_t code = static_cast<uint8_t>(in.u8() % kSteps);
        ASSERT_NE(code, kNewGeometry);
        read.push_back(code == kOddSelector ? static_cast<int16_t>(in.u16()) : int16_t{code});
    }
    EXPECT_EQ(read, (std::vector<int16_t>{0, 3, 4, 5, 6, -1, INT16_MIN}));
}

}  // namespace
}  // namespace quen::fuzz
