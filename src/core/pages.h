// Zero-filled memory straight from the system, for the large tables that encoders write as they go.
#pragma once
#include <cstddef>
#include <new>
#include <vector>

#include "core/platform.h"

namespace lexaro {

// Regions of this size or more are made of 2 MiB pages (see map_zeroed in platform.h). The large tables
// are powers of two: the rounding wastes nothing there, and a 1 MiB cache table stays on small pages,
// within its share of the budget.
inline constexpr size_t HUGE_PAGES_FROM = size_t(2) << 20;
inline bool wants_huge_pages(size_t bytes) { return bytes >= HUGE_PAGES_FROM; }

// An allocator for the vocabulary's large lookup tables: arrays of HUGE_PAGES_FROM or more come from
// map_zeroed (huge pages where the system gives them), smaller ones from the heap.
template <class T>
struct TableAllocator {
    using value_type = T;
    TableAllocator() = default;
    template <class U>
    TableAllocator(const TableAllocator<U>&) {}
    T* allocate(size_t n) {
        if (wants_huge_pages(n * sizeof(T))) return static_cast<T*>(map_zeroed(n * sizeof(T)));
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) {
        if (wants_huge_pages(n * sizeof(T)))
            unmap_zeroed(p, n * sizeof(T));
        else
            ::operator delete(p);
    }
    friend bool operator==(const TableAllocator&, const TableAllocator&) { return true; }
};

template <class T>
using Table = std::vector<T, TableAllocator<T>>;

}  // namespace lexaro
