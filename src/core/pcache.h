// The per-thread pre-token cache: pieces to their ids, and encode_piece, the lookup of one piece (the
// pre-tokenizers do the same a few pieces at a time through PiecePipeline).
//
// One table of `slot_count` 32-byte units holds two regions. The first half is the short region: 32-byte
// slots for pieces of at most 15 bytes with at most six ids (most pieces of most text), looked up with one
// masked 16-byte load. The second half is the long region: 64-byte slots in sets of four for pieces of
// valid UTF-8 of up to 120 bytes (words of scripts with multi-byte letters, phrases of scripts written without
// spaces, and short non-ASCII pieces of more than six ids); an entry whose ids and bytes need more than one
// slot takes as many as they fill, up to the whole set, and an entry whose set is full may go to a second
// set. Each region starts small and grows fourfold within its half once a quarter full, so a short text
// makes resident only the pages its own pieces need; entries move along when a region grows.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/mb.h"
#include "core/vocab.h"

namespace lexaro {

// Up to four ids take a field each. A fifth and sixth (when every id is below 2^18) are held in the bits
// of the second to fourth fields above bit 18, which are zero otherwise, so that the common pieces read
// their fields whole.
struct alignas(32) CacheSlot {
    uint64_t key_lo;  // piece bytes 0-7
    uint64_t key_hi;  // piece bytes 8-14, length in bits 56-63
    uint64_t meta;    // n | the slot's SLOT_HINTS | id1 << 8 | id2 << 32
    uint64_t ids_hi;  // id3 | id4 << 32
};
inline constexpr size_t SHORT_MAX_IDS = 6;
inline constexpr uint32_t PACKED_ID_LIMIT = uint32_t(1) << 18;  // ids five and six, and the others with them
inline constexpr uint64_t SLOT_N_MASK = 0x3F;                   // n, in the low byte of meta
// Two bits of meta in the first slot of a home pair, which stay with the slot whatever the slot holds. Where
// they are clear, a piece that misses its home pair is not looked for further, which spares most pieces seen
// for the first time the lines they would wait for:
inline constexpr uint64_t SECOND_HINT = 0x40;  // a piece of that home was placed beyond the home pair
inline constexpr uint64_t LONG_HINT = 0x80;    // a short piece of that home lives in the long region
inline constexpr uint64_t SLOT_HINTS = SECOND_HINT | LONG_HINT;

inline constexpr size_t CACHE_MAX_PIECE = 15;  // short region
inline constexpr size_t LONG_MAX_PIECE = 120;  // long region (a multiple of 8: hashed a word at a time)
inline constexpr size_t LONG_HEADER = 8;
inline constexpr size_t LONG_SLOT_BYTES = 64;

// One slot of the long region. An entry is a header and its data: the ids, then the piece's bytes. Most
// entries fit in one slot; a longer one runs on through the next slots of its set, which then have no
// header of their own.
struct alignas(64) LongSlot {
    uint32_t check;   // high half of the piece's hash; 0 for an empty slot
    uint8_t len;      // piece length, 1 to LONG_MAX_PIECE
    uint8_t n;        // number of ids
    uint8_t more;     // slots the entry runs on into after this one, 0 to 3 (0 in an empty slot)
    uint8_t spilled;  // in the first slot of a set, header or empty: 1 once an entry of this set went to its
                      // other set (long_other_set); kept whatever the slot holds
    uint32_t data[(LONG_SLOT_BYTES - LONG_HEADER) / 4];
};
static_assert(sizeof(LongSlot) == LONG_SLOT_BYTES);

// Slots taken by the entry of a piece of `len` bytes and `n` ids: one to LONG_WAYS.
inline size_t long_span(size_t len, size_t n) {
    return (LONG_HEADER + len + 4 * n + LONG_SLOT_BYTES - 1) / LONG_SLOT_BYTES;
}
inline constexpr uint64_t LONG_WAYS = 4;
inline bool fits_long(size_t len, size_t n) {
    return len <= LONG_MAX_PIECE && LONG_HEADER + len + 4 * n <= LONG_WAYS * LONG_SLOT_BYTES;
}
// From a header or an empty slot to the next one.
inline size_t long_step(const LongSlot& s) { return 1 + s.more; }
// The entry's ids and piece, which may run on into the next slot.
inline const uint32_t* long_ids(const LongSlot& s) {
    return reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(&s) + LONG_HEADER);
}
inline const uint8_t* long_key(const LongSlot& s) {
    return reinterpret_cast<const uint8_t*>(&s) + LONG_HEADER + 4 * size_t(s.n);
}

// One region of slots: `active` of them (a power of two) in use, out of `capacity`.
template <class Slot>
struct CacheRegion {
    Slot* slots = nullptr;
    uint64_t capacity = 0;
    uint64_t active = 0;
    uint64_t shift = 64;  // 64 - log2(active)
    uint64_t filled = 0;  // occupied slots among the active ones
    uint64_t home(uint64_t h) const { return (h >> shift) & ~uint64_t(1); }
    uint64_t mask() const { return active - 1; }
};

