// Pieces the cache does not hold, gathered and then encoded together: they run through the encoder
// interleaved (mb_steps.h), so that their memory waits overlap instead of adding up. Their ids go into
// the output where each piece was, between the ids of the pieces around it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/mb_steps.h"
#include "core/pcache.h"

namespace lexaro {

inline constexpr size_t MISS_BATCH = 16;
// Room for the ids of a batch's pieces, at most one id per byte. Pieces longer than a cache entry take
// their share of it too, up to MISS_MAX_PIECE bytes, though the cache does not keep them; a piece that
// would not fit in what is left is preceded by the encoding of the batch so far.
inline constexpr size_t MISS_ROOM = 2048;
inline constexpr size_t MISS_MAX_PIECE = MISS_ROOM / 2;

struct MissedPiece {
    const uint8_t* p;
    size_t len;      // up to MISS_MAX_PIECE; the cache holds those of up to LONG_MAX_PIECE
    size_t out_pos;  // where its ids belong in the output, counted without the batch's ids before it
    uint64_t h;      // cache_hash of a short piece, long_hash of a longer one (0 for one the cache does not hold)
    CacheKey key;    // a short piece's cache key
    uint32_t* ids;   // its room in MissBatch::room, len ids
};

// Left uninitialised but for `count` and `used`: only pieces[0, count) and what they use are ever read.
struct MissBatch {
    size_t count = 0;
    size_t used = 0;  // ids of room[] taken by pieces[0, count)
    MissedPiece pieces[MISS_BATCH];
    uint32_t n_ids[MISS_BATCH];
    uint32_t room[MISS_ROOM];
    StepPiece steps[MISS_BATCH];
    uint8_t stepped[MISS_BATCH];  // steps[j] encodes pieces[stepped[j]]
};

// Encodes the batch's pieces, keeps them in the cache, and inserts their ids into `out` where they
// belong; the batch is then empty.
[[gnu::noinline]] void resolve_misses(PretokenCache& cache, const Vocab& v, MissBatch& batch,
                                      std::vector<uint32_t>& out);

}  // namespace lexaro
