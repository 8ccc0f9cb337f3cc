// The pre-token cache: what is cached, slot replacement, the per-thread holder, the pool and the budget.
// The cases run in order: they share the process-wide pool and byte budget.
#include <map>
#include <random>
#include <thread>

#include "check.h"
#include "core/pcache.h"
#include "core/tokenizer.h"

using namespace lexaro;

namespace {

const Tokenizer& tok(int i) {
    static const Tokenizer all[] = {std::move(*Tokenizer::create("cl100k_base")), std::move(*Tokenizer::create("o200k_base")),
                                    std::move(*Tokenizer::create("cl100k_base")), std::move(*Tokenizer::create("o200k_base"))};
    return all[i];
}

const uint8_t* bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

bool cached(const PretokenCache& c, std::string_view piece) {
    if (piece.empty() || piece.size() > CACHE_MAX_PIECE) return false;
    const CacheKey k = cache_key(bytes(piece), piece.size());
    for (uint64_t i = 0; i < c.slot_count; ++i)
        if (c.slots[i].key_lo == k.lo && c.slots[i].key_hi == k.hi) return true;
    return false;
}

std::vector<uint32_t> piece_ids(const Vocab& v, PretokenCache& c, std::string_view piece) {
    std::vector<uint32_t> out;
    encode_piece(v, c, bytes(piece), piece.size(), out);
    return out;
}

std::vector<uint32_t> direct_ids(const Vocab& v, std::string_view piece) {
    std::vector<uint32_t> out;
    encode_mb(v, bytes(piece), piece.size(), out);
    return out;
}

}  // namespace

TEST(what_is_cached) {
    const Vocab& v = tok(0).vocab;
    PretokenCache c(999, uint64_t(1) << 15);
    const std::string p15 = " understandings", p16 = " representatives";
    CHECK(p15.size() == 15 && p16.size() == 16 && direct_ids(v, p15).size() <= 4 && direct_ids(v, p16).size() <= 4);
    CHECK(piece_ids(v, c, p15) == direct_ids(v, p15));
    CHECK(piece_ids(v, c, p16) == direct_ids(v, p16));
    CHECK(cached(c, p15));
    CHECK(!cached(c, p16));
    // a piece starting with a three-byte character is never cached, however short
    const std::string cjk = "\xe4\xb8\x80\xe4\xba\x8c";
    CHECK(piece_ids(v, c, cjk) == direct_ids(v, cjk));
    CHECK(!cached(c, cjk));
    // one- and two-byte pieces are cached like any other
    CHECK(piece_ids(v, c, "a") == direct_ids(v, "a"));
    CHECK(piece_ids(v, c, "\xc3\xa9") == direct_ids(v, "\xc3\xa9"));
    CHECK(cached(c, "a") && cached(c, "\xc3\xa9"));
    // more than four ids: never cached, re-encoded each time with the same result
    const std::string five = "\x01\x02\x03\x04\x05";
    CHECK_EQ(direct_ids(v, five).size(), size_t(5));
    CHECK(piece_ids(v, c, five) == direct_ids(v, five));
    CHECK(piece_ids(v, c, five) == direct_ids(v, five));
    CHECK(!cached(c, five));
    // hits give what misses gave
    CHECK(piece_ids(v, c, p15) == direct_ids(v, p15));
    // a disabled cache is never probed and encodes the same
    PretokenCache off;
    CHECK(piece_ids(v, off, p15) == direct_ids(v, p15));
    CHECK(off.disabled() && off.slots == nullptr);
}

TEST(six_slots_then_replacement_of_the_home_slot) {
    const Vocab& v = tok(1).vocab;
    PretokenCache c(998, uint64_t(1) << 15);
    // find seven short pieces with the same home pair
    std::map<uint64_t, std::vector<std::string>> by_home;
    std::mt19937 rng(5);
    std::vector<std::string> group;
    while (group.empty()) {
        std::string s = " ";
        for (int k = 0; k < 5; ++k) s += char('a' + rng() % 26);
        const uint64_t f = (cache_hash(cache_key(bytes(s), s.size())) >> c.shift) & ~uint64_t(1);
        auto& g = by_home[f];
        if (std::find(g.begin(), g.end(), s) == g.end()) g.push_back(s);
        if (g.size() == 7) group = g;
    }
    const uint64_t f = (cache_hash(cache_key(bytes(group[0]), group[0].size())) >> c.shift) & ~uint64_t(1);
    for (int i = 0; i < 6; ++i) piece_ids(v, c, group[i]);
    for (int i = 0; i < 6; ++i) {
        const CacheKey k = cache_key(bytes(group[i]), group[i].size());
        CHECK(c.slots[(f + i) & (c.slot_count - 1)].key_lo == k.lo);
    }
    piece_ids(v, c, group[6]);  // all six taken: replaces slot f
    CHECK(cached(c, group[6]));
    CHECK(!cached(c, group[0]));
    CHECK(piece_ids(v, c, group[0]) == direct_ids(v, group[0]));  // misses, re-encodes, same ids
}

TEST(holder_pool_and_budget) {
    const std::string text = "The holder keeps two caches; the third pushes out the first one added.";
    const auto enc = [&](int i) {
        std::vector<uint32_t> out;
        encode_into_workers(tok(i), text, out, 1);
        return out;
    };
    const std::vector<uint32_t> want0 = enc(0), want1 = enc(1);
    CHECK((held_cache_ids() == std::vector<uint64_t>{tok(0).tokenizer_id, tok(1).tokenizer_id}));
    CHECK_EQ(live_cache_bytes(), uint64_t(32) << 20);  // two 16 MiB tables
    // a third tokenizer: the first-added cache goes to the pool, which is then trimmed to the budget
    CHECK(enc(2) == want0);
    CHECK((held_cache_ids() == std::vector<uint64_t>{tok(1).tokenizer_id, tok(2).tokenizer_id}));
    CHECK(pooled_cache_ids().empty());
    CHECK_EQ(live_cache_bytes(), uint64_t(32) << 20);
    // another thread finds no room: it encodes correctly without a cache, and drops that cache at exit
    std::thread([&] {
        std::vector<uint32_t> out;
        encode_into_workers(tok(3), text, out, 1);
        CHECK(out == want1);
        CHECK((held_cache_ids() == std::vector<uint64_t>{tok(3).tokenizer_id}));
    }).join();
    CHECK(pooled_cache_ids().empty());
    CHECK_EQ(live_cache_bytes(), uint64_t(32) << 20);
    // a worker thread's cache is parked at its exit and taken back, contents and all, by the next user
    CHECK(enc(0) == want0);  // tok(1) goes to the pool, tok(0) gets a new table after trimming
    const std::vector<uint64_t> pooled = pooled_cache_ids();
    CHECK(pooled.empty() || pooled == std::vector<uint64_t>{tok(1).tokenizer_id});
    std::thread([&] {
        std::vector<uint32_t> out;
        encode_into_workers(tok(2), text, out, 8);
        CHECK(out == want0);
    }).join();
    CHECK(live_cache_bytes() <= (uint64_t(32) << 20));
    // re-entry on the same thread would use a temporary disabled cache; the ids never depend on the cache
    for (int i = 0; i < 4; ++i) CHECK(enc(i) == (i % 2 ? want1 : want0));
}

TEST_MAIN()
