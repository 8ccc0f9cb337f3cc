#include "core/pcache.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>

#include "core/pages.h"
#include "core/platform.h"
#include "core/utf8.h"

namespace lexaro {

namespace {

constexpr uint64_t MIB = uint64_t(1) << 20;

struct Pool {
    std::mutex mutex;
    std::vector<PretokenCache> caches;  // parked caches, all with slots
};

// Process-wide state: the parked caches and the bytes of every slot table in existence (held or parked).
// The pool is never destroyed: threads that end during process exit still park their caches here.
Pool& shared_pool = *new Pool;
std::atomic<uint64_t> live_table_bytes{0};

// Reserves pool room for `more` caches, so that parking them cannot fail halfway. Needs shared_pool.mutex.
bool make_room_in_pool(size_t more) {
    try {
        shared_pool.caches.reserve(shared_pool.caches.size() + more);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

struct Holder {
    std::vector<PretokenCache> caches;  // at most two, in the order they were added
    bool in_use = false;
};

// Thread exit: parks every real cache in the pool and frees the holder. Nothing here may throw.
void release_holder(void* p) {
    Holder* holder = static_cast<Holder*>(p);
    {
        std::lock_guard<std::mutex> lock(shared_pool.mutex);
        if (!make_room_in_pool(holder->caches.size())) {
            for (const PretokenCache& c : holder->caches) live_table_bytes.fetch_sub(c.table_bytes());  // freed below
        } else {
            for (PretokenCache& c : holder->caches)
                if (c.slot_count > 0) shared_pool.caches.push_back(std::move(c));
        }
    }
    delete holder;
}

const ThreadExitKey HOLDER_KEY = new_thread_exit_key(release_holder);

// The calling thread's holder, made on first use and released by release_holder when the thread ends: a
// plain pointer, as a thread_local object's destructor may not run in time on every toolchain.
thread_local Holder* CACHES = nullptr;

// The calling thread's holder, or null when it cannot have one (no memory, or no way to release it when
// the thread ends: its caches would be lost to the budget for good).
Holder* thread_holder() {
    if (CACHES != nullptr) return CACHES;
    Holder* holder = new (std::nothrow) Holder;
    if (holder == nullptr) return nullptr;
    if (!set_thread_exit_value(HOLDER_KEY, holder)) {
        delete holder;
        return nullptr;
    }
    CACHES = holder;
    return holder;
}

// A fork copies only the forking thread: the pool's mutex is held across it, so that no other thread
// holds it at that moment, and released on both sides. In the child the caches of the threads that
// did not survive are out of reach for good; the budget counts what the child can still use.
void hold_pool_for_fork() { shared_pool.mutex.lock(); }
void release_pool_in_parent() { shared_pool.mutex.unlock(); }
void release_pool_in_child() {
    uint64_t bytes = 0;
    for (const PretokenCache& c : shared_pool.caches) bytes += c.table_bytes();
    if (CACHES != nullptr)
        for (const PretokenCache& c : CACHES->caches) bytes += c.table_bytes();
    live_table_bytes.store(bytes);
    shared_pool.mutex.unlock();
}
const bool FORK_HANDLERS = on_fork(hold_pool_for_fork, release_pool_in_parent, release_pool_in_child);

uint64_t largest_table_for(uint64_t workers) {
    if (workers <= 2) return 16 * MIB;
    if (workers <= 4) return 8 * MIB;
    if (workers <= 8) return 4 * MIB;
    if (workers <= 16) return 2 * MIB;
    return 1 * MIB;
}

// Reserves the bytes of a new table within the budget; 0 when the room is below 1 MiB.
uint64_t reserve_table_bytes(uint64_t workers) {
    const uint64_t limit = largest_table_for(workers);
    uint64_t live = live_table_bytes.load(std::memory_order_relaxed);
    for (;;) {
        const uint64_t room = live >= CACHE_BUDGET ? 0 : CACHE_BUDGET - live;
        uint64_t size = limit;
        while (size > room && size > MIB) size /= 2;
        if (size > room) return 0;
        if (live_table_bytes.compare_exchange_weak(live, live + size, std::memory_order_seq_cst)) return size;
    }
}

void release_slots(CacheSlot* slots, uint64_t count) { unmap_zeroed(slots, count * sizeof(CacheSlot)); }

bool slot_matches(const CacheSlot& s, CacheKey key) { return s.key_lo == key.lo && s.key_hi == key.hi; }

// Whether a short slot holds these ids: up to four below 2^24, or five or six below 2^18.
bool fits_short(const uint32_t* ids, size_t n) {
    if (n <= 4) return ids[0] <= 0xFFFFFF;
    return n <= SHORT_MAX_IDS && *std::max_element(ids, ids + n) < PACKED_ID_LIMIT;
}

}  // namespace

const uint8_t PACK_MASK[17][16] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
};

namespace {

template <class Slot>
void set_active(CacheRegion<Slot>& r, uint64_t active) {
    r.active = active;
    r.shift = 64 - uint64_t(__builtin_ctzll(active));
}

bool short_empty(const CacheSlot& s) { return s.key_lo == 0 && s.key_hi == 0; }
size_t short_span(const CacheSlot& s) { return short_empty(s) ? 0 : 1; }
// Slots of the entry whose header is `s`, 0 for an empty slot.
size_t long_span_at(const LongSlot& s) { return s.check == 0 ? 0 : long_step(s); }

// Writes an entry into a slot; the slot keeps its own hints.
void put_short(CacheSlot& slot, const CacheSlot& entry) {
    const uint64_t hints = slot.meta & SLOT_HINTS;
    slot = entry;
    slot.meta = (entry.meta & ~SLOT_HINTS) | hints;
}

// The home pair, then two more pairs (the second level, marked in the home): the first empty slot of six,
// else the home slot.
void place_short(CacheRegion<CacheSlot>& r, uint64_t h, const CacheSlot* fresh) {
    const uint64_t f = r.home(h);
    for (uint64_t k = 0; k < 6; ++k) {
        CacheSlot& c = r.slots[(f + k) & r.mask()];
        if (short_empty(c)) {
            put_short(c, *fresh);
            if (k >= 2) r.slots[f].meta |= SECOND_HINT;
            ++r.filled;
            return;
        }
    }
    put_short(r.slots[f], *fresh);
}

uint32_t long_check(uint64_t h) { return uint32_t(h >> 32) | 1; }  // never 0, the mark of an empty slot

// The first `span` free slots side by side in a set, or null. After a free slot comes a header or another
// free slot.
LongSlot* free_slots(LongSlot* set, size_t span) {
    for (uint64_t k = 0; k + span <= LONG_WAYS; k += long_step(set[k])) {
        uint64_t free = 0;
        while (free < span && set[k + free].check == 0) ++free;
        if (free == span) return set + k;
    }
    return nullptr;
}

// Room for an entry of `span` slots for hash h: free slots of its set, else of its other set (which its set
// then marks), else the slots of its set that other bits of the hash pick (so that pieces of one set replace
// different slots), emptied of every entry that has a slot among them. The slots returned are zero but for
// a set's mark; `filled` counts them.
LongSlot* claim_long(CacheRegion<LongSlot>& r, uint64_t h, size_t span) {
    LongSlot* set = r.slots + long_set(r, h);
    LongSlot* room = free_slots(set, span);
    if (room == nullptr) {
        LongSlot* other = r.slots + long_other_set(r, h);
        if (other != set && (room = free_slots(other, span)) != nullptr) set[0].spilled = 1;
    }
    r.filled += span;
    if (room != nullptr) return room;
    const uint8_t spilled = set[0].spilled;
    const uint64_t at = std::min<uint64_t>(long_victim(h), LONG_WAYS - span);
    for (uint64_t k = 0; k < LONG_WAYS;) {
        const size_t taken = long_step(set[k]);
        if (set[k].check != 0 && k < at + span && at < k + taken) {
            std::memset(static_cast<void*>(set + k), 0, taken * sizeof(LongSlot));
            r.filled -= taken;
        }
        k += taken;
    }
    set[0].spilled = spilled;
    return set + at;
}

// An entry moved as it is (growth).
void place_long(CacheRegion<LongSlot>& r, uint64_t h, const LongSlot* entry) {
    const size_t span = long_step(*entry);
    LongSlot* room = claim_long(r, h, span);
    const uint8_t spilled = room->spilled;
    std::memcpy(static_cast<void*>(room), entry, span * sizeof(LongSlot));
    room->spilled = spilled;
}

uint64_t short_hash_of(const CacheSlot& s) { return cache_hash({s.key_lo, s.key_hi}); }
uint64_t long_hash_of(const LongSlot& s) {
    uint8_t key[LONG_MAX_PIECE] = {};
    std::memcpy(key, long_key(s), s.len);
    return long_hash(key, s.len);
}

// A piece found in the second level trades places with a first-level slot that is empty or holds a piece
// of the same home pair (which stays within its own six slots), so that its next lookup is a first-level hit.
void promote(CacheRegion<CacheSlot>& r, uint64_t f, CacheSlot& found) {
    for (uint64_t k = 0; k < 2; ++k) {
        CacheSlot& first = r.slots[f + k];
        if (short_empty(first) || r.home(short_hash_of(first)) == f) {
            const CacheSlot moved = first;
            put_short(first, found);
            put_short(found, moved);
            return;
        }
    }
}

// A region more than a quarter full grows fourfold (up to its capacity), its entries re-inserted. `span`
// gives the slots of the entry that starts at a slot (0 for an empty one); no entry crosses the end of
// its set, so the slots can be read in order.
template <class Slot, class Span, class Hash, class Place>
void grow_if_full(CacheRegion<Slot>& r, Span span, Hash hash, Place place) {
    if (r.filled * 4 <= r.active || r.active == r.capacity) return;
    std::vector<Slot> old;
    old.reserve(r.filled);
    for (uint64_t i = 0; i < r.active;) {
        const size_t taken = span(r.slots[i]);
        old.insert(old.end(), r.slots + i, r.slots + i + taken);
        i += taken == 0 ? 1 : taken;
    }
    std::memset(static_cast<void*>(r.slots), 0, r.active * sizeof(Slot));
    set_active(r, std::min(r.active * 4, r.capacity));
    r.filled = 0;
    for (size_t i = 0; i < old.size(); i += span(old[i])) place(r, hash(old[i]), &old[i]);
}

}  // namespace

PretokenCache::PretokenCache(uint64_t id, uint64_t count) : slot_count(count), tokenizer_id(id) {
    if (count == 0) return;
    slots = static_cast<CacheSlot*>(map_zeroed(count * sizeof(CacheSlot)));
    short_slots.slots = slots;
    short_slots.capacity = count / 2;
    set_active(short_slots, std::min(SHORT_START_SLOTS, short_slots.capacity));
    long_slots.slots = reinterpret_cast<LongSlot*>(slots + count / 2);
    long_slots.capacity = count / 2 * sizeof(CacheSlot) / sizeof(LongSlot);
    set_active(long_slots, std::min(LONG_START_SLOTS, long_slots.capacity));
}

PretokenCache::PretokenCache(PretokenCache&& o) noexcept
    : slots(o.slots),
      slot_count(o.slot_count),
      tokenizer_id(o.tokenizer_id),
      short_slots(o.short_slots),
      long_slots(o.long_slots) {
    o.slots = nullptr;
    o.slot_count = 0;
    o.short_slots = {};
    o.long_slots = {};
}

PretokenCache& PretokenCache::operator=(PretokenCache&& o) noexcept {
    if (this != &o) {
        release_slots(slots, slot_count);
        slots = o.slots;
        slot_count = o.slot_count;
        tokenizer_id = o.tokenizer_id;
        short_slots = o.short_slots;
        long_slots = o.long_slots;
        o.slots = nullptr;
        o.slot_count = 0;
        o.short_slots = {};
        o.long_slots = {};
    }
    return *this;
}

PretokenCache::~PretokenCache() { release_slots(slots, slot_count); }

void append_packed_slot_ids(const CacheSlot& s, std::vector<uint32_t>& out) {
    constexpr uint32_t LOW = PACKED_ID_LIMIT - 1;
    const uint32_t f2 = uint32_t(s.meta >> 32), f3 = uint32_t(s.ids_hi), f4 = uint32_t(s.ids_hi >> 32);
    out[out.size() - 2] &= LOW;
    out[out.size() - 1] &= LOW;
    const uint32_t rest[3] = {f4 & LOW, f2 >> 18 | (f3 >> 18 & 0xF) << 14, f3 >> 22 | (f4 >> 18) << 10};
    const size_t more = size_t(s.meta & SLOT_N_MASK) - 3;  // two or three
    out.insert(out.end(), rest, rest + more);
}

namespace {

bool has_high_byte(CacheKey k) { return ((k.lo | (k.hi & 0x00FFFFFFFFFFFFFFull)) & 0x8080808080808080ull) != 0; }

const LongSlot* find_in_set(const LongSlot* s, uint32_t check, const uint8_t* key, size_t len) {
    for (uint64_t k = 0; k < LONG_WAYS; k += long_step(s[k]))
        if (s[k].check == check && s[k].len == len && std::memcmp(long_key(s[k]), key, len) == 0) return &s[k];
    return nullptr;
}

// The long region's slot for a piece of `len` bytes at `key`, or null: its set, then its other set where
// the set says an entry went there.
const LongSlot* find_long(const CacheRegion<LongSlot>& r, const uint8_t* key, size_t len, uint64_t h) {
    const uint32_t check = long_check(h);
    const LongSlot* set = r.slots + long_set(r, h);
    if (const LongSlot* found = find_in_set(set, check, key, len)) return found;
    if (set[0].spilled == 0) return nullptr;
    return find_in_set(r.slots + long_other_set(r, h), check, key, len);
}

void append_long_ids(const LongSlot& s, std::vector<uint32_t>& out) {
    out.insert(out.end(), long_ids(s), long_ids(s) + s.n);
}

// long_hash of a short piece's zero-padded bytes, from its key.
uint64_t long_hash_of_key(CacheKey key, size_t len) {
    uint64_t h = (len + 1) * CACHE_HASH_HI;
    h = (h ^ key.lo) * CACHE_HASH_LO;
    h ^= h >> 29;
    if (len > 8) {
        h = (h ^ (key.hi & 0x00FFFFFFFFFFFFFFull)) * CACHE_HASH_LO;
        h ^= h >> 29;
    }
    return h * CACHE_HASH_HI;
}

// Marks the home of a short piece stored in the long region.
void set_long_hint(CacheRegion<CacheSlot>& r, uint64_t h) { r.slots[r.home(h)].meta |= LONG_HINT; }

// After the short region grew (its hints gone with the old layout): marks the homes of the short pieces in
// the long region again.
void mark_long_hints(PretokenCache& cache) {
    const CacheRegion<LongSlot>& r = cache.long_slots;
    for (uint64_t i = 0; i < r.active;) {
        const LongSlot& s = r.slots[i];
        if (s.check != 0 && s.len <= CACHE_MAX_PIECE) {
            uint8_t piece[16] = {};
            std::memcpy(piece, long_key(s), s.len);
            set_long_hint(cache.short_slots, cache_hash(cache_key(piece, s.len)));
        }
        i += s.check == 0 ? 1 : long_step(s);
    }
}

}  // namespace

bool append_cold_cached(PretokenCache& cache, const uint8_t* p, size_t len, uint64_t h, CacheKey key,
                        std::vector<uint32_t>& out) {
    // The second level is searched where the home says a piece of it went there. A short piece of more than
    // six ids lives in the long region if it has a byte of 0x80 or above (a few characters of a script that
    // the vocabulary splits into bytes), and its home then says so too. The long set is fetched before the
    // second-level slots are searched, so that the two waits overlap.
    CacheRegion<CacheSlot>& r = cache.short_slots;
    const uint64_t f = r.home(h);
    const uint64_t hints = r.slots[f].meta;
    const bool high = (hints & LONG_HINT) != 0 && has_high_byte(key);
    uint64_t long_h = 0;
    if (high) {
        long_h = long_hash_of_key(key, len);
        const LongSlot* set = cache.long_slots.slots + long_set(cache.long_slots, long_h);
        for (uint64_t k = 0; k < LONG_WAYS; ++k) __builtin_prefetch(set + k);
    }
    if (hints & SECOND_HINT) {
        for (uint64_t k = 2; k < 6; ++k) {
            CacheSlot& c = r.slots[(f + k) & r.mask()];
            if (slot_matches(c, key)) {
                append_slot_ids(c, out);
                promote(r, f, c);
                return true;
            }
        }
    }
    if (!high) return false;
    const LongSlot* s = find_long(cache.long_slots, p, len, long_h);
    if (s == nullptr) return false;
    append_long_ids(*s, out);
    return true;
}

bool append_long_cached(const PretokenCache& cache, const uint8_t* p, size_t len, uint64_t long_h,
                        std::vector<uint32_t>& out) {
    const LongSlot* s = find_long(cache.long_slots, p, len, long_h);
    if (s == nullptr) return false;
    append_long_ids(*s, out);
    return true;
}

void store_piece(PretokenCache& cache, const uint8_t* p, size_t len, uint64_t h, CacheKey key, const uint32_t* ids,
                 size_t n) {
    // No ids (a vocabulary without some single bytes drops them): nothing to keep, and a short slot
    // always gives back at least one id.
    if (n == 0) return;
    if (len <= CACHE_MAX_PIECE && fits_short(ids, n)) {
        CacheRegion<CacheSlot>& r = cache.short_slots;
        uint32_t six[SHORT_MAX_IDS] = {0, 0, 0, 0, 0, 0};
        std::memcpy(six, ids, n * sizeof(uint32_t));
        // ids five and six above bit 18 of fields two to four: 14 + 4 bits, then 10 + 8
        const uint64_t f2 = six[1] | uint64_t(six[4] & 0x3FFF) << 18;
        const uint64_t f3 = six[2] | uint64_t(six[4] >> 14 | (six[5] & 0x3FF) << 4) << 18;
        const uint64_t f4 = six[3] | uint64_t(six[5] >> 10) << 18;
        const CacheSlot fresh{key.lo, key.hi, uint64_t(n) | uint64_t(six[0]) << 8 | f2 << 32, f3 | f4 << 32};
        place_short(r, h, &fresh);
        const uint64_t active = r.active;
        grow_if_full(r, short_span, short_hash_of, place_short);
        if (r.active != active) mark_long_hints(cache);
        return;
    }
    // Invalid UTF-8 (random bytes, binary data) is left out: such pieces rarely repeat, and storing them
    // would only push out the words of real text. So are short pieces without a byte of 0x80 or above:
    // their lookups never reach the long region.
    if (!fits_long(len, n)) return;
    if (len <= CACHE_MAX_PIECE && !has_high_byte(key)) return;
    if (!utf8_valid(p, len)) return;
    const uint64_t long_h = len <= CACHE_MAX_PIECE ? long_hash_of_key(key, len) : h;
    CacheRegion<LongSlot>& r = cache.long_slots;
    const size_t span = long_span(len, n);
    LongSlot* entry = claim_long(r, long_h, span);
    entry->check = long_check(long_h);
    entry->len = uint8_t(len);
    entry->n = uint8_t(n);
    entry->more = uint8_t(span - 1);
    uint8_t* data = reinterpret_cast<uint8_t*>(entry) + LONG_HEADER;
    std::memcpy(data, ids, n * sizeof(uint32_t));
    std::memcpy(data + n * sizeof(uint32_t), p, len);
    if (len <= CACHE_MAX_PIECE) set_long_hint(cache.short_slots, h);
    grow_if_full(r, long_span_at, long_hash_of, place_long);
}

void probe_cold(PretokenCache& cache, const Vocab& v, const uint8_t* p, size_t len, std::vector<uint32_t>& out,
                uint64_t h, CacheKey key) {
    if (append_cold_cached(cache, p, len, h, key, out)) return;
    const size_t start = out.size();
    encode_uncached(v, p, len, out);
    store_piece(cache, p, len, h, key, out.data() + start, out.size() - start);
}

void probe_long(PretokenCache& cache, const Vocab& v, const uint8_t* p, size_t len, std::vector<uint32_t>& out,
                uint64_t long_h) {
    if (append_long_cached(cache, p, len, long_h, out)) return;
    const size_t start = out.size();
    encode_uncached(v, p, len, out);
    store_piece(cache, p, len, long_h, {}, out.data() + start, out.size() - start);
}

CacheLease::~CacheLease() {
    if (holds_holder) CACHES->in_use = false;
}

void acquire_cache(CacheLease& lease, uint64_t tokenizer_id, uint64_t workers) {
    lease.holds_holder = false;
    lease.cache = &lease.temporary;
    Holder* held = thread_holder();
    if (held == nullptr) return;  // run uncached
    Holder& holder = *held;
    if (holder.in_use) return;  // re-entry on this thread: run uncached
    holder.in_use = true;
    lease.holds_holder = true;
    for (PretokenCache& c : holder.caches)
        if (c.tokenizer_id == tokenizer_id) {
            lease.cache = &c;
            return;
        }
    PretokenCache evicted;
    if (holder.caches.size() >= 2) {
        evicted = std::move(holder.caches.front());
        holder.caches.erase(holder.caches.begin());
    }
    {
        std::lock_guard<std::mutex> lock(shared_pool.mutex);
        if (evicted.slot_count > 0) {
            if (make_room_in_pool(1))
                shared_pool.caches.push_back(std::move(evicted));
            else
                live_table_bytes.fetch_sub(evicted.table_bytes());  // freed at the end of this call
        }
        std::vector<PretokenCache>& pool = shared_pool.caches;
        for (size_t i = 0; i < pool.size(); ++i)
            if (pool[i].tokenizer_id == tokenizer_id) {
                holder.caches.push_back(std::move(pool[i]));
                if (i + 1 != pool.size()) pool[i] = std::move(pool.back());
                pool.pop_back();
                lease.cache = &holder.caches.back();
                return;
            }
        while (live_table_bytes.load() >= CACHE_BUDGET && !pool.empty()) {
            live_table_bytes.fetch_sub(pool.back().table_bytes());
            pool.pop_back();
        }
    }
    const uint64_t bytes = reserve_table_bytes(workers);
    try {
        holder.caches.emplace_back(tokenizer_id, bytes / sizeof(CacheSlot));
    } catch (const std::bad_alloc&) {
        live_table_bytes.fetch_sub(bytes);  // no pages for a table: this call runs uncached, the next one tries again
        return;
    }
    lease.cache = &holder.caches.back();
}

void park_thread_caches() {
    if (CACHES == nullptr) return;
    Holder& holder = *CACHES;
    if (holder.in_use || holder.caches.empty()) return;
    std::lock_guard<std::mutex> lock(shared_pool.mutex);
    if (!make_room_in_pool(holder.caches.size())) return;  // out of memory: the caches stay with this thread
    for (PretokenCache& c : holder.caches)
        if (c.slot_count > 0) shared_pool.caches.push_back(std::move(c));
    holder.caches.clear();
}

uint64_t live_cache_bytes() { return live_table_bytes.load(); }

std::vector<uint64_t> held_cache_ids() {
    std::vector<uint64_t> ids;
    if (CACHES != nullptr)
        for (const PretokenCache& c : CACHES->caches) ids.push_back(c.tokenizer_id);
    return ids;
}

std::vector<uint64_t> pooled_cache_ids() {
    std::lock_guard<std::mutex> lock(shared_pool.mutex);
    std::vector<uint64_t> ids;
    for (const PretokenCache& c : shared_pool.caches) ids.push_back(c.tokenizer_id);
    return ids;
}

}  // namespace lexaro
