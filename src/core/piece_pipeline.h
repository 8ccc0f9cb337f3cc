// Encoding the pieces of a text a few at a time. When a piece is cut, its cache key and hash are
// computed and its cache slots prefetched; the piece itself is encoded PIPE_DEPTH pieces later. The
// lookups of consecutive pieces are independent, so their memory latency overlaps instead of adding up.
// The ids still come out in the order of the pieces: each piece is looked up, and on a miss encoded
// and inserted, exactly when it would be without the pipeline.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/pcache.h"

namespace lexaro {

inline constexpr size_t PIPE_DEPTH = 8;  // a power of two

struct PiecePipeline {
    const Vocab& v;
    PretokenCache& cache;
    std::vector<uint32_t>& out;
    PendingPiece ring[PIPE_DEPTH];
    size_t pushed = 0;

    PiecePipeline(const Vocab& vocab, PretokenCache& c, std::vector<uint32_t>& ids) : v(vocab), cache(c), out(ids) {}
    PiecePipeline(const PiecePipeline&) = delete;
    PiecePipeline& operator=(const PiecePipeline&) = delete;

    [[gnu::always_inline]] void push(const uint8_t* p, size_t len) {
        if (cache.disabled()) return encode_uncached(v, p, len, out);
        PendingPiece& slot = ring[pushed & (PIPE_DEPTH - 1)];
        if (pushed >= PIPE_DEPTH) encode_pending(v, cache, slot, out);
        slot = prepare_piece(cache, p, len);
        ++pushed;
    }

    // Encodes the pieces still in the ring; call once, after the last push.
    void finish() {
        if (cache.disabled()) return;
        for (size_t k = pushed > PIPE_DEPTH ? pushed - PIPE_DEPTH : 0; k < pushed; ++k)
            encode_pending(v, cache, ring[k & (PIPE_DEPTH - 1)], out);
        pushed = 0;
    }
};

}  // namespace lexaro
