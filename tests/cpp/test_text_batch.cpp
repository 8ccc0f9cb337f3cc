// The texts of a batch: views into the caller's memory where it cannot change, copies where it can; and how
// much room a sequence's length earns before its items are read.
#include <string>
#include <vector>

#include "check.h"
#include "core/fileio.h"
#include "core/text_batch.h"

using namespace lexaro;

TEST(copied_items_keep_their_text_when_the_source_changes) {
    std::string kept = "kept in place";
    std::string changing = "copied";
    const std::vector<BatchItem> items = {{kept, false, false}, {changing, true, true}, {"", true, false}};
    TextBatch batch;
    make_text_batch(items, batch);
    changing[0] = 'X';
    kept[0] = 'K';
    CHECK(batch.views.size() == 3);
    CHECK_EQ(std::string(batch.views[0]), std::string("Kept in place"));  // a view: sees the change
    CHECK_EQ(std::string(batch.views[1]), std::string("copied"));
    CHECK(batch.views[1].data() >= batch.copies.data() &&
          batch.views[1].data() + 6 <= batch.copies.data() + batch.copies.size());
    CHECK(batch.views[2].empty());
    CHECK(batch.from_buffer == std::vector<uint8_t>({0, 1, 1}));
}

TEST(a_declared_length_earns_a_bounded_reserve_and_an_impossible_one_none) {
    std::vector<uint32_t> v;
    CHECK(reserve_items(v, 1000, false, 0) && v.capacity() >= 1000);
    std::vector<uint32_t> declared;
    CHECK(reserve_items(declared, uint64_t(1) << 40, false, 0));
    CHECK(declared.capacity() >= (size_t(1) << 16) && declared.capacity() < (size_t(1) << 20));
    std::vector<uint32_t> held;
    CHECK(reserve_items(held, 100000, true, 0) && held.capacity() >= 100000);
    std::vector<uint64_t> too_many;
    CHECK(!reserve_items(too_many, 1u << 20, true, uint64_t(1) << 20));  // 8 MiB of items in 1 MiB of memory
    CHECK(!reserve_items(too_many, uint64_t(1) << 62, true, 0));         // no vector holds that many
    CHECK(too_many.capacity() == 0);
}

TEST(a_relative_path_is_made_absolute_and_the_builtin_marker_stays_empty) {
    CHECK(absolute_path("").empty());
    const std::string made = absolute_path("some/dir");
    // the separator between them is the system's own
    CHECK(made.size() > 8 && made.ends_with("dir") && made.find("some") != std::string::npos && made != "some/dir");
    CHECK_EQ(absolute_path(made), made);
}

TEST_MAIN()
