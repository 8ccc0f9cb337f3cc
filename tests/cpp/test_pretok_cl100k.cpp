// The cl100k pre-tokenizer: cutting rules on their edge cases, fast paths against the
// per-character rules on random texts, and the encode loop against piece-by-piece encoding.
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "core/pretok_cut.h"
#include "pretok_harness.h"

using namespace lexaro;
using namespace std::literals;

namespace {

const Tokenizer& tokenizer() {
    static const Expected<Tokenizer> tok = Tokenizer::create("cl100k_base");
    return tok.value();
}

void expect_pieces(std::string_view text, const std::vector<std::string>& expected) {
    pretok_test::expect_pieces<Cl100kRules>(tokenizer().uclass, text, expected);
}

// Fragments that stress every rule and every block boundary.
constexpr std::string_view FRAGMENTS[] = {
    "a"sv,
    "Z"sv,
    "q"sv,
    "7"sv,
    "0"sv,
    " "sv,
    "  "sv,
    "\t"sv,
    "\n"sv,
    "\r"sv,
    "\r\n"sv,
    "\x0b"sv,
    "\x0c"sv,
    "'"sv,
    "'s"sv,
    "'T"sv,
    "'ll"sv,
    "'Re"sv,
    "'vE"sv,
    "'d"sv,
    "!"sv,
    "."sv,
    ","sv,
    "\""sv,
    "("sv,
    "-"sv,
    "/"sv,
    "\x1c"sv,
    "\x7f"sv,
    "\x00"sv,
    "\xc3\xa9"sv,          // e acute, letter
    "\xcc\x81"sv,          // combining acute, not a letter
    "\xc2\xb2"sv,          // superscript two, number
    "\xd9\xa3"sv,          // Arabic-Indic three, number
    "\xc2\x85"sv,          // U+0085, white space
    "\xc2\xa0"sv,          // no-break space
    "\xe3\x80\x80"sv,      // ideographic space
    "\xe2\x80\x8a"sv,      // hair space
    "\xe4\xbd\xa0"sv,      // CJK letter
    "\xe2\x80\x9c"sv,      // left double quotation mark
    "\xf0\xa0\x80\x80"sv,  // U+20000, supplementary letter
    "\xf0\x9d\x9f\x8e"sv,  // U+1D7CE, supplementary digit
    "\xf0\x9f\x98\x80"sv,  // emoji, punctuation
    "\x80"sv,
    "\xaa"sv,
    "\xbf"sv,
    "\xff"sv,
    "\xf8"sv,
    "\xc0"sv,
    "\xe2\x80"sv,
    "\xf0\x9f\x98"sv,
    // lenient decoding: continuation bytes not checked
    "\xc0\x0a"sv,
    "\xc0\x8a"sv,
    "\xe2\x80\x0a"sv,
    "\xc3\x41"sv,
};

std::string random_text(std::mt19937_64& rng, size_t max_len) {
    return pretok_test::random_text(rng, FRAGMENTS, std::size(FRAGMENTS), rng() % (max_len + 1));
}

}  // namespace

TEST(contractions) {
    expect_pieces("'s", {"'s"});
    expect_pieces("'Ll", {"'Ll"});
    expect_pieces("'LL'rE'Ve'D'M'T", {"'LL", "'rE", "'Ve", "'D", "'M", "'T"});
    expect_pieces("'xy", {"'xy"});
    expect_pieces("'sup", {"'s", "up"});
    expect_pieces("'l", {"'l"});  // too short for 'll: a letter run with its prefix
    expect_pieces("a'", {"a", "'"});
    expect_pieces("'", {"'"});
    expect_pieces("'\n\nb", {"'\n\n", "b"});
    expect_pieces("x '7", {"x", " '", "7"});
}

TEST(letters_and_prefixes) {
    expect_pieces("Hello world", {"Hello", " world"});
    expect_pieces("  word", {" ", " word"});
    expect_pieces("\tword", {"\tword"});
    expect_pieces("\nword", {"\n", "word"});
    expect_pieces("\r\nword", {"\r\n", "word"});
    expect_pieces("(word)", {"(word", ")"});
    expect_pieces("\xc2\xa0word", {"\xc2\xa0word"});  // no-break space as prefix
    expect_pieces(
        "a\xe3\x80\x80\xe3\x80\x80"
        "b",
        {"a", "\xe3\x80\x80",
         "\xe3\x80\x80"
         "b"});
    expect_pieces("caf\xc3\xa9 na\xc3\xafve", {"caf\xc3\xa9", " na\xc3\xafve"});
    expect_pieces(
        "abcdefghijklmnopqrstuvwxyz\xc3\xa9"
        "ABC",
        {"abcdefghijklmnopqrstuvwxyz\xc3\xa9"
         "ABC"});
    expect_pieces("\xe4\xbd\xa0\xe5\xa5\xbd \xe4\xb8\x96\xe7\x95\x8c",
                  {"\xe4\xbd\xa0\xe5\xa5\xbd", " \xe4\xb8\x96\xe7\x95\x8c"});
    expect_pieces(" \xf0\xa0\x80\x80\xf0\xa0\x80\x81", {" \xf0\xa0\x80\x80\xf0\xa0\x80\x81"});
    // A combining mark is no letter: it ends a run, and prefixes the letters after it.
    expect_pieces("e\xcc\x81x", {"e", "\xcc\x81x"});
    expect_pieces("e\xcc\x81!", {"e", "\xcc\x81!"});
    expect_pieces("e\xcc\x81", {"e", "\xcc\x81"});
}

