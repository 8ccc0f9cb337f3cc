// The o200k pre-tokenizer: the cutting rules on their edge cases, agreement of the ASCII fast forms
// with the general rules, tiling, and the encode loop against the byte tokens it must reproduce.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "core/builtin_data.h"
#include "core/pcache.h"
#include "core/pretok_o200k.h"
#include "core/tokenizer.h"

using namespace lexaro;

namespace {

const UClassO& classes() {
    static const UClassO u = *UClassO::from_bytes(builtin::uniclass_o200k(), "uniclass_o200k.bin");
    return u;
}

std::vector<std::string> pieces(std::string_view text, bool fast) {
    std::vector<std::string> out;
    for (auto [start, len] : pretokenize_o200k(classes(), text, fast)) out.emplace_back(text.substr(start, len));
    return out;
}

std::string joined(const std::vector<std::string>& v) {
    std::string s;
    for (const std::string& p : v) s += "[" + p + "]";
    return s;
}

// Both paths must give exactly `want`.
void expect_pieces(std::string_view text, const std::vector<std::string>& want) {
    for (bool fast : {true, false}) {
        const std::string got = joined(pieces(text, fast));
        if (got != joined(want)) {
            ++check::failures();
            std::printf("  %s path on \"%s\": got %s, want %s\n", fast ? "fast" : "general", std::string(text).c_str(),
                        got.c_str(), joined(want).c_str());
        }
    }
}

const uint8_t* bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

TEST(words_spaces_digits_and_punctuation) {
    expect_pieces("Hello world, it's 2024!\n", {"Hello", " world", ",", " it's", " ", "202", "4", "!\n"});
    expect_pieces(" Hello", {" Hello"});
    expect_pieces("\tworld", {"\tworld"});
    expect_pieces("\nword", {"\n", "word"});
    expect_pieces("\r\nword", {"\r\n", "word"});
    expect_pieces("HELLOworld", {"HELLOworld"});
    expect_pieces("HELLO world", {"HELLO", " world"});
    expect_pieces("1234567", {"123", "456", "7"});
    expect_pieces("x 42", {"x", " ", "42"});
    expect_pieces("...\n\n", {"...\n\n"});
    expect_pieces("!\n/\nx", {"!\n/\n", "x"});
    expect_pieces("a/b", {"a", "/b"});
    expect_pieces(" ?!", {" ?!"});
    expect_pieces("$5", {"$", "5"});
    expect_pieces("\t!", {"\t", "!"});
    expect_pieces("...abc", {"...", "abc"});
    expect_pieces("", {});
}

TEST(white_space_runs) {
    expect_pieces("a  b", {"a", " ", " b"});
    expect_pieces("a \n b", {"a", " \n", " b"});
    expect_pieces("a  ", {"a", "  "});
    expect_pieces("a\r\nb", {"a", "\r\n", "b"});
    expect_pieces("   \n  x", {"   \n", " ", " x"});
    // The newline rule comes before the end-of-text rule: trailing spaces after the last newline split off.
    expect_pieces("x \n \n ", {"x", " \n \n", " "});
    expect_pieces(" ", {" "});
    expect_pieces("x\t\t9", {"x", "\t", "\t", "9"});
}

TEST(contractions) {
    expect_pieces("don't", {"don't"});
    expect_pieces("we'LL", {"we'LL"});
    expect_pieces("THEY'RE here", {"THEY'RE", " here"});
    expect_pieces("I'm you'd we've", {"I'm", " you'd", " we've"});
    expect_pieces("x'lle", {"x'll", "e"});
    expect_pieces("x'r", {"x", "'r"});     // too short for 're: the apostrophe leads the next run
    expect_pieces("x'", {"x", "'"});       // apostrophe at the end
    expect_pieces("'s", {"'s"});           // no contraction at the start: prefix plus letter
    expect_pieces("we\xE2\x80\x99ll", {"we", "\xE2\x80\x99ll"});  // U+2019 is no apostrophe
    expect_pieces("it'\xC5\xBF", {"it", "'\xC5\xBF"});           // U+017F long s is not folded to s
    expect_pieces("5's", {"5", "'s"});  // only a letter run takes a suffix
}

TEST(unicode_letters_marks_and_numbers) {
    expect_pieces(" \xCC\x81 ", {" \xCC\x81", " "});  // space + U+0301: the mark is given back as lower-set
    expect_pieces("a\xCC\x81" "b", {"a\xCC\x81" "b"});
    expect_pieces("\xC7\x85x", {"\xC7\x85x"});                // U+01C5 title case, upper-set only
    expect_pieces("x\xC7\x85", {"x", "\xC7\x85"});
    expect_pieces("caf\xC3\xA9 ok", {"caf\xC3\xA9", " ok"});
    expect_pieces(" \xC3\x89t\xC3\xA9", {" \xC3\x89t\xC3\xA9"});
    expect_pieces("\xE4\xBD\xA0\xE5\xA5\xBD world", {"\xE4\xBD\xA0\xE5\xA5\xBD", " world"});
    expect_pieces("\xF0\x9D\x90\x80\xF0\x9D\x90\x9B", {"\xF0\x9D\x90\x80\xF0\x9D\x90\x9B"});  // U+1D400 U+1D41B
    expect_pieces("\xF0\x9D\x90\x80\xF0\x9D\x90\x80.", {"\xF0\x9D\x90\x80\xF0\x9D\x90\x80", "."});
    expect_pieces("\xC2\xB2\xC2\xB3\xE2\x81\xB4\xE2\x81\xB5", {"\xC2\xB2\xC2\xB3\xE2\x81\xB4", "\xE2\x81\xB5"});
    expect_pieces("12\xC2\xB3" "4", {"12\xC2\xB3", "4"});  // superscript three counts toward the three digits
    expect_pieces("\xD9\xA1\xD9\xA2\xD9\xA3\xD9\xA4", {"\xD9\xA1\xD9\xA2\xD9\xA3", "\xD9\xA4"});
    expect_pieces("a\xE3\x80\x80\xE3\x80\x80" "b", {"a", "\xE3\x80\x80", "\xE3\x80\x80" "b"});  // U+3000
}

TEST(lenient_decoding) {
    expect_pieces("\xC2\x85!", {"\xC2\x85", "!"});  // U+0085 is white space, not punctuation
    expect_pieces("\x85!", {"\x85", "!"});          // so is a lone byte 0x85
    expect_pieces("A\xFF", {"A\xFF"});              // a lone 0xFF is U+00FF, lower-set
    expect_pieces("\xFF's", {"\xFF's"});
    // A lead byte cut off by the end of the text stands for itself: 0xE4 is U+00E4, 0xB8 is U+00B8.
    expect_pieces("ab\xE4\xB8", {"ab\xE4", "\xB8"});
    // Continuation bytes are not examined: 0xC3 'a' decodes as one two-byte character, U+00E1.
    expect_pieces("x\xC3" "a", {"x\xC3" "a"});
    // An overlong newline is a newline; the white-space piece ends one byte into it.
    expect_pieces(" \xC0\x8Ax", {" \xC0", "\x8Ax"});
}

TEST(letter_matchers) {
    const UClassO& u = classes();
    auto ul = [&](std::string_view s) { return o_match_ul(u, bytes(s), 0, s.size()); };
    auto upl = [&](std::string_view s) { return o_match_upl(u, bytes(s), 0, s.size()); };
    CHECK_EQ(ul("ABcd!"), size_t(4));
    CHECK_EQ(ul("AB!"), O_NO_MATCH);
    CHECK_EQ(ul(""), O_NO_MATCH);
    CHECK_EQ(ul("\xC3\x80" "B"), O_NO_MATCH);                   // U+00C0 Lu: nothing to give back
    CHECK_EQ(ul("\xCA\xB0" "AB "), size_t(2));                  // U+02B0 Lm is in both sets: give back to it
    CHECK_EQ(ul("A\xE4\xBD\xA0" "B\xE5\xA5\xBD" "C."), size_t(8));  // the last character in both sets wins
    CHECK_EQ(upl("ABcd!"), size_t(4));
    CHECK_EQ(upl("AB!"), size_t(2));
    CHECK_EQ(upl("ab"), O_NO_MATCH);
    CHECK_EQ(o_match_ul(u, bytes("  hi"), 2, 4), size_t(4));
}

namespace {

// Fragments that exercise every rule and every hand-over from the fast forms.
const char* const FRAGMENTS[] = {
    "a", "z", "Q", "Hello", "WORLD", "ab", "XYZabc", "0", "7", "12", "'", "'s", "'T", "'re", "'LL", "'ve", "'x",
    " ", "  ", "   ", "\t", "\n", "\r", "\r\n", "\v", "\f", "!", "?", ".", ",", "/", "-", "(", "\"", "\x01", "\x7F",
    "\xC3\xA9",          // é  Ll
    "\xC3\x89",          // É  Lu
    "\xCC\x81",          // combining acute, a mark
    "\xC7\x85",          // ǅ  Lt
    "\xCA\xB0",          // ʰ  Lm
    "\xC2\xB2",          // ²  No
    "\xD9\xA3",          // Arabic-Indic three, Nd
    "\xC2\x85",          // U+0085 white space
    "\xC2\xA0",          // U+00A0 white space
    "\xE3\x80\x80",      // U+3000 white space
    "\xE2\x80\x99",      // ’
    "\xE4\xBD\xA0",      // 你 Lo
    "\xE2\x82\xAC",      // € symbol
    "\xF0\x9D\x90\x80",  // U+1D400 Lu
    "\xF0\x9D\x90\x9B",  // U+1D41B Ll
    "\xF0\x9F\x98\x80",  // emoji
    "\xF0\xA0\x80\x80",  // U+20000 Lo
    "\x80", "\xAA", "\xBF", "\xC3", "\xE4\xBD", "\xF0\x9F", "\xFF", "\x85", "\xC0\x8A",
};

struct Rng {
    uint64_t s;
    uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    size_t below(size_t n) { return size_t(next() % n); }
};

std::string random_text(Rng& rng, size_t target) {
    constexpr size_t N = sizeof(FRAGMENTS) / sizeof(FRAGMENTS[0]);
    std::string s;
    while (s.size() < target) {
        // Mostly ASCII fragments, so that long ASCII runs cross 16-byte blocks.
        const size_t k = rng.below(4) ? rng.below(36) : rng.below(N);
        const size_t repeat = rng.below(8) == 0 ? 1 + rng.below(20) : 1;
        for (size_t r = 0; r < repeat; ++r) s += FRAGMENTS[k];
    }
    s.resize(target);  // may cut a sequence short at the end
    return s;
}

bool tiles(const std::vector<std::pair<uint32_t, uint32_t>>& p, size_t len) {
    size_t at = 0;
    for (auto [start, n] : p) {
        if (start != at || n == 0) return false;
        at += n;
    }
    return at == len;
}

}  // namespace

TEST(fast_forms_agree_with_general_rules_and_pieces_tile) {
    Rng rng{0x2545F4914F6CDD1Dull};
    int mismatches = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string text = random_text(rng, size_t(i % 97));
        // An exact-size copy, so that a sanitizer sees any read past the end.
        const std::unique_ptr<char[]> exact(new char[text.size()]);
        std::memcpy(exact.get(), text.data(), text.size());
        const std::string_view view(exact.get(), text.size());
        const auto fast = pretokenize_o200k(classes(), view, true);
        const auto general = pretokenize_o200k(classes(), view, false);
        CHECK(tiles(fast, text.size()));
        CHECK(tiles(general, text.size()));
        if (fast != general && ++mismatches <= 5)
            std::printf("  mismatch on \"%s\": fast %s, general %s\n", text.c_str(), joined(pieces(text, true)).c_str(),
                        joined(pieces(text, false)).c_str());
    }
    CHECK_EQ(mismatches, 0);
}

