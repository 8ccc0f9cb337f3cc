// The flat result of a batch: offsets, little-endian ids, and the copy of a large result on several threads,
// which must give the same bytes as a plain concatenation and free each text's ids.
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "core/flat_ids.h"

using namespace lexaro;

namespace {

// The little-endian bytes of the ids of all texts, one after another.
std::string concatenated(const std::vector<std::vector<uint32_t>>& per_text) {
    std::string out;
    for (const auto& ids : per_text)
        for (uint32_t id : ids)
            for (int k = 0; k < 4; ++k) out += char(id >> (8 * k));
    return out;
}

}  // namespace

TEST(offsets_and_ids_are_little_endian) {
    const std::vector<std::vector<uint32_t>> per_text = {{1, 2}, {}, {3}};
    const std::vector<int64_t> offsets = id_offsets(per_text);
    CHECK_EQ(offsets.size(), size_t(4));
    std::string bytes(32, '\0');
    std::memcpy(bytes.data(), offsets.data(), 32);
    CHECK(bytes == std::string("\0\0\0\0\0\0\0\0\2\0\0\0\0\0\0\0\2\0\0\0\0\0\0\0\3\0\0\0\0\0\0\0", 32));
    const std::vector<uint32_t> ids = {0x04030201, 0xFFFFFFFF};
    std::string out(8, '\0');
    write_ids(ids, out.data());
    CHECK(out == "\x01\x02\x03\x04\xFF\xFF\xFF\xFF");
}

TEST(a_large_result_copies_the_same_on_any_number_of_threads) {
    // 300 texts of uneven sizes, 1.5 million ids in all: above the size that is split over threads
    std::vector<std::vector<uint32_t>> texts(300);
    for (size_t i = 0; i < texts.size(); ++i)
        for (size_t k = 0; k < (i % 7) * 1400 + (i == 150 ? 200000 : 0); ++k)
            texts[i].push_back(uint32_t(i * 1000003 + k));
    const std::string expected = concatenated(texts);
    CHECK(expected.size() / 4 > (size_t(1) << 20));
    for (uint64_t threads : {1, 2, 3, 16, 1000}) {
        std::vector<std::vector<uint32_t>> per_text = texts;
        const std::vector<int64_t> offsets = id_offsets(per_text);
        std::string out(expected.size(), '\0');
        copy_all_ids(per_text, offsets, threads, out.data());
        CHECK(out == expected);
        size_t kept = 0;
        for (const auto& ids : per_text) kept += ids.capacity();
        CHECK_EQ(kept, size_t(0));
    }
}

TEST(few_texts_with_many_ids_and_empty_batches) {
    std::vector<std::vector<uint32_t>> texts = {std::vector<uint32_t>(1 << 21, 7), {}, std::vector<uint32_t>(5, 9)};
    const std::string expected = concatenated(texts);
    std::string out(expected.size(), '\0');
    copy_all_ids(texts, id_offsets(texts), 8, out.data());
    CHECK(out == expected);
    std::vector<std::vector<uint32_t>> none;
    const std::vector<int64_t> offsets = id_offsets(none);
    CHECK(offsets == std::vector<int64_t>{0});
    copy_all_ids(none, offsets, 4, nullptr);
}

TEST_MAIN()
