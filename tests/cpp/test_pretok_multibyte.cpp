// Runs of two- and three-byte characters: the byte-level class checks of pretok_words.h on their edge
// forms, and both families' fast paths against their per-character rules on texts made mostly of such
// characters (mixed scripts and cases, marks, block edges, invalid and truncated sequences), with the
// built-in class tables and with tables altered at random.
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "core/builtin_data.h"
#include "core/pretok_cut.h"
#include "core/pretok_o200k.h"
#include "core/pretok_words.h"
#include "pretok_harness.h"
#include "utf8_util.h"

using namespace lexaro;
using namespace std::literals;

namespace {

using pretok_test::cl100k_classes;
using pretok_test::o200k_classes;

using testutil::utf8;

// Code points to draw from: ranges of letters in both cases, marks, block edges, punctuation and spaces
// outside ASCII.
struct Span {
    uint32_t lo, hi;
};
constexpr Span SPANS[] = {
    {0x00C0, 0x00FF},  // Latin-1 letters with x and / signs among them
    {0x0100, 0x017F},  // Latin Extended-A, cases alternating
    {0x02B0, 0x02C5},  // modifier letters and symbols (Lm in both o200k sets)
    {0x0300, 0x036F},  // combining marks
    {0x0370, 0x03FF},  // Greek, to the block's end
    {0x03FE, 0x0402},  // across U+03FF / U+0400
    {0x0400, 0x04FF},  // Cyrillic with its marks and signs at U+0482-U+0489
    {0x04FE, 0x0502},  // across U+04FF / U+0500
    {0x05D0, 0x05EA},  // Hebrew letters (Lo)
    {0x0620, 0x065F},  // Arabic letters and marks
    {0x07FE, 0x0801},  // across the two- / three-byte edge
    {0x0900, 0x097F},  // Devanagari: letters, marks, digits, danda
    {0x0E01, 0x0E5B},  // Thai
    {0x2000, 0x206F},  // general punctuation and spaces
    {0x3000, 0x30FF},  // CJK punctuation, kana with their marks
    {0x4E00, 0x4E40},  // CJK ideographs
    {0xAC00, 0xAC20},  // Hangul
    {0xFF00, 0xFFFF},  // full-width forms to the end of the plane
};

// Whole characters, ASCII around them, and byte sequences that lenient decoding takes apart.
constexpr std::string_view ODD[] = {
    " "sv,
    " "sv,
    " "sv,
    "'"sv,
    "'s"sv,
    "a"sv,
    "Q"sv,
    "7"sv,
    ","sv,
    "\n"sv,
    "\r\n"sv,
    "\t"sv,
    "\x80"sv,
    "\xBF"sv,
    "\xC0"sv,
    "\xC1\xA1"sv,
    "\xC0\x80"sv,
    "\xC1\x81"sv,
    "\xC0\x8A"sv,
    "\xE0\x81\x81"sv,
    "\xE0\x80\xA0"sv,
    "\xED\xA0\x80"sv,
    "\xF0\x9F\x98\x80"sv,
    "\xF0\xA0\x80\x80"sv,
    "\xF8"sv,
    "\xFF"sv,
    "\xC3"sv,
    "\xE4\xBD"sv,
    "\xC3\x41"sv,
    "\xE4\x41\x41"sv,
    "\xD0\x20"sv,
    "\xE4\xBD\x0A"sv,
    "\xC2\xA0"sv,
};

// A text of mostly multibyte characters: runs from one span (so that they are long) mixed with odd
// sequences; the end may cut a sequence short.
std::string random_multibyte_text(std::mt19937_64& rng, size_t max_len) {
    const size_t target = rng() % (max_len + 1);
    std::string s;
    while (s.size() < target) {
        if (rng() % 4 == 0) {
            s += ODD[rng() % std::size(ODD)];
            continue;
        }
        const Span sp = SPANS[rng() % std::size(SPANS)];
        const size_t run = 1 + rng() % 12;
        for (size_t i = 0; i < run; ++i) s += utf8(sp.lo + uint32_t(rng() % (sp.hi - sp.lo + 1)));
    }
    s.resize(target);
    return s;
}

// A copy of `u` with `bits` flipped over random stretches of code points from U+0080 up, and `ascii_bits`
// at random below: bits of ASCII that the rules never read from the table (o200k's upper and lower sets),
// so that an overlong form of ASCII classified by the table would cut elsewhere.
template <class Table>
Table altered(const Table& u, std::mt19937_64& rng, uint8_t bits, uint8_t ascii_bits) {
    Table t = u;
    for (int n = 0; n < 40; ++n) {
        const Span sp = SPANS[rng() % std::size(SPANS)];
        const uint32_t from = sp.lo + uint32_t(rng() % (sp.hi - sp.lo + 1));
        const uint32_t to = std::min<uint32_t>(0xFFFF, from + uint32_t(rng() % 64));
        const uint8_t flip = uint8_t(bits & (1u << (rng() % 5)));
        for (uint32_t c = from; c <= to; ++c) t.bmp[c] ^= flip;
    }
    for (uint32_t c = 0; c < 0x80; ++c) t.bmp[c] ^= uint8_t(ascii_bits & rng());
    return t;
}

constexpr uint8_t CL100K_BITS = 0x07;
constexpr uint8_t O200K_CASE_BITS = 1u << CLASS_UPPER | 1u << CLASS_LOWER;

// A character of the text with its end and o200k case sets (ASCII by the byte, the rest by the table).
struct CaseChar {
    size_t end;
    bool upper, lower;
};

std::vector<CaseChar> case_chars(const UClassO& u, std::string_view text) {
    const auto* t = reinterpret_cast<const uint8_t*>(text.data());
    std::vector<CaseChar> out;
    for (size_t p = 0; p < text.size();) {
        const Char c = decode_char(t, p, text.size());
        p += c.len;
        const bool ascii = c.cp < 0x80;
        out.push_back({p, ascii ? c.cp - 'A' <= 25 : u.contains(CLASS_UPPER, c.cp),
                       ascii ? c.cp - 'a' <= 25 : u.contains(CLASS_LOWER, c.cp)});
    }
    return out;
}

size_t run_length(const std::vector<CaseChar>& cs, size_t i, bool CaseChar::* in_set) {
    size_t n = 0;
    while (i + n < cs.size() && cs[i + n].*in_set) ++n;
    return n;
}

// The two letter rules read as patterns that backtrack, from character i: rule 1 takes the longest
// upper-set run that still leaves a lower-set run of one or more after it; rule 2 needs one upper-set
// character and takes the lower-set run after the whole upper-set run.
size_t backtracking_ul(const std::vector<CaseChar>& cs, size_t i) {
    for (size_t k = run_length(cs, i, &CaseChar::upper) + 1; k-- > 0;)
        if (const size_t m = run_length(cs, i + k, &CaseChar::lower)) return cs[i + k + m - 1].end;
    return O_NO_MATCH;
}

size_t backtracking_upl(const std::vector<CaseChar>& cs, size_t i) {
    const size_t n = run_length(cs, i, &CaseChar::upper);
    if (n == 0) return O_NO_MATCH;
    return cs[i + n + run_length(cs, i + n, &CaseChar::lower) - 1].end;
}

// Texts on which o_match_ul or o_match_upl, started at any character, disagrees with the backtracking form.
int letter_matchers_disagreeing(const UClassO& u, std::mt19937_64& rng, int texts) {
    int wrong = 0;
    for (int n = 0; n < texts; ++n) {
        const std::string text = random_multibyte_text(rng, n % 9 ? 60 : 400);
        const auto* t = reinterpret_cast<const uint8_t*>(text.data());
        const std::vector<CaseChar> cs = case_chars(u, text);
        bool same = true;
        for (size_t i = 0; i < cs.size(); ++i) {
            const size_t start = i ? cs[i - 1].end : 0;
            same = same && o_match_ul(u, t, start, text.size()) == backtracking_ul(cs, i) &&
                   o_match_upl(u, t, start, text.size()) == backtracking_upl(cs, i);
        }
        wrong += !same;
    }
    return wrong;
}

}  // namespace