TEST(runs_longer_than_a_block) {
    const std::string letters(40, 'x'), caps(37, 'Q'), spaces(35, ' '), dots(33, '.');
    expect_pieces(caps + letters + "'s!", {caps + letters + "'s", "!"});
    expect_pieces(spaces + "\n" + spaces + "a", {spaces + "\n", spaces.substr(1), " a"});
    expect_pieces(dots + "\n\n" + letters, {dots + "\n\n", letters});
    expect_pieces(letters + "\xC3\xA9" + letters, {letters + "\xC3\xA9" + letters});
    expect_pieces(spaces + "\xC2\xA0" + "b", {spaces, "\xC2\xA0" "b"});
}

TEST(encode_reproduces_the_text_with_and_without_cache) {
    auto tok = Tokenizer::create("o200k_base");
    CHECK(bool(tok));
    if (!tok) return;
    Rng rng{0x9E3779B97F4A7C15ull};
    PretokenCache cache(tok->tokenizer_id, uint64_t(1) << 15);
    PretokenCache disabled;
    for (int i = 0; i < 3000; ++i) {
        const std::string text = random_text(rng, size_t(i % 200));
        std::vector<uint32_t> cached{7}, uncached;  // ids already present must stay in front
        encode_core_o200k(tok->vocab, tok->uclass_o, bytes(text), text.size(), cached, cache);
        encode_core_o200k(tok->vocab, tok->uclass_o, bytes(text), text.size(), uncached, disabled);
        CHECK(!cached.empty() && cached[0] == 7);
        CHECK(std::vector<uint32_t>(cached.begin() + 1, cached.end()) == uncached);
        std::string back;
        for (uint32_t id : uncached) back += tok->vocab.token(id);
        CHECK(back == text);
    }
}

TEST_MAIN()
