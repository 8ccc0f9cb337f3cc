#include "core/mb.h"

#include <algorithm>

#include "core/scratch.h"

namespace lexaro {

bool is_valid_pair(const Vocab& v, uint32_t a, uint32_t b) {
    // Undo the merges that built a and b, checking whether a merge across the boundary would have come first.
    // Only the split entries are read on the way down: pair_merge is probed only for the pairs whose merge
    // bits are set. Each side's bit position is computed again only when that side steps down.
    uint32_t limit = 0xFFFFFFFFu;
    Split sa = v.split[a], sb = v.split[b];
    uint32_t bit_a = merge_bit_l(a), bit_b = merge_bit_r(b);
    for (;;) {
        if ((sa.left >> bit_b) & (sb.right >> bit_a) & 1) {
            const uint32_t m = pair_merge_find(v, a, b);
            if (m != NONE && m < limit) return false;
        }
        if (a > b) {
            limit = a;
            const uint32_t ar = split_right(sa);
            if (ar != a) {
                a = ar;
                sa = v.split[a];
                bit_a = merge_bit_l(a);
                continue;
            }
            limit = b + 1;
            const uint32_t bl = split_left(sb);
            if (bl == b) return true;
            b = bl;
            sb = v.split[b];
            bit_b = merge_bit_r(b);
        } else {
            limit = b + 1;
            const uint32_t bl = split_left(sb);
            if (bl != b) {
                b = bl;
                sb = v.split[b];
                bit_b = merge_bit_r(b);
                continue;
            }
            limit = a;
            const uint32_t ar = split_right(sa);
            if (ar == a) return true;
            a = ar;
            sa = v.split[a];
            bit_a = merge_bit_l(a);
        }
    }
}

static inline uint32_t edge1_id(uint64_t e) { return uint32_t(e) & NO_BEST; }

// The rest of a longest-prefix walk: `node` is reached after i bytes and `cand` is the longest token
// among them. Each step takes two bytes through edge2, whose entry also names a token that ends after
// the first of them; only where no two-byte step leads on is the single byte looked up in edge1. After
// a three-byte start (`fresh3`) the token of those three bytes is already in `cand`.
[[gnu::always_inline]] static inline uint32_t walk_on(const Vocab& v, const uint8_t* p, size_t len, size_t i,
                                                      uint32_t node, uint32_t cand, bool fresh3) {
    while (node != 0) {
        if (len - i >= 2) {
            const uint64_t e2 = edge2_find(v, node, p[i], p[i + 1]);
            if (e2 == 0) {
                if (fresh3) return cand;
                const uint64_t e1 = edge1_find(v, node, p[i]);
                return e1 != 0 ? edge1_id(e1) : cand;
            }
            if (edge2_best(e2) != NO_BEST) cand = edge2_best(e2);
            node = edge2_child(e2);
            fresh3 = false;
            i += 2;
        } else if (len - i == 1 && !fresh3) {
            const uint64_t e1 = edge1_find(v, node, p[i]);
            return e1 != 0 ? edge1_id(e1) : cand;
        } else {
            return cand;
        }
    }
    return cand;
}

// The walk from a three-byte character whose node goes on only by whole three-byte characters
// (CP3_CHARS): one edge2 probe per character. Where a node reached also goes on by other bytes, the walk
// starts again by two-byte steps (node2, the node after the first two bytes).
[[gnu::always_inline]] static inline uint32_t walk_chars(const Vocab& v, const uint8_t* p, size_t len, uint32_t cp,
                                                         uint32_t node2) {
    uint32_t cand = v.cp3_token[cp];
    if (len < 6 || !starts_three_byte(p + 3, len - 3)) return cand;
    uint64_t key = char_start_key(cp, cp3_index(p[3], p[4], p[5]));
    for (size_t i = 6;; i += 3) {
        const uint64_t e = edge2_find_hashed(v, edge2_hash(key));
        if (e == 0) return cand;
        if (edge2_best(e) != NO_BEST) cand = edge2_best(e);
        const uint32_t node = char_child(e);
        if (node == 0) return cand;
        if (e & CHAR_MIXED) return walk_on(v, p, len, 2, node2, v.cp3_token[cp], true);
        if (len - i < 3 || !starts_three_byte(p + i, len - i)) return cand;
        key = char_step_key(node, cp3_index(p[i], p[i + 1], p[i + 2]));
    }
}

namespace {

// The longest-prefix walks, inlined into the encoding loops below: most walks end at their start (a
// node 0, as for most characters of CJK text in cl100k), which then costs no call.
[[gnu::always_inline]] inline uint32_t nm_mb_inline(const Vocab& v, const uint8_t* p, size_t len) {
    if (len == 0) return NONE;
    if (len == 1) return v.byte_token[p[0]];
    if (starts_three_byte(p, len)) {
        const uint32_t cp = cp3_index(p[0], p[1], p[2]);
        const uint32_t node = v.cp3_node[cp];
        if (node & CP3_CHARS) return walk_chars(v, p, len, cp, node & CP3_NODE_MASK);
        return walk_on(v, p, len, 2, node, v.cp3_token[cp], true);
    }
    const uint32_t pair = uint32_t(p[0]) << 8 | p[1];
    return walk_on(v, p, len, 2, v.pair2_node[pair], v.pair2_token[pair], false);
}

[[gnu::always_inline]] inline uint32_t first_token_inline(const Vocab& v, const uint8_t* p, size_t len) {
    if (len == 0) return NONE;
    if (len == 1) return v.byte_token[p[0]];
    const uint32_t pair = uint32_t(p[0]) << 8 | p[1];
    return walk_on(v, p, len, 2, v.pair2_node[pair], v.pair2_token[pair], false);
}

}  // namespace

uint32_t nm_mb(const Vocab& v, const uint8_t* p, size_t len) { return nm_mb_inline(v, p, len); }

uint32_t first_token(const Vocab& v, const uint8_t* p, size_t len) { return first_token_inline(v, p, len); }

namespace {

using Walk = uint32_t (*)(const Vocab&, const uint8_t*, size_t);

// The longest token at a position of the piece, found when asked.
template <Walk walk>
struct WalksAsked {
    [[gnu::always_inline]] uint32_t at(const Vocab& v, const uint8_t* p, size_t len, size_t pos) {
        return walk(v, p + pos, len - pos);
    }
};

// The walks of a long piece made ahead of its search, along the path the greedy pass would take. The
// search walks from where its last token ended and then tests the pair, one token after another, so each
// walk's edge2 probes and each test's memo slot wait for the token before. Here the greedy path is
// walked AHEAD to 2 * AHEAD bytes before the search gets there and the memo slot of each of its pairs
// prefetched: the search finds its walks done and its memo slots on their way. A walk depends only on
// the bytes from its position on, so a position's walk serves whichever path reaches it; where the
// search's path leaves the greedy one (after a failed pair test) it walks for itself.
struct WalksAhead {
    static constexpr size_t RING = 512;  // positions kept: a power of two above 2 * AHEAD + the longest token
    static constexpr size_t AHEAD = 32;
    const uint8_t* p;
    size_t len;            // below NONE, the mark of an empty place in the ring
    size_t ahead = 0;      // where the greedy path walked ahead goes on
    uint32_t last = NONE;  // the token that ends there on that path
    uint32_t ring_pos[RING];
    uint32_t ring_tok[RING];

