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

struct MissedPiece {
    const uint8_t* p;
    size_t len;      // up to LONG_MAX_PIECE
    size_t out_pos;  // where its ids belong in the output, counted without the batch's ids before it
    uint64_t h;      // cache_hash of a short piece, long_hash of a longer one
    CacheKey key;    // a short piece's cache key
};

// Left uninitialised but for `count`: only pieces[0, count) and what they use are ever read.
struct MissBatch {
    size_t count = 0;
    MissedPiece pieces[MISS_BATCH];
    uint32_t n_ids[MISS_BATCH];
    uint32_t ids[MISS_BATCH][LONG_MAX_PIECE];  // a piece has at most one id per byte
    StepPiece steps[MISS_BATCH];
    uint8_t stepped[MISS_BATCH];  // steps[j] encodes pieces[stepped[j]]
};

// Encodes the batch's pieces, keeps them in the cache, and inserts their ids into `out` where they
// belong; the batch is then empty.
[[gnu::noinline]] void resolve_misses(PretokenCache& cache, const Vocab& v, MissBatch& batch,
                                      std::vector<uint32_t>& out);

}  // namespace lexaro
