#include "core/mb_steps.h"

#include <algorithm>
#include <vector>

#include "core/mb.h"
#include "core/scratch.h"

namespace lexaro {

namespace {

// What a piece does when its turn comes; the memory it reads then was prefetched when it got here.
enum Phase : uint8_t {
    WALK_START,  // the first entries of the walk at pos (pair2 or cp3 tables)
    WALK_EDGE2,  // the edge2 entry of the node and the next two bytes
    WALK_EDGE1,  // the edge1 entry of the node and the next byte
    WALK_CHAR,   // the edge2 entry of a whole three-byte character's step (CP3_CHARS)
    PAIR_TEST,   // the memo of the pair (last id, next), and the two tokens' split entries
    PIECE_DONE,
};

void fetch_walk_start(const Vocab& v, const uint8_t* q, size_t rem) {
    if (rem < 2) return;  // byte_token: small, and in the cache
    if (starts_three_byte(q, rem)) {
        const uint32_t cp = cp3_index(q[0], q[1], q[2]);
        __builtin_prefetch(v.cp3_node.data() + cp);
        __builtin_prefetch(v.cp3_token.data() + cp);
    } else {
        const uint32_t pair = uint32_t(q[0]) << 8 | q[1];
        __builtin_prefetch(v.pair2_node.data() + pair);
        __builtin_prefetch(v.pair2_token.data() + pair);
    }
}

// Pieces longer than this search one at a time (encode_resume): `dead` has a bit for each byte 0..len.
constexpr uint32_t MAX_STEPPED_SEARCH = 63;

// u ends the path ids[0, n) at pos: the walk after it starts, or the piece is done.
[[gnu::always_inline]] inline void take_token(const Vocab& v, StepPiece& s, uint32_t u) {
    s.ids[s.n++] = u;
    s.pos += v.token_len[u];
    if (s.pos >= s.len) {
        s.phase = PIECE_DONE;
        return;
    }
    fetch_walk_start(v, s.p + s.pos, s.len - s.pos);
    s.phase = WALK_START;
}

// No path passes the pair test (only possible with an inconsistent vocabulary): single bytes rather than
// lose the piece.
[[gnu::noinline]] void split_into_bytes(const Vocab& v, StepPiece& s) {
    for (uint32_t i = 0; i < s.len; ++i) s.ids[i] = v.byte_token[s.p[i]];
    s.n = s.len;
    s.phase = PIECE_DONE;
}

// u, a token at pos, goes to its pair test with the path's last token; end = pos + its length.
[[gnu::always_inline]] inline void test_pair(const Vocab& v, StepPiece& s, uint32_t u, uint32_t end) {
    s.next = u;
    s.memo = fetch_pair_memo(v, s.ids[s.n - 1], u);
    // A memo miss tests the pair from the two tokens' split entries.
    __builtin_prefetch(v.split.data() + s.ids[s.n - 1]);
    __builtin_prefetch(v.split.data() + u);
    // The walk after u is fetched too: the pair test almost always passes.
    if (end < s.len) fetch_walk_start(v, s.p + end, s.len - end);
    s.phase = PAIR_TEST;
}

// The backtracking search, of which the greedy pass is the first path: u, a token at pos, and then its
// shorter prefixes (next_prefix) are tried in turn. The first that leads to a byte not proven dead is
// taken at once if it starts the piece, or else after its pair test with the path's last token. When none
// is left, pos is dead: the last token comes off the path and its own shorter prefixes are tried.
[[gnu::noinline]] void search_from(const Vocab& v, StepPiece& s, uint32_t u) {
    for (;;) {
        for (; u != NONE; u = v.next_prefix[u]) {
            const uint32_t end = s.pos + v.token_len[u];
            if ((s.dead >> end) & 1) continue;
            if (s.n == 0) return take_token(v, s, u);
            return test_pair(v, s, u, end);
        }
        s.dead |= uint64_t(1) << s.pos;
        if (s.n == 0) return split_into_bytes(v, s);
        const uint32_t last = s.ids[--s.n];
        s.pos -= v.token_len[last];
        u = v.next_prefix[last];  // last itself ends on the byte just proven dead
    }
}

// The walk at pos has found u, the longest token there: the search's next step. Until the greedy pass
// fails nothing is dead, so u goes straight to its pair test, or is taken at once if it starts the piece.
[[gnu::always_inline]] inline void found_token(const Vocab& v, StepPiece& s, uint32_t u) {
    const uint32_t end = s.pos + v.token_len[u];
    if (s.dead == 0) {
        if (s.n == 0) return take_token(v, s, u);
        return test_pair(v, s, u, end);
    }
    search_from(v, s, u);
}

// The head of the longest-prefix walk's loop (walk_on in mb.cpp): the next lookup is prefetched and the
// turn ends, or the walk is over.
[[gnu::always_inline]] inline void walk_loop(const Vocab& v, StepPiece& s) {
    const uint8_t* q = s.p + s.pos;
    const size_t rem = s.len - s.pos;
    if (s.node != 0) {
        if (rem - s.i >= 2) {
            s.edge2_h = edge2_hash(edge2_key(s.node, q[s.i], q[s.i + 1]));
            __builtin_prefetch(v.edge2.data() + (s.edge2_h >> v.edge2_shift));
            s.phase = WALK_EDGE2;
            return;
        }
        if (rem - s.i == 1 && !s.fresh3) {
            __builtin_prefetch(v.edge1.data() + (edge1_home(edge1_key(s.node, q[s.i])) & v.edge1_mask));
            s.phase = WALK_EDGE1;
            return;
        }
    }
    found_token(v, s, s.cand);
}

// The next step of a walk by whole three-byte characters (walk_chars in mb.cpp), whose key is given: the
// lookup is prefetched and the turn ends.
[[gnu::always_inline]] inline void char_step(const Vocab& v, StepPiece& s, uint64_t key) {
    s.edge2_h = edge2_hash(key);
    __builtin_prefetch(v.edge2.data() + (s.edge2_h >> v.edge2_shift));
    s.phase = WALK_CHAR;
}

// A long piece's search, one piece at a time from the first pair that failed its test, as encode_mb does.
[[gnu::noinline]] void finish_by_search(const Vocab& v, StepPiece& s) {
    std::vector<uint32_t>& ids = scratch().resumed;
    ids.assign(s.ids, s.ids + s.n);
    encode_resume(v, s.p, s.len, s.pos, s.next, ids, 0);
    std::copy(ids.begin(), ids.end(), s.ids);
    s.n = uint32_t(ids.size());
    s.phase = PIECE_DONE;
}

// One turn of a piece: the lookup prefetched at the end of its last turn, and what follows up to the
// next lookup that may miss the processor's caches.
void step(const Vocab& v, StepPiece& s) {
    const uint8_t* q = s.p + s.pos;
    switch (s.phase) {
        case PAIR_TEST:
            if (!valid_pair_at(v, s.ids[s.n - 1], s.next, s.memo)) {
                if (s.len > MAX_STEPPED_SEARCH) return finish_by_search(v, s);
                return search_from(v, s, v.next_prefix[s.next]);
            }
            s.ids[s.n++] = s.next;
            s.pos += v.token_len[s.next];
            if (s.pos >= s.len) {
                s.phase = PIECE_DONE;
                return;
            }
            q = s.p + s.pos;
            [[fallthrough]];  // the next walk's first entries came with the memo
        case WALK_START: {
            const size_t rem = s.len - s.pos;
            if (rem == 1) return found_token(v, s, v.byte_token[q[0]]);
            s.fresh3 = starts_three_byte(q, rem);
            if (s.fresh3) {
                const uint32_t cp = cp3_index(q[0], q[1], q[2]);
                const uint32_t node = v.cp3_node[cp];
                s.cand = v.cp3_token[cp];
                if (node & CP3_CHARS) {
                    if (rem < 6 || !starts_three_byte(q + 3, rem - 3)) return found_token(v, s, s.cand);
                    s.i = 6;
                    return char_step(v, s, char_start_key(cp, cp3_index(q[3], q[4], q[5])));
                }
                s.node = node;
            } else {
                const uint32_t pair = uint32_t(q[0]) << 8 | q[1];
                s.node = v.pair2_node[pair];
                s.cand = v.pair2_token[pair];
            }
            s.i = 2;
            return walk_loop(v, s);
        }
        case WALK_EDGE2: {
            const uint64_t e2 = edge2_find_hashed(v, s.edge2_h);
            if (e2 == 0) {
                if (s.fresh3) return found_token(v, s, s.cand);
                __builtin_prefetch(v.edge1.data() + (edge1_home(edge1_key(s.node, q[s.i])) & v.edge1_mask));
                s.phase = WALK_EDGE1;
                return;
            }
            if (edge2_best(e2) != NO_BEST) s.cand = edge2_best(e2);
            s.node = edge2_child(e2);
            s.fresh3 = false;
            s.i += 2;
            return walk_loop(v, s);
        }
        case WALK_CHAR: {
            const uint64_t e = edge2_find_hashed(v, s.edge2_h);
            if (e == 0) return found_token(v, s, s.cand);
            if (edge2_best(e) != NO_BEST) s.cand = edge2_best(e);
            const uint32_t node = char_child(e);
            if (node == 0) return found_token(v, s, s.cand);
            const size_t rem = s.len - s.pos;
            if (e & CHAR_MIXED) {  // the two-byte steps from the walk's start
                const uint32_t cp = cp3_index(q[0], q[1], q[2]);
                s.node = v.cp3_node[cp] & CP3_NODE_MASK;
                s.cand = v.cp3_token[cp];
                s.i = 2;
                s.fresh3 = true;
                return walk_loop(v, s);
            }
            if (rem - s.i < 3 || !starts_three_byte(q + s.i, rem - s.i)) return found_token(v, s, s.cand);
            const uint32_t cp = cp3_index(q[s.i], q[s.i + 1], q[s.i + 2]);
            s.i += 3;
            return char_step(v, s, char_step_key(node, cp));
        }
        case WALK_EDGE1: {
            const uint64_t e1 = edge1_find(v, s.node, q[s.i]);
            return found_token(v, s, e1 != 0 ? uint32_t(e1) & NO_BEST : s.cand);
        }
        default:
            return;
    }
}

}  // namespace

void start_step_piece(const Vocab& v, StepPiece& s, const uint8_t* p, size_t len, uint32_t* ids) {
    s.p = p;
    s.len = uint32_t(len);
    s.pos = 0;
    s.n = 0;
    s.dead = 0;
    s.ids = ids;
    s.phase = WALK_START;
    fetch_walk_start(v, p, len);
}

void encode_interleaved(const Vocab& v, StepPiece* pieces, size_t count) {
    // Rounds over the pieces still going, MAX_INTERLEAVED at a time, compacted as they finish.
    constexpr size_t MAX_INTERLEAVED = 64;
    StepPiece* going[MAX_INTERLEAVED];
    for (size_t start = 0; start < count; start += MAX_INTERLEAVED) {
        size_t live = count - start < MAX_INTERLEAVED ? count - start : MAX_INTERLEAVED;
        for (size_t k = 0; k < live; ++k) going[k] = &pieces[start + k];
        while (live > 0) {
            size_t kept = 0;
            for (size_t k = 0; k < live; ++k) {
                step(v, *going[k]);
                if (going[k]->phase != PIECE_DONE) going[kept++] = going[k];
            }
            live = kept;
        }
    }
}

}  // namespace lexaro