// The long region is set-associative: sets of LONG_WAYS slots, 256 bytes, holding one to four entries.
// An entry whose set has no room goes to its other set if that one has, and only then replaces entries of
// its own set: pieces that share a full set no longer push each other out on every pass.
inline uint64_t long_set(const CacheRegion<LongSlot>& r, uint64_t h) { return (h >> r.shift) & ~(LONG_WAYS - 1); }
inline uint64_t long_other_set(const CacheRegion<LongSlot>& r, uint64_t h) {
    return (std::rotl(h, 24) >> r.shift) & ~(LONG_WAYS - 1);
}
inline uint64_t long_victim(uint64_t h) { return (h >> 8) & (LONG_WAYS - 1); }

struct PretokenCache {
    CacheSlot* slots = nullptr;  // the whole table: zero-filled anonymous pages; null when disabled
    uint64_t slot_count = 0;     // 32-byte units of the table, a power of two >= 2^15, or 0 when disabled
    uint64_t tokenizer_id = 0;
    CacheRegion<CacheSlot> short_slots;
    CacheRegion<LongSlot> long_slots;

    PretokenCache() = default;
    PretokenCache(uint64_t tokenizer_id, uint64_t slot_count);  // maps a zeroed table
    PretokenCache(PretokenCache&& o) noexcept;
    PretokenCache& operator=(PretokenCache&& o) noexcept;
    PretokenCache(const PretokenCache&) = delete;
    PretokenCache& operator=(const PretokenCache&) = delete;
    ~PretokenCache();

    bool disabled() const { return slot_count == 0; }
    uint64_t table_bytes() const { return slot_count * sizeof(CacheSlot); }
};

// Slots a region starts with: 128 KiB each, a few dozen pages.
inline constexpr uint64_t SHORT_START_SLOTS = 4096;
inline constexpr uint64_t LONG_START_SLOTS = 2048;

inline constexpr uint64_t CACHE_HASH_LO = 0x9E3779B97F4A7C15ull;
inline constexpr uint64_t CACHE_HASH_HI = 0xC2B2AE3D27D4EB4Full;

// PACK_MASK[k]: the first k bytes 0xFF, the rest 0x00.
extern const uint8_t PACK_MASK[17][16];

// GCC names its sanitizers with macros, Clang answers __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define LEXARO_CLANG_SANITIZED 1
#endif
#endif
#ifndef LEXARO_CLANG_SANITIZED
#define LEXARO_CLANG_SANITIZED 0
#endif

struct CacheKey {
    uint64_t lo;
    uint64_t hi;
};

// Key of a piece of 1..15 bytes: its bytes, zero beyond the end, and the length in the top byte.
inline CacheKey cache_key(const uint8_t* p, size_t len) {
    uint8_t buf[16];
    const uint8_t* src = p;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || LEXARO_CLANG_SANITIZED
    constexpr bool always_copy = true;  // the over-read past the piece is invisible only to the hardware
#else
    constexpr bool always_copy = false;
#endif
    if (always_copy || (reinterpret_cast<uintptr_t>(p) & 4095) > 4080) {  // a 16-byte read would cross the page end
        std::memset(buf, 0, 16);
        std::memcpy(buf, p, len);
        src = buf;
    }
    uint64_t lo, hi, mlo, mhi;
    std::memcpy(&lo, src, 8);
    std::memcpy(&hi, src + 8, 8);
    std::memcpy(&mlo, PACK_MASK[len], 8);
    std::memcpy(&mhi, PACK_MASK[len] + 8, 8);
    return {lo & mlo, (hi & mhi & 0x00FFFFFFFFFFFFFFull) | uint64_t(len) << 56};
}

inline uint64_t cache_hash(CacheKey k) { return k.lo * CACHE_HASH_LO ^ k.hi * CACHE_HASH_HI; }

// Hash of a piece of up to LONG_MAX_PIECE bytes held zero-padded in `key`.
inline uint64_t long_hash(const uint8_t* key, size_t len) {
    uint64_t h = (len + 1) * CACHE_HASH_HI;
    for (size_t i = 0; i < len; i += 8) {
        uint64_t w;
        std::memcpy(&w, key + i, 8);
        h = (h ^ w) * CACHE_HASH_LO;
        h ^= h >> 29;
    }
    return h * CACHE_HASH_HI;
}

// The rest of a slot of five or six ids, after its first three were appended as fields: clears the packed
// bits from the second and third, then appends the fourth to the last.
[[gnu::noinline]] void append_packed_slot_ids(const CacheSlot& s, std::vector<uint32_t>& out);

[[gnu::always_inline]] inline void append_slot_ids(const CacheSlot& s, std::vector<uint32_t>& out) {
    // most cached pieces are one token; push_back keeps the common case inline
    const uint32_t n = uint32_t(s.meta & SLOT_N_MASK);
    out.push_back(uint32_t(s.meta >> 8) & 0xFFFFFF);
    if (n == 1) return;
    out.push_back(uint32_t(s.meta >> 32));
    if (n == 2) return;
    out.push_back(uint32_t(s.ids_hi));
    if (n == 3) return;
    if (n > 4) return append_packed_slot_ids(s, out);
    out.push_back(uint32_t(s.ids_hi >> 32));
}

