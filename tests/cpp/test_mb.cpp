// The piece encoder against classic lowest-rank-first merging.
#include <random>

#include "check.h"
#include "core/builtin_data.h"
#include "core/mb.h"
#include "vocab_util.h"

using namespace lexaro;

namespace {

const Vocab& vocab(int which) { return testutil::builtin_vocab(which); }

std::vector<uint32_t> mb(const Vocab& v, std::string_view s) {
    std::vector<uint32_t> out;
    encode_mb(v, reinterpret_cast<const uint8_t*>(s.data()), s.size(), out);
    return out;
}

std::vector<uint32_t> with_first(const Vocab& v, std::string_view s) {
    std::vector<uint32_t> out{7, 7};  // ids already present stay in place
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    encode_with_first(v, p, s.size(), first_token(v, p, s.size()), out);
    out.erase(out.begin(), out.begin() + 2);
    return out;
}

}  // namespace

TEST(every_token_encodes_to_itself) {
    for (int w = 0; w < 2; ++w) {
        const Vocab& v = vocab(w);
        size_t bad = 0;
        for (uint32_t t = 0; t < v.n_tokens; ++t) {
            const std::vector<uint32_t> want{t};
            bad += mb(v, v.token(t)) != want || with_first(v, v.token(t)) != want;
            bad += testutil::classic_bpe(v, v.token(t)) != want;
        }
        CHECK_EQ(bad, size_t(0));
    }
}

TEST(random_pieces_equal_classic_merging) {
    std::mt19937 rng(11);
    for (int w = 0; w < 2; ++w) {
        const Vocab& v = vocab(w);
        size_t bad = 0, backtracked = 0;
        for (int n = 0; n < 30000; ++n) {
            std::string s;
            const int kind = n % 4;
            if (kind == 0) {  // random bytes
                for (int k = 1 + rng() % 24; k > 0; --k) s += char(rng());
            } else if (kind == 1) {  // glued tokens, where merges across the seams matter
                for (int k = 1 + rng() % 4; k > 0; --k) s += v.token(rng() % v.n_tokens);
            } else if (kind == 2) {  // runs over a tiny alphabet: long pieces with many equal pairs
                const char* a = "aab ";
                for (int k = 1 + rng() % 40; k > 0; --k) s += a[rng() % 4];
            } else {  // multi-byte characters
                const char* chars[] = {"\xe4\xb8\x80", "\xc3\xa9", "\xf0\x9f\x98\x80", "\xd0\xb6", "\xe0\xa4\x95", "x"};
                for (int k = 1 + rng() % 10; k > 0; --k) s += chars[rng() % 6];
            }
            const std::vector<uint32_t> want = testutil::classic_bpe(v, s);
            backtracked += testutil::greedy(v, s) != want;
            if (mb(v, s) != want || with_first(v, s) != want) {
                if (bad < 3) std::printf("  mismatch on piece of %zu bytes (kind %d)\n", s.size(), kind);
                ++bad;
            }
        }
        CHECK_EQ(bad, size_t(0));
        // the search that resumes where the longest-match path fails is well exercised
        CHECK(backtracked > 1000);
    }
}

TEST(long_pieces_equal_classic_merging) {
    // The search keeps one bit per position: on the stack below 256 bytes, in the thread's scratch vector
    // from there on. Lengths at and around the 64-bit word edges and that switch, one piece after another
    // on the same thread, so a bitmap left over from the piece before would show.
    std::mt19937 rng(17);
    const size_t edges[] = {63, 64, 65, 127, 128, 129, 191, 192, 255, 256, 257, 320};
    for (int w = 0; w < 2; ++w) {
        const Vocab& v = vocab(w);
        size_t bad = 0, backtracked_short = 0, backtracked_long = 0;
        for (int n = 0; n < 288; ++n) {  // every edge length four times with each kind of piece, then others
            const size_t len = n < 144 ? edges[size_t(n) % std::size(edges)] : 200 + rng() % 400;
            const int kind = (n / int(std::size(edges))) % 3;
            std::string s;
            if (kind == 0) {  // glued tokens
                while (s.size() < len) s += v.token(rng() % v.n_tokens);
            } else {  // a tiny alphabet, where every stretch has many candidates
                const char* a = kind == 1 ? "aab " : "xy\xc3\xa9";
                while (s.size() < len) s += a[rng() % 4];
            }
            s.resize(len);
            const std::vector<uint32_t> want = testutil::classic_bpe(v, s);
            if (testutil::greedy(v, s) != want) ++(len < 256 ? backtracked_short : backtracked_long);
            if (mb(v, s) != want || with_first(v, s) != want) {
                if (bad < 3) std::printf("  mismatch on piece of %zu bytes\n", s.size());
                ++bad;
            }
        }
        CHECK_EQ(bad, size_t(0));
        CHECK(backtracked_short > 40);
        CHECK(backtracked_long > 40);
    }
}

