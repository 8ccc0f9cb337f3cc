// Preloaded into a test child: replaces the global operator new so that a test can make one chosen
// allocation fail. lexaro_fail_allocation(n) arms it: the n-th allocation from then on (counting from
// 0, on any thread) throws std::bad_alloc, and every later one succeeds again.
#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> COUNTDOWN{-1};

void* allocate(std::size_t n) {
    if (COUNTDOWN.load(std::memory_order_relaxed) >= 0 && COUNTDOWN.fetch_sub(1) == 0) throw std::bad_alloc();
    if (void* p = std::malloc(n != 0 ? n : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

extern "C" void lexaro_fail_allocation(long n) { COUNTDOWN.store(n); }
extern "C" long lexaro_allocations_left() { return COUNTDOWN.load(); }

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
// The nothrow forms too: every allocation and its release go through this file, never one through the
// runtime's own operator new and the other through these (a sanitizer reports that pair as a mismatch).
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return allocate(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
