// The piece encoder: byte-pair encoding of one pre-token by longest-prefix walk, pair-validity test
// and backtracking.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/vocab.h"

namespace lexaro {

// ---- the memo of pair verdicts: direct-mapped, exact tags, relaxed atomics ----

struct MemoProbe {
    uint32_t slot;
    uint32_t tag;
};

inline MemoProbe memo_probe_narrow(uint32_t a, uint32_t b) {
    uint64_t x = uint64_t(b) | uint64_t(a) << 17;
    x ^= x >> 17;
    uint64_t l = (x * 0x17F4A7C15ull) & ((uint64_t(1) << 34) - 1);
    l ^= l >> 17;
    return {uint32_t(l >> 14), uint32_t(((l << 1) | 0x8000) & 0xFFFF)};
}

inline MemoProbe memo_probe_wide(uint32_t a, uint32_t b) {
    uint64_t x = uint64_t(b) | uint64_t(a) << 18;
    x ^= x >> 18;
    uint64_t l = (x * 0x97F4A7C15ull) & ((uint64_t(1) << 36) - 1);
    l ^= l >> 18;
    return {uint32_t(l >> 15), 0x80000000u | uint32_t((l << 1) & 0xFFFF)};
}

// The unmemoised test: may token a be directly followed by token b?
bool is_valid_pair(const Vocab& v, uint32_t a, uint32_t b);

inline MemoProbe memo_probe(const Vocab& v, uint32_t a, uint32_t b) {
    return v.wide_ids ? memo_probe_wide(a, b) : memo_probe_narrow(a, b);
}

// The memo slot and tag of (a, b), its line prefetched for a test that comes later.
[[gnu::always_inline]] inline MemoProbe fetch_pair_memo(const Vocab& v, uint32_t a, uint32_t b) {
    const MemoProbe m = memo_probe(v, a, b);
    if (!v.wide_ids)
        __builtin_prefetch(v.pair_memo16.data() + m.slot);
    else
        __builtin_prefetch(v.pair_memo32.data() + m.slot);
    return m;
}

// The memoised test, with the memo slot and tag of (a, b) already found by memo_probe.
inline bool valid_pair_at(const Vocab& v, uint32_t a, uint32_t b, MemoProbe p) {
    if (!v.wide_ids) {
        std::atomic_ref<uint16_t> slot(v.pair_memo16.data()[p.slot]);
        const uint32_t e = slot.load(std::memory_order_relaxed);
        if ((e & ~1u) == p.tag) return e & 1;
        const bool ok = is_valid_pair(v, a, b);
        slot.store(uint16_t(p.tag | ok), std::memory_order_relaxed);
        return ok;
    }
    std::atomic_ref<uint32_t> slot(v.pair_memo32.data()[p.slot]);
    const uint32_t e = slot.load(std::memory_order_relaxed);
    if ((e & ~1u) == p.tag) return e & 1;
    const bool ok = is_valid_pair(v, a, b);
    slot.store(p.tag | ok, std::memory_order_relaxed);
    return ok;
}

inline bool valid_pair(const Vocab& v, uint32_t a, uint32_t b) { return valid_pair_at(v, a, b, memo_probe(v, a, b)); }

// Longest token that is a prefix of p[0..len); NONE for empty input.
uint32_t nm_mb(const Vocab& v, const uint8_t* p, size_t len);

// The same token by the plain walk (no three-byte tables, no edge1 continuation bits).
uint32_t first_token(const Vocab& v, const uint8_t* p, size_t len);

// Appends the ids of one piece. `first` must be first_token / nm_mb of the piece.
void encode_mb(const Vocab& v, const uint8_t* p, size_t len, std::vector<uint32_t>& out);
void encode_with_first(const Vocab& v, const uint8_t* p, size_t len, uint32_t first, std::vector<uint32_t>& out);

// The search of encode_mb from where its greedy pass stopped: out[start..] holds the greedy tokens of
// p[0, pos), and `cand`, the longest token at pos, failed the pair test after the last of them.
void encode_resume(const Vocab& v, const uint8_t* p, size_t len, size_t pos, uint32_t cand, std::vector<uint32_t>& out,
                   size_t start);

}  // namespace lexaro
