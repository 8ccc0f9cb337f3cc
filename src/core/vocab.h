// Vocab: the ordinary tokens of one encoding and every lookup table that encoding and decoding need.
#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "core/expected.h"
#include "core/le.h"
#include "core/pages.h"

namespace lexaro {

inline constexpr uint32_t NONE = 0xFFFFFFFFu;
inline constexpr uint32_t MAX_TOKENS = 262144;  // the file format's limit on N
// The longest file with at most MAX_TOKENS - 1 records of the longest token: a longer one is refused.
inline constexpr uint64_t MAX_VOCAB_FILE_BYTES = 4 + uint64_t(MAX_TOKENS - 1) * (2 + 255 + 4);
inline constexpr uint32_t MAX_NODES = 0xFFFFF;  // node ids are packed into 20 bits
inline constexpr uint32_t NO_BEST = 0x3FFFF;    // "no token" in the 18-bit id field of edge2
inline constexpr uint64_t K_MUL = 0x9E3779B97F4A7C15ull;

// A zero-filled array of fresh pages from the system (see map_zeroed): the cost of zeroing is paid
// page by page on first use instead of up front.
template <class T>
class ZeroedArray {
public:
    ZeroedArray() = default;
    explicit ZeroedArray(size_t n);
    ZeroedArray(ZeroedArray&& o) noexcept : p_(o.p_), n_(o.n_) { o.p_ = nullptr, o.n_ = 0; }
    ZeroedArray& operator=(ZeroedArray&& o) noexcept {
        std::swap(p_, o.p_);
        std::swap(n_, o.n_);
        return *this;
    }
    ~ZeroedArray();
    size_t size() const { return n_; }
    bool empty() const { return n_ == 0; }
    T* data() const { return p_; }
    void fault_in();  // takes every page from the system now (they stay zero)
    const T* begin() const { return p_; }
    const T* end() const { return p_ + n_; }

private:
    T* p_ = nullptr;
    size_t n_ = 0;
};

// How a token was merged: left and right are the ids of its two parts (the token itself when it is not
// a merge), in the low 18 bits of each word. The high 14 bits of each word filter the merges the token
// takes part in: bit merge_bit_r(y) of the left word is set for every y with a merge (token, y), bit
// merge_bit_l(x) of the right word for every x with a merge (x, token). A pair (a, b) whose bits are not
// both set has no merge, and the pair test skips its lookup in pair_merge.
struct Split {
    uint32_t left;
    uint32_t right;
};
inline constexpr uint32_t SPLIT_ID_MASK = (uint32_t(1) << 18) - 1;
inline uint32_t split_left(Split s) { return s.left & SPLIT_ID_MASK; }
inline uint32_t split_right(Split s) { return s.right & SPLIT_ID_MASK; }
inline uint32_t merge_bit_r(uint32_t y) { return uint32_t((uint64_t(y * 0x9E3779B1u) * 14) >> 32) + 18; }
inline uint32_t merge_bit_l(uint32_t x) { return uint32_t((uint64_t(x * 0x85EBCA6Bu) * 14) >> 32) + 18; }
// False only if there is no merge (a, b); sa and sb are the split entries of a and b.
inline bool may_merge(Split sa, Split sb, uint32_t a, uint32_t b) {
    return (sa.left >> merge_bit_r(b)) & (sb.right >> merge_bit_l(a)) & 1;
}

// Open-addressed map from token bytes to id; keys are views into Vocab::token_bytes.
struct TokenIds {
    Table<uint32_t> slots;  // NONE = empty, else the id whose bytes are the key
    uint64_t mask = 0;
    uint32_t entries = 0;
    uint64_t key_bytes = 0;  // sum of the key lengths of all entries
};

struct Vocab {
    std::vector<uint8_t> token_bytes;
    std::vector<uint32_t> token_offsets;
    std::vector<uint8_t> token_len;
    TokenIds token_ids;
    Table<uint32_t> pair2_node;
    Table<uint32_t> pair2_token;
    Table<uint32_t> node_token;
    Table<uint32_t> next_prefix;
    Table<Split> split;
    Table<uint64_t> pair_merge;
    ZeroedArray<uint16_t> pair_memo16;  // written by encoders through relaxed std::atomic_ref
    ZeroedArray<uint32_t> pair_memo32;
    Table<uint64_t> edge2;
    Table<uint64_t> edge1;
    Table<uint32_t> cp3_node;
    Table<uint32_t> cp3_token;
    std::array<uint32_t, 256> byte_node{};
    std::array<uint32_t, 256> byte_token{};  // node_token[byte_node[b]], NONE when absent
    uint32_t n_tokens = 0;
    uint32_t pair_merge_mask = 0;
    uint32_t edge2_mask = 0;
    uint32_t edge2_shift = 0;
    uint32_t edge1_mask = 0;
    bool wide_ids = false;
    bool all_bytes = false;  // every single byte is a token (true for the built-in vocabularies)

