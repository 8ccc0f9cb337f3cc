// Fresh zeroed pages for the large tables: alignment, zero contents, and the table allocator.
#include <cstdint>
#include <cstring>

#include "check.h"
#include "core/pages.h"

using namespace lexaro;

namespace {
bool all_zero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}
}  // namespace

TEST(zeroed_regions_small_and_huge) {
    for (size_t bytes : {size_t(100), size_t(4096), HUGE_PAGES_FROM - 1, HUGE_PAGES_FROM, size_t(3) << 20}) {
        auto* p = static_cast<uint8_t*>(map_zeroed(bytes));
        CHECK(p != nullptr);
        CHECK(all_zero(p, bytes));
        const uintptr_t align = wants_huge_pages(bytes) ? uintptr_t(2) << 20 : 4096;
        CHECK_EQ(reinterpret_cast<uintptr_t>(p) % align, uintptr_t(0));
        std::memset(p, 0xAB, bytes);  // every byte is ours to write
        unmap_zeroed(p, bytes);
    }
    CHECK(map_zeroed(0) == nullptr);
    unmap_zeroed(nullptr, 0);
}

TEST(tables_from_the_allocator) {
    // one below and one above the huge-page threshold: same contents, same behaviour
    for (size_t n : {HUGE_PAGES_FROM / 8 - 1, HUGE_PAGES_FROM / 8 + 5}) {
        Table<uint64_t> t(n, 7);
        CHECK_EQ(t.size(), n);
        t.back() = 9;
        Table<uint64_t> copy = t;
        CHECK(copy == t);
        t.assign(n / 2, 0);
        CHECK_EQ(t.size(), n / 2);
        CHECK(t[0] == 0 && copy[0] == 7 && copy.back() == 9);
    }
}

TEST_MAIN()