TEST(class_runs_take_only_regular_forms_above_ascii) {
    constexpr uint8_t LETTER = 1u << CLASS_LETTER;
    const uint8_t* bmp = cl100k_classes().bmp.data();
    auto run = [&](std::string_view s) {  // the run over s with two more bytes after it, to be read
        const std::string padded = std::string(s) + "  ";
        const ClassRun r =
            skip_class_chars<LETTER>(bmp, reinterpret_cast<const uint8_t*>(padded.data()), 0, padded.size());
        return std::to_string(r.end) + (r.closed ? " closed" : " open");
    };
    CHECK(run("\xD0\xBF\xD1\x80") == "4 open");          // U+043F U+0440, then ASCII
    CHECK(run("\xE4\xBD\xA0\xD0\xBF") == "5 open");      // three bytes, then two
    CHECK(run("\xD0\xBF\xC3\x97") == "2 closed");        // U+00D7 is no letter
    CHECK(run("\xD0\xBF\xC1\xA1") == "2 open");          // overlong 'a': ASCII is decided by the byte rules
    CHECK(run("\xD0\xBF\xE0\x81\xA1") == "2 open");      // the same in three bytes
    CHECK(run("\xD0\xBF\xF0\xA0\x80\x80") == "2 open");  // four bytes
    CHECK(run("\xD0\xBF\xBF") == "2 open");              // a stray continuation byte
    CHECK(run("\xD0\x41\xD0\xBF") == "4 open");          // continuation bytes are not examined, as in decode_char

    // The last two bytes of the text are left to the general decoding, which knows what is cut short.
    const std::string text = "\xD0\xBF\xD1\x80\xD0\xBF";
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    CHECK_EQ(skip_class_chars<LETTER>(bmp, p, 0, text.size()).end, size_t(4));
    CHECK_EQ(skip_class_chars<LETTER>(bmp, p, 0, text.size() - 2).end, size_t(2));
}

