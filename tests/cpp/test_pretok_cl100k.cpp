// The cl100k pre-tokenizer: cutting rules on their edge cases, fast paths against the
// per-character rules on random texts, and the encode loop against piece-by-piece encoding.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "core/mb.h"
#include "core/pcache.h"
#include "core/pretok.h"
#include "core/tokenizer.h"

using namespace lexaro;

namespace {

const Tokenizer& cl100k() {
    static const Expected<Tokenizer> tok = Tokenizer::create("cl100k_base");
    return tok.value();
}

std::vector<std::string> cut(std::string_view text, bool fast) {
    std::vector<std::string> out;
    for (auto [start, len] : pretokenize_cl100k(cl100k().uclass, text, fast)) out.emplace_back(text.substr(start, len));
    return out;
}

// Pieces as one printable string: [piece][piece]..., bytes outside ASCII graphics escaped.
std::string join(const std::vector<std::string>& pieces) {
    std::string s;
    for (const std::string& p : pieces) {
        s += '[';
        for (unsigned char c : p) {
            char shown[8] = {char(c)};
            if (c < 0x20 || c >= 0x7F) std::snprintf(shown, sizeof shown, "\\x%02x", c);
            s += shown;
        }
        s += ']';
    }
    return s;
}

void expect_same(const std::string& got, const std::string& want, const char* mode) {
    if (got != want) std::printf("  %s: %s, expected %s\n", mode, got.c_str(), want.c_str());
    CHECK(got == want);
}

// Both the fast paths and the per-character rules must give exactly `expected`.
void expect_pieces(std::string_view text, const std::vector<std::string>& expected) {
    expect_same(join(cut(text, true)), join(expected), "fast");
    expect_same(join(cut(text, false)), join(expected), "general");
}

bool tiles(std::string_view text, const std::vector<std::pair<uint32_t, uint32_t>>& pieces) {
    size_t at = 0;
    for (auto [start, len] : pieces) {
        if (start != at || len == 0) return false;
        at += len;
    }
    return at == text.size();
}

// Random texts built from fragments that stress every rule and every block boundary.
std::string random_text(std::mt19937_64& rng, size_t max_len) {
    static const char* const FRAGMENTS[] = {
        "a", "Z", "q", "7", "0", " ", "  ", "\t", "\n", "\r", "\r\n", "\x0b", "\x0c", "'", "'s", "'T", "'ll",
        "'Re", "'vE", "'d", "!", ".", ",", "\"", "(", "-", "/", "\x1c", "\x7f", "\x00",
        "\xc3\xa9",          // e acute, letter
        "\xcc\x81",          // combining acute, not a letter
        "\xc2\xb2",          // superscript two, number
        "\xd9\xa3",          // Arabic-Indic three, number
        "\xc2\x85",          // U+0085, white space
        "\xc2\xa0",          // no-break space
        "\xe3\x80\x80",      // ideographic space
        "\xe2\x80\x8a",      // hair space
        "\xe4\xbd\xa0",      // CJK letter
        "\xe2\x80\x9c",      // left double quotation mark
        "\xf0\xa0\x80\x80",  // U+20000, supplementary letter
        "\xf0\x9d\x9f\x8e",  // U+1D7CE, supplementary digit
        "\xf0\x9f\x98\x80",  // emoji, punctuation
        "\x80", "\xaa", "\xbf", "\xff", "\xf8", "\xc0", "\xe2\x80", "\xf0\x9f\x98",
        "\xc0\x0a", "\xc0\x8a", "\xe2\x80\x0a", "\xc3\x41",  // lenient decoding: continuation bytes not checked
    };
    constexpr size_t N = sizeof(FRAGMENTS) / sizeof(FRAGMENTS[0]);
    const size_t target = rng() % (max_len + 1);
    std::string s;
    while (s.size() < target) {
        const char* f = FRAGMENTS[rng() % N];
        const size_t flen = f[0] == 0 ? 1 : std::char_traits<char>::length(f);
        const size_t repeat = rng() % 4 == 0 ? 1 + rng() % 24 : 1;  // long runs cross 16-byte blocks
        for (size_t i = 0; i < repeat; ++i) s.append(f, flen);
    }
    s.resize(target);  // may leave a truncated sequence at the end
    return s;
}

}  // namespace

TEST(contractions) {
    expect_pieces("'s", {"'s"});
    expect_pieces("'Ll", {"'Ll"});
    expect_pieces("'LL'rE'Ve'D'M'T", {"'LL", "'rE", "'Ve", "'D", "'M", "'T"});
    expect_pieces("'xy", {"'xy"});
    expect_pieces("'sup", {"'s", "up"});
    expect_pieces("'l", {"'l"});     // too short for 'll: a letter run with its prefix
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
    expect_pieces("\xc2\xa0word", {"\xc2\xa0word"});                       // no-break space as prefix
    expect_pieces("a\xe3\x80\x80\xe3\x80\x80" "b", {"a", "\xe3\x80\x80", "\xe3\x80\x80" "b"});
    expect_pieces("caf\xc3\xa9 na\xc3\xafve", {"caf\xc3\xa9", " na\xc3\xafve"});
    expect_pieces("abcdefghijklmnopqrstuvwxyz\xc3\xa9" "ABC", {"abcdefghijklmnopqrstuvwxyz\xc3\xa9" "ABC"});
    expect_pieces("\xe4\xbd\xa0\xe5\xa5\xbd \xe4\xb8\x96\xe7\x95\x8c", {"\xe4\xbd\xa0\xe5\xa5\xbd", " \xe4\xb8\x96\xe7\x95\x8c"});
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
    expect_pieces("12\xc2\xb2" "3", {"12\xc2\xb2", "3"});                   // superscript two counts
    expect_pieces("\xd9\xa1\xd9\xa2\xd9\xa3\xd9\xa4", {"\xd9\xa1\xd9\xa2\xd9\xa3", "\xd9\xa4"});
    expect_pieces("\xf0\x9d\x9f\x8e\xf0\x9d\x9f\x8f" "12", {"\xf0\x9d\x9f\x8e\xf0\x9d\x9f\x8f" "1", "2"});
    expect_pieces("7\xcc\x81", {"7", "\xcc\x81"});
    expect_pieces("12\xe4\xbd\xa0", {"12", "\xe4\xbd\xa0"});
}

