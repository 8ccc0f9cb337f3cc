// What the tests of every pre-tokenizer family share: cutting a text both ways, showing pieces, checking
// that they tile the text, random texts from a family's fragments, and the encode loop against
// piece-by-piece encoding. A family's test gives its classes, its fragments and its edge cases.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.h"
#include "core/builtin_data.h"
#include "core/mb.h"
#include "core/pcache.h"
#include "core/pretok_driver.h"
#include "core/tokenizer.h"

namespace pretok_test {

// The built-in class tables of the two families, read once.
inline const lexaro::UClass& cl100k_classes() {
    static const lexaro::UClass u = *lexaro::UClass::from_bytes(lexaro::builtin::uniclass(), "uniclass.bin");
    return u;
}

inline const lexaro::UClassO& o200k_classes() {
    static const lexaro::UClassO u =
        *lexaro::UClassO::from_bytes(lexaro::builtin::uniclass_o200k(), "uniclass_o200k.bin");
    return u;
}

using Pieces = std::vector<std::pair<uint32_t, uint32_t>>;

template <class Rules>
std::vector<std::string> cut(const typename Rules::Classes& u, std::string_view text, bool fast) {
    std::vector<std::string> out;
    for (auto [start, len] : lexaro::list_pieces<Rules>(u, text, fast)) out.emplace_back(text.substr(start, len));
    return out;
}

// Pieces as one printable string: [piece][piece]..., bytes outside ASCII graphics escaped.
inline std::string join(const std::vector<std::string>& pieces) {
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

// Both the fast path and the per-character rules must give exactly `want`.
template <class Rules>
void expect_pieces(const typename Rules::Classes& u, std::string_view text, const std::vector<std::string>& want) {
    for (bool fast : {true, false}) {
        const std::string got = join(cut<Rules>(u, text, fast));
        if (got != join(want))
            std::printf("  %s path: %s, expected %s\n", fast ? "fast" : "general", got.c_str(), join(want).c_str());
        CHECK(got == join(want));
    }
}

inline bool tiles(const Pieces& pieces, size_t len) {
    size_t at = 0;
    for (auto [start, n] : pieces) {
        if (start != at || n == 0) return false;
        at += n;
    }
    return at == len;
}

// A random text of `target` bytes from `fragments`, mostly from the first `common` of them; a fragment
// is often repeated, so that long runs cross 16-byte blocks. The end may cut a sequence short.
inline std::string random_text(std::mt19937_64& rng, std::span<const std::string_view> fragments, size_t common,
                               size_t target) {
    std::string s;
    while (s.size() < target) {
        const std::string_view f = fragments[rng() % 4 ? rng() % common : rng() % fragments.size()];
        const size_t repeat = rng() % 4 == 0 ? 1 + rng() % 24 : 1;
        for (size_t i = 0; i < repeat; ++i) s += f;
    }
    s.resize(target);
    return s;
}

// The fast path cuts `count` random texts exactly as the per-character rules do, and both tile them.
// Each text is cut from an exact-size copy, so that a sanitizer sees any read past its end.
template <class Rules, class MakeText>
void check_fast_path_agrees(const typename Rules::Classes& u, int count, MakeText make_text) {
    size_t differing = 0, broken = 0;
    for (int i = 0; i < count; ++i) {
        const std::string s = make_text(i);
        const std::unique_ptr<char[]> exact(new char[s.size()]);
        std::copy(s.begin(), s.end(), exact.get());
        const std::string_view text(exact.get(), s.size());
        const Pieces fast = lexaro::list_pieces<Rules>(u, text, true);
        const Pieces general = lexaro::list_pieces<Rules>(u, text, false);
        if (!tiles(fast, text.size()) || !tiles(general, text.size())) ++broken;
        if (fast != general && ++differing <= 3)
            std::printf("  fast %s, general %s\n", join(cut<Rules>(u, text, true)).c_str(),
                        join(cut<Rules>(u, text, false)).c_str());
    }
    CHECK_EQ(differing, size_t(0));
    CHECK_EQ(broken, size_t(0));
}

// The family's encode loop gives the ids of its pieces encoded one by one, in order, after the ids already
// in the output, with a pre-token cache and without one; those ids spell the text again.
template <class Rules, class Encode, class MakeText>
void check_encode_loop(const lexaro::Tokenizer& tok, const typename Rules::Classes& u, Encode encode, int count,
                       MakeText make_text) {
    lexaro::PretokenCache cache(tok.tokenizer_id, uint64_t(1) << 15);
    lexaro::PretokenCache disabled;
    size_t wrong = 0;
    for (int i = 0; i < count; ++i) {
        const std::string text = make_text(i);
        const auto* p = reinterpret_cast<const uint8_t*>(text.data());
        std::vector<uint32_t> expected{42};  // ids already present stay untouched
        for (auto [start, len] : lexaro::list_pieces<Rules>(u, text, false))
            lexaro::encode_mb(tok.vocab, p + start, len, expected);
        std::vector<uint32_t> cached{42}, direct{42};
        encode(tok.vocab, u, p, text.size(), cached, cache);
        encode(tok.vocab, u, p, text.size(), direct, disabled);
        wrong += cached != expected;
        wrong += direct != expected;
        std::string back;
        for (size_t k = 1; k < direct.size(); ++k) back += tok.vocab.token(direct[k]);
        wrong += back != text;
    }
    CHECK_EQ(wrong, size_t(0));
    std::vector<uint32_t> out{1, 2};
    encode(tok.vocab, u, nullptr, 0, out, cache);
    CHECK(out == (std::vector<uint32_t>{1, 2}));
}

}  // namespace pretok_test
