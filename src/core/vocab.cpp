#include "core/vocab.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/fan_out.h"
#include "core/le.h"
#include "core/mb.h"
#include "core/pages.h"

namespace lexaro {

namespace {

uint64_t bytes_hash(const uint8_t* p, size_t n) {
    uint64_t h = (n + 1) * K_MUL;
    uint64_t tail;
    if (n >= 8) {
        for (size_t i = 0; i + 8 < n; i += 8) h = (h ^ load_u64(p + i)) * 0xC2B2AE3D27D4EB4Full, h ^= h >> 31;
        tail = load_u64(p + n - 8);  // overlaps the last full word; the length in h keeps it unambiguous
    } else if (n >= 4) {
        tail = load_u32(p) | uint64_t(load_u32(p + n - 4)) << 32;
    } else {
        tail = n ? uint64_t(p[0]) | uint64_t(p[n / 2]) << 8 | uint64_t(p[n - 1]) << 16 : 0;
    }
    h = (h ^ tail) * K_MUL;
    return h ^ (h >> 32);
}

Error bad_vocab(const char* reason, std::string_view source) {
    return Error{"lexaro: bad vocab file (" + std::string(reason) + "): " + std::string(source)};
}

uint64_t pow2_at_least(uint64_t n) { return std::bit_ceil(n < 1 ? uint64_t(1) : n); }

// Smallest power of two >= floor whose load for `count` entries stays at or below 0.45.
uint64_t table_size_for_load(uint64_t count, uint64_t floor) {
    uint64_t size = floor;
    while (count * 100 > size * 45) size *= 2;
    return size;
}

// Longest run of occupied slots, counted cyclically; a full table is one run of its size.
uint64_t longest_run(const Table<uint64_t>& table) {
    const uint64_t size = table.size();
    uint64_t start = size;
    for (uint64_t i = 0; i < size; ++i)
        if (table[i] == 0) {
            start = i;
            break;
        }
    if (start == size) return size;
    uint64_t best = 0, run = 0;
    for (uint64_t k = 1; k <= size; ++k) {
        if (table[(start + k) % size] != 0) {
            best = std::max(best, ++run);
        } else {
            run = 0;
        }
    }
    return best;
}

// The trie of all tokens. Nodes are numbered in the order in which inserting the tokens by id, byte by
// byte, creates them; but the nodes are found by walking the tokens in byte order, where each token
// shares its existing nodes with the token before it, so no (node, byte) -> child lookups are needed.
// The node of a prefix is created by the smallest id among the tokens with that prefix, and the nodes a
// token creates have consecutive depths, which gives every node its number.
struct Trie {
    Table<uint32_t> path;             // path[token_offsets[t] + i]: the node after i + 1 bytes of t
    std::vector<uint8_t> has_child;   // per node
    std::vector<uint32_t> cp3_child;  // per three-byte UTF-8 start (cp3_index): its node, 0 if none
    uint32_t nodes = 0;               // root included
};

bool build_trie(const Vocab& v, Trie& trie) {
    const uint32_t n = v.n_tokens;
    struct Keyed {
        uint64_t key;  // the first eight bytes, big-endian, zero-padded
        uint32_t id;
        uint32_t offset;  // of the token's bytes: the loops below read them in sorted order, not by id
    };
    // Bucketed by the first two bytes (a counting sort), then each bucket sorted on its own.
    Table<Keyed> keyed(n);
    std::vector<uint32_t> bucket_start(65536 + 1, 0);
    for (uint32_t t = 0; t < n; ++t) {
        uint8_t head[8] = {};
        std::memcpy(head, v.token_bytes.data() + v.token_offsets[t], std::min<size_t>(8, v.token_len[t]));
        uint64_t key = 0;
        for (uint8_t c : head) key = key << 8 | c;
        keyed[t] = {key, t, v.token_offsets[t]};
        ++bucket_start[(key >> 48) + 1];
    }
    for (size_t b = 0; b < 65536; ++b) bucket_start[b + 1] += bucket_start[b];
    Table<Keyed> order(n);
    {
        std::vector<uint32_t> fill(bucket_start.begin(), bucket_start.end() - 1);
        for (const Keyed& k : keyed) order[fill[k.key >> 48]++] = k;
    }
    const auto before = [&](const Keyed& a, const Keyed& b) {
        if (a.key != b.key) return a.key < b.key;
        const int c = v.token(a.id).compare(v.token(b.id));
        return c != 0 ? c < 0 : a.id < b.id;
    };
    for (size_t b = 0; b < 65536; ++b)
        if (bucket_start[b + 1] - bucket_start[b] > 1)
            std::sort(order.begin() + bucket_start[b], order.begin() + bucket_start[b + 1], before);

    // Temporary node numbers in byte order, with the smallest id below each node and its depth.
    Table<uint32_t> min_id;
    std::vector<uint8_t> depth, tmp_has_child;
    min_id.reserve(v.token_bytes.size() / 3 + 16);
    depth.reserve(min_id.capacity());
    tmp_has_child.reserve(min_id.capacity());
    trie.path.resize(v.token_bytes.size());
    uint32_t stack[256];  // temporary node at each depth of the current token
    const uint8_t* bytes = v.token_bytes.data();
    Keyed prev{0, 0, 0};
    size_t prev_len = 0;
    for (size_t o = 0; o < n; ++o) {
        const Keyed& k = order[o];
        // The token's bytes (past the key) and its place in path are read and written out of order.
        if (o + 8 < n) {
            __builtin_prefetch(trie.path.data() + order[o + 8].offset, 1);
            __builtin_prefetch(v.token_len.data() + order[o + 8].id);
        }
        const uint32_t t = k.id;
        const size_t len = v.token_len[t];
        // The bytes shared with the previous token: the keys hold the first eight of both.
        const size_t limit = std::min(prev_len, len);
        const uint64_t differ = prev.key ^ k.key;
        size_t shared = differ != 0 ? size_t(std::countl_zero(differ)) / 8 : 8;
        if (shared == 8)
            while (shared < limit && bytes[prev.offset + shared] == bytes[k.offset + shared]) ++shared;
        shared = std::min(shared, limit);
        for (size_t d = 1; d <= shared; ++d) min_id[stack[d]] = std::min(min_id[stack[d]], t);
        for (size_t d = shared + 1; d <= len; ++d) {
            if (min_id.size() + 1 >= MAX_NODES) return false;
            stack[d] = uint32_t(min_id.size());
            min_id.push_back(t);
            depth.push_back(uint8_t(d));
            tmp_has_child.push_back(0);
            if (d > 1) tmp_has_child[stack[d - 1]] = 1;
        }
        uint32_t* out = trie.path.data() + k.offset;
        for (size_t i = 0; i < len; ++i) out[i] = stack[i + 1];
        prev = k;
        prev_len = len;
    }

    // Final numbers: token m creates its nodes consecutively, after those of every smaller id.
    const size_t count = min_id.size();
    std::vector<uint32_t> base(n, 0);
    std::vector<uint8_t> top(n, 255);  // smallest depth among the nodes a token creates
    for (size_t i = 0; i < count; ++i) {
        ++base[min_id[i]];
        top[min_id[i]] = std::min(top[min_id[i]], depth[i]);
    }
    for (uint32_t m = 0, next = 1; m < n; ++m) {
        const uint32_t created = base[m];
        base[m] = next;
        next += created;
    }
    Table<uint32_t> final_id(count);
    for (size_t i = 0; i < count; ++i) final_id[i] = base[min_id[i]] + depth[i] - top[min_id[i]];
    for (uint32_t& node : trie.path) node = final_id[node];
    trie.nodes = uint32_t(count + 1);
    trie.has_child.assign(count + 1, 0);
    for (size_t i = 0; i < count; ++i) trie.has_child[final_id[i]] = tmp_has_child[i];
    trie.cp3_child.assign(65536, 0);
    for (uint32_t t = 0; t < n; ++t) {
        const uint8_t* b = v.token_bytes.data() + v.token_offsets[t];
        if (starts_three_byte(b, v.token_len[t]))
            trie.cp3_child[cp3_index(b[0], b[1], b[2])] = trie.path[v.token_offsets[t] + 2];
    }
    return true;
}

struct TwoByteStep {
    uint64_t key;
    uint32_t child;
    uint32_t best;
};

// Largest edge2 table the build will make before refusing a vocabulary whose steps cluster badly.
constexpr uint64_t EDGE2_MAX_SLOTS = uint64_t(1) << 24;

// The walk stops at node 0, so a node without children is entered as 0 where a walk starts or steps
// (pair2_node, cp3_node, edge2; pair2_node only once the tables built from it are done): no step can
// lead on from it, and the probes that would find that out are skipped. pair2_token, cp3_token and the
// edge2 entries' tokens already name the token that ends there.
uint32_t walk_node(const Trie& trie, uint32_t node) { return trie.has_child[node] ? node : 0; }

// The map from token bytes to ids.
void build_token_ids(Vocab& v) {
    const uint32_t n = v.n_tokens;
    TokenIds& ids = v.token_ids;
    const uint64_t slots = pow2_at_least(uint64_t(n) * 2);
    ids.slots.assign(slots, NONE);
    ids.mask = slots - 1;
    for (uint32_t t = 0; t < n; ++t) {
        const uint8_t* tb = v.token_bytes.data() + v.token_offsets[t];
        const uint32_t len = v.token_len[t];
        for (uint64_t i = bytes_hash(tb, len) & ids.mask;; i = (i + 1) & ids.mask) {
            const uint32_t id = ids.slots[i];
            if (id == NONE) {
                ids.slots[i] = t;
                ++ids.entries;
                ids.key_bytes += len;
                break;
            }
            if (v.token_len[id] == len && std::memcmp(v.token_bytes.data() + v.token_offsets[id], tb, len) == 0) {
                ids.slots[i] = t;  // equal bytes: the later id replaces the earlier
                break;
            }
        }
    }
}

// The memo of pair verdicts, all zero, its pages taken from the system now: left to the first encode,
// their faults (up to 8 MiB cleared, and for huge pages perhaps a compaction) would all land in the
// first call, which is most of the work a short-lived program does.
void make_pair_memo(Vocab& v) {
    v.wide_ids = v.n_tokens >= 131073;
    if (v.wide_ids) {
        v.pair_memo32 = ZeroedArray<uint32_t>(size_t(1) << 21);
        v.pair_memo32.fault_in();
    } else {
        v.pair_memo16 = ZeroedArray<uint16_t>(size_t(1) << 20);
        v.pair_memo16.fault_in();
    }
}

// The whole-character steps (see CHAR_KEY), and in char_starts (by cp3_index) the three-byte starts
// whose walks may take them. None for a trie of CHAR_START_NODE nodes or more.
std::vector<TwoByteStep, TableAllocator<TwoByteStep>> char_steps(const Vocab& v, const Trie& trie,
                                                                 std::vector<uint8_t>& char_starts) {
    std::vector<TwoByteStep, TableAllocator<TwoByteStep>> steps;
    if (trie.nodes >= CHAR_START_NODE) return steps;
    const Table<uint32_t>& path = trie.path;
    const uint32_t n = v.n_tokens;
    // mixed[node]: some token through this node, reached by whole three-byte characters, goes on by other
    // bytes. From such a node only the two-byte steps find every token.
    std::vector<uint8_t> mixed(trie.nodes, 0);
    for (uint32_t t = 0; t < n; ++t) {
        const uint32_t len = v.token_len[t], off = v.token_offsets[t];
        const uint8_t* b = v.token_bytes.data() + off;
        if (!starts_three_byte(b, len)) continue;
        uint32_t i = 3;
        while (i < len && starts_three_byte(b + i, len - i)) i += 3;
        if (i < len) mixed[path[off + i - 1]] = 1;
    }
    std::vector<uint8_t> seen(trie.nodes, 0);
    for (uint32_t t = 0; t < n; ++t) {
        const uint32_t len = v.token_len[t], off = v.token_offsets[t];
        const uint8_t* b = v.token_bytes.data() + off;
        if (!starts_three_byte(b, len)) continue;
        const uint32_t cp_x = cp3_index(b[0], b[1], b[2]);
        for (uint32_t i = 3; i < len && starts_three_byte(b + i, len - i); i += 3) {
            const uint32_t from = path[off + i - 1], child = path[off + i + 2];
            if (mixed[from]) break;
            if (i == 3) char_starts[cp_x] = 1;
            if (seen[child]) continue;
            seen[child] = 1;
            const uint32_t cp = cp3_index(b[i], b[i + 1], b[i + 2]);
            const uint32_t next = walk_node(trie, child);
            const uint32_t best = v.node_token[child];
            steps.push_back({i == 3 ? char_start_key(cp_x, cp) : char_step_key(from, cp),
                             next | uint32_t(next != 0 && mixed[child]) << 19, best == NONE ? NO_BEST : best});
        }
    }
    return steps;
}

// The two-byte steps of the walk (edge2) and the last bytes of tokens of odd length (edge1). False when the
// steps cluster beyond the largest edge2 table. The whole-character steps go into the same table where
// they fit without long runs; char_starts is cleared where they do not.
bool build_steps(Vocab& v, const Trie& trie, std::vector<uint8_t>& char_starts) {
    const uint32_t n = v.n_tokens;
    const Table<uint32_t>& path = trie.path;
    // ---- distinct two-byte steps, one per child node reached ----
    std::vector<TwoByteStep, TableAllocator<TwoByteStep>> two;
    two.reserve(v.token_bytes.size() / 2);  // at most one step for every two bytes
    {
        std::vector<uint8_t> seen(v.node_token.size(), 0);
        for (uint32_t t = 0; t < n; ++t) {
            const uint32_t len = v.token_len[t], off = v.token_offsets[t];
            for (uint32_t i = 2; i + 2 <= len; i += 2) {
                const uint32_t child = path[off + i + 1];
                if (seen[child]) continue;
                seen[child] = 1;
                uint32_t best = v.node_token[child];
                if (best == NONE) best = v.node_token[path[off + i]];
                two.push_back({edge2_key(path[off + i - 1], v.token_bytes[off + i], v.token_bytes[off + i + 1]),
                               walk_node(trie, child), best == NONE ? NO_BEST : best});
            }
        }
    }

    // ---- edge1, the last byte of tokens of odd length >= 3 ----
    {
        uint64_t odd = 0;
        for (uint32_t t = 0; t < n; ++t) odd += (v.token_len[t] >= 3 && (v.token_len[t] & 1));
        const uint64_t slots = table_size_for_load(odd, 1024);
        v.edge1.assign(slots, 0);
        v.edge1_mask = uint32_t(slots - 1);
        for (uint32_t t = 0; t < n; ++t) {
            const uint32_t len = v.token_len[t], off = v.token_offsets[t];
            if (len < 3 || !(len & 1)) continue;
            const uint64_t key = edge1_key(path[off + len - 2], v.token_bytes[off + len - 1]);
            for (uint64_t i = edge1_home(key) & v.edge1_mask;; i = (i + 1) & v.edge1_mask) {
                if (edge1_matches(v.edge1[i], key)) break;  // an earlier id stays
                if (v.edge1[i] == 0) {  // bit 18: longer tokens continue through the node this byte reaches
                    v.edge1[i] = edge1_entry(key, trie.has_child[path[off + len - 1]], t);
                    break;
                }
            }
        }
    }

    // ---- edge2, doubled until no run of occupied slots reaches size / 2048 ----
    const auto place = [&](const std::vector<TwoByteStep, TableAllocator<TwoByteStep>>& steps) {
        for (const TwoByteStep& s : steps) {
            const uint64_t h = edge2_hash(s.key);
            uint64_t i = h >> v.edge2_shift;
            while (v.edge2[i] != 0) i = (i + 1) & v.edge2_mask;
            v.edge2[i] = edge2_entry(h, s.child, s.best);
        }
    };
    for (uint64_t slots = table_size_for_load(two.size(), uint64_t(1) << 17);; slots *= 2) {
        if (slots > EDGE2_MAX_SLOTS) return false;
        v.edge2.assign(slots, 0);
        v.edge2_mask = uint32_t(slots - 1);
        v.edge2_shift = 36 - uint32_t(std::countr_zero(slots));
        place(two);
        if (longest_run(v.edge2) < slots / 2048) break;
    }
    // ---- the whole-character steps, in the table as sized for the two-byte steps ----
    const auto chars = char_steps(v, trie, char_starts);
    if (!chars.empty() && (two.size() + chars.size()) * 100 <= v.edge2.size() * 45) {
        place(chars);
        if (longest_run(v.edge2) >= v.edge2.size() / 2048) {  // the two-byte steps alone, as they were
            std::fill(v.edge2.begin(), v.edge2.end(), 0);
            place(two);
            std::fill(char_starts.begin(), char_starts.end(), 0);
        }
    } else {
        std::fill(char_starts.begin(), char_starts.end(), 0);
    }
    two = {};
    return true;
}

// next_prefix, and how each token was merged (split, pair_merge).
void build_merges(Vocab& v, const Trie& trie) {
    const uint32_t n = v.n_tokens;
    const Table<uint32_t>& path = trie.path;
    // ---- next_prefix ----
    v.next_prefix.assign(n, NONE);
    for (uint32_t t = 0; t < n; ++t) {
        const uint32_t len = v.token_len[t], off = v.token_offsets[t];
        for (uint32_t i = len - 1; i >= 1; --i) {
            const uint32_t tok = v.node_token[path[off + i - 1]];
            if (tok != NONE) {
                v.next_prefix[t] = tok;
                break;
            }
        }
    }

    // ---- split and pair_merge, in id order. The build tests each pair about once, so it
    // skips the memo. ----
    {
        const uint64_t slots = pow2_at_least(uint64_t(n) * 2);
        v.pair_merge.assign(slots, 0);
        v.pair_merge_mask = uint32_t(slots - 1);
    }
    v.split.resize(n);
    // The suffix of each token after its longest prefix token is looked up for all tokens first: those
    // lookups are independent of each other, so their memory accesses overlap.
    std::vector<uint32_t> first_suffix(n, NONE);
    for (uint32_t t = 0; t < n; ++t)
        if (const uint32_t a = v.next_prefix[t]; a != NONE)
            first_suffix[t] = v.find_id(v.token(t).substr(v.token_len[a]));
    // The first pair tried for a token is most often its merge: its split entries and its slot in
    // pair_merge, read and written at random, are fetched a few tokens ahead.
    constexpr uint32_t FETCH_AHEAD = 16;
    for (uint32_t t = 0; t < n; ++t) {
        if (t + FETCH_AHEAD < n) {
            const uint32_t a = v.next_prefix[t + FETCH_AHEAD], b = first_suffix[t + FETCH_AHEAD];
            if (a != NONE && b != NONE) {
                __builtin_prefetch(v.split.data() + a, 1);
                __builtin_prefetch(v.split.data() + b, 1);
                __builtin_prefetch(v.pair_merge.data() + (pair_home(pair_key(a, b)) & v.pair_merge_mask), 1);
            }
        }
        v.split[t] = {t, t};
        const std::string_view tb = v.token(t);
        for (uint32_t a = v.next_prefix[t]; a != NONE; a = v.next_prefix[a]) {
            const uint32_t b = a == v.next_prefix[t] ? first_suffix[t] : v.find_id(tb.substr(v.token_len[a]));
            if (b == NONE || a >= t || b >= t || !is_valid_pair(v, a, b)) continue;
            const uint64_t key = pair_key(a, b);
            for (uint64_t i = pair_home(key) & v.pair_merge_mask;; i = (i + 1) & v.pair_merge_mask) {
                const uint64_t e = v.pair_merge[i];
                if (e == 0 || (e & ~PAIR_ID_MASK) == (key + 1) << 19) {
                    v.pair_merge[i] = pair_entry(key, t);
                    break;
                }
            }
            v.split[a].left |= uint32_t(1) << merge_bit_r(b);
            v.split[b].right |= uint32_t(1) << merge_bit_l(a);
            v.split[t] = {a, b};
            break;
        }
    }
}

}  // namespace

template <class T>
ZeroedArray<T>::ZeroedArray(size_t n) : p_(static_cast<T*>(map_zeroed(n * sizeof(T)))), n_(n) {}
template <class T>
ZeroedArray<T>::~ZeroedArray() {
    unmap_zeroed(p_, n_ * sizeof(T));
}
template <class T>
void ZeroedArray<T>::fault_in() {
    // One write in every 4 KiB; on huge pages the first write of each 2 MiB takes the whole page.
    volatile uint8_t* bytes = reinterpret_cast<volatile uint8_t*>(p_);
    for (size_t i = 0; i < n_ * sizeof(T); i += 4096) bytes[i] = 0;
}
template class ZeroedArray<uint16_t>;
template class ZeroedArray<uint32_t>;

uint32_t Vocab::find_id(std::string_view bytes) const {
    if (bytes.empty() || token_ids.slots.empty()) return NONE;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    for (uint64_t i = bytes_hash(p, bytes.size()) & token_ids.mask;; i = (i + 1) & token_ids.mask) {
        const uint32_t id = token_ids.slots[i];
        if (id == NONE) return NONE;
        if (token_len[id] == bytes.size() && std::memcmp(token_bytes.data() + token_offsets[id], p, bytes.size()) == 0)
            return id;
    }
}

uint64_t Vocab::footprint() const {
    uint64_t n = token_ids.key_bytes + 24 * uint64_t(token_ids.entries);
    n += token_bytes.size() + token_len.size();
    n += 2 * uint64_t(pair_memo16.size());
    n += 4 * uint64_t(token_offsets.size() + pair2_node.size() + pair2_token.size() + node_token.size() +
                      next_prefix.size() + pair_memo32.size() + cp3_node.size() + cp3_token.size());
    n += 8 * uint64_t(split.size() + pair_merge.size() + edge2.size() + edge1.size());
    return n;
}

Expected<Vocab> Vocab::from_bytes(std::span<const uint8_t> bytes, std::string_view source) {
    // ---- validation: the token bytes of every rank ----
    const size_t size = bytes.size();
    const uint8_t* data = bytes.data();
    if (size < 4) return bad_vocab("truncated header", source);
    const uint32_t n = load_u32(data);
    if (n == 0 || n > MAX_TOKENS) return bad_vocab("token count out of range (max 262144 ids)", source);
    // Id 0x3FFFF doubles as the no-token mark of the packed 18-bit id fields, so a vocabulary that
    // uses it could be encoded wrongly; such a file is refused rather than served.
    if (n == MAX_TOKENS) return bad_vocab("token count 262144 not supported (max 262143 ids)", source);
    std::vector<uint32_t> rec_pos(n, 0);  // position of the token bytes of each rank, 0 = not seen
    size_t p = 4;
    for (uint32_t r = 0; r < n; ++r) {
        if (size - p < 2) return bad_vocab("truncated record", source);
        const uint32_t len = load_u16(data + p);
        if (len == 0 || len >= 256) return bad_vocab("token length out of range", source);
        if (size - p < 2 + size_t(len) + 4) return bad_vocab("truncated token bytes", source);
        const uint32_t rank = load_u32(data + p + 2 + len);
        if (rank >= n) return bad_vocab("rank out of range", source);
        if (rec_pos[rank] != 0) return bad_vocab("duplicate rank", source);
        rec_pos[rank] = uint32_t(p + 2);
        p += 2 + size_t(len) + 4;
    }
    if (p != size) return bad_vocab("trailing bytes", source);

    Vocab v;
    v.n_tokens = n;

    // ---- token bytes, offsets, lengths ----
    v.token_offsets.reserve(size_t(n) + 1);
    v.token_offsets.push_back(0);
    v.token_len.resize(n);
    v.token_bytes.resize(size - 4 - size_t(n) * 6);  // the records hold exactly the token bytes and 6 more each
    for (uint32_t t = 0, at = 0; t < n; ++t) {
        const uint8_t* src = data + rec_pos[t];
        const uint32_t len = load_u16(src - 2);
        std::memcpy(v.token_bytes.data() + at, src, len);
        at += len;
        v.token_offsets.push_back(at);
        v.token_len[t] = uint8_t(len);
    }
    rec_pos = {};

    // ---- the id map and the memo beside the trie; path[] keeps the node after each byte of each token ----
    Trie trie;
    bool trie_built = false;
    run_side_by_side(
        [&] {
            build_token_ids(v);
            make_pair_memo(v);
        },
        [&] { trie_built = build_trie(v, trie); });
    if (!trie_built) return Error{"lexaro: trie too large for packed e2 (max 2^20 nodes): " + std::string(source)};
    const Table<uint32_t>& path = trie.path;
    v.node_token.assign(trie.nodes, NONE);
    v.byte_node.fill(0);
    v.pair2_node.assign(65536, 0);
    for (uint32_t t = 0; t < n; ++t) {  // in id order: of equal tokens the larger id ends at the node
        const uint32_t off = v.token_offsets[t], len = v.token_len[t];
        const uint8_t* b = v.token_bytes.data() + off;
        v.node_token[path[off + len - 1]] = t;
        v.byte_node[b[0]] = path[off];
        if (len >= 2) v.pair2_node[uint32_t(b[0]) << 8 | b[1]] = path[off + 1];
    }
    v.all_bytes = true;
    for (uint32_t b = 0; b < 256; ++b) {
        v.byte_token[b] = v.byte_node[b] ? v.node_token[v.byte_node[b]] : NONE;
        v.all_bytes &= v.byte_token[b] != NONE;
    }

    // ---- direct tables of the first two bytes (pair2_node was filled by the trie build) ----
    v.pair2_token.assign(65536, NONE);
    for (uint32_t b0 = 0; b0 < 256; ++b0) {
        const uint32_t n1 = v.byte_node[b0];
        if (n1 == 0) continue;
        for (uint32_t b1 = 0; b1 < 256; ++b1) {
            const uint32_t n2 = v.pair2_node[b0 << 8 | b1];
            v.pair2_token[b0 << 8 | b1] = (n2 != 0 && v.node_token[n2] != NONE) ? v.node_token[n2] : v.node_token[n1];
        }
    }

    // ---- the walk's steps beside the merges: neither reads what the other writes ----
    bool steps_fit = false;
    std::vector<uint8_t> char_starts(65536, 0);
    run_side_by_side([&] { build_merges(v, trie); }, [&] { steps_fit = build_steps(v, trie, char_starts); });
    if (!steps_fit) return bad_vocab("two-byte trie steps cluster beyond the table limit", source);

    // ---- three-byte UTF-8 starts ----
    v.cp3_node.assign(65536, 0);
    v.cp3_token.assign(65536, NONE);
    for (uint32_t c0 = 0xE0; c0 <= 0xEF; ++c0)
        for (uint32_t c1 = 0x80; c1 <= 0xBF; ++c1) {
            const uint32_t n2 = v.pair2_node[c0 << 8 | c1], t2 = v.pair2_token[c0 << 8 | c1];
            for (uint32_t c2 = 0x80; c2 <= 0xBF; ++c2) {
                const uint32_t cp = cp3_index(c0, c1, c2);
                const uint32_t n3 = n2 ? trie.cp3_child[cp] : 0;
                // The walk goes on from the node after two bytes, through the third byte and the next
                // one: only worth a probe when the node after all three has children.
                v.cp3_node[cp] = n3 != 0 && trie.has_child[n3] ? n2 | (char_starts[cp] ? CP3_CHARS : 0) : 0;
                v.cp3_token[cp] = (n3 != 0 && v.node_token[n3] != NONE) ? v.node_token[n3] : t2;
            }
        }
    for (uint32_t& node : v.pair2_node) node = walk_node(trie, node);
    return v;
}

}  // namespace lexaro