TEST(numbers) {
    expect_pieces("12345", {"123", "45"});
    expect_pieces("a 12", {"a", " ", "12"});
    expect_pieces("a  1", {"a", " ", " ", "1"});
    expect_pieces(
        "12\xc2\xb2"
        "3",
        {"12\xc2\xb2", "3"});  // superscript two counts
    expect_pieces("\xd9\xa1\xd9\xa2\xd9\xa3\xd9\xa4", {"\xd9\xa1\xd9\xa2\xd9\xa3", "\xd9\xa4"});
    expect_pieces(
        "\xf0\x9d\x9f\x8e\xf0\x9d\x9f\x8f"
        "12",
        {"\xf0\x9d\x9f\x8e\xf0\x9d\x9f\x8f"
         "1",
         "2"});
    expect_pieces("7\xcc\x81", {"7", "\xcc\x81"});
    expect_pieces("12\xe4\xbd\xa0", {"12", "\xe4\xbd\xa0"});
}

TEST(punctuation) {
    expect_pieces("!!\n\nword", {"!!\n\n", "word"});
    expect_pieces("\t!", {"\t", "!"});
    expect_pieces("a !", {"a", " !"});
    expect_pieces("a\xc2\xa0!", {"a", "\xc2\xa0", "!"});  // only the ASCII space joins
    expect_pieces("...\r\n\r\n  x", {"...\r\n\r\n", " ", " x"});
    expect_pieces("!\xe2\x80\x9c\xf0\x9f\x98\x80?x", {"!\xe2\x80\x9c\xf0\x9f\x98\x80?", "x"});
    expect_pieces("a\xf0\x9f\x98\x80!", {"a", "\xf0\x9f\x98\x80!"});
    expect_pieces("!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n", {"!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n"});
    expect_pieces("!\x85", {"!", "\x85"});  // stray byte: U+0085 is white space
}

TEST(white_space) {
    expect_pieces("   \n  word", {"   \n", " ", " word"});
    expect_pieces("a \n\n ", {"a", " \n\n "});
    expect_pieces("a\r\nb", {"a", "\r\n", "b"});
    expect_pieces(" ", {" "});
    expect_pieces("a\n \t7", {"a", "\n", " ", "\t", "7"});
    expect_pieces(
        "a\xc2\x85\xc2\x85"
        "b",
        {"a", "\xc2\x85",
         "\xc2\x85"
         "b"});  // U+0085 is no newline
    expect_pieces("a \xe3\x80\x80\n\xe3\x80\x80 b", {"a", " \xe3\x80\x80\n", "\xe3\x80\x80", " b"});
    expect_pieces("                    \n                    x",
                  {"                    \n", "                   ", " x"});
}

TEST(lenient_decoding) {
    expect_pieces("", {});
    expect_pieces(
        "a\xaa"
        "b",
        {"a\xaa"
         "b"});                                       // stray 0xAA is U+00AA, a letter
    expect_pieces("ab\xe4\xb8", {"ab\xe4", "\xb8"});  // truncated: two one-byte characters
    expect_pieces(
        "\xc3"
        "A!",
        {"\xc3"
         "A",
         "!"});                                                     // C3 41 reads as U+00C1
    expect_pieces("\xf0\x80\x80\xa0!", {"\xf0\x80\x80\xa0", "!"});  // overlong space is no ASCII space
    expect_pieces("\xc0\xa7s", {"\xc0\xa7s"});                      // overlong apostrophe: no contraction
    expect_pieces("x \xc0\x0ay", {"x", " \xc0\x0a", "y"});          // a newline byte ends the run's piece
    expect_pieces("x \xc0\x8ay", {"x", " ", "\xc0\x8ay"});          // C0 8A is U+000A without the byte
    expect_pieces("x \xe2\x80\x0a\xe2\x80\x8ay", {"x", " \xe2\x80\x0a", "\xe2\x80\x8ay"});
    expect_pieces("\xc0\x0ay", {"\xc0\x0ay"});  // but the character is no newline
}

TEST(fast_paths_agree_with_character_rules) {
    std::mt19937_64 rng(20240611);
    pretok_test::check_fast_path_agrees<Cl100kRules>(tokenizer().uclass, 30000,
                                                     [&](int i) { return random_text(rng, i % 8 == 0 ? 300 : 64); });
}

TEST(encode_loop_encodes_each_piece_in_order) {
    std::mt19937_64 rng(7);
    pretok_test::check_encode_loop<Cl100kRules>(tokenizer(), tokenizer().uclass, encode_core_cl100k, 2000,
                                                [&](int) { return random_text(rng, 120); });
}

TEST_MAIN()
