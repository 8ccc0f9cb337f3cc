#include "core/miss_batch.h"

#include <algorithm>
#include <cstring>

#include "core/scratch.h"

namespace lexaro {

namespace {

bool same_piece(const MissedPiece& a, const MissedPiece& b) {
    return a.h == b.h && a.len == b.len && std::memcmp(a.p, b.p, a.len) == 0;
}

// The earlier piece of the batch that equals pieces[k] (a new word met again soon after), or k.
size_t first_copy(const MissBatch& b, size_t k) {
    for (size_t j = 0; j < k; ++j)
        if (same_piece(b.pieces[j], b.pieces[k])) return j;
    return k;
}

// Encodes pieces[k] now, without interleaving: a vocabulary without some single bytes.
void encode_alone(const Vocab& v, MissBatch& b, size_t k) {
    std::vector<uint32_t>& ids = scratch().resumed;
    ids.clear();
    encode_uncached(v, b.pieces[k].p, b.pieces[k].len, ids);
    std::copy(ids.begin(), ids.end(), b.pieces[k].ids);  // often none: bytes without a token are dropped
    b.n_ids[k] = uint32_t(ids.size());
}

// Moves the ids appended after each piece of the batch along, to open the room its own ids take.
void splice_ids(const MissBatch& b, size_t total, std::vector<uint32_t>& out) {
    if (total == 0) return;  // pieces of bytes without a token, in a vocabulary that lacks them
    size_t end = out.size();
    out.resize(end + total);
    uint32_t* o = out.data();
    size_t shift = total;
    for (size_t k = b.count; k-- > 0;) {
        const size_t pos = b.pieces[k].out_pos;
        if (end > pos) std::memmove(o + pos + shift, o + pos, (end - pos) * sizeof(uint32_t));
        shift -= b.n_ids[k];
        std::memcpy(o + pos + shift, b.pieces[k].ids, b.n_ids[k] * sizeof(uint32_t));
        end = pos;
    }
}

}  // namespace

void resolve_misses(PretokenCache& cache, const Vocab& v, MissBatch& b, std::vector<uint32_t>& out) {
    // Each piece encoded once: a later copy takes the ids of the first.
    uint8_t copy_of[MISS_BATCH];
    size_t going = 0;
    for (size_t k = 0; k < b.count; ++k) {
        copy_of[k] = uint8_t(first_copy(b, k));
        if (copy_of[k] != k) continue;
        if (!v.all_bytes) {
            encode_alone(v, b, k);
            continue;
        }
        start_step_piece(v, b.steps[going], b.pieces[k].p, b.pieces[k].len, b.pieces[k].ids);
        b.stepped[going++] = uint8_t(k);
    }
    encode_interleaved(v, b.steps, going);
    for (size_t j = 0; j < going; ++j) b.n_ids[b.stepped[j]] = b.steps[j].n;
    size_t total = 0;
    for (size_t k = 0; k < b.count; ++k) {
        const MissedPiece& m = b.pieces[k];
        if (copy_of[k] == k) {
            if (m.len <= LONG_MAX_PIECE) store_piece(cache, m.p, m.len, m.h, m.key, m.ids, b.n_ids[k]);
        } else {
            b.n_ids[k] = b.n_ids[copy_of[k]];
            std::memcpy(m.ids, b.pieces[copy_of[k]].ids, b.n_ids[k] * sizeof(uint32_t));
        }
        total += b.n_ids[k];
    }
    splice_ids(b, total, out);
    b.count = 0;
    b.used = 0;
}

}  // namespace lexaro
