#include "core/pages.h"

#include <cstdint>
#include <new>

#include <sys/mman.h>

namespace lexaro {

namespace {
constexpr size_t HUGE_PAGE = size_t(2) << 20;
}

bool wants_huge_pages(size_t bytes) { return bytes >= HUGE_PAGES_FROM; }

void* map_zeroed(size_t bytes) {
    if (bytes == 0) return nullptr;
    if (!wants_huge_pages(bytes)) {
        void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        return p;
    }
    // Whole huge pages: the mapping is rounded up to 2 MiB, over-mapped by one more and trimmed at both
    // ends to a 2 MiB boundary.
    bytes = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    void* raw = ::mmap(nullptr, bytes + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + HUGE_PAGE - 1) & ~uintptr_t(HUGE_PAGE - 1);
    if (aligned > start) ::munmap(raw, aligned - start);
    const uintptr_t end = start + bytes + HUGE_PAGE;
    if (end > aligned + bytes) ::munmap(reinterpret_cast<void*>(aligned + bytes), end - (aligned + bytes));
    void* p = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    ::madvise(p, bytes, MADV_HUGEPAGE);  // advice only: without huge pages the table works the same
#endif
    return p;
}

void unmap_zeroed(void* p, size_t bytes) {
    if (wants_huge_pages(bytes)) bytes = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    if (p) ::munmap(p, bytes);
}

}  // namespace lexaro
