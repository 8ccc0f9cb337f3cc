#include "core/miss_batch.h"

#include <cstring>

#include "core/scratch.h"

namespace lexaro {

namespace {

bool same_piece(const MissedPiece& a, const MissedPiece& b) {
    return a.h == b.h && a.len == b.len && std::memcmp(a.p, b.p, a.len) == 0;
}

// Encodes the pieces the cache did not hold, all of them interleaved where the vocabulary allows. A piece
// met twice among them (a new word repeated soon after) is encoded once: copy_of[k] is the earlier one, or k.
void encode_missing(const Vocab& v, MissBatch& b, const bool* cached, const uint8_t* copy_of) {
    size_t going = 0;
    for (size_t k = 0; k < b.count; ++k) {
        if (cached[k] || copy_of[k] != k) continue;
        const MissedPiece& m = b.pieces[k];
        if (v.all_bytes) {
            start_step_piece(v, b.steps[going], m.p, m.len, b.ids[k]);
            b.stepped[going++] = uint8_t(k);
            continue;
        }
        std::vector<uint32_t>& ids = scratch().resumed;  // a vocabulary without some single bytes
        ids.clear();
        encode_uncached(v, m.p, m.len, ids);
        std::memcpy(b.ids[k], ids.data(), ids.size() * sizeof(uint32_t));
        b.n_ids[k] = uint32_t(ids.size());
    }
    encode_interleaved(v, b.steps, going);
    for (size_t j = 0; j < going; ++j) b.n_ids[b.stepped[j]] = b.steps[j].n;
    for (size_t k = 0; k < b.count; ++k) {
        if (copy_of[k] == k) continue;
        b.n_ids[k] = b.n_ids[copy_of[k]];
        std::memcpy(b.ids[k], b.ids[copy_of[k]], b.n_ids[k] * sizeof(uint32_t));
    }
}

// Moves the ids appended after each piece of the batch along, to open the room its own ids take.
void splice_ids(const MissBatch& b, std::vector<uint32_t>& out) {
    size_t total = 0;
    for (size_t k = 0; k < b.count; ++k) total += b.n_ids[k];
    size_t end = out.size();
    out.resize(end + total);
    uint32_t* o = out.data();
    size_t shift = total;
    for (size_t k = b.count; k-- > 0;) {
        const size_t pos = b.pieces[k].out_pos;
        std::memmove(o + pos + shift, o + pos, (end - pos) * sizeof(uint32_t));
        shift -= b.n_ids[k];
        std::memcpy(o + pos + shift, b.ids[k], b.n_ids[k] * sizeof(uint32_t));
        end = pos;
    }
}

}  // namespace

void resolve_misses(PretokenCache& cache, const Vocab& v, MissBatch& b, std::vector<uint32_t>& out) {
    for (size_t k = 0; k < b.count; ++k) {
        const MissedPiece& m = b.pieces[k];
        if (m.len <= CACHE_MAX_PIECE) fetch_cold(cache, m.h, m.key, m.len);
    }
    // A longer piece has missed the long region already.
    bool cached[MISS_BATCH];
    uint8_t copy_of[MISS_BATCH];
    for (size_t k = 0; k < b.count; ++k) {
        const MissedPiece& m = b.pieces[k];
        copy_of[k] = uint8_t(k);
        for (size_t j = 0; j < k; ++j)
            if (same_piece(b.pieces[j], m)) {
                copy_of[k] = uint8_t(j);
                break;
            }
        b.n_ids[k] = m.len <= CACHE_MAX_PIECE && copy_of[k] == k
                         ? uint32_t(find_cold(cache, m.p, m.len, m.h, m.key, b.ids[k]))
                         : 0;
        cached[k] = b.n_ids[k] != 0;
    }
    encode_missing(v, b, cached, copy_of);
    for (size_t k = 0; k < b.count; ++k) {
        const MissedPiece& m = b.pieces[k];
        if (!cached[k] && copy_of[k] == k) store_piece(cache, m.p, m.len, m.h, m.key, b.ids[k], b.n_ids[k]);
    }
    splice_ids(b, out);
    b.count = 0;
}

}  // namespace lexaro