// Encodes a piece without the cache.
inline void encode_uncached(const Vocab& v, const uint8_t* p, size_t len, std::vector<uint32_t>& out) {
    if (starts_three_byte(p, len))
        encode_mb(v, p, len, out);  // the three-byte tables find its first token
    else
        encode_with_first(v, p, len, first_token(v, p, len), out);
}

// Hash of a piece of 8 to LONG_MAX_PIECE bytes read in place: the same value as long_hash of its
// zero-padded copy. The last partial word is read ending at the piece's last byte.
inline uint64_t long_hash_in_place(const uint8_t* p, size_t len) {
    uint64_t h = (len + 1) * CACHE_HASH_HI;
    size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * CACHE_HASH_LO;
        h ^= h >> 29;
    }
    if (i < len) {
        uint64_t w;
        std::memcpy(&w, p + len - 8, 8);
        w >>= 8 * (8 - (len - i));
        h = (h ^ w) * CACHE_HASH_LO;
        h ^= h >> 29;
    }
    return h * CACHE_HASH_HI;
}

// ---- the miss path in parts, for pieces encoded a batch at a time (miss_batch.h) ----

// A short piece that missed its first-level slots: the rest of the short region, then (for a piece with a
// byte of 0x80 or above) the long region. Appends its ids and returns true, or returns false.
[[gnu::noinline]] bool append_cold_cached(PretokenCache& cache, const uint8_t* p, size_t len, uint64_t h, CacheKey key,
                                          std::vector<uint32_t>& out);

// A piece of 16 to LONG_MAX_PIECE bytes: appends its ids from the long region and returns true, or false.
[[gnu::noinline]] bool append_long_cached(const PretokenCache& cache, const uint8_t* p, size_t len, uint64_t long_h,
                                          std::vector<uint32_t>& out);

// Keeps the ids of a piece just encoded (and not cached: a piece is never stored twice), where they fit.
// h is the cache_hash of a short piece (whose key is `key`) or the long_hash of a longer one.
void store_piece(PretokenCache& cache, const uint8_t* p, size_t len, uint64_t h, CacheKey key, const uint32_t* ids,
                 size_t n);

// Second-level lookup of a short piece after a first-level miss, then the long region; on a miss, encodes
// the piece and inserts it.
[[gnu::noinline]] void probe_cold(PretokenCache& cache, const Vocab& v, const uint8_t* p, size_t len,
                                  std::vector<uint32_t>& out, uint64_t h, CacheKey key);

// A piece of 16 to LONG_MAX_PIECE bytes whose long_hash is `long_h`: the long region, and on a miss
// encoding and insertion.
[[gnu::noinline]] void probe_long(PretokenCache& cache, const Vocab& v, const uint8_t* p, size_t len,
                                  std::vector<uint32_t>& out, uint64_t long_h);

// Appends the ids of one non-empty piece.
inline void encode_piece(const Vocab& v, PretokenCache& cache, const uint8_t* p, size_t len,
                         std::vector<uint32_t>& out) {
    if (len > CACHE_MAX_PIECE || cache.disabled()) {
        if (len <= LONG_MAX_PIECE && !cache.disabled())
            return probe_long(cache, v, p, len, out, long_hash_in_place(p, len));
        return encode_uncached(v, p, len, out);
    }
    const CacheKey key = cache_key(p, len);
    const uint64_t h = cache_hash(key);
    const CacheSlot* s = cache.short_slots.slots + cache.short_slots.home(h);
    if (s[0].key_lo == key.lo && s[0].key_hi == key.hi) return append_slot_ids(s[0], out);
    if (s[1].key_lo == key.lo && s[1].key_hi == key.hi) return append_slot_ids(s[1], out);
    probe_cold(cache, v, p, len, out, h, key);
}

// ---- the thread's caches ----

inline constexpr uint64_t CACHE_BUDGET = uint64_t(32) << 20;  // all slot tables together

// The calling thread's cache for one tokenizer, held for one encode call.
struct CacheLease {
    PretokenCache* cache;
    PretokenCache temporary;  // the disabled cache of a re-entrant call
    bool holds_holder;
    ~CacheLease();
};

// Finds or creates the calling thread's cache for this tokenizer (holder, then pool, then a new
// table within the budget, sized by the number of concurrent workers).
void acquire_cache(CacheLease& lease, uint64_t tokenizer_id, uint64_t workers);

// Moves the calling thread's caches to the pool (unless an encode on this thread holds them), so that
// worker threads started while this thread only waits can take them up instead of finding the budget
// spent.
void park_thread_caches();

// Bytes of all slot tables in existence (held or pooled).
uint64_t live_cache_bytes();

// For tests and diagnostics: the tokenizer ids of the calling thread's holder (in order) and of the pool.
std::vector<uint64_t> held_cache_ids();
std::vector<uint64_t> pooled_cache_ids();

}  // namespace lexaro
