// UTF-8 from one-, two- and four-byte code units, against a plain encoder of one character at a time
// (utf8_util.h).
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "core/utf8_units.h"
#include "utf8_util.h"

using namespace lexaro;

namespace {

// The conversion into a buffer of exactly max_bytes + UNITS_OUT_SLACK bytes (a write past it shows
// under AddressSanitizer), or NOT_CONVERTED.
template <class Unit>
size_t convert(const std::vector<Unit>& units, size_t max_bytes, std::string& out) {
    std::vector<char> room(max_bytes + UNITS_OUT_SLACK);
    const size_t len = utf8_from_units(units.data(), units.size(), room.data(), max_bytes);
    if (len != NOT_CONVERTED) out.assign(room.data(), len);
    return len;
}

// Characters that fit Unit: mostly ASCII in runs, so that both the sixteen-at-a-time path and the
// one-at-a-time path run, with every boundary between them.
template <class Unit>
std::vector<Unit> random_units(std::mt19937& rng, size_t n, uint32_t top) {
    std::vector<Unit> units(n);
    const uint32_t ascii_share = rng() % 100;
    for (Unit& u : units) {
        uint32_t c;
        if (rng() % 100 < ascii_share) {
            c = 0x20 + rng() % 0x5F;
        } else {
            do {
                static const uint32_t EDGES[] = {0x7F, 0x80, 0xFF, 0x100, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF};
                switch (rng() % 4) {  // up to 0x7FF, up to 0xFFFF, up to top, or the edges of the ranges
                    case 0:
                        c = 0x80 + rng() % 0x780;
                        break;
                    case 1:
                        c = 0x800 + rng() % 0xF800;
                        break;
                    case 2:
                        c = rng() % (top + 1);
                        break;
                    default:
                        c = EDGES[rng() % std::size(EDGES)];
                }
            } while (c > top || (c >= 0xD800 && c < 0xE000));
        }
        u = Unit(c);
    }
    return units;
}

template <class Unit>
void check_random_units(uint32_t top) {
    std::mt19937 rng(2026);
    size_t failures = 0, refused_short = 0, nonempty = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::vector<Unit> units = random_units<Unit>(rng, rng() % 200, top);
        std::string expected;
        for (Unit u : units) expected += testutil::utf8(u);
        std::string got;
        failures += convert(units, expected.size(), got) != expected.size() || got != expected;
        // One byte less room than the UTF-8 takes: refused, never cut short.
        if (!expected.empty()) {
            ++nonempty;
            refused_short += convert(units, expected.size() - 1, got) == NOT_CONVERTED;
        }
    }
    CHECK_EQ(failures, size_t(0));
    CHECK_EQ(refused_short, nonempty);
    CHECK(nonempty > 2900);
}

}  // namespace

TEST(latin1_units) { check_random_units<uint8_t>(0xFF); }
TEST(two_byte_units) { check_random_units<uint16_t>(0xFFFF); }
TEST(four_byte_units) { check_random_units<uint32_t>(0x10FFFF); }

TEST(surrogates_are_not_converted) {
    // A surrogate at every place of a run of ASCII: in the sixteen-at-a-time path and in the tail.
    for (size_t n : {size_t(1), size_t(15), size_t(16), size_t(17), size_t(40)}) {
        for (size_t at = 0; at < n; ++at) {
            for (uint32_t s : {0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu}) {
                std::vector<uint16_t> two(n, 'a');
                std::vector<uint32_t> four(n, 'a');
                two[at] = uint16_t(s);
                four[at] = s;
                std::string out;
                CHECK_EQ(convert(two, 4 * n, out), NOT_CONVERTED);
                CHECK_EQ(convert(four, 4 * n, out), NOT_CONVERTED);
            }
        }
    }
    // Their neighbours are characters.
    std::string out;
    CHECK_EQ(convert(std::vector<uint16_t>{0xD7FF, 0xE000}, 6, out), size_t(6));
    CHECK(out == "\xed\x9f\xbf\xee\x80\x80");
}

TEST(refused_without_writing_past_the_room) {
    // Fifteen ASCII characters and then a wide one, at every room from none to enough: a refusal must
    // come before the wide character is written past the room's slack (the buffer is exactly its size).
    for (uint32_t wide : {0xE9u, 0x4E2Du, 0x1F600u}) {
        std::vector<uint32_t> four(15, 'a');
        four.push_back(wide);
        four.insert(four.end(), 20, 'b');
        std::string expected;
        for (uint32_t u : four) expected += testutil::utf8(u);
        for (size_t room = 0; room <= expected.size(); ++room) {
            std::string out;
            const size_t len = convert(four, room, out);
            CHECK(room < expected.size() ? len == NOT_CONVERTED : out == expected);
            if (wide <= 0xFFFF) {
                const std::vector<uint16_t> two(four.begin(), four.end());
                CHECK(room < expected.size() ? convert(two, room, out) == NOT_CONVERTED
                                             : convert(two, room, out) == expected.size() && out == expected);
            }
        }
    }
}

TEST(empty_and_all_ascii) {
    std::string out = "x";
    CHECK_EQ(convert(std::vector<uint32_t>{}, 0, out), size_t(0));
    std::vector<uint16_t> ascii(1000);
    for (size_t i = 0; i < ascii.size(); ++i) ascii[i] = uint16_t('a' + i % 26);
    CHECK_EQ(convert(ascii, 1000, out), size_t(1000));
    CHECK_EQ(out[0], 'a');
    CHECK_EQ(out[999], char('a' + 999 % 26));
    CHECK_EQ(convert(ascii, 999, out), NOT_CONVERTED);
}

TEST_MAIN()
