// Class membership of the built-in class tables, and parsing of crafted range lists.
#include "check.h"
#include "core/builtin_data.h"
#include "core/pretok_o200k.h"
#include "vocab_util.h"

using namespace lexaro;

TEST(builtin_classes) {
    const UClass u = std::move(*UClass::from_bytes(builtin::uniclass(), "uniclass.bin"));
    const UClassO o = std::move(*UClassO::from_bytes(builtin::uniclass_o200k(), "uniclass_o200k.bin"));
    for (uint32_t c : {0x1Cu, 0x1Du, 0x1Eu, 0x1Fu}) CHECK(!u.contains(CLASS_SPACE, c));
    CHECK(u.contains(CLASS_SPACE, 0x85));
    CHECK(u.contains(CLASS_SPACE, 0x3000));
    CHECK(!u.contains(CLASS_LETTER, 0x300));
    CHECK(o.contains(CLASS_UPPER, 0x300));
    CHECK(o.contains(CLASS_LOWER, 0x300));
    CHECK(o.contains(CLASS_UPPER, 0x1C5));
    CHECK(!o.contains(CLASS_LOWER, 0x1C5));
    CHECK(u.contains(CLASS_LETTER, 0x20000));
    CHECK(o.contains(CLASS_LETTER, 0x323B0));
    CHECK(o.contains(CLASS_LOWER, 0x33479));
    CHECK(!u.contains(CLASS_LETTER, 0x3347A));
    CHECK(u.contains(CLASS_NUMBER, 0x660));
    CHECK(u.contains(CLASS_NUMBER, 0xB2));
    CHECK(o.contains(CLASS_LETTER, 0x295) && o.contains(CLASS_UPPER, 0x295) && o.contains(CLASS_LOWER, 0x295));
    CHECK(o.contains(CLASS_UPPER, 'A') && !o.contains(CLASS_UPPER, 'a'));
    CHECK(o.contains(CLASS_LOWER, 'z') && !o.contains(CLASS_LOWER, 'Z'));
    // the first three o200k lists are the cl100k lists
    CHECK(o.lo[0] == u.lo[0] && o.hi[1] == u.hi[1] && o.lo[2] == u.lo[2]);
    CHECK_EQ(o.lo[3].size(), size_t(1300));
    CHECK_EQ(o.lo[4].size(), size_t(1282));
}

namespace {
std::vector<uint8_t> lists(const std::vector<std::vector<std::pair<uint32_t, uint32_t>>>& ls) {
    std::vector<uint8_t> out;
    for (const auto& l : ls) {
        testutil::put_u32(out, uint32_t(l.size()));
        for (auto [lo, hi] : l) testutil::put_u32(out, lo), testutil::put_u32(out, hi);
    }
    return out;
}
}  // namespace

TEST(crafted_range_lists) {
    // unsorted ranges still classify the BMP correctly; an empty list matches nothing
    auto u = UClass::from_bytes(lists({{{0x400, 0x4FF}, {0x41, 0x5A}}, {}, {{0x10FFFF, 0x10FFFF}}}), "x");
    CHECK(u.ok());
    CHECK(u->contains(CLASS_LETTER, 'B') && u->contains(CLASS_LETTER, 0x410) && !u->contains(CLASS_LETTER, 'a'));
    CHECK(!u->contains(CLASS_NUMBER, '1') && !u->contains(CLASS_NUMBER, 0x20000));
    CHECK(u->contains(CLASS_SPACE, 0x10FFFF));
    // trailing bytes after the last list are ignored
    std::vector<uint8_t> extra = lists({{}, {}, {}});
    extra.push_back(7);
    CHECK(UClass::from_bytes(extra, "x").ok());
    for (auto bad : {lists({{{0x110000, 0x110000}}, {}, {}}), lists({{{5, 4}}, {}, {}}), lists({{}, {}})}) {
        auto r = UClass::from_bytes(bad, "src");
        CHECK(!r.ok() && r.error() == "lexaro: bad uniclass file: src");
    }
    std::vector<uint8_t> huge;
    testutil::put_u32(huge, 100001);
    CHECK(!UClassO::from_bytes(huge, "src").ok());
}

TEST_MAIN()
