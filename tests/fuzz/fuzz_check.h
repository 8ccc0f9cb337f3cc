// Invariants shared by the fuzz targets. A broken invariant aborts, which libFuzzer reports as a crash
// together with the input that broke it.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/pcache.h"
#include "core/pretok_cut.h"
#include "core/pretok_driver.h"
#include "core/pretok_o200k.h"
#include "core/tokenizer.h"

#define FUZZ_CHECK(cond)                                                                      \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

namespace fuzz {

using Pieces = std::vector<std::pair<uint32_t, uint32_t>>;

// The pieces cover the text in order, each non-empty: every step of the cutting loop advanced.
inline void check_tiling(const Pieces& pieces, size_t len) {
    size_t at = 0;
    for (const auto& [start, n] : pieces) {
        FUZZ_CHECK(start == at && n > 0);
        at += n;
    }
    FUZZ_CHECK(at == len);
}

// Both pre-tokenizer loops of the tokenizer's family advance on `text`; where the table lets the fast
// paths run, they cut exactly as the per-character rules do.
inline void check_cutting(const lexaro::Tokenizer& tok, std::string_view text) {
    const Pieces slow = tok.is_o200k ? lexaro::list_pieces<lexaro::O200kRules>(tok.uclass_o, text, false)
                                     : lexaro::list_pieces<lexaro::Cl100kRules>(tok.uclass, text, false);
    check_tiling(slow, text.size());
    if (tok.is_o200k ? tok.uclass_o.ascii_as_assumed : tok.uclass.ascii_as_assumed) {
        const Pieces fast = tok.is_o200k ? lexaro::list_pieces<lexaro::O200kRules>(tok.uclass_o, text, true)
                                         : lexaro::list_pieces<lexaro::Cl100kRules>(tok.uclass, text, true);
        FUZZ_CHECK(fast == slow);
    }
}

// The ordinary ids of `text` with a disabled pre-token cache.
inline std::vector<uint32_t> encode_uncached(const lexaro::Tokenizer& tok, std::string_view text) {
    std::vector<uint32_t> out;
    lexaro::PretokenCache off;
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    if (tok.is_o200k)
        lexaro::encode_core_o200k(tok.vocab, tok.uclass_o, p, text.size(), out, off);
    else
        lexaro::encode_core_cl100k(tok.vocab, tok.uclass, p, text.size(), out, off);
    return out;
}

// encode -> decode gives the bytes back (when every byte is a token), the cache changes nothing,
// counts agree, and truncation keeps a prefix of the ids and of the text.
inline void check_encoding(const lexaro::Tokenizer& tok, std::string_view text, uint64_t max_tokens) {
    check_cutting(tok, text);
    const std::vector<uint32_t> ids = tok.encode(text);
    FUZZ_CHECK(ids == encode_uncached(tok, text));
    FUZZ_CHECK(ids == tok.encode(text));  // now with a warm cache
    for (const uint32_t id : ids) FUZZ_CHECK(id < tok.vocab.n_tokens);
    if (tok.vocab.all_bytes) FUZZ_CHECK(tok.decode(ids) == text);
    const std::string_view texts[] = {text, text};
    const std::vector<uint64_t> counts = tok.count_batch(texts, 2, false);
    FUZZ_CHECK(counts.size() == 2 && counts[0] == ids.size() && counts[1] == ids.size());
    const lexaro::Truncation cut = tok.truncate(text, max_tokens);
    FUZZ_CHECK(cut.total_tokens == ids.size() && cut.byte_len <= text.size());
    FUZZ_CHECK(cut.kept_tokens <= max_tokens && cut.kept_tokens <= ids.size());
    uint64_t kept_bytes = 0;
    for (uint64_t i = 0; i < cut.kept_tokens; ++i) kept_bytes += tok.vocab.token_len[ids[i]];
    FUZZ_CHECK(kept_bytes <= cut.byte_len);
    if (ids.size() <= max_tokens) FUZZ_CHECK(cut.byte_len == text.size() && cut.kept_tokens == ids.size());
    // with specials: every special string becomes its id, and the ids still decode to the text where
    // each special id stands for its string alone
    const std::vector<uint32_t> with_special = tok.encode_with_special(text);
    bool distinct_ids = true;
    for (size_t i = 0; i < tok.specials.size(); ++i) {
        distinct_ids &= tok.specials[i].id >= tok.vocab.n_tokens;
        for (size_t j = 0; j < i; ++j) distinct_ids &= tok.specials[i].id != tok.specials[j].id;
    }
    if (tok.vocab.all_bytes && distinct_ids) FUZZ_CHECK(tok.decode(with_special) == text);
}

}  // namespace fuzz
