// The frame through a module's entry point: selectors, the request, the end of filtering, and the
// images the transforms must leave alone.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "support.h"

namespace quen {
namespace {

using host::Image;
using host::RecordBlock;
using host::run_filter;

const host::ModuleLibrary& fwd() {
    static const host::ModuleLibrary module(test::module_path("QuenFwd"));
    return module;
}

std::unique_ptr<RecordBlock> random_block(uint32_t seed) {
    auto block = std::make_unique<RecordBlock>();
    std::mt19937 gen(seed);
    auto* bytes = reinterpret_cast<unsigned char*>(block.get());
    for (std::size_t i = 0; i < sizeof(RecordBlock); ++i) bytes[i] = static_cast<unsigned char>(gen());
    return block;
}

bool empty(const Rect& r) { return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0; }

TEST(Selectors, OthersChangeNoByteOfTheRecord) {
    for (int16_t selector : {0, 1, 2, 5, 6, -1, 100, INT16_MIN}) {
        auto block = random_block(static_cast<uint32_t>(selector + 40000));
        const RecordBlock before = *block;
        intptr_t data = 12345;
        int16_t result = 77;
        fwd().entry()(selector, &block->record, &data, &result);
        EXPECT_EQ(result, 0) << selector;
        EXPECT_EQ(data, 12345);
        EXPECT_EQ(std::memcmp(&before, block.get(), sizeof(RecordBlock)), 0) << selector;
    }
}

TEST(Selectors, StartRequestsTheWholeImageWithEveryPlane) {
    auto block = random_block(7);
    FilterRecord& rec = block->record;
    rec.imageSize = Point{480, 640};
    rec.planes = 4;
    const RecordBlock before = *block;
    int16_t result = 77;
    fwd().entry()(filterSelectorStart, &rec, nullptr, &result);
    EXPECT_EQ(result, 0);
    const Rect in = rec.inRect, out = rec.outRect, mask = rec.maskRect;
    EXPECT_TRUE(in.top == 0 && in.left == 0 && in.bottom == 480 && in.right == 640);
    EXPECT_TRUE(out.top == 0 && out.left == 0 && out.bottom == 480 && out.right == 640);
    EXPECT_TRUE(empty(mask));
    EXPECT_EQ(rec.inLoPlane, 0);
    EXPECT_EQ(rec.inHiPlane, 3);
    EXPECT_EQ(rec.outLoPlane, 0);
    EXPECT_EQ(rec.outHiPlane, 3);
    // Nothing else in the record is written.
    RecordBlock after = *block;
    after.record.inRect = before.record.inRect;
    after.record.outRect = before.record.outRect;
    after.record.maskRect = before.record.maskRect;
    after.record.inLoPlane = before.record.inLoPlane;
    after.record.inHiPlane = before.record.inHiPlane;
    after.record.outLoPlane = before.record.outLoPlane;
    after.record.outHiPlane = before.record.outHiPlane;
    EXPECT_EQ(std::memcmp(&before, &after, sizeof(RecordBlock)), 0);
}

// A continue call made by hand: 6 x 5 pixels, 3 planes, output filled with a marker byte.
struct ContinueCall {
    std::unique_ptr<RecordBlock> block = std::make_unique<RecordBlock>();
    std::vector<std::byte> in = std::vector<std::byte>(6 * 5 * 3 * 4, std::byte{40});
    std::vector<std::byte> out = std::vector<std::byte>(6 * 5 * 3 * 4, std::byte{0x5A});
    int16_t result = 77;

    ContinueCall(int32_t depth) {
        FilterRecord& rec = block->record;
        rec.imageSize = Point{6, 5};
        rec.planes = 3;
        rec.depth = depth;
        rec.inRect = rec.outRect = rec.maskRect = Rect{1, 2, 3, 4};
        rec.inData = in.data();
        rec.outData = out.data();
        rec.inRowBytes = rec.outRowBytes = 5 * 3 * 4;
    }
    void run() { fwd().entry()(filterSelectorContinue, &block->record, nullptr, &result); }
    bool output_untouched() const {
        for (std::byte b : out)
            if (b != std::byte{0x5A}) return false;
        return true;
    }
    bool ended() const {
        const FilterRecord& rec = block->record;
        return result == 0 && empty(rec.inRect) && empty(rec.outRect) && empty(rec.maskRect);
    }
};

TEST(Continue, EmptiesTheRectanglesAtAnyDepth) {
    for (int32_t depth : {8, 16, 32, 0, 1, 64, -8}) {
        ContinueCall call(depth);
        call.run();
        EXPECT_TRUE(call.ended()) << depth;
    }
}

TEST(Continue, UnsupportedDepthsWriteNothing) {
    for (int32_t depth : {1, 64, 24, 0}) {
        ContinueCall call(depth);
        call.run();
        EXPECT_TRUE(call.output_untouched()) << depth;
        EXPECT_TRUE(call.ended());
    }
}

TEST(Continue, ImagesItCannotAddressAreLeftAlone) {
    const std::vector<void (*)(FilterRecord&)> breakages = {
        [](FilterRecord& r) { r.imageSize = Point{0, 5}; },
        [](FilterRecord& r) { r.imageSize = Point{6, -5}; },
        [](FilterRecord& r) { r.imageSize = Point{-1, -1}; },
        [](FilterRecord& r) { r.planes = 2; },
        [](FilterRecord& r) { r.planes = 0; },
        [](FilterRecord& r) { r.inData = nullptr; },
        [](FilterRecord& r) { r.outData = nullptr; },
        [](FilterRecord& r) { r.inRowBytes = 5 * 3 - 1; },
        [](FilterRecord& r) { r.outRowBytes = 5 * 3 - 1; },
        [](FilterRecord& r) { r.outRowBytes = -60; },
    };
    for (std::size_t i = 0; i < breakages.size(); ++i) {
        ContinueCall call(8);
        breakages[i](call.block->record);
        call.run();
        EXPECT_TRUE(call.output_untouched()) << "case " << i;
        EXPECT_TRUE(call.ended()) << "case " << i;
    }
    ContinueCall wide(16);  // a row length that holds an 8-bit row but not a 16-bit one
    wide.block->record.inRowBytes = 5 * 3 * 2 - 2;
    wide.run();
    EXPECT_TRUE(wide.output_untouched());
}

template <class S>
class Frame : public ::testing::Test {};
TYPED_TEST_SUITE(Frame, test::Depths);

TYPED_TEST(Frame, PlaneThreeKeepsWhatTheHostSupplied) {
    using S = TypeParam;
    Image in = test::random_image<S>(7, 9, 4, 11);
    const host::RunResult a = run_filter(fwd(), in);
    ASSERT_EQ(a.result, 0);
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols; ++x) EXPECT_EQ(a.image.get<S>(y, x, 3), in.get<S>(y, x, 3));
    // Input plane 3 has no influence on planes 0 to 2.
    Image other = in;
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols; ++x) other.set<S>(y, x, 3, S(y + x));
    const host::RunResult b = run_filter(fwd(), other);
    for (int32_t y = 0; y < in.rows; ++y)
        for (int32_t x = 0; x < in.cols; ++x)
            for (int32_t p = 0; p < 3; ++p) EXPECT_EQ(a.image.get<S>(y, x, p), b.image.get<S>(y, x, p));
}

TYPED_TEST(Frame, PaddedRowsAndSharedBuffersGiveTheSameImage) {
    test::expect_same_whatever_the_buffers<TypeParam>(fwd(), test::random_image<TypeParam>(9, 6, 3, 5));
}

}  // namespace
}  // namespace quen
