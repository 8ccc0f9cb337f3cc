// The o200k pre-tokenizer: the cutting rules on their edge cases, agreement of the ASCII fast forms
// with the general rules, tiling, and the encode loop against the byte tokens it must reproduce.
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "core/builtin_data.h"
#include "core/pretok_o200k.h"
#include "pretok_harness.h"

using namespace lexaro;
using namespace std::literals;

namespace {

const UClassO& classes() { return pretok_test::o200k_classes(); }

void expect_pieces(std::string_view text, const std::vector<std::string>& want) {
    pretok_test::expect_pieces<O200kRules>(classes(), text, want);
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
    expect_pieces("x'r", {"x", "'r"});  // too short for 're: the apostrophe leads the next run
    expect_pieces("x'", {"x", "'"});    // apostrophe at the end
    expect_pieces("'s", {"'s"});        // no contraction at the start: prefix plus letter
    expect_pieces("we\xE2\x80\x99ll", {"we", "\xE2\x80\x99ll"});  // U+2019 is no apostrophe
    expect_pieces("it'\xC5\xBF", {"it", "'\xC5\xBF"});            // U+017F long s is not folded to s
    expect_pieces("5's", {"5", "'s"});                            // only a letter run takes a suffix
}

TEST(unicode_letters_marks_and_numbers) {
    expect_pieces(" \xCC\x81 ", {" \xCC\x81", " "});  // space + U+0301: the mark is given back as lower-set
    expect_pieces(
        "a\xCC\x81"
        "b",
        {"a\xCC\x81"
         "b"});
    expect_pieces("\xC7\x85x", {"\xC7\x85x"});  // U+01C5 title case, upper-set only
    expect_pieces("x\xC7\x85", {"x", "\xC7\x85"});
    expect_pieces("caf\xC3\xA9 ok", {"caf\xC3\xA9", " ok"});
    expect_pieces(" \xC3\x89t\xC3\xA9", {" \xC3\x89t\xC3\xA9"});
    expect_pieces("\xE4\xBD\xA0\xE5\xA5\xBD world", {"\xE4\xBD\xA0\xE5\xA5\xBD", " world"});
    expect_pieces("\xF0\x9D\x90\x80\xF0\x9D\x90\x9B", {"\xF0\x9D\x90\x80\xF0\x9D\x90\x9B"});  // U+1D400 U+1D41B
    expect_pieces("\xF0\x9D\x90\x80\xF0\x9D\x90\x80.", {"\xF0\x9D\x90\x80\xF0\x9D\x90\x80", "."});
    expect_pieces("\xC2\xB2\xC2\xB3\xE2\x81\xB4\xE2\x81\xB5", {"\xC2\xB2\xC2\xB3\xE2\x81\xB4", "\xE2\x81\xB5"});
    expect_pieces(
        "12\xC2\xB3"
        "4",
        {"12\xC2\xB3", "4"});  // superscript three counts toward the three digits
    expect_pieces("\xD9\xA1\xD9\xA2\xD9\xA3\xD9\xA4", {"\xD9\xA1\xD9\xA2\xD9\xA3", "\xD9\xA4"});
    expect_pieces(
        "a\xE3\x80\x80\xE3\x80\x80"
        "b",
        {"a", "\xE3\x80\x80",
         "\xE3\x80\x80"
         "b"});  // U+3000
}

TEST(lenient_decoding) {
    expect_pieces("\xC2\x85!", {"\xC2\x85", "!"});  // U+0085 is white space, not punctuation
    expect_pieces("\x85!", {"\x85", "!"});          // so is a lone byte 0x85
    expect_pieces("A\xFF", {"A\xFF"});              // a lone 0xFF is U+00FF, lower-set
    expect_pieces("\xFF's", {"\xFF's"});
    // A lead byte cut off by the end of the text stands for itself: 0xE4 is U+00E4, 0xB8 is U+00B8.
    expect_pieces("ab\xE4\xB8", {"ab\xE4", "\xB8"});
    // Continuation bytes are not examined: 0xC3 'a' decodes as one two-byte character, U+00E1.
    expect_pieces(
        "x\xC3"
        "a",
        {"x\xC3"
         "a"});
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
    CHECK_EQ(ul("\xC3\x80"
                "B"),
             O_NO_MATCH);  // U+00C0 Lu: nothing to give back
    CHECK_EQ(ul("\xCA\xB0"
                "AB "),
             size_t(2));  // U+02B0 Lm is in both sets: give back to it
    CHECK_EQ(ul("A\xE4\xBD\xA0"
                "B\xE5\xA5\xBD"
                "C."),
             size_t(8));  // the last character in both sets wins
    CHECK_EQ(upl("ABcd!"), size_t(4));
    CHECK_EQ(upl("AB!"), size_t(2));
    CHECK_EQ(upl("ab"), O_NO_MATCH);
    CHECK_EQ(o_match_ul(u, bytes("  hi"), 2, 4), size_t(4));
}

namespace {

// Fragments that exercise every rule and every hand-over from the fast forms; the first 36 are ASCII.
constexpr std::string_view FRAGMENTS[] = {
    "a"sv,
    "z"sv,
    "Q"sv,
    "Hello"sv,
    "WORLD"sv,
    "ab"sv,
    "XYZabc"sv,
    "0"sv,
    "7"sv,
    "12"sv,
    "'"sv,
    "'s"sv,
    "'T"sv,
    "'re"sv,
    "'LL"sv,
    "'ve"sv,
    "'x"sv,
    " "sv,
    "  "sv,
    "   "sv,
    "\t"sv,
    "\n"sv,
    "\r"sv,
    "\r\n"sv,
    "\v"sv,
    "\f"sv,
    "!"sv,
    "?"sv,
    "."sv,
    ","sv,
    "/"sv,
    "-"sv,
    "("sv,
    "\""sv,
    "\x01"sv,
    "\x7F"sv,
    "\xC3\xA9"sv,          // é  Ll
    "\xC3\x89"sv,          // É  Lu
    "\xCC\x81"sv,          // combining acute, a mark
    "\xC7\x85"sv,          // ǅ  Lt
    "\xCA\xB0"sv,          // ʰ  Lm
    "\xC2\xB2"sv,          // ²  No
    "\xD9\xA3"sv,          // Arabic-Indic three, Nd
    "\xC2\x85"sv,          // U+0085 white space
    "\xC2\xA0"sv,          // U+00A0 white space
    "\xE3\x80\x80"sv,      // U+3000 white space
    "\xE2\x80\x99"sv,      // ’
    "\xE4\xBD\xA0"sv,      // 你 Lo
    "\xE2\x82\xAC"sv,      // € symbol
    "\xF0\x9D\x90\x80"sv,  // U+1D400 Lu
    "\xF0\x9D\x90\x9B"sv,  // U+1D41B Ll
    "\xF0\x9F\x98\x80"sv,  // emoji
    "\xF0\xA0\x80\x80"sv,  // U+20000 Lo
    "\x80"sv,
    "\xAA"sv,
    "\xBF"sv,
    "\xC3"sv,
    "\xE4\xBD"sv,
    "\xF0\x9F"sv,
    "\xFF"sv,
    "\x85"sv,
    "\xC0\x8A"sv,
};

std::string random_text(std::mt19937_64& rng, size_t target) {
    return pretok_test::random_text(rng, FRAGMENTS, 36, target);  // mostly ASCII, so that runs cross blocks
}

}  // namespace

TEST(fast_forms_agree_with_general_rules_and_pieces_tile) {
    std::mt19937_64 rng(0x2545F4914F6CDD1Dull);
    pretok_test::check_fast_path_agrees<O200kRules>(classes(), 20000,
                                                    [&](int i) { return random_text(rng, size_t(i % 97)); });
}

TEST(runs_longer_than_a_block) {
    const std::string letters(40, 'x'), caps(37, 'Q'), spaces(35, ' '), dots(33, '.');
    expect_pieces(caps + letters + "'s!", {caps + letters + "'s", "!"});
    expect_pieces(spaces + "\n" + spaces + "a", {spaces + "\n", spaces.substr(1), " a"});
    expect_pieces(dots + "\n\n" + letters, {dots + "\n\n", letters});
    expect_pieces(letters + "\xC3\xA9" + letters, {letters + "\xC3\xA9" + letters});
    expect_pieces(spaces + "\xC2\xA0" + "b", {spaces,
                                              "\xC2\xA0"
                                              "b"});
}

TEST(encode_reproduces_the_text_with_and_without_cache) {
    auto tok = Tokenizer::create("o200k_base");
    CHECK(bool(tok));
    if (!tok) return;
    std::mt19937_64 rng(0x9E3779B97F4A7C15ull);
    pretok_test::check_encode_loop<O200kRules>(*tok, tok->uclass_o, encode_core_o200k, 3000,
                                               [&](int i) { return random_text(rng, size_t(i % 200)); });
}

TEST_MAIN()
