// The pre-token cache: what is cached where, slot replacement, growth, the per-thread holder, the pool and
// the budget.
// Only holder_pool_and_budget uses the process-wide holder, pool and budget; the other cases build caches
// of their own.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "check.h"
#include "core/miss_batch.h"
#include "core/pcache.h"
#include "core/piece_pipeline.h"
#include "core/tokenizer.h"
#include "vocab_util.h"

using namespace lexaro;

namespace {

const Tokenizer& tok(int i) {
    static const Tokenizer all[] = {
        std::move(*Tokenizer::create("cl100k_base")), std::move(*Tokenizer::create("o200k_base")),
        std::move(*Tokenizer::create("cl100k_base")), std::move(*Tokenizer::create("o200k_base"))};
    return all[i];
}

const uint8_t* bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// A space and `letters` random lowercase letters: one piece, a new one almost every time.
std::string random_word(std::mt19937& rng, size_t letters) {
    std::string s = " ";
    for (size_t k = 0; k < letters; ++k) s += char('a' + rng() % 26);
    return s;
}

bool in_short(const PretokenCache& c, std::string_view piece) {
    if (piece.empty() || piece.size() > CACHE_MAX_PIECE) return false;
    const CacheKey k = cache_key(bytes(piece), piece.size());
    for (uint64_t i = 0; i < c.short_slots.capacity; ++i)
        if (c.short_slots.slots[i].key_lo == k.lo && c.short_slots.slots[i].key_hi == k.hi) return true;
    return false;
}

// The long region's entries, by the slot each starts at.
std::vector<const LongSlot*> long_entries(const PretokenCache& c) {
    std::vector<const LongSlot*> all;
    for (uint64_t i = 0; i < c.long_slots.active;) {
        const LongSlot& s = c.long_slots.slots[i];
        if (s.check == 0) {
            ++i;
            continue;
        }
        all.push_back(&s);
        i += long_step(s);
    }
    return all;
}

std::string long_piece(const LongSlot& s) { return std::string(reinterpret_cast<const char*>(long_key(s)), s.len); }

bool in_long(const PretokenCache& c, std::string_view piece) {
    for (const LongSlot* s : long_entries(c))
        if (long_piece(*s) == piece) return true;
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

// Encodes the piece through the cache twice (miss, then hit) and checks both against the direct encoder.
bool same_ids_twice(const Vocab& v, PretokenCache& c, std::string_view piece) {
    const std::vector<uint32_t> want = direct_ids(v, piece);
    return piece_ids(v, c, piece) == want && piece_ids(v, c, piece) == want;
}

uint64_t short_home(const PretokenCache& c, std::string_view s) {
    return c.short_slots.home(cache_hash(cache_key(bytes(s), s.size())));
}

uint64_t long_hash_of(std::string_view s) {
    uint8_t key[LONG_MAX_PIECE] = {};
    std::memcpy(key, s.data(), s.size());
    return long_hash(key, s.size());
}

uint64_t long_home(const PretokenCache& c, std::string_view s) { return long_set(c.long_slots, long_hash_of(s)); }
uint64_t long_other(const PretokenCache& c, std::string_view s) {
    return long_other_set(c.long_slots, long_hash_of(s));
}

// Distinct pieces of a space and `letters` random letters, those that `keep` accepts, until `count` of
// them share one home.
template <class Home>
std::vector<std::string> same_home(size_t letters, size_t count, Home home,
                                   const std::function<bool(const std::string&)>& keep = nullptr) {
    std::map<uint64_t, std::vector<std::string>> by_home;
    std::mt19937 rng(5);
    for (;;) {
        const std::string s = random_word(rng, letters);
        if (keep && !keep(s)) continue;
        auto& g = by_home[home(s)];
        if (std::find(g.begin(), g.end(), s) == g.end()) g.push_back(s);
        if (g.size() == count) return g;
    }
}

}  // namespace

TEST(short_and_long_pieces) {
    const Vocab& v = tok(0).vocab;
    PretokenCache c(999, uint64_t(1) << 15);
    // up to 15 bytes and four ids: the short region; 16 bytes: the long one
    const std::string p15 = " understandings", p16 = " representatives";
    CHECK(p15.size() == 15 && p16.size() == 16 && direct_ids(v, p15).size() <= 4);
    CHECK(same_ids_twice(v, c, p15) && same_ids_twice(v, c, p16));
    CHECK(in_short(c, p15) && !in_long(c, p15));
    CHECK(in_long(c, p16) && !in_short(c, p16));
    // a piece that starts with a three-byte character is cached like any other
    const std::string cjk = "\xe4\xb8\x80\xe4\xba\x8c";
    CHECK(same_ids_twice(v, c, cjk) && in_short(c, cjk));
    // one- and two-byte pieces are short keys too
    CHECK(same_ids_twice(v, c, "a") && same_ids_twice(v, c, "\xc3\xa9"));
    CHECK(in_short(c, "a") && in_short(c, "\xc3\xa9"));
    // five and six ids are short too; a short piece of more than six goes to the long region if it has a
    // non-ASCII byte
    const std::string five = "\x01\x02\x03\x04\xc3\xa9", ascii5 = "\x01\x02\x03\x04\x05";
    const std::string six = "\x06" + five, ascii6 = "\x06\x01\x02\x03\x04\x05";
    CHECK_EQ(direct_ids(v, five).size(), size_t(5));
    CHECK_EQ(direct_ids(v, ascii5).size(), size_t(5));
    CHECK_EQ(direct_ids(v, six).size(), size_t(6));
    CHECK_EQ(direct_ids(v, ascii6).size(), size_t(6));
    for (const std::string& s : {five, ascii5, six, ascii6})
        CHECK(same_ids_twice(v, c, s) && in_short(c, s) && !in_long(c, s));
    const std::string eight = "\x05\x06\x07\x01\x02\x03\x04\xc3\xa9", ascii7 = "\x07\x06\x01\x02\x03\x04\x05";
    CHECK_EQ(direct_ids(v, eight).size(), size_t(8));
    CHECK_EQ(direct_ids(v, ascii7).size(), size_t(7));
    CHECK(same_ids_twice(v, c, eight) && in_long(c, eight) && !in_short(c, eight));
    CHECK(same_ids_twice(v, c, ascii7) && !in_long(c, ascii7) && !in_short(c, ascii7));
    // invalid UTF-8 never goes to the long region
    const std::string stray = "\x05\x06\x07\x01\x02\x03\x04\xa9", stray20 = " abcdefghijklmnopqr\xff";
    CHECK(same_ids_twice(v, c, stray) && !in_long(c, stray) && !in_short(c, stray));
    CHECK(same_ids_twice(v, c, stray20) && !in_long(c, stray20));
    // the long region's limits: LONG_MAX_PIECE bytes, and the piece with its ids in the four slots of a set
    const std::string cyr28 =
        " \xd0\xbf\xd1\x80\xd0\xb5\xd0\xb4\xd1\x81\xd1\x82\xd0\xb0\xd0\xb2\xd0\xb8\xd1\x82\xd0\xb5\xd0\xbb\xd1\x8c\xd1"
        "\x81\xd1\x82\xd0\xb2\xd0\xbe";
    CHECK(cyr28.size() > CACHE_MAX_PIECE && cyr28.size() <= LONG_MAX_PIECE);
    CHECK(same_ids_twice(v, c, cyr28) && in_long(c, cyr28));
    std::string longest(LONG_MAX_PIECE, 'a'), too_long(LONG_MAX_PIECE + 1, 'a');
    longest[0] = too_long[0] = ' ';
    CHECK(same_ids_twice(v, c, longest) && in_long(c, longest));
    CHECK(same_ids_twice(v, c, too_long) && !in_long(c, too_long));
    std::string too_many;  // control bytes, one id each: an entry of 8 + 50 + 4 * 50 bytes; 49 just fit
    for (int i = 0; i < 50; ++i) too_many += char(1 + i % 8);
    const std::string four_slots = too_many.substr(0, 49);
    CHECK_EQ(direct_ids(v, four_slots).size(), size_t(49));
    CHECK_EQ(direct_ids(v, too_many).size(), size_t(50));
    CHECK(same_ids_twice(v, c, four_slots) && in_long(c, four_slots));
    CHECK_EQ(long_span(four_slots.size(), 49), LONG_WAYS);
    CHECK(same_ids_twice(v, c, too_many) && !in_long(c, too_many) && !in_short(c, too_many));
    // a disabled cache is never probed and encodes the same
    PretokenCache off;
    CHECK(same_ids_twice(v, off, p15) && same_ids_twice(v, off, p16));
    CHECK(off.disabled() && off.slots == nullptr);
}

TEST(five_and_six_ids_in_a_short_slot) {
    // The fifth and sixth ids live in the spare high bits of the other fields: words of CJK characters
    // that both encodings split into five or six ids, large ones among them, come back whole.
    std::mt19937 rng(17);
    for (int t = 0; t < 2; ++t) {
        const Vocab& v = tok(t).vocab;
        PretokenCache c(990 + t, uint64_t(1) << 15);
        size_t found[SHORT_MAX_IDS + 1] = {};
        for (int tries = 0; tries < 20000 && (found[5] < 40 || found[6] < 40); ++tries) {
            std::string s = " ";
            for (int k = 0; k < 2 + int(rng() % 3); ++k) {
                const uint32_t cp = 0x4E00 + rng() % 0x5000;
                s += char(0xE0 | cp >> 12);
                s += char(0x80 | (cp >> 6 & 0x3F));
                s += char(0x80 | (cp & 0x3F));
            }
            const std::vector<uint32_t> ids = direct_ids(v, s);
            if (ids.size() < 5 || ids.size() > SHORT_MAX_IDS) continue;
            if (*std::max_element(ids.begin() + 3, ids.end()) < (1u << 14)) continue;  // the packed bits in use
            CHECK(same_ids_twice(v, c, s) && in_short(c, s) && !in_long(c, s));
            ++found[ids.size()];
        }
        CHECK(found[5] >= 40 && found[6] >= 40);
    }
}

TEST(six_short_slots_then_replacement_of_the_home_slot) {
    const Vocab& v = tok(1).vocab;
    PretokenCache c(998, uint64_t(1) << 15);
    const std::vector<std::string> group = same_home(5, 7, [&](const std::string& s) { return short_home(c, s); });
    const uint64_t f = short_home(c, group[0]);
    for (int i = 0; i < 6; ++i) piece_ids(v, c, group[i]);
    for (int i = 0; i < 6; ++i) {
        const CacheKey k = cache_key(bytes(group[i]), group[i].size());
        CHECK(c.short_slots.slots[(f + i) & c.short_slots.mask()].key_lo == k.lo);
    }
    piece_ids(v, c, group[6]);  // all six taken: replaces slot f
    CHECK(in_short(c, group[6]));
    CHECK(!in_short(c, group[0]));
    CHECK(same_ids_twice(v, c, group[0]));  // misses, re-encodes, same ids
    // a second-level hit trades places with the first slot of the pair that holds a piece of the same home
    const auto at = [&](uint64_t i) { return c.short_slots.slots[(f + i) & c.short_slots.mask()].key_lo; };
    const CacheKey k4 = cache_key(bytes(group[4]), group[4].size());
    const uint64_t was_first = at(0);
    CHECK(at(4) == k4.lo);
    CHECK(piece_ids(v, c, group[4]) == direct_ids(v, group[4]));
    CHECK(at(0) == k4.lo && at(4) == was_first);
}

// Pieces whose long entry, by their encoding in `v`, fits and takes `span` slots.
std::function<bool(const std::string&)> of_span(const Vocab& v, size_t span) {
    return [&v, span](const std::string& s) {
        const size_t n = direct_ids(v, s).size();
        return fits_long(s.size(), n) && long_span(s.size(), n) == span;
    };
}

const LongSlot* findable_long(const PretokenCache& c, std::string_view s);
bool table_is_sound(const Vocab& v, const PretokenCache& c);

// Fills the long set that starts at slot `set` with one-slot pieces of that set, so that no piece spills
// into it; returns them.
std::vector<std::string> fill_long_set(const Vocab& v, PretokenCache& c, uint64_t set) {
    std::mt19937 rng{uint32_t(set)};
    std::vector<std::string> fill;
    const auto free_in_set = [&] {
        uint64_t n = 0;
        for (uint64_t k = 0; k < LONG_WAYS; k += long_step(c.long_slots.slots[set + k]))
            n += c.long_slots.slots[set + k].check == 0;
        return n;
    };
    while (free_in_set() > 0) {
        const std::string s = random_word(rng, 16);
        if (long_home(c, s) == set && of_span(v, 1)(s) && !in_long(c, s)) {
            piece_ids(v, c, s);
            fill.push_back(s);
        }
    }
    return fill;
}

TEST(four_long_slots_then_a_spill_then_replacement_by_the_hash) {
    const Vocab& v = tok(0).vocab;
    PretokenCache c(997, uint64_t(1) << 15);
    const std::vector<std::string> group =
        same_home(16, 6, [&](const std::string& s) { return long_home(c, s); }, of_span(v, 1));
    const uint64_t f = long_home(c, group[0]);
    for (int i = 0; i < 4; ++i) piece_ids(v, c, group[i]);
    for (uint64_t k = 0; k < LONG_WAYS; ++k) CHECK(long_piece(c.long_slots.slots[f + k]) == group[k]);
    CHECK(c.long_slots.slots[f].spilled == 0);
    // all four taken: the fifth goes to its other set, which the set marks, and is found there
    const uint64_t other = long_other(c, group[5]);
    CHECK(other != f);
    CHECK(same_ids_twice(v, c, group[5]) && c.long_slots.slots[f].spilled == 1);
    CHECK(findable_long(c, group[5]) != nullptr && findable_long(c, group[5]) >= c.long_slots.slots + other &&
          findable_long(c, group[5]) < c.long_slots.slots + other + LONG_WAYS);
    CHECK(table_is_sound(v, c));
    // with the other set full too, the slot that the new piece's hash picks is replaced
    fill_long_set(v, c, long_other(c, group[4]));
    piece_ids(v, c, group[4]);
    const uint64_t victim = long_victim(long_hash_of(group[4]));
    CHECK(in_long(c, group[4]) && !in_long(c, group[victim]));
    for (uint64_t k = 0; k < LONG_WAYS; ++k)
        if (k != victim) CHECK(in_long(c, group[k]));
    CHECK(c.long_slots.slots[f].spilled == 1);  // the mark stays with the slot whatever it holds
    CHECK(findable_long(c, group[5]) != nullptr);
    CHECK(table_is_sound(v, c));
}

bool findable_short(const PretokenCache& c, std::string_view s) {
    const CacheKey k = cache_key(bytes(s), s.size());
    const uint64_t f = c.short_slots.home(cache_hash(k));
    for (uint64_t i = 0; i < 6; ++i) {
        const CacheSlot& slot = c.short_slots.slots[(f + i) & c.short_slots.mask()];
        if (slot.key_lo == k.lo && slot.key_hi == k.hi) return true;
    }
    return false;
}

TEST(regions_grow_as_they_fill_and_keep_their_entries) {
    const Vocab& v = tok(0).vocab;
    PretokenCache c(996, uint64_t(1) << 17);  // 4 MiB: 2 MiB per region
    CHECK_EQ(c.short_slots.capacity, uint64_t(1) << 16);
    CHECK_EQ(c.long_slots.capacity, uint64_t(1) << 15);
    CHECK_EQ(c.short_slots.active, SHORT_START_SLOTS);
    CHECK_EQ(c.long_slots.active, LONG_START_SLOTS);
    CHECK(reinterpret_cast<uint8_t*>(c.long_slots.slots) == reinterpret_cast<uint8_t*>(c.slots) + c.table_bytes() / 2);
    std::mt19937 rng(9);
    std::vector<std::string> shorts;
    for (int i = 0; i < 40000; ++i) shorts.push_back(random_word(rng, 6));
    std::vector<uint64_t> actives{c.short_slots.active};
    for (size_t i = 0; i < shorts.size(); ++i) {
        size_t before = 0;
        const bool grows =
            c.short_slots.filled * 4 == c.short_slots.active && c.short_slots.active < c.short_slots.capacity;
        if (grows)
            for (size_t j = 0; j < i; ++j) before += findable_short(c, shorts[j]);
        piece_ids(v, c, shorts[i]);
        if (c.short_slots.active != actives.back()) {
            CHECK(grows);
            actives.push_back(c.short_slots.active);
            // the entries moved along: every piece found before is found after
            size_t after = 0;
            for (size_t j = 0; j < i; ++j) after += findable_short(c, shorts[j]);
            CHECK_EQ(after, before);
            CHECK(findable_short(c, shorts[i]));
        }
    }
    // fourfold steps from the start size, up to the capacity
    CHECK((actives == std::vector<uint64_t>{SHORT_START_SLOTS, 4 * SHORT_START_SLOTS, 16 * SHORT_START_SLOTS}));
    for (size_t i = 0; i < 2000; i += 97) CHECK(same_ids_twice(v, c, shorts[i]));
    // nothing lies outside the active part of a region
    for (uint64_t i = c.short_slots.active; i < c.short_slots.capacity; ++i)
        CHECK(c.short_slots.slots[i].key_lo == 0 && c.short_slots.slots[i].key_hi == 0);
    // the long region grows the same way, up to its capacity
    for (int i = 0; i < 9000; ++i) piece_ids(v, c, shorts[i] + shorts[i] + shorts[i]);
    CHECK_EQ(c.long_slots.active, c.long_slots.capacity);
    for (uint64_t i = 0; i < 8; ++i) CHECK(same_ids_twice(v, c, shorts[i] + shorts[i] + shorts[i]));
}

// The long region's slot of a piece, looked up as the encoder does (its set, then its other set where the
// set is marked), or null.
const LongSlot* findable_long(const PretokenCache& c, std::string_view s) {
    for (uint64_t start : {long_home(c, s), long_other(c, s)}) {
        const LongSlot* set = c.long_slots.slots + start;
        for (uint64_t k = 0; k < LONG_WAYS;) {
            if (set[k].check == 0) {
                ++k;
                continue;
            }
            if (long_piece(set[k]) == s) return &set[k];
            k += long_step(set[k]);
        }
        if (c.long_slots.slots[long_home(c, s)].spilled == 0) break;
    }
    return nullptr;
}

TEST(short_pieces_of_many_ids_in_the_long_region_through_growth) {
    // Pieces of at most 15 bytes with a non-ASCII byte and more than six ids reach the long region from the
    // short region's miss path. Growth places every entry again by the hash of its stored piece, which it
    // must read as the lookups hash it: zero beyond its length, not the ids that follow it.
    const Vocab& v = tok(0).vocab;
    PretokenCache c(995, uint64_t(1) << 15);
    std::mt19937 rng(11);
    std::vector<std::string> pieces;
    while (pieces.size() < 1200) {
        std::string s;
        for (int k = 0; k < 5 + int(rng() % 5); ++k) s += char(1 + rng() % 8);  // one slot each
        s += "\xc3\xa9";
        if (direct_ids(v, s).size() > SHORT_MAX_IDS && std::find(pieces.begin(), pieces.end(), s) == pieces.end())
            pieces.push_back(s);
    }
    for (const std::string& s : pieces) CHECK(piece_ids(v, c, s) == direct_ids(v, s));
    CHECK(c.long_slots.active > LONG_START_SLOTS);  // it grew on the way
    // Every entry sits in the set of its stored piece, or in its other set which that set marks (these
    // entries take one slot each); a piece not found lost its slot to a replacement in a set that was full
    // then, with its other set, before or after a growth spread it.
    size_t entries = 0, placed = 0, lost = 0;
    for (const LongSlot* s : long_entries(c)) {
        ++entries;
        const uint64_t i = uint64_t(s - c.long_slots.slots);
        const std::string piece = long_piece(*s);
        const uint64_t at = i & ~(LONG_WAYS - 1), home = long_home(c, piece);
        const bool spilled = at == long_other(c, piece) && c.long_slots.slots[home].spilled == 1;
        placed += (at == home || spilled) && long_span(s->len, s->n) == 1;
    }
    for (const std::string& s : pieces) {
        CHECK(!in_short(c, s));
        if (findable_long(c, s) == nullptr) ++lost;
    }
    CHECK(entries > pieces.size() * 9 / 10);
    CHECK_EQ(placed, entries);
    CHECK(lost < pieces.size() / 50);
    for (size_t i = 0; i < pieces.size(); i += 53) CHECK(same_ids_twice(v, c, pieces[i]));
}

// Every entry of both regions holds the ids the encoder gives its piece, no piece is held twice, every
// long entry is where the lookup finds it, and `filled` counts the occupied slots.
bool table_is_sound(const Vocab& v, const PretokenCache& c) {
    std::map<std::string, int> seen;
    uint64_t short_used = 0, long_used = 0;
    for (uint64_t i = 0; i < c.short_slots.active; ++i) {
        const CacheSlot& s = c.short_slots.slots[i];
        if (s.key_lo == 0 && s.key_hi == 0) continue;
        ++short_used;
        char key[16];
        std::memcpy(key, &s.key_lo, 8);
        std::memcpy(key + 8, &s.key_hi, 8);
        const std::string piece(key, size_t(s.key_hi >> 56));
        std::vector<uint32_t> ids;
        append_slot_ids(s, ids);
        if (ids != direct_ids(v, piece) || seen[piece]++ > 0) return false;
    }
    for (const LongSlot* s : long_entries(c)) {
        long_used += long_span(s->len, s->n);
        if (long_step(*s) != long_span(s->len, s->n)) return false;
        const std::string piece = long_piece(*s);
        if (findable_long(c, piece) != s) return false;  // an entry the lookup would miss
        if (std::vector<uint32_t>(long_ids(*s), long_ids(*s) + s->n) != direct_ids(v, piece) || seen[piece]++ > 0)
            return false;
    }
    return short_used == c.short_slots.filled && long_used == c.long_slots.filled;
}

TEST(long_entries_of_one_and_two_slots_share_a_set) {
    // A two-slot entry takes two free slots side by side; in a set without room, a new entry removes every
    // entry that has a slot where it goes (the slot its hash picks, and the next one for two slots).
    const Vocab& v = tok(0).vocab;
    PretokenCache c(993, uint64_t(1) << 15);
    const auto home = [&](const std::string& s) { return long_home(c, s); };
    const std::vector<std::string> two = same_home(25, 4, home, of_span(v, 2));
    const uint64_t f = home(two[0]);
    std::vector<std::string> one = same_home(16, 40, home, of_span(v, 1));  // other sets mostly
    one.erase(std::remove_if(one.begin(), one.end(), [&](const std::string& s) { return home(s) != f; }), one.end());
    std::mt19937 rng(21);
    while (one.size() < 3) {  // one-slot pieces of the same set as `two`
        const std::string s = random_word(rng, 16);
        if (home(s) == f && of_span(v, 1)(s) && std::find(one.begin(), one.end(), s) == one.end()) one.push_back(s);
    }
    const auto victim = [](const std::string& s, size_t span) {
        return std::min<uint64_t>(long_victim(long_hash_of(s)), LONG_WAYS - span);
    };
    // their other sets full, so that a piece that finds no room in this set replaces
    std::vector<std::string> all = one;
    all.insert(all.end(), two.begin(), two.end());
    for (const std::string& s : all)
        if (long_other(c, s) != f) fill_long_set(v, c, long_other(c, s));
    const uint64_t filled_elsewhere = c.long_slots.filled;
    piece_ids(v, c, two[0]);
    piece_ids(v, c, two[1]);
    CHECK(long_piece(c.long_slots.slots[f]) == two[0] && long_piece(c.long_slots.slots[f + 2]) == two[1]);
    CHECK_EQ(c.long_slots.filled - filled_elsewhere, uint64_t(4));
    // full: a one-slot piece removes the two-slot entry its slot belongs to and leaves the other half free
    const uint64_t at = victim(one[0], 1);
    CHECK(same_ids_twice(v, c, one[0]));
    CHECK(long_piece(c.long_slots.slots[f + at]) == one[0]);
    CHECK(in_long(c, two[at < 2 ? 1 : 0]) && !in_long(c, two[at < 2 ? 0 : 1]));
    CHECK_EQ(c.long_slots.filled - filled_elsewhere, uint64_t(3));
    // the freed half takes the next one-slot piece without a replacement
    CHECK(same_ids_twice(v, c, one[1]));
    CHECK(in_long(c, one[0]) && in_long(c, one[1]) && in_long(c, two[at < 2 ? 1 : 0]));
    CHECK_EQ(c.long_slots.filled - filled_elsewhere, uint64_t(4));
    // a two-slot piece in the full set: whatever it overlaps goes, the rest stays
    const uint64_t at2 = victim(two[2], 2);
    std::vector<std::string> kept;
    for (const LongSlot* s : long_entries(c)) {
        const uint64_t k = uint64_t(s - c.long_slots.slots) - f;
        if (k >= LONG_WAYS) continue;
        if (!(k < at2 + 2 && at2 < k + long_span(s->len, s->n))) kept.push_back(long_piece(*s));
    }
    CHECK(same_ids_twice(v, c, two[2]));
    CHECK(long_piece(c.long_slots.slots[f + at2]) == two[2]);
    for (const std::string& s : kept) CHECK(findable_long(c, s) != nullptr);
    CHECK(table_is_sound(v, c));
    for (const std::string& s : {one[0], one[1], one[2], two[0], two[1], two[3]}) CHECK(same_ids_twice(v, c, s));
    CHECK(table_is_sound(v, c));
}

// Copies of the piece in the long region: a piece looked for there and not found is stored a second time.
size_t long_copies(const PretokenCache& c, std::string_view piece) {
    size_t n = 0;
    for (const LongSlot* s : long_entries(c)) n += long_piece(*s) == piece;
    return n;
}

TEST(short_pieces_in_the_long_region_are_found_by_the_hint_of_their_home) {
    // A short piece of many ids in the long region is looked for there only where the first slot of its home
    // pair says so. That mark belongs to the slot, not to the entry in it: it must stay through the entries
    // that replace each other there and trade places with the second level, and come back when the short
    // region grows.
    const Vocab& v = tok(0).vocab;
    PretokenCache c(992, uint64_t(1) << 17);
    std::mt19937 rng(13);
    std::string many;
    while (direct_ids(v, many).size() <= SHORT_MAX_IDS) {
        many.clear();
        for (int k = 0; k < 7; ++k) many += char(1 + rng() % 8);
        many += "\xc3\xa9";
    }
    const auto hinted = [&] { return (c.short_slots.slots[short_home(c, many)].meta & LONG_HINT) != 0; };
    const auto found_once = [&] { return piece_ids(v, c, many) == direct_ids(v, many) && long_copies(c, many) == 1; };
    // Pieces of the same home, none of them in the long region; the fifth, which moves into the marked slot,
    // is one id (its count in the low bits beside the mark).
    std::vector<std::string> words;
    while (words.size() < 7) {
        const std::string w = random_word(rng, 2 + rng() % 4);
        if (short_home(c, w) != short_home(c, many) || std::find(words.begin(), words.end(), w) != words.end())
            continue;
        if ((words.size() == 4) == (direct_ids(v, w).size() == 1)) words.push_back(w);
    }
    CHECK(!hinted());
    piece_ids(v, c, many);
    CHECK(hinted() && in_long(c, many) && !in_short(c, many));
    CHECK(found_once());
    for (const std::string& w : words) piece_ids(v, c, w);  // six slots filled, then the home slot replaced
    CHECK(hinted() && found_once());
    CHECK(piece_ids(v, c, words[4]) == direct_ids(v, words[4]));  // a second-level hit trades places
    CHECK(findable_short(c, words[4]) && hinted() && found_once());
    const CacheKey k4 = cache_key(bytes(words[4]), words[4].size());
    CHECK(c.short_slots.slots[short_home(c, many)].key_lo == k4.lo);
    // the entry now in the marked slot reads as it was stored, and so does every other
    CHECK(same_ids_twice(v, c, words[4]));
    CHECK(table_is_sound(v, c));
    const uint64_t before = c.short_slots.active;
    while (c.short_slots.active == before) piece_ids(v, c, random_word(rng, 6));
    CHECK(hinted() && found_once());
    // the marks decode as no part of the ids of the entries in their slots
    CHECK(table_is_sound(v, c));
}

std::vector<uint32_t> piece_by_piece(const Vocab& v, PretokenCache& c, const std::vector<std::string>& pieces) {
    std::vector<uint32_t> ids;
    for (const std::string& p : pieces) encode_piece(v, c, bytes(p), p.size(), ids);
    return ids;
}

std::vector<uint32_t> through_pipeline(const Vocab& v, PretokenCache& c, const std::vector<std::string>& pieces) {
    std::vector<uint32_t> ids;
    PendingPiece ring[PIPE_DEPTH];
    MissBatch misses;
    PiecePipeline pipe(v, c, ids, ring, &misses);
    for (const std::string& p : pieces) pipe.push(bytes(p), p.size());
    pipe.finish();
    return ids;
}

TEST(pipeline_gives_the_ids_of_piece_by_piece_encoding_and_a_sound_table) {
    // New pieces, repeats of pieces still waiting in the ring or among the misses, long pieces and pieces
    // too long to cache between them, while both regions grow: the pipeline must give the same ids as
    // encode_piece one piece at a time, and leave a table whose every entry is right.
    for (int which : {0, 1}) {
        const Vocab& v = tok(which).vocab;
        PretokenCache one(994, uint64_t(1) << 17), piped(993, uint64_t(1) << 17);
        std::mt19937 rng(11);
        std::vector<std::string> pieces;
        for (int i = 0; i < 30000; ++i) {
            const std::string s = random_word(rng, 5);
            pieces.push_back(s);
            if (i % 3 == 0)
                pieces.push_back(pieces[pieces.size() - 1 - rng() % std::min<size_t>(pieces.size(), 3 * MISS_BATCH)]);
            if (i % 4 == 0) pieces.push_back(s + s + s + "\xc3\xa9");       // 20 bytes: the long region
            if (i % 5 == 0) pieces.push_back("\xe4\xb8\x80" + s + "\xce");  // short, high bytes, invalid UTF-8
            if (i % 7 == 0) pieces.push_back(s + std::string(60, 'x'));     // the long region's longer entries
            if (i % 13 == 0) pieces.push_back(s + std::string(20 + rng() % 26, '\x01'));  // two to four slots
            if (i % 11 == 0) pieces.push_back(std::string(200 + rng() % 800, 'y') + s);   // fill the batch's room
            if (i % 97 == 0) pieces.push_back(s + std::string(MISS_MAX_PIECE, 'z'));      // too long for a batch
        }
        const std::vector<uint32_t> want = piece_by_piece(v, one, pieces);
        CHECK(through_pipeline(v, piped, pieces) == want);
        CHECK(piped.short_slots.active > SHORT_START_SLOTS && piped.long_slots.active > LONG_START_SLOTS);
        CHECK(table_is_sound(v, piped));
        // a second pass finds the same ids in the table it left
        CHECK(through_pipeline(v, piped, pieces) == want);
        CHECK(table_is_sound(v, piped));
    }
}

TEST(a_piece_met_again_when_the_batch_is_out_of_room_is_stored_once) {
    // Two long pieces that the cache does not keep fill the batch's room around a new piece; its copy then
    // finds no room, and the batch that holds the first copy is resolved before the copy can wait.
    const Vocab& v = tok(0).vocab;
    PretokenCache c(992, uint64_t(1) << 15), one(991, uint64_t(1) << 15);
    const std::string word = " \xd0\xbf\xd1\x80\xd0\xb5\xd0\xb4\xd1\x81\xd1\x82\xd0\xb0\xd0\xb2";  // 17 bytes
    std::vector<std::string> pieces{std::string(1000, 'y'), word, std::string(1020, 'y'), word};
    CHECK(1000 + word.size() + 1020 <= MISS_ROOM && 1000 + 2 * word.size() + 1020 > MISS_ROOM);
    for (int i = 0; i < 10; ++i) pieces.push_back(" w" + std::to_string(i));
    CHECK(through_pipeline(v, c, pieces) == piece_by_piece(v, one, pieces));
    CHECK(in_long(c, word) && table_is_sound(v, c));
}

TEST(entries_that_spilled_are_found_after_growth) {
    // Entries of one to four slots in a small table: sets fill, entries spill into their other sets and
    // the region grows, placing every entry again. Each entry left must be where the lookup finds it.
    const Vocab& v = tok(1).vocab;
    PretokenCache c(988, uint64_t(1) << 15);
    std::mt19937 rng(31);
    std::vector<std::string> pieces;
    for (int i = 0; i < 6000; ++i) {
        std::string s = random_word(rng, 5) + "\xc3\xa9";
        s += std::string(rng() % 40, char(1 + rng() % 8));  // control bytes, an id each: one to four slots
        pieces.push_back(s);
    }
    size_t spilled = 0;
    for (const std::string& s : pieces) {
        CHECK(piece_ids(v, c, s) == direct_ids(v, s));
        spilled += c.long_slots.slots[long_home(c, s)].spilled;
    }
    CHECK(c.long_slots.active > LONG_START_SLOTS && spilled > 100);
    CHECK(table_is_sound(v, c));
}

TEST(long_entries_of_three_and_four_slots) {
    // An entry of four slots fills its set; a one-slot piece then replaces it, and an entry of three slots
    // must find three free slots side by side or replace what is in its way.
    const Vocab& v = tok(0).vocab;
    PretokenCache c(989, uint64_t(1) << 15);
    const auto home = [&](const std::string& s) { return long_home(c, s); };
    const std::string four = same_home(80, 1, home, of_span(v, 4))[0];
    const uint64_t f = home(four);
    std::mt19937 rng(23);
    std::string one, three;
    while (one.empty() || three.empty()) {
        std::string s = random_word(rng, 16);
        if (one.empty() && home(s) == f && of_span(v, 1)(s) && long_victim(long_hash_of(s)) == 2) one = s;
        s = random_word(rng, 50);
        if (three.empty() && home(s) == f && of_span(v, 3)(s)) three = s;
    }
    for (const std::string& s : {one, three})
        if (long_other(c, s) != f) fill_long_set(v, c, long_other(c, s));  // no room there: replace here
    const uint64_t elsewhere = c.long_slots.filled;
    CHECK(same_ids_twice(v, c, four) && long_piece(c.long_slots.slots[f]) == four);
    CHECK_EQ(c.long_slots.filled - elsewhere, uint64_t(4));
    CHECK(same_ids_twice(v, c, one) && !in_long(c, four) && long_piece(c.long_slots.slots[f + 2]) == one);
    CHECK_EQ(c.long_slots.filled - elsewhere, uint64_t(1));
    // slots 0, 1 and 3 are free, but not three side by side: the three-slot entry replaces the one in slot 2
    CHECK(same_ids_twice(v, c, three) && in_long(c, three) && !in_long(c, one));
    CHECK_EQ(c.long_slots.filled - elsewhere, uint64_t(3));
    CHECK(table_is_sound(v, c));
}

TEST(pipeline_with_a_vocabulary_that_lacks_bytes) {
    // Bytes without a token are dropped: whole batches of pieces may give no ids at all, in an output
    // that is still empty, and the pieces around them must keep their places.
    const Vocab v = testutil::build({{"a", 0}, {"b", 1}, {"ab", 2}, {" ab", 3}});
    std::mt19937 rng(5);
    std::vector<std::string> pieces;
    for (int i = 0; i < 3000; ++i) {
        std::string s;
        for (int k = 1 + int(rng() % 6); k > 0; --k) s += "ab xz\xc3"[rng() % (i < 200 ? 2 : 6) + (i < 200 ? 3 : 0)];
        pieces.push_back(s);
        if (i % 50 == 0) pieces.push_back(std::string(100, 'a') + s);  // not cached, encoded with the batch
    }
    PretokenCache one(996, uint64_t(1) << 16), piped(995, uint64_t(1) << 16);
    const std::vector<uint32_t> want = piece_by_piece(v, one, pieces);
    CHECK(through_pipeline(v, piped, pieces) == want);
    CHECK(!want.empty());
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
    // tok(1) goes to the pool; the tables then in existence fill the budget, so the pool is trimmed (tok(1)
    // dropped) and tok(0) gets a new table in the room that frees
    CHECK(enc(0) == want0);
    CHECK(pooled_cache_ids().empty());
    CHECK((held_cache_ids() == std::vector<uint64_t>{tok(2).tokenizer_id, tok(0).tokenizer_id}));
    CHECK_EQ(live_cache_bytes(), uint64_t(32) << 20);
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