    WalksAhead(const uint8_t* text, size_t n) : p(text), len(n) { std::fill(ring_pos, ring_pos + RING, NONE); }

    [[gnu::noinline]] void walk_ahead(const Vocab& v, size_t until) {
        do {
            const uint32_t t = nm_mb_inline(v, p + ahead, len - ahead);
            const size_t k = ahead & (RING - 1);
            ring_pos[k] = uint32_t(ahead);
            ring_tok[k] = t;
            if (last != NONE) fetch_pair_memo(v, last, t);
            last = t;
            ahead += v.token_len[t];
        } while (ahead < until);
    }

    [[gnu::always_inline]] uint32_t at(const Vocab& v, const uint8_t*, size_t, size_t pos) {
        if (ahead < pos) ahead = pos, last = NONE;  // the search went past the path walked ahead
        if (ahead < pos + AHEAD && ahead < len) walk_ahead(v, std::min(len, pos + 2 * AHEAD));
        const size_t k = pos & (RING - 1);
        if (ring_pos[k] == pos) return ring_tok[k];
        return nm_mb_inline(v, p + pos, len - pos);
    }
};

// Pieces at least this long have their walks made ahead, where the memo is the large one (wide ids:
// 8 MiB) and its slots miss the processor's caches. Measured on 941 KB of Japanese without spaces, hot:
// o200k_base 69 -> 94 MB/s; with the 2 MiB memo of cl100k_base, whose walks on such text mostly end at
// their first character, it cost 12 %.
constexpr size_t WALK_AHEAD_MIN = 512;
bool walks_ahead(const Vocab& v, size_t len) { return v.wide_ids && len >= WALK_AHEAD_MIN && len < NONE; }

// A piece of a vocabulary that lacks some single bytes: bytes without a token are dropped and the
// stretches between them encoded on their own (built-in vocabularies never come here).
void encode_partial(const Vocab& v, const uint8_t* p, size_t len, std::vector<uint32_t>& out);

// Pieces shorter than this many bytes keep the backtracking search's bitmap on the stack; longer ones use
// the thread's scratch vector.
constexpr size_t LOCAL_REACHABLE_BITS = 256;

// Backtracking search over prefix tokens, resumed where the greedy pass stopped: out[start..] holds the
// greedy tokens up to `pos`, and `cand`, the longest token at pos, may not follow the last of them. The
// greedy pass is the search's own first path (the longest candidate that may follow, at every position),
// so the search goes on from there exactly as if it had walked that path itself. Every position proven
// dead is never tried again.
// The path is kept in out itself, sized ahead so that pushes and pops are plain stores and counter steps;
// a long piece's path grows by doubling up to the worst case (one token per byte).
template <class Walks>
[[gnu::noinline]] void encode_fallback(const Vocab& v, const uint8_t* p, size_t len, size_t pos, uint32_t cand,
                                       std::vector<uint32_t>& out, size_t start, Walks& walks) {
    uint64_t local[LOCAL_REACHABLE_BITS / 64];
    uint64_t* reachable = local;
    const size_t words = len / 64 + 1;  // positions 0..len
    if (len < LOCAL_REACHABLE_BITS) {
        for (size_t i = 0; i < words; ++i) local[i] = ~uint64_t(0);
    } else {
        Scratch& s = scratch();
        s.reachable.assign(words, ~uint64_t(0));
        reachable = s.reachable.data();
    }
    size_t n = out.size() - start;  // tokens on the path, at least the greedy pass's first
    size_t room = std::min(len, n + 64);
    out.resize(start + room);
    uint32_t* path = out.data() + start;
    // cand was tested against the path's last token by the greedy pass and failed: start below it.
    uint32_t tok = n > 0 ? v.next_prefix[cand] : cand;
    bool complete = false;
    for (;;) {
        for (; tok != NONE; tok = v.next_prefix[tok]) {
            const size_t end = pos + v.token_len[tok];
            if (!((reachable[end >> 6] >> (end & 63)) & 1)) continue;
            if (n == 0 || valid_pair(v, path[n - 1], tok)) break;
        }
        if (tok != NONE) {
            if (n == room) {
                room = std::min(len, 2 * room);
                out.resize(start + room);
                path = out.data() + start;
            }
            path[n++] = tok;
            pos += v.token_len[tok];
            if (pos >= len) {
                complete = true;
                break;
            }
            tok = walks.at(v, p, len, pos);
            if (tok == NONE) break;
            continue;
        }
        reachable[pos >> 6] &= ~(uint64_t(1) << (pos & 63));
        if (n == 0) break;
        const uint32_t last = path[--n];
        pos -= v.token_len[last];
        // last itself ends on the position just proven dead.
        tok = v.next_prefix[last];
    }
    if (complete) {
        out.resize(start + n);
    } else {
        // No segmentation passed the pair test (only possible with an inconsistent vocabulary):
        // fall back to single bytes rather than lose the piece.
        out.resize(start);
        for (size_t i = 0; i < len; ++i)
            if (v.byte_token[p[i]] != NONE) out.push_back(v.byte_token[p[i]]);
    }
}

template <class Walks>
inline void encode_greedy(const Vocab& v, const uint8_t* p, size_t len, uint32_t first, std::vector<uint32_t>& out,
                          Walks&& walks) {
    const size_t start = out.size();
    uint32_t t = first;
    out.push_back(t);
    size_t pos = v.token_len[t];
    while (pos < len) {
        const uint32_t u = walks.at(v, p, len, pos);
        if (!valid_pair(v, t, u)) return encode_fallback(v, p, len, pos, u, out, start, walks);
        out.push_back(u);
        pos += v.token_len[u];
        t = u;
    }
}

void encode_partial(const Vocab& v, const uint8_t* p, size_t len, std::vector<uint32_t>& out) {
    size_t i = 0;
    while (i < len) {
        if (v.byte_token[p[i]] == NONE) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < len && v.byte_token[p[j]] != NONE) ++j;
        encode_greedy(v, p + i, j - i, first_token_inline(v, p + i, j - i), out, WalksAsked<first_token_inline>{});
        i = j;
    }
}

}  // namespace

