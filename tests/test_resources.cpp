// The property lists that the build puts into the Windows modules, read back field by field as an
// editor reads them: a 10-byte head, nine properties of a 16-byte head and padded data.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <span>
#include <string>

#include "quen_modules.h"
#include "quen_pipl.h"

namespace quen {
namespace {

using resources::kPropertyLists;
using resources::PropertyList;

uint32_t u32_at(const PropertyList& list, std::size_t at) {
    return uint32_t{list.bytes[at]} | uint32_t{list.bytes[at + 1]} << 8 | uint32_t{list.bytes[at + 2]} << 16 |
           uint32_t{list.bytes[at + 3]} << 24;
}

std::string text_at(const PropertyList& list, std::size_t at, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(list.bytes.data() + at), length);
}

// A four-character code as the host reads it: a little-endian integer whose first character is
// the most significant byte.
uint32_t code(const char* c) {
    return uint32_t(uint8_t(c[0])) << 24 | uint32_t(uint8_t(c[1])) << 16 | uint32_t(uint8_t(c[2])) << 8 |
           uint32_t(uint8_t(c[3]));
}

struct Property {
    std::size_t data;    // offset of the data
    uint32_t length;     // data length as stored
};

// Walks the nine properties, checking each head, and returns where their data lie.
std::vector<Property> properties(const PropertyList& list) {
    const char* keys[] = {"kind", "name", "catg", "vers", "8664", "mode", "enbl", "fici", "ms32"};
    std::vector<Property> found;
    std::size_t at = 10;
    for (const char* key : keys) {
        SCOPED_TRACE(key);
        EXPECT_EQ(u32_at(list, at), code("8BIM"));
        EXPECT_EQ(text_at(list, at, 4), "MIB8");
        EXPECT_EQ(u32_at(list, at + 4), code(key));
        EXPECT_EQ(u32_at(list, at + 8), 0u);  // property identifier
        const uint32_t length = u32_at(list, at + 12);
        found.push_back({at + 16, length});
        at += 16 + (length + 3) / 4 * 4;
        EXPECT_LE(at, list.bytes.size());
        if (at > list.bytes.size()) break;
    }
    EXPECT_EQ(at, list.bytes.size()) << "the properties do not end where the list ends";
    return found;
}

// The modules as delivered declare filter interface 4.1; the companion set, for editors that list
// only filters of interface 4.0, declares 4.0. Every check holds for both.
struct ModuleSet {
    const char* name;
    std::span<const PropertyList> lists;
    uint32_t interface_version;
};

class PropertyLists : public ::testing::TestWithParam<ModuleSet> {};

INSTANTIATE_TEST_SUITE_P(Sets, PropertyLists,
                         ::testing::Values(ModuleSet{"Default", kPropertyLists, 0x00040001u},
                                           ModuleSet{"Interface40", resources::kPropertyListsInterface40, 0x00040000u}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_P(PropertyLists, EveryModuleIsDescribedOnceUnderItsMenuName) {
    std::set<std::string> expected;
    for (const manifest::ModuleEntry& m : manifest::kModules) expected.insert(std::string(m.name));
    std::set<std::string> described;
    for (const PropertyList& list : GetParam().lists) EXPECT_TRUE(described.insert(std::string(list.module)).second);
    EXPECT_EQ(described, expected);
}

TEST_P(PropertyLists, HeadAndPropertyHeadsAreInPlace) {
    for (const PropertyList& list : GetParam().lists) {
        SCOPED_TRACE(std::string(list.module));
        ASSERT_EQ(list.bytes.size(), 294u);
        EXPECT_EQ(list.bytes[0] | list.bytes[1] << 8, 1);  // format
        EXPECT_EQ(u32_at(list, 2), 0u);                     // version
        EXPECT_EQ(u32_at(list, 6), 9u);                     // property count
        const std::vector<Property> props = properties(list);
        ASSERT_EQ(props.size(), 9u);
        const uint32_t lengths[] = {4, 12, 12, 4, 12, 4, 56, 28, 8};
        uint32_t data_bytes = 0;
        for (std::size_t i = 0; i < 9; ++i) {
            EXPECT_EQ(props[i].length, lengths[i]) << "property " << i;
            data_bytes += props[i].length;
        }
        EXPECT_EQ(data_bytes, 140u);
    }
}

TEST_P(PropertyLists, FixedPropertiesHoldTheirValues) {
    for (const PropertyList& list : GetParam().lists) {
        SCOPED_TRACE(std::string(list.module));
        const std::vector<Property> p = properties(list);
        ASSERT_EQ(p.size(), 9u);
        EXPECT_EQ(u32_at(list, p[0].data), code("8BFM"));  // a filter module
        EXPECT_EQ(text_at(list, p[2].data, 12), std::string("\x09TAVL 2018\0\0", 12));
        EXPECT_EQ(u32_at(list, p[3].data), GetParam().interface_version);
        EXPECT_EQ(text_at(list, p[4].data, 12), std::string("ENTRYPOINT\0\0", 12));
        EXPECT_EQ(text_at(list, p[5].data, 4), std::string("\x10\0\0\0", 4));  // RGB colour only
        const std::string condition = "in (PSHOP_ImageMode, RGBMode, RGB48Mode, RGB96Mode)";
        EXPECT_EQ(text_at(list, p[6].data, 56), condition + std::string(56 - condition.size(), '\0'));
        // Filter cases: with a selection (cases 1, 2, 4, 6) the filter also writes outside it.
        const uint8_t flags[] = {0x07, 0x0F, 0x0F, 0x07, 0x0F, 0x07, 0x0F};
        for (std::size_t c = 0; c < 7; ++c) {
            SCOPED_TRACE(c);
            EXPECT_EQ(list.bytes[p[7].data + 4 * c], 4);      // input: matte against white
            EXPECT_EQ(list.bytes[p[7].data + 4 * c + 1], 4);  // output: matte against white
            EXPECT_EQ(list.bytes[p[7].data + 4 * c + 2], flags[c]);
            EXPECT_EQ(list.bytes[p[7].data + 4 * c + 3], 0);
        }
        EXPECT_EQ(u32_at(list, p[8].data), 2000000u);      // largest height
        EXPECT_EQ(u32_at(list, p[8].data + 4), 2000000u);  // largest width
    }
}

TEST_P(PropertyLists, NameIsNineCharactersPaddedWithDots) {
    for (const manifest::ModuleEntry& m : manifest::kModules) {
        const std::string_view module = m.name;
        const std::string menu = std::string(module) + std::string(9 - module.size(), '.');
        SCOPED_TRACE(menu);
        const PropertyList* list = nullptr;
        for (const PropertyList& l : GetParam().lists)
            if (l.module == module) list = &l;
        ASSERT_NE(list, nullptr);
        const std::vector<Property> p = properties(*list);
        ASSERT_EQ(p.size(), 9u);
        EXPECT_EQ(list->bytes[p[1].data], 9);  // length prefix
        EXPECT_EQ(text_at(*list, p[1].data + 1, 9), menu);
        EXPECT_EQ(text_at(*list, p[1].data + 10, 2), std::string(2, '\0'));
    }
}

TEST_P(PropertyLists, ModulesDifferOnlyInTheirName) {
    const PropertyList& first = GetParam().lists[0];
    const std::size_t name_data = properties(first).at(1).data;
    for (const PropertyList& list : GetParam().lists) {
        SCOPED_TRACE(std::string(list.module));
        for (std::size_t i = 0; i < list.bytes.size(); ++i) {
            const bool in_name = i >= name_data && i < name_data + 12;
            EXPECT_TRUE(in_name || list.bytes[i] == first.bytes[i]) << "byte " << i;
        }
    }
}

TEST(PropertyList, Interface40SetDiffersOnlyInTheVersionValue) {
    ASSERT_EQ(std::size(resources::kPropertyListsInterface40), std::size(kPropertyLists));
    for (std::size_t m = 0; m < std::size(kPropertyLists); ++m) {
        const PropertyList &list = kPropertyLists[m], &list40 = resources::kPropertyListsInterface40[m];
        SCOPED_TRACE(std::string(list.module));
        EXPECT_EQ(list40.module, list.module);
        const std::size_t version = properties(list).at(3).data;
        for (std::size_t i = 0; i < list.bytes.size(); ++i) {
            const bool in_version = i >= version && i < version + 4;
            EXPECT_TRUE(in_version || list40.bytes[i] == list.bytes[i]) << "byte " << i;
        }
    }
}

}  // namespace
}  // namespace quen
