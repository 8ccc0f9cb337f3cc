// Ids from arrays of native integers: the formats taken, strides of any sign, and which items are refused.
#include <cstdint>
#include <vector>

#include "check.h"
#include "core/id_items.h"

using namespace lexaro;

TEST(one_native_integer_per_format) {
    CHECK_EQ(native_integer_code("i"), 'i');
    CHECK_EQ(native_integer_code("@q"), 'q');
    CHECK_EQ(native_integer_code("=B"), 'B');
    for (const char* refused : {"", "<i", ">i", "!i", "ii", "f", "d", "?", "e", "@", "2i"})
        CHECK_EQ(native_integer_code(refused), char(0));
}

TEST(items_are_read_with_their_stride) {
    const int32_t values[] = {3, 0, 0x7FFFFFFF, 42};
    std::vector<uint32_t> out;
    CHECK(append_id_items(reinterpret_cast<const char*>(values), 4, 4, 'i', out) == ItemFault::None);
    CHECK(out == (std::vector<uint32_t>{3, 0, 0x7FFFFFFF, 42}));
    out.clear();  // every other item, backwards from the last
    CHECK(append_id_items(reinterpret_cast<const char*>(values + 3), -8, 2, 'i', out) == ItemFault::None);
    CHECK(out == (std::vector<uint32_t>{42, 0}));
    out.clear();  // a zero stride repeats one item
    CHECK(append_id_items(reinterpret_cast<const char*>(values), 0, 3, 'i', out) == ItemFault::None);
    CHECK(out == (std::vector<uint32_t>{3, 3, 3}));
    const uint8_t bytes[] = {255, 1};
    out.clear();
    CHECK(append_id_items(reinterpret_cast<const char*>(bytes), 1, 2, 'B', out) == ItemFault::None);
    CHECK(out == (std::vector<uint32_t>{255, 1}));
}

TEST(items_outside_the_id_range_stop_the_read) {
    const int64_t signed_values[] = {1, 0xFFFFFFFFll, 0x100000000ll, 2};
    std::vector<uint32_t> out;
    CHECK(append_id_items(reinterpret_cast<const char*>(signed_values), 8, 4, 'q', out) == ItemFault::OutOfRange);
    CHECK(out == (std::vector<uint32_t>{1, 0xFFFFFFFF}));
    const int8_t negative[] = {-1};
    CHECK(append_id_items(reinterpret_cast<const char*>(negative), 1, 1, 'b', out) == ItemFault::OutOfRange);
    const uint64_t huge[] = {uint64_t(INT64_MAX), uint64_t(INT64_MAX) + 1};
    out.clear();
    CHECK(append_id_items(reinterpret_cast<const char*>(huge), 8, 1, 'Q', out) == ItemFault::OutOfRange);
    CHECK(append_id_items(reinterpret_cast<const char*>(huge + 1), 8, 1, 'Q', out) == ItemFault::BeyondInt64);
    CHECK(out.empty());
}

TEST_MAIN()