TEST(pieces_walked_ahead_equal_classic_merging) {
    // Pieces of 512 bytes and more in o200k_base have their walks made ahead along the greedy path. Text
    // of three-byte characters defeats the greedy pass often, so the search leaves that path and comes
    // back to it; runs with long tokens take the search past the path walked ahead.
    std::mt19937 rng(23);
    const Vocab& v = vocab(1);
    std::vector<uint32_t> three_byte, long_tokens;
    for (uint32_t t = 0; t < v.n_tokens; ++t) {
        const auto* b = v.token_bytes.data() + v.token_offsets[t];
        if (v.token_len[t] >= 3 && starts_three_byte(b, v.token_len[t])) three_byte.push_back(t);
        if (v.token_len[t] >= 40) long_tokens.push_back(t);
    }
    size_t bad = 0, backtracked = 0;
    for (int n = 0; n < 60; ++n) {
        const size_t len = 512 + rng() % 2600;
        std::string s;
        while (s.size() < len) {
            const uint32_t r = rng() % 100;
            if (n % 3 == 0 || r < 70)
                s += v.token(three_byte[rng() % three_byte.size()]);
            else if (r < 80)
                s += v.token(long_tokens[rng() % long_tokens.size()]);
            else
                s += v.token(rng() % v.n_tokens);
        }
        const std::vector<uint32_t> want = testutil::classic_bpe(v, s);
        backtracked += testutil::greedy(v, s) != want;
        bad += mb(v, s) != want || with_first(v, s) != want;
    }
    CHECK_EQ(bad, size_t(0));
    CHECK(backtracked > 30);
}

TEST(empty_and_one_byte_pieces) {
    const Vocab& v = vocab(0);
    CHECK(mb(v, "").empty());
    const std::vector<uint32_t> one{v.byte_token[0xFF]};
    CHECK(mb(v, "\xff") == one);
}

TEST(pair_test_of_equal_ids_and_memo_hits) {
    const Vocab& v = vocab(1);
    // the memo answers what the plain test answers, before and after it is filled
    std::mt19937 rng(3);
    size_t bad = 0;
    for (int n = 0; n < 20000; ++n) {
        const uint32_t a = rng() % v.n_tokens, b = (n % 5 == 0) ? a : rng() % v.n_tokens;
        const bool plain = is_valid_pair(v, a, b);
        bad += valid_pair(v, a, b) != plain;
        bad += valid_pair(v, a, b) != plain;
    }
    CHECK_EQ(bad, size_t(0));
}

TEST(missing_byte_tokens_never_loop_or_crash) {
    // a vocabulary without most single bytes: uncovered bytes are dropped, the rest is encoded
    const Vocab v = testutil::build({{"a", 0}, {"b", 1}, {"ab", 2}});
    CHECK((mb(v, "abxab") == std::vector<uint32_t>{2, 2}));
    CHECK((mb(v, "zzz").empty()));
    CHECK((with_first(v, "xba") == std::vector<uint32_t>{1, 0}));
}

namespace {

// The pair test as it reads without the merge bits: pair_merge probed at every step.
bool pair_test_probing_all(const Vocab& v, uint32_t a, uint32_t b) {
    uint32_t limit = 0xFFFFFFFFu;
    for (;;) {
        const uint32_t m = pair_merge_find(v, a, b);
        if (m != NONE && m < limit) return false;
        const uint32_t ar = split_right(v.split[a]), bl = split_left(v.split[b]);
        if (a > b && ar != a) {
            limit = a, a = ar;
        } else if (a <= b && bl != b) {
            limit = b + 1, b = bl;
        } else if (a > b) {
            if (bl == b) return true;
            limit = b + 1, b = bl;
        } else {
            if (ar == a) return true;
            limit = a, a = ar;
        }
    }
}

}  // namespace

TEST(merge_bits_never_hide_a_merge) {
    std::mt19937 rng(5);
    for (int w = 0; w < 2; ++w) {
        const Vocab& v = vocab(w);
        // the two parts of a merged token are never a valid pair: their own merge comes first
        size_t merged = 0, accepted = 0, differ = 0;
        for (uint32_t t = 0; t < v.n_tokens; ++t) {
            const uint32_t l = split_left(v.split[t]), r = split_right(v.split[t]);
            if (l == t) continue;
            ++merged;
            accepted += is_valid_pair(v, l, r);
            // a part followed by the other part's neighbours in the merge tree: pairs that reach merges deep
            // in the walk
            const uint32_t r2 = split_left(v.split[r]), l2 = split_right(v.split[l]);
            differ += is_valid_pair(v, l, r2) != pair_test_probing_all(v, l, r2);
            differ += is_valid_pair(v, l2, r) != pair_test_probing_all(v, l2, r);
        }
        CHECK(merged > 90000);
        CHECK_EQ(accepted, size_t(0));
        for (int n = 0; n < 200000; ++n) {
            const uint32_t a = rng() % v.n_tokens, b = rng() % v.n_tokens;
            differ += is_valid_pair(v, a, b) != pair_test_probing_all(v, a, b);
        }
        CHECK_EQ(differ, size_t(0));
    }
}

TEST_MAIN()
