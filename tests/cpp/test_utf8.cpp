// UTF-8 checking and lossy conversion: first fault and maximal-subpart replacement.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "core/utf8.h"

using namespace lexaro;

TEST(first_fault) {
    struct Case {
        std::string_view bytes;
        size_t valid_up_to, error_len;  // error_len 0: the input ends inside a character
    } cases[] = {
        {"abc", 3, 0},
        {"a\x80", 1, 1},
        {"\xc3", 0, 0},
        {"\xe4\xb8", 0, 0},
        {"\xe4\xb8x", 0, 2},
        {"\xf0\x9f\x98", 0, 0},
        {"\xf5", 0, 1},
        {"ab\xff", 2, 1},
        {"\xc0\xaf", 0, 1},
        {"\xed\xa0\x80", 0, 1},
        {"\xf4\x90\x80\x80", 0, 1},
        {"\xe0\x80", 0, 1},
        {"\xf0\x90\x80x", 0, 3},
    };
    for (const Case& c : cases) {
        const Utf8Fault f = utf8_check(c.bytes);
        CHECK_EQ(f.valid_up_to, c.valid_up_to);
        CHECK_EQ(f.error_len, c.error_len);
    }
}

TEST(lossy_replaces_maximal_subparts) {
    CHECK(utf8_lossy("a\xe4\xb8z") == "a\xef\xbf\xbdz");                          // truncated sequence: one U+FFFD
    CHECK(utf8_lossy("\xed\xa0\x80") == "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");  // never valid: one each
    CHECK(utf8_lossy("\xf0\x9f\x98\x80") == "\xf0\x9f\x98\x80");
    CHECK(utf8_lossy("") == "");
}

bool valid_by_check(const std::string& s) { return utf8_check(s).valid_up_to == s.size(); }
// The bytes end where a heap block ends, so that a sanitized build catches a read past the last one.
bool valid_fast(const std::string& s) {
    static std::vector<uint8_t> block(64);
    if (s.size() > block.size()) block.resize(s.size());
    uint8_t* at = block.data() + block.size() - s.size();
    std::memcpy(at, s.data(), s.size());
    return utf8_valid(at, s.size());
}

// utf8_valid must agree with utf8_check on every input. Every string of up to three bytes, then four-byte
// sequences around each boundary, each alone and placed after and before ASCII runs of every length up to
// two words (so that the word-at-a-time path meets the fault at each offset).
TEST(valid_agrees_with_check) {
    size_t disagreements = 0;
    std::string s;
    for (unsigned a = 0; a < 256; ++a) {
        s.assign(1, char(a));
        disagreements += valid_fast(s) != valid_by_check(s);
        for (unsigned b = 0; b < 256; ++b) {
            s.assign({char(a), char(b)});
            disagreements += valid_fast(s) != valid_by_check(s);
            for (unsigned c = 0; c < 256; ++c) {
                s.assign({char(a), char(b), char(c)});
                disagreements += valid_fast(s) != valid_by_check(s);
            }
        }
    }
    CHECK_EQ(disagreements, size_t(0));

    const unsigned edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                              0xC1, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    size_t checked = 0, valid = 0;
    for (unsigned a = 0xC0; a < 256; ++a)
        for (unsigned b : edges)
            for (unsigned c : edges)
                for (unsigned d : edges) {
                    const std::string seq{char(a), char(b), char(c), char(d)};
                    for (size_t before = 0; before <= 16; before += (before < 9 ? 1 : 7))
                        for (size_t after : {size_t(0), size_t(1), size_t(8)}) {
                            s = std::string(before, 'x') + seq + std::string(after, 'y');
                            const bool expected = valid_by_check(s);
                            disagreements += valid_fast(s) != expected;
                            ++checked;
                            valid += expected;
                        }
                }
    CHECK_EQ(disagreements, size_t(0));
    CHECK(valid > 0 && valid < checked);  // both answers were put to the test
}

// Random mixes of ASCII, well-formed characters of each length and stray bytes, as the cache meets them.
TEST(valid_agrees_with_check_on_random_text) {
    const std::string atoms[] = {"a",
                                 " ",
                                 "word",
                                 "\xc3\xa9",
                                 "\xd0\x96",
                                 "\xe4\xb8\xad",
                                 "\xed\x9f\xbf",
                                 "\xee\x80\x80",
                                 "\xf0\x9f\x98\x80",
                                 "\xf4\x8f\xbf\xbf",
                                 "\x80",
                                 "\xc3",
                                 "\xe4\xb8",
                                 "\xff",
                                 "\xed\xa0\x80"};
    std::mt19937 rng(12345);
    size_t disagreements = 0, valid = 0;
    for (int round = 0; round < 200000; ++round) {
        std::string s;
        const size_t atoms_in = rng() % 20;
        const bool clean = rng() % 2 == 0;  // half the strings from well-formed atoms only
        for (size_t k = 0; k < atoms_in; ++k) s += atoms[rng() % (clean ? 10 : std::size(atoms))];
        const bool expected = valid_by_check(s);
        disagreements += valid_fast(s) != expected;
        valid += expected;
    }
    CHECK_EQ(disagreements, size_t(0));
    CHECK(valid > 50000 && valid < 200000);
}

TEST_MAIN()
