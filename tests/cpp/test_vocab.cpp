// The vocabulary tables: sizes and invariants of the built-in tables, and small crafted vocabularies.
#include <algorithm>
#include <random>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "check.h"
#include "core/builtin_data.h"
#include "core/mb.h"
#include "core/tokenizer.h"
#include "vocab_util.h"

using namespace lexaro;
using testutil::Rec;

namespace {

const Vocab& cl100k() {
    static const Vocab v = std::move(*Vocab::from_bytes(builtin::cl100k_vocab(), "cl100k_base"));
    return v;
}
const Vocab& o200k() {
    static const Vocab v = std::move(*Vocab::from_bytes(builtin::o200k_vocab(), "o200k_base"));
    return v;
}

uint64_t longest_run(std::span<const uint64_t> t) {
    // counted cyclically: start after an empty slot
    size_t start = 0;
    while (t[start] != 0) ++start;
    uint64_t best = 0, run = 0;
    for (size_t k = 1; k <= t.size(); ++k) {
        run = t[(start + k) % t.size()] ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best;
}

// Walks the trie one byte at a time through the packed tables, as the encoder would.
bool splits_concatenate(const Vocab& v) {
    for (uint32_t t = 0; t < v.n_tokens; ++t) {
        const uint32_t left = split_left(v.split[t]), right = split_right(v.split[t]);
        if (left == t && right == t) continue;
        if (left >= t || right >= t) return false;
        if (std::string(v.token(left)) + std::string(v.token(right)) != v.token(t)) return false;
        if (pair_merge_find(v, left, right) != t) return false;
        // the pair test skips pair_merge unless both merge bits are set
        if (!may_merge(v.split[left], v.split[right], left, right)) return false;
    }
    return true;
}

}  // namespace

TEST(builtin_table_sizes) {
    const Vocab& c = cl100k();
    CHECK_EQ(c.n_tokens, 100256u);
    CHECK_EQ(c.node_token.size(), size_t(216750));
    CHECK_EQ(c.edge2.size(), size_t(262144));
    CHECK_EQ(testutil::occupied(c.edge2), size_t(103495 + 342));  // two-byte and whole-character steps
    CHECK(longest_run(c.edge2) < c.edge2.size() / 2048);
    CHECK_EQ(c.edge1.size(), size_t(131072));
    CHECK_EQ(testutil::occupied(c.edge1), size_t(50492));
    CHECK_EQ(c.pair_merge.size(), size_t(262144));
    CHECK(!c.wide_ids);
    CHECK_EQ(c.pair_memo16.size(), size_t(1) << 20);
    CHECK(c.pair_memo32.empty());

    const Vocab& o = o200k();
    CHECK_EQ(o.n_tokens, 199998u);
    CHECK_EQ(o.node_token.size(), size_t(421661));
    CHECK_EQ(o.edge2.size(), size_t(524288));
    CHECK_EQ(testutil::occupied(o.edge2), size_t(203875 + 11211));
    CHECK(longest_run(o.edge2) < o.edge2.size() / 2048);
    CHECK_EQ(o.edge1.size(), size_t(262144));
    CHECK_EQ(testutil::occupied(o.edge1), size_t(103036));
    CHECK_EQ(o.pair_merge.size(), size_t(524288));
    CHECK(o.wide_ids);
    CHECK_EQ(o.pair_memo32.size(), size_t(1) << 21);
    CHECK(o.pair_memo16.empty());
}

TEST(builtin_splits_concatenate_and_merge_back) {
    CHECK(splits_concatenate(cl100k()));
    CHECK(splits_concatenate(o200k()));
}

TEST(builtin_lookup_tables_agree_with_token_bytes) {
    for (const Vocab* v : {&cl100k(), &o200k()}) {
        CHECK(v->all_bytes);
        bool ids_ok = true, prefix_ok = true;
        for (uint32_t t = 0; t < v->n_tokens; ++t) {
            ids_ok &= v->find_id(v->token(t)) == t;
            // next_prefix is the longest proper prefix that is a token
            uint32_t want = NONE;
            for (size_t l = v->token_len[t] - 1; l >= 1 && want == NONE; --l)
                want = v->find_id(v->token(t).substr(0, l));
            prefix_ok &= v->next_prefix[t] == want;
        }
        CHECK(ids_ok);
        CHECK(prefix_ok);
        CHECK_EQ(v->find_id(""), NONE);
        // U+4E00 starts longer tokens: the three-byte table starts from the node after the first two bytes
        CHECK_EQ(v->cp3_node[cp3_index(0xE4, 0xB8, 0x80)] & CP3_NODE_MASK, v->pair2_node[0xE4B8]);
        CHECK(std::all_of(v->pair_memo16.begin(), v->pair_memo16.end(), [](uint16_t m) { return m == 0; }));
        CHECK(std::all_of(v->pair_memo32.begin(), v->pair_memo32.end(), [](uint32_t m) { return m == 0; }));
    }
}

TEST(walks_start_only_where_a_longer_token_can_follow) {
    // pair2_node and cp3_node are 0 exactly where no token extends the first two or three bytes
    for (const Vocab* v : {&cl100k(), &o200k()}) {
        std::vector<uint8_t> longer2(65536, 0), longer3(65536, 0);
        for (uint32_t t = 0; t < v->n_tokens; ++t) {
            const std::string_view b = v->token(t);
            const auto c = [&](size_t i) { return uint32_t(uint8_t(b[i])); };
            if (b.size() > 2) longer2[c(0) << 8 | c(1)] = 1;
            if (b.size() > 3 && (c(0) & 0xF0) == 0xE0 && (c(1) & 0xC0) == 0x80 && (c(2) & 0xC0) == 0x80)
                longer3[cp3_index(c(0), c(1), c(2))] = 1;
        }
        size_t pair_bad = 0, cp3_bad = 0, cp3_started = 0;
        for (uint32_t i = 0; i < 65536; ++i) {
            pair_bad += (v->pair2_node[i] != 0) != bool(longer2[i]);
            const uint32_t c0 = 0xE0 | i >> 12, c1 = 0x80 | (i >> 6 & 0x3F), c2 = 0x80 | (i & 0x3F);
            const uint32_t cp = cp3_index(c0, c1, c2);
            cp3_bad += (v->cp3_node[cp] != 0) != bool(longer3[cp]);
            cp3_bad += v->cp3_node[cp] != 0 && (v->cp3_node[cp] & CP3_NODE_MASK) != v->pair2_node[c0 << 8 | c1];
            cp3_started += v->cp3_node[cp] != 0;
        }
        CHECK_EQ(pair_bad, size_t(0));
        CHECK_EQ(cp3_bad, size_t(0));
        CHECK(cp3_started > 100 && cp3_started < 10000);  // few: most characters end every token they start
    }
}

TEST(longest_prefix_walks_agree_with_brute_force) {
    std::mt19937 rng(7);
    for (const Vocab* v : {&cl100k(), &o200k()}) {
        bool ok = true;
        for (int n = 0; n < 20000 && ok; ++n) {
            // a random token followed by random bytes, or random bytes from a small alphabet
            std::string s;
            if (n % 2) s = std::string(v->token(rng() % v->n_tokens));
            const char* alpha = "ab \xe4\xb8\x80\xc3\xa9\xf0\x9f\x98\x80t";
            for (int k = rng() % 8; k > 0; --k) s += (rng() % 3) ? alpha[rng() % 14] : char(rng());
            if (s.empty()) continue;
            uint32_t want = NONE;
            for (size_t l = std::min<size_t>(s.size(), 255); l >= 1 && want == NONE; --l)
                want = v->find_id(s.substr(0, l));
            const auto* p = reinterpret_cast<const uint8_t*>(s.data());
            ok &= nm_mb(*v, p, s.size()) == want;
            ok &= first_token(*v, p, s.size()) == want;
        }
        CHECK(ok);
    }
}

TEST(character_walks_agree_with_brute_force) {
    // Text of tokens that start with three-byte characters, run together, sometimes cut inside a
    // character or followed by other bytes: the walks by whole characters, their ends and their fallback
    // to two-byte steps where a node also leads on by other bytes.
    std::mt19937 rng(11);
    for (const Vocab* v : {&cl100k(), &o200k()}) {
        std::vector<uint32_t> cjk;
        for (uint32_t t = 0; t < v->n_tokens; ++t) {
            const std::string_view b = v->token(t);
            if (b.size() >= 3 && starts_three_byte(reinterpret_cast<const uint8_t*>(b.data()), b.size()))
                cjk.push_back(t);
        }
        size_t walked = 0, wrong = 0;
        for (int n = 0; n < 3000; ++n) {
            std::string s;
            for (int k = 1 + rng() % 6; k > 0; --k) s += v->token(cjk[rng() % cjk.size()]);
            if (rng() % 4 == 0) s.resize(s.size() - 1 - rng() % std::min<size_t>(s.size(), 4));
            if (rng() % 4 == 0) s += (rng() % 2) ? "a" : "\xc3\xa9";
            for (size_t at = 0; at < s.size(); ++at) {
                const std::string_view rest = std::string_view(s).substr(at);
                uint32_t want = NONE;
                for (size_t l = std::min<size_t>(rest.size(), 255); l >= 1 && want == NONE; --l)
                    want = v->find_id(rest.substr(0, l));
                wrong += nm_mb(*v, reinterpret_cast<const uint8_t*>(rest.data()), rest.size()) != want;
                ++walked;
            }
        }
        CHECK(walked > 30000);
        CHECK_EQ(wrong, size_t(0));
    }
}

TEST(only_single_bytes) {
    const Vocab v = testutil::build(testutil::byte_vocab());
    CHECK_EQ(v.node_token.size(), size_t(257));
    CHECK_EQ(v.edge2.size(), size_t(131072));
    CHECK_EQ(testutil::occupied(v.edge2), size_t(0));
    CHECK_EQ(v.edge1.size(), size_t(1024));
    CHECK_EQ(testutil::occupied(v.edge1), size_t(0));
    CHECK_EQ(v.pair_merge.size(), size_t(512));
    CHECK_EQ(testutil::occupied(v.pair_merge), size_t(0));
    bool trivial = true;
    for (uint32_t t = 0; t < 256; ++t)
        trivial &= v.split[t].left == t && v.split[t].right == t && v.next_prefix[t] == NONE;
    CHECK(trivial);
}

TEST(one_token_vocabulary) {
    const Vocab v = testutil::build({{"x", 0}});
    CHECK_EQ(v.pair_merge.size(), size_t(2));
    CHECK_EQ(v.find_id("x"), 0u);
    CHECK_EQ(v.find_id("y"), NONE);
    CHECK(!v.all_bytes);
}

#if defined(__linux__)
// Whether every page of p[0, bytes) is in memory now.
static bool resident(const void* p, size_t bytes) {
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t start = reinterpret_cast<uintptr_t>(p) & ~(page - 1);
    const size_t len = reinterpret_cast<uintptr_t>(p) + bytes - start;
    std::vector<unsigned char> in((len + page - 1) / page);
    if (mincore(reinterpret_cast<void*>(start), len, in.data()) != 0) return false;
    return std::all_of(in.begin(), in.end(), [](unsigned char c) { return (c & 1) != 0; });
}
#endif

TEST(memo_width_follows_token_count) {
    auto sized = [](uint32_t n) {
        std::vector<Rec> recs = testutil::byte_vocab();
        for (uint32_t i = 256; i < n; ++i) recs.push_back({"\xff\xfe" + std::to_string(i), i});
        return testutil::build(recs);
    };
    const Vocab narrow = sized(131072), wide = sized(131073);
    CHECK(!narrow.wide_ids);
    CHECK_EQ(narrow.pair_memo16.size(), size_t(1) << 20);
    CHECK(wide.wide_ids);
    CHECK_EQ(wide.pair_memo32.size(), size_t(1) << 21);
    // The memo is in memory and all zero when the build returns, so that no first encode pays its faults
    // (checked before reading it, which would fault it in).
#if defined(__linux__)
    CHECK(resident(narrow.pair_memo16.data(), narrow.pair_memo16.size() * 2));
    CHECK(resident(wide.pair_memo32.data(), wide.pair_memo32.size() * 4));
#endif
    CHECK(std::all_of(narrow.pair_memo16.begin(), narrow.pair_memo16.end(), [](uint16_t e) { return e == 0; }));
    CHECK(std::all_of(wide.pair_memo32.begin(), wide.pair_memo32.end(), [](uint32_t e) { return e == 0; }));
}

TEST(split_of_a_merged_token) {
    const Vocab v = testutil::build(testutil::byte_vocab({"ab", "abc", "bc", "xyz"}));
    const uint32_t ab = v.find_id("ab"), abc = v.find_id("abc"), c = v.find_id("c");
    CHECK_EQ(v.next_prefix[abc], ab);
    CHECK_EQ(split_left(v.split[abc]), ab);
    CHECK_EQ(split_right(v.split[abc]), c);
    CHECK_EQ(pair_merge_find(v, ab, c), abc);
    // "xyz" has no two-token decomposition with smaller ids ("xy" and "yz" are not tokens)
    const uint32_t xyz = v.find_id("xyz");
    CHECK_EQ(split_left(v.split[xyz]), xyz);
    CHECK_EQ(split_right(v.split[xyz]), xyz);
    CHECK_EQ(v.find_id("a"), uint32_t('a'));
    CHECK_EQ(v.find_id("abcd"), NONE);
    CHECK_EQ(v.find_id("xy"), NONE);  // a proper prefix of a token, not a token itself
}

TEST(record_order_does_not_matter) {
    std::vector<Rec> recs = testutil::byte_vocab({"ab", "abc", "bc", "hello", " world"});
    const Vocab a = testutil::build(recs);
    std::reverse(recs.begin(), recs.end());
    const Vocab b = testutil::build(recs);
    CHECK(a.token_bytes == b.token_bytes);
    CHECK(a.edge2 == b.edge2);
    CHECK(a.edge1 == b.edge1);
    CHECK(a.pair_merge == b.pair_merge);
    CHECK_EQ(a.footprint(), b.footprint());
}

TEST(equal_token_bytes_keep_documented_ids) {
    // ids 256 and 257 have equal bytes: the id map and the trie keep the larger, edge1 the smaller
    const Vocab v = testutil::build(testutil::byte_vocab({"abc", "abc"}));
    CHECK_EQ(v.find_id("abc"), 257u);
    const uint64_t e1 = edge1_find(v, v.pair2_node['a' << 8 | 'b'], 'c');
    CHECK_EQ(uint32_t(e1) & NO_BEST, 256u);
}

TEST(largest_token_count_is_refused) {
    std::vector<uint8_t> file;
    testutil::put_u32(file, MAX_TOKENS);
    auto v = Vocab::from_bytes(file, "big");
    CHECK(!v);
    CHECK(v.error().rfind("lexaro: bad vocab file (", 0) == 0);
}

TEST_MAIN()