TEST(cl100k_fast_path_agrees_on_multibyte_text) {
    std::mt19937_64 rng(0xC1100C);
    pretok_test::check_fast_path_agrees<Cl100kRules>(
        cl100k_classes(), 20000, [&](int i) { return random_multibyte_text(rng, i % 9 ? 60 : 400); });
    for (int n = 0; n < 20; ++n) {
        const UClass u = altered(cl100k_classes(), rng, CL100K_BITS, 0);
        pretok_test::check_fast_path_agrees<Cl100kRules>(u, 500, [&](int) { return random_multibyte_text(rng, 120); });
    }
}

TEST(o200k_fast_path_agrees_on_multibyte_text) {
    std::mt19937_64 rng(0x0200C);
    pretok_test::check_fast_path_agrees<O200kRules>(
        o200k_classes(), 20000, [&](int i) { return random_multibyte_text(rng, i % 9 ? 60 : 400); });
    for (int n = 0; n < 20; ++n) {
        const UClassO u = altered(o200k_classes(), rng, CL100K_BITS | O200K_CASE_BITS, O200K_CASE_BITS);
        pretok_test::check_fast_path_agrees<O200kRules>(u, 500, [&](int) { return random_multibyte_text(rng, 120); });
    }
}

TEST(o200k_letter_matchers_agree_with_backtracking_patterns) {
    std::mt19937_64 rng(0x0200CA5E);
    CHECK_EQ(letter_matchers_disagreeing(o200k_classes(), rng, 5000), 0);
    for (int n = 0; n < 20; ++n) {
        const UClassO u = altered(o200k_classes(), rng, O200K_CASE_BITS, O200K_CASE_BITS);
        CHECK_EQ(letter_matchers_disagreeing(u, rng, 300), 0);
    }
}

TEST(long_runs_of_one_script) {
    const std::string cyr = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет
    const std::string caps = "\xD0\x9C\xD0\x98\xD0\xA0";                         // МИР
    const std::string han = "\xE4\xBD\xA0\xE5\xA5\xBD\xE4\xB8\x96\xE7\x95\x8C";  // four ideographs
    const std::string acute = "\xCC\x81";                                        // U+0301
    pretok_test::expect_pieces<Cl100kRules>(cl100k_classes(), " " + cyr + cyr + cyr + "," + han + han + "!",
                                            {" " + cyr + cyr + cyr, "," + han + han, "!"});
    pretok_test::expect_pieces<Cl100kRules>(cl100k_classes(), cyr + acute + cyr, {cyr, acute + cyr});
    pretok_test::expect_pieces<O200kRules>(o200k_classes(), " " + cyr + cyr + cyr + caps + cyr + "." + han + han,
                                           {" " + cyr, cyr, cyr, caps + cyr, "." + han + han});
    pretok_test::expect_pieces<O200kRules>(o200k_classes(), han + han + caps + " " + cyr + acute + cyr + "'s",
                                           {han + han, caps, " " + cyr + acute, cyr + "'s"});
}

TEST_MAIN()
