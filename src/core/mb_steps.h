// Encoding several unseen pieces at once, one memory access of each in turn. The encoder's walk through
// the trie and its pair tests are chains of dependent loads; run one piece at a time, each load waits for
// the one before. Here every piece stops before each such load and prefetches it, and the others take
// their turns while it arrives, so the waits of up to MISS_BATCH pieces overlap. That holds for the
// backtracking search too, which a piece enters where its greedy pass fails. Each piece takes exactly the
// steps encode_mb would (the same lookups in the same order), so its ids are the same.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/mb.h"
#include "core/vocab.h"

namespace lexaro {

// One piece on its way through the encoder. ids must have room for len ids (a piece has at most one per
// byte). Requires a vocabulary with every single byte (Vocab::all_bytes).
struct StepPiece {
    const uint8_t* p;
    uint32_t len;
    uint32_t pos;   // bytes covered by ids[0, n)
    uint32_t i;     // bytes of the current walk (from pos) taken so far
    uint32_t node;  // trie node of the current walk
    uint32_t cand;  // longest token the current walk has passed
    uint32_t next;  // the token the walk found, awaiting its pair test
    uint32_t n;
    uint64_t edge2_h;  // edge2_hash of the lookup awaited in WALK_EDGE2
    MemoProbe memo;    // memo slot of the pair awaited in PAIR_TEST
    uint64_t dead;     // bit q: no path of tokens passing the pair test leads from byte q to the end
    uint32_t* ids;
    uint8_t phase;
    bool fresh3;  // the walk started on a three-byte character and has not stepped since
};

void start_step_piece(const Vocab& v, StepPiece& s, const uint8_t* p, size_t len, uint32_t* ids);

// Encodes pieces[0, count) (each started by start_step_piece), interleaving their steps; count may be
// any number, though more than a few dozen no longer adds overlap.
void encode_interleaved(const Vocab& v, StepPiece* pieces, size_t count);

}  // namespace lexaro
