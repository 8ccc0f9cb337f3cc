// Pieces encoded interleaved, a lookup of each in turn, against the piece encoder one piece at a time
// and classic lowest-rank-first merging.
#include <random>

#include "check.h"
#include "core/builtin_data.h"
#include "core/mb.h"
#include "core/mb_steps.h"
#include "vocab_util.h"

using namespace lexaro;

namespace {

const Vocab& vocab(int which) { return testutil::builtin_vocab(which); }

// The tokens that start with a three-byte character: walks from them step by whole characters.
const std::vector<uint32_t>& three_byte_tokens(const Vocab& v) {
    static std::vector<uint32_t> found[2];
    std::vector<uint32_t>& list = found[&v == &vocab(0) ? 0 : 1];
    if (list.empty())
        for (uint32_t t = 0; t < v.n_tokens; ++t)
            if (v.token_len[t] >= 3 && starts_three_byte(v.token_bytes.data() + v.token_offsets[t], v.token_len[t]))
                list.push_back(t);
    return list;
}

// A piece of up to 80 bytes of one of six kinds; the fifth often defeats the greedy pass. Pieces of 64
// bytes or more search one at a time, shorter ones in steps.
std::string random_piece(const Vocab& v, std::mt19937& rng, int kind) {
    std::string s;
    if (kind == 5) {  // tokens of three-byte characters glued, sometimes cut inside a character
        const std::vector<uint32_t>& list = three_byte_tokens(v);
        for (int k = 1 + rng() % 8; k > 0; --k) s += v.token(list[rng() % list.size()]);
        if (rng() % 3 == 0) s.resize(s.size() - 1);
        return s.substr(0, 80);
    }
    if (kind == 0) {  // random bytes: invalid UTF-8, stray continuation bytes, three-byte leads cut short
        for (int k = 1 + rng() % 40; k > 0; --k) s += char(rng());
    } else if (kind == 1) {  // glued tokens, where merges across the seams matter
        for (int k = 1 + rng() % 8; k > 0; --k) s += v.token(rng() % v.n_tokens);
    } else if (kind == 2) {  // words of a tiny alphabet
        for (int k = 1 + rng() % 70; k > 0; --k) s += " ab"[rng() % 3];
    } else if (kind == 3) {  // characters of one to four bytes
        const char* chars[] = {"\xe4\xb8\x80", "\xc3\xa9", "\xf0\x9f\x98\x80", "\xd0\xb6", "\xe0\xa4\x95", "x", " "};
        for (int k = 1 + rng() % 14; k > 0; --k) s += chars[rng() % 7];
    } else {  // a token with a byte changed: prefixes that stop one byte short
        for (int k = 1 + rng() % 6; k > 0; --k) {
            std::string t(v.token(rng() % v.n_tokens));
            t[rng() % t.size()] ^= char(1 + rng() % 255);
            s += t;
        }
    }
    return s.substr(0, 80);
}

}  // namespace

TEST(interleaved_pieces_equal_one_at_a_time_and_classic_merging) {
    std::mt19937 rng(29);
    for (int w = 0; w < 2; ++w) {
        const Vocab& v = vocab(w);
        size_t bad = 0, pieces = 0, searched_short = 0, searched_long = 0;
        // batches of every size from one piece to more than the interleaving's width
        for (size_t count = 1; count <= 80; count += (count < 20 ? 1 : 15)) {
            for (int round = 0; round < 40; ++round) {
                std::vector<std::string> texts;
                for (size_t k = 0; k < count; ++k) texts.push_back(random_piece(v, rng, int(rng() % 6)));
                std::vector<std::vector<uint32_t>> ids(count, std::vector<uint32_t>(80, 0xDEAD));
                std::vector<StepPiece> steps(count);
                for (size_t k = 0; k < count; ++k)
                    start_step_piece(v, steps[k], reinterpret_cast<const uint8_t*>(texts[k].data()), texts[k].size(),
                                     ids[k].data());
                encode_interleaved(v, steps.data(), count);
                for (size_t k = 0; k < count; ++k) {
                    std::vector<uint32_t> want;
                    encode_mb(v, reinterpret_cast<const uint8_t*>(texts[k].data()), texts[k].size(), want);
                    const std::vector<uint32_t> got(ids[k].begin(), ids[k].begin() + steps[k].n);
                    bad += got != want || (pieces % 7 == 0 && testutil::classic_bpe(v, texts[k]) != got);
                    if (testutil::greedy(v, texts[k]) != want)
                        ++(texts[k].size() < 64 ? searched_short : searched_long);
                    ++pieces;
                }
            }
        }
        CHECK(pieces > 10000);
        CHECK(searched_short > 1000);
        CHECK(searched_long > 100);
        CHECK_EQ(bad, size_t(0));
    }
}

TEST_MAIN()
