#include "core/pcache.h"

#include <atomic>
#include <mutex>
#include <new>

#include <sys/mman.h>

namespace lexaro {

namespace {

constexpr uint64_t MIB = uint64_t(1) << 20;

struct Pool {
    std::mutex mutex;
    std::vector<PretokenCache> caches;  // parked caches, all with slots
};

// Never destroyed: threads that end during process exit still park their caches here.
Pool& POOL = *new Pool;
std::atomic<uint64_t> LIVE_BYTES{0};

struct Holder {
    std::vector<PretokenCache> caches;  // at most two, in the order they were added
    bool in_use = false;

    Holder() { caches.reserve(2); }
    ~Holder() {  // thread exit: park every real cache in the pool
        std::lock_guard<std::mutex> lock(POOL.mutex);
        for (PretokenCache& c : caches)
            if (c.slot_count > 0) POOL.caches.push_back(std::move(c));
    }
};

thread_local Holder CACHES;

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
    uint64_t live = LIVE_BYTES.load(std::memory_order_relaxed);
    for (;;) {
        const uint64_t room = live >= CACHE_BUDGET ? 0 : CACHE_BUDGET - live;
        uint64_t size = limit;
        while (size > room && size > MIB) size /= 2;
        if (size > room) return 0;
        if (LIVE_BYTES.compare_exchange_weak(live, live + size, std::memory_order_seq_cst)) return size;
    }
}

void release_slots(CacheSlot* slots, uint64_t count) {
    if (slots) ::munmap(slots, count * sizeof(CacheSlot));
}

bool slot_matches(const CacheSlot& s, CacheKey key) { return s.key_lo == key.lo && s.key_hi == key.hi; }

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

PretokenCache::PretokenCache(uint64_t id, uint64_t count) : slot_count(count), tokenizer_id(id) {
    if (count == 0) return;
    // Fresh anonymous pages are zero and page-aligned: a table costs only the pages an encode touches,
    // which matters for short texts on new threads.
    void* mem = ::mmap(nullptr, count * sizeof(CacheSlot), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) throw std::bad_alloc();
    slots = static_cast<CacheSlot*>(mem);
    shift = 64 - uint64_t(__builtin_ctzll(count));
}

PretokenCache::PretokenCache(PretokenCache&& o) noexcept
    : slots(o.slots), slot_count(o.slot_count), tokenizer_id(o.tokenizer_id), shift(o.shift) {
    o.slots = nullptr;
    o.slot_count = 0;
    o.shift = 64;
}

PretokenCache& PretokenCache::operator=(PretokenCache&& o) noexcept {
    if (this != &o) {
        release_slots(slots, slot_count);
        slots = o.slots;
        slot_count = o.slot_count;
        tokenizer_id = o.tokenizer_id;
        shift = o.shift;
        o.slots = nullptr;
        o.slot_count = 0;
        o.shift = 64;
    }
    return *this;
}

PretokenCache::~PretokenCache() { release_slots(slots, slot_count); }

void probe_cold(PretokenCache& cache, const Vocab& v, const uint8_t* p, size_t len, std::vector<uint32_t>& out,
                uint64_t h, CacheKey key) {
    const uint64_t mask = cache.slot_count - 1;
    const uint64_t f = (h >> cache.shift) & ~uint64_t(1);
    CacheSlot* s = cache.slots;
    for (uint64_t k = 2; k < 6; ++k) {
        const CacheSlot& c = s[(f + k) & mask];
        if (slot_matches(c, key)) return append_slot_ids(c, out);
    }
    const size_t start = out.size();
    encode_with_first(v, p, len, first_token(v, p, len), out);
    const size_t n = out.size() - start;
    if (n < 1 || n > 4 || out[start] > 0xFFFFFF) return;  // too many ids, or a first id beyond 24 bits
    uint32_t ids[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < n; ++i) ids[i] = out[start + i];
    const CacheSlot fresh{key.lo, key.hi, uint64_t(n) | uint64_t(ids[0]) << 8 | uint64_t(ids[1]) << 32,
                          uint64_t(ids[2]) | uint64_t(ids[3]) << 32};
    for (uint64_t k = 0; k < 6; ++k) {
        CacheSlot& c = s[(f + k) & mask];
        if (c.key_lo == 0 && c.key_hi == 0) {
            c = fresh;
            return;
        }
    }
    s[f & mask] = fresh;
}

CacheLease::~CacheLease() {
    if (holds_holder) CACHES.in_use = false;
}

void acquire_cache(CacheLease& lease, uint64_t tokenizer_id, uint64_t workers) {
    Holder& holder = CACHES;
    lease.holds_holder = false;
    lease.cache = &lease.temporary;
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
        std::lock_guard<std::mutex> lock(POOL.mutex);
        if (evicted.slot_count > 0) POOL.caches.push_back(std::move(evicted));
        std::vector<PretokenCache>& pool = POOL.caches;
        for (size_t i = 0; i < pool.size(); ++i)
            if (pool[i].tokenizer_id == tokenizer_id) {
                holder.caches.push_back(std::move(pool[i]));
                if (i + 1 != pool.size()) pool[i] = std::move(pool.back());
                pool.pop_back();
                lease.cache = &holder.caches.back();
                return;
            }
        while (LIVE_BYTES.load() >= CACHE_BUDGET && !pool.empty()) {
            LIVE_BYTES.fetch_sub(pool.back().table_bytes());
            pool.pop_back();
        }
    }
    const uint64_t bytes = reserve_table_bytes(workers);
    holder.caches.emplace_back(tokenizer_id, bytes / sizeof(CacheSlot));
    lease.cache = &holder.caches.back();
}

void park_thread_caches() {
    Holder& holder = CACHES;
    if (holder.in_use || holder.caches.empty()) return;
    std::lock_guard<std::mutex> lock(POOL.mutex);
    for (PretokenCache& c : holder.caches)
        if (c.slot_count > 0) POOL.caches.push_back(std::move(c));
    holder.caches.clear();
}

uint64_t live_cache_bytes() { return LIVE_BYTES.load(); }

std::vector<uint64_t> held_cache_ids() {
    std::vector<uint64_t> ids;
    for (const PretokenCache& c : CACHES.caches) ids.push_back(c.tokenizer_id);
    return ids;
}

std::vector<uint64_t> pooled_cache_ids() {
    std::lock_guard<std::mutex> lock(POOL.mutex);
    std::vector<uint64_t> ids;
    for (const PretokenCache& c : POOL.caches) ids.push_back(c.tokenizer_id);
    return ids;
}

}  // namespace lexaro