TEST(punctuation) {
    expect_pieces("!!\n\nword", {"!!\n\n", "word"});
    expect_pieces("\t!", {"\t", "!"});
    expect_pieces("a !", {"a", " !"});
    expect_pieces("a\xc2\xa0!", {"a", "\xc2\xa0", "!"});                  // only the ASCII space joins
    expect_pieces("...\r\n\r\n  x", {"...\r\n\r\n", " ", " x"});
    expect_pieces("!\xe2\x80\x9c\xf0\x9f\x98\x80?x", {"!\xe2\x80\x9c\xf0\x9f\x98\x80?", "x"});
    expect_pieces("a\xf0\x9f\x98\x80!", {"a", "\xf0\x9f\x98\x80!"});
    expect_pieces("!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n", {"!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n"});
    expect_pieces("!\x85", {"!", "\x85"});                                  // stray byte: U+0085 is white space
}

TEST(white_space) {
    expect_pieces("   \n  word", {"   \n", " ", " word"});
    expect_pieces("a \n\n ", {"a", " \n\n "});
    expect_pieces("a\r\nb", {"a", "\r\n", "b"});
    expect_pieces(" ", {" "});
    expect_pieces("a\n \t7", {"a", "\n", " ", "\t", "7"});
    expect_pieces("a\xc2\x85\xc2\x85" "b", {"a", "\xc2\x85", "\xc2\x85" "b"});   // U+0085 is no newline
    expect_pieces("a \xe3\x80\x80\n\xe3\x80\x80 b", {"a", " \xe3\x80\x80\n", "\xe3\x80\x80", " b"});
    expect_pieces("                    \n                    x",
                  {"                    \n", "                   ", " x"});
}

TEST(lenient_decoding) {
    expect_pieces("", {});
    expect_pieces("a\xaa" "b", {"a\xaa" "b"});                            // stray 0xAA is U+00AA, a letter
    expect_pieces("ab\xe4\xb8", {"ab\xe4", "\xb8"});                      // truncated: two one-byte characters
    expect_pieces("\xc3" "A!", {"\xc3" "A", "!"});                        // C3 41 reads as U+00C1
    expect_pieces("\xf0\x80\x80\xa0!", {"\xf0\x80\x80\xa0", "!"});        // overlong space is no ASCII space
    expect_pieces("\xc0\xa7s", {"\xc0\xa7s"});                            // overlong apostrophe: no contraction
    expect_pieces("x \xc0\x0ay", {"x", " \xc0\x0a", "y"});                // a newline byte ends the run's piece
    expect_pieces("x \xc0\x8ay", {"x", " ", "\xc0\x8ay"});                // C0 8A is U+000A without the byte
    expect_pieces("x \xe2\x80\x0a\xe2\x80\x8ay", {"x", " \xe2\x80\x0a", "\xe2\x80\x8ay"});
    expect_pieces("\xc0\x0ay", {"\xc0\x0ay"});                            // but the character is no newline
}

TEST(fast_paths_agree_with_character_rules) {
    std::mt19937_64 rng(20240611);
    size_t differing = 0, broken = 0;
    for (int i = 0; i < 30000; ++i) {
        const std::string s = random_text(rng, i % 8 == 0 ? 300 : 64);
        const std::vector<char> exact(s.begin(), s.end());  // no slack after the end: over-reads show under ASan
        const std::string_view text(exact.data(), exact.size());
        const auto fast = pretokenize_cl100k(cl100k().uclass, text, true);
        const auto slow = pretokenize_cl100k(cl100k().uclass, text, false);
        if (!tiles(text, fast) || !tiles(text, slow)) ++broken;
        if (fast != slow && ++differing <= 3) expect_same(join(cut(text, true)), join(cut(text, false)), "fast vs general");
    }
    CHECK_EQ(differing, size_t(0));
    CHECK_EQ(broken, size_t(0));
}

TEST(encode_loop_encodes_each_piece_in_order) {
    const Tokenizer& tok = cl100k();
    std::mt19937_64 rng(7);
    PretokenCache cache(tok.tokenizer_id, 1024);
    PretokenCache disabled;
    size_t wrong = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string text = random_text(rng, 120);
        const auto* p = reinterpret_cast<const uint8_t*>(text.data());
        std::vector<uint32_t> expected{42};  // ids already present stay untouched
        for (auto [start, len] : pretokenize_cl100k(tok.uclass, text, false)) encode_mb(tok.vocab, p + start, len, expected);
        std::vector<uint32_t> cached{42}, direct{42};
        encode_core_cl100k(tok.vocab, tok.uclass, p, text.size(), cached, cache);
        encode_core_cl100k(tok.vocab, tok.uclass, p, text.size(), direct, disabled);
        wrong += cached != expected;
        wrong += direct != expected;
    }
    CHECK_EQ(wrong, size_t(0));
    std::vector<uint32_t> out{1, 2};
    encode_core_cl100k(tok.vocab, tok.uclass, nullptr, 0, out, cache);
    CHECK(out == (std::vector<uint32_t>{1, 2}));
}

TEST_MAIN()