    static Expected<Vocab> from_bytes(std::span<const uint8_t> bytes, std::string_view source);

    uint32_t find_id(std::string_view bytes) const;
    std::string_view token(uint32_t t) const {
        return {reinterpret_cast<const char*>(token_bytes.data()) + token_offsets[t], token_len[t]};
    }
    uint64_t footprint() const;  // heap bytes by element counts, without class tables and specials
};

// ---- packing and hash formulas, shared by the build and the lookups ----

inline uint64_t edge1_key(uint32_t node, uint32_t byte) { return uint64_t(node) << 8 | byte; }
inline uint64_t edge1_home(uint64_t key) { return (key * K_MUL) >> 40; }
inline uint64_t edge1_entry(uint64_t key, bool has_children, uint32_t id) {
    return (key + 1) << 19 | uint64_t(has_children) << 18 | id;
}
inline bool edge1_matches(uint64_t entry, uint64_t key) { return (entry >> 19) == key + 1; }

inline uint64_t edge2_key(uint32_t node, uint32_t b0, uint32_t b1) { return uint64_t(node) << 16 | b0 << 8 | b1; }
inline uint64_t edge2_hash(uint64_t key) {
    constexpr uint64_t M36 = (uint64_t(1) << 36) - 1;
    uint64_t x = key ^ (key >> 18);
    x = (x * 0x97F4A7C15ull) & M36;
    return x ^ (x >> 18);
}
inline uint64_t edge2_tag(uint64_t h) { return uint64_t(1) << 63 | (h & 0x1FFFFFF) << 38; }
inline constexpr uint64_t EDGE2_TAG_MASK = ~((uint64_t(1) << 38) - 1);
inline uint64_t edge2_entry(uint64_t h, uint32_t child, uint32_t best) {
    return edge2_tag(h) | uint64_t(child) << 18 | (best & NO_BEST);
}
inline uint32_t edge2_child(uint64_t entry) { return uint32_t(entry >> 18) & 0xFFFFF; }
inline uint32_t edge2_best(uint64_t entry) { return uint32_t(entry) & NO_BEST; }

// Steps of whole three-byte characters, kept in the edge2 table beside the two-byte steps (the table is
// sized for those alone). A walk from a three-byte character X whose node goes on only by whole
// three-byte characters (CP3_CHARS in cp3_node) takes one probe per character: first for X and the next
// character Y together, then for the node reached and each next character. The keys have bit 35 set,
// which no two-byte key has while node ids stay below CHAR_START_NODE; a first step's node field is
// CHAR_START_NODE | X, above every node. Each entry names the node after the character (19 bits), whether
// tokens through that node also go on by other bytes (CHAR_MIXED: the walk then takes the two-byte steps
// from its start), and the token that ends there (NO_BEST if none). Built only for tries of fewer than
// CHAR_START_NODE nodes.
inline constexpr uint64_t CHAR_KEY = uint64_t(1) << 35;
inline constexpr uint32_t CHAR_START_NODE = uint32_t(7) << 16;
inline constexpr uint32_t CP3_CHARS = uint32_t(1) << 31;
inline constexpr uint32_t CP3_NODE_MASK = CP3_CHARS - 1;
inline constexpr uint64_t CHAR_MIXED = uint64_t(1) << 37;
inline uint64_t char_start_key(uint32_t cp_x, uint32_t cp_y) {
    return CHAR_KEY | uint64_t(CHAR_START_NODE | cp_x) << 16 | cp_y;
}
inline uint64_t char_step_key(uint32_t node, uint32_t cp) { return CHAR_KEY | uint64_t(node) << 16 | cp; }
inline uint32_t char_child(uint64_t entry) { return uint32_t(entry >> 18) & 0x7FFFF; }

inline uint64_t pair_key(uint32_t a, uint32_t b) { return uint64_t(a) << 18 | b; }
inline uint64_t pair_home(uint64_t key) { return (key * K_MUL) >> 40; }
inline uint64_t pair_entry(uint64_t key, uint32_t merged) { return (key + 1) << 19 | merged; }
inline constexpr uint64_t PAIR_ID_MASK = (uint64_t(1) << 19) - 1;

inline uint32_t cp3_index(uint32_t c0, uint32_t c1, uint32_t c2) {
    return (c0 & 0x0F) << 12 | (c1 & 0x3F) << 6 | (c2 & 0x3F);
}

// Whether p[0, len) starts with a three-byte form (a lead byte of 0xE0-0xEF and two continuation bytes),
// the cp3 tables' keys. One read of four bytes where the piece has them.
inline bool starts_three_byte(const uint8_t* p, size_t len) {
    if (len >= 4) return (load_u32(p) & 0xC0C0F0u) == 0x8080E0u;
    return len == 3 && (p[0] & 0xF0) == 0xE0 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80;
}

// ---- lookups ----

// The edge2 entry whose key has the edge2_hash h, or 0 on a miss.
inline uint64_t edge2_find_hashed(const Vocab& v, uint64_t h) {
    const uint64_t tag = edge2_tag(h);
    const uint64_t* table = v.edge2.data();
    for (uint64_t i = h >> v.edge2_shift;; i = (i + 1) & v.edge2_mask) {
        const uint64_t e = table[i];
        if ((e & EDGE2_TAG_MASK) == tag) return e;
        if (e == 0) return 0;
    }
}

// Child of `node` for the two bytes b0 b1: the matching edge2 entry, or 0 on a miss.
inline uint64_t edge2_find(const Vocab& v, uint32_t node, uint32_t b0, uint32_t b1) {
    return edge2_find_hashed(v, edge2_hash(edge2_key(node, b0, b1)));
}

// The edge1 entry for (node, byte), or 0 on a miss.
inline uint64_t edge1_find(const Vocab& v, uint32_t node, uint32_t byte) {
    const uint64_t key = edge1_key(node, byte);
    const uint64_t* table = v.edge1.data();
    for (uint64_t i = edge1_home(key) & v.edge1_mask;; i = (i + 1) & v.edge1_mask) {
        const uint64_t e = table[i];
        if (edge1_matches(e, key)) return e;
        if (e == 0) return 0;
    }
}

// The token made by merging a and b, or NONE.
inline uint32_t pair_merge_find(const Vocab& v, uint32_t a, uint32_t b) {
    const uint64_t key = pair_key(a, b);
    const uint64_t want = (key + 1) << 19;
    const uint64_t* table = v.pair_merge.data();
    for (uint64_t i = pair_home(key) & v.pair_merge_mask;; i = (i + 1) & v.pair_merge_mask) {
        const uint64_t e = table[i];
        if ((e & ~PAIR_ID_MASK) == want) return uint32_t(e & PAIR_ID_MASK);
        if (e == 0) return NONE;
    }
}

}  // namespace lexaro
