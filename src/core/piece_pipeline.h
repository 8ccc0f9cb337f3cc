// Encoding the pieces of a text a few at a time. When a piece is cut, its cache key and hash are
// computed and its cache slots prefetched; the piece itself is looked up PIPE_DEPTH pieces later. The
// lookups of consecutive pieces are independent, so their memory latency overlaps instead of adding up.
// A piece the cache does not hold waits in a MissBatch with up to MISS_BATCH - 1 others, which are then
// encoded together. The ids still come out in the order of the pieces.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/miss_batch.h"
#include "core/pcache.h"

namespace lexaro {

inline constexpr size_t PIPE_DEPTH = 8;  // a power of two

// A piece cut but not yet encoded, with what its cache lookup needs.
struct PendingPiece {
    const uint8_t* p;
    size_t len;
    CacheKey key;           // pieces of up to CACHE_MAX_PIECE bytes
    uint64_t h;             // cache_hash of the key, or long_hash of a piece of 16 to LONG_MAX_PIECE bytes
    const CacheSlot* home;  // first-level slots of a short piece, as the short region was when it was cut
};

// Over a cache that is not disabled: without one, pieces are encoded as they are cut (pretok_driver.h).
struct PiecePipeline {
    const Vocab& v;
    PretokenCache& cache;
    std::vector<uint32_t>& out;
    // Copies of the regions' slot arrays and shifts, kept in registers; only resolving the misses can
    // grow a region, and they are read again after it.
    const CacheSlot* short_slots = nullptr;
    uint64_t short_shift = 64;
    const LongSlot* long_slots = nullptr;
    uint64_t long_shift = 64;
    size_t pushed = 0;
    PendingPiece* ring;  // PIPE_DEPTH entries, held apart so that the fields above can live in registers
    MissBatch* misses;

    PiecePipeline(const Vocab& vocab, PretokenCache& c, std::vector<uint32_t>& ids, PendingPiece* pending,
                  MissBatch* batch)
        : v(vocab), cache(c), out(ids), ring(pending), misses(batch) {
        short_slots = c.short_slots.slots;
        short_shift = c.short_slots.shift;
        long_slots = c.long_slots.slots;
        long_shift = c.long_slots.shift;
    }
    PiecePipeline(const PiecePipeline&) = delete;
    PiecePipeline& operator=(const PiecePipeline&) = delete;

    [[gnu::always_inline]] void push(const uint8_t* p, size_t len) {
        PendingPiece& slot = ring[pushed & (PIPE_DEPTH - 1)];
        if (pushed >= PIPE_DEPTH) encode(slot);
        prepare(slot, p, len);
        ++pushed;
    }

    // Encodes the pieces still in the ring; call once, after the last push.
    void finish() {
        for (size_t k = pushed > PIPE_DEPTH ? pushed - PIPE_DEPTH : 0; k < pushed; ++k)
            encode(ring[k & (PIPE_DEPTH - 1)]);
        pushed = 0;
        if (misses->count > 0) resolve();
    }

private:
    void resolve() {
        resolve_misses(cache, v, *misses, out);
        reread_regions();
    }

    void reread_regions() {
        long_slots = cache.long_slots.slots;
        long_shift = cache.long_slots.shift;
        if (short_shift == cache.short_slots.shift && short_slots == cache.short_slots.slots) return;
        short_slots = cache.short_slots.slots;
        short_shift = cache.short_slots.shift;
        // The short region has grown: the pieces waiting in the ring find their slots anew.
        for (size_t k = pushed > PIPE_DEPTH ? pushed - PIPE_DEPTH : 0; k < pushed; ++k) {
            PendingPiece& pp = ring[k & (PIPE_DEPTH - 1)];
            if (pp.len <= CACHE_MAX_PIECE) pp.home = short_home(pp.h);
        }
    }
    const CacheSlot* short_home(uint64_t h) const { return short_slots + ((h >> short_shift) & ~uint64_t(1)); }
    const LongSlot* long_home(uint64_t h) const { return long_slots + ((h >> long_shift) & ~(LONG_WAYS - 1)); }

    [[gnu::always_inline]] void prepare(PendingPiece& pp, const uint8_t* p, size_t len) {
        pp.p = p;
        pp.len = len;
        if (len <= CACHE_MAX_PIECE) {
            pp.key = cache_key(p, len);
            pp.h = cache_hash(pp.key);
            pp.home = short_home(pp.h);
            __builtin_prefetch(pp.home);
        } else if (len <= LONG_MAX_PIECE) {
            pp.h = long_hash_in_place(p, len);
            const LongSlot* set = long_home(pp.h);
            for (uint64_t k = 0; k < LONG_WAYS; ++k) __builtin_prefetch(set + k);
        }
    }

    [[gnu::always_inline]] void encode(const PendingPiece& pp) {
        if (pp.len > CACHE_MAX_PIECE) {
            if (pp.len > LONG_MAX_PIECE) return encode_long(pp);
            if (append_long_cached(cache, pp.p, pp.len, pp.h, out)) return;
            return defer(pp, {0, 0}, pp.h);
        }
        const CacheSlot* s = pp.home;
        if (s[0].key_lo == pp.key.lo && s[0].key_hi == pp.key.hi) return append_slot_ids(s[0], out);
        if (s[1].key_lo == pp.key.lo && s[1].key_hi == pp.key.hi) return append_slot_ids(s[1], out);
        if (append_cold_cached(cache, pp.p, pp.len, pp.h, pp.key, out)) return;
        defer(pp, pp.key, pp.h);
    }

    // A piece longer than any cache entry is encoded with the batch, or alone if it is very long.
    [[gnu::noinline]] void encode_long(const PendingPiece& pp) {
        if (pp.len > MISS_MAX_PIECE) return encode_uncached(v, pp.p, pp.len, out);
        defer(pp, {0, 0}, 0);
    }

    // Only after pieces longer than a cache entry: the batch has no room left for this piece. The batch may
    // hold a copy of it, which it stores, so the piece is looked up again rather than stored twice.
    [[gnu::noinline]] void encode_after_resolving(const PendingPiece& pp) {
        resolve();
        encode(pp);
    }

    void defer(const PendingPiece& pp, CacheKey key, uint64_t h) {
        MissBatch& b = *misses;
        if (b.used + pp.len > MISS_ROOM) return encode_after_resolving(pp);
        b.pieces[b.count++] = {pp.p, pp.len, out.size(), h, key, b.room + b.used};
        b.used += pp.len;
        if (b.count == MISS_BATCH) resolve();
    }
};

}  // namespace lexaro