void encode_mb(const Vocab& v, const uint8_t* p, size_t len, std::vector<uint32_t>& out) {
    if (len == 0) return;
    if (!v.all_bytes) return encode_partial(v, p, len, out);
    if (walks_ahead(v, len)) return encode_greedy(v, p, len, nm_mb_inline(v, p, len), out, WalksAhead(p, len));
    encode_greedy(v, p, len, nm_mb_inline(v, p, len), out, WalksAsked<nm_mb_inline>{});
}

void encode_with_first(const Vocab& v, const uint8_t* p, size_t len, uint32_t first, std::vector<uint32_t>& out) {
    if (len == 0) return;
    if (!v.all_bytes) return encode_partial(v, p, len, out);
    if (walks_ahead(v, len)) return encode_greedy(v, p, len, first, out, WalksAhead(p, len));
    encode_greedy(v, p, len, first, out, WalksAsked<first_token_inline>{});
}

void encode_resume(const Vocab& v, const uint8_t* p, size_t len, size_t pos, uint32_t cand, std::vector<uint32_t>& out,
                   size_t start) {
    if (walks_ahead(v, len)) {
        WalksAhead walks(p, len);
        return encode_fallback(v, p, len, pos, cand, out, start, walks);
    }
    WalksAsked<nm_mb_inline> walks;
    encode_fallback(v, p, len, pos, cand, out, start, walks);
}

}  // namespace lexaro
