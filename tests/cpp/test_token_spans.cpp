// Token spans: the size limit of encode_with_offsets, 64-bit end sums, and byte-to-character mapping.
#include "check.h"
#include "core/token_spans.h"

using namespace lexaro;

TEST(spans_fit_exactly_below_4_gib) {
    CHECK(spans_fit(0));
    CHECK(spans_fit(0xFFFFFFFFull));
    CHECK(!spans_fit(0x100000000ull));
    CHECK(!spans_fit(~0ull));
}

TEST(token_ends_do_not_wrap_at_32_bits) {
    Vocab vocab;
    vocab.token_len = {0, 7, 255};
    const std::vector<uint32_t> few = {1, 0, 2};
    const std::vector<uint64_t> expected = {0, 7, 7, 262};
    CHECK(token_ends(vocab, few) == expected);
    // 2^32 / 255 + 1 tokens of 255 bytes end beyond 2^32.
    const std::vector<uint32_t> many(0x100000000ull / 255 + 1, 2);
    const std::vector<uint64_t> ends = token_ends(vocab, many);
    CHECK_EQ(ends.back(), uint64_t(many.size()) * 255);
    CHECK(ends.back() > 0xFFFFFFFFull);
}

TEST(byte_offsets_map_to_the_character_after_them) {
    // "a", "é" (2 bytes), "€" (3 bytes), U+1F600 (4 bytes): 10 bytes, 4 characters.
    const std::string_view text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::vector<uint64_t> ends = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10};
    byte_ends_to_chars(text, ends);
    const std::vector<uint64_t> expected = {0, 1, 2, 2, 3, 3, 3, 4, 4, 4, 4, 4};
    CHECK(ends == expected);
    std::vector<uint64_t> sparse = {0, 3, 3, 9, 12};  // the last lies beyond the text
    byte_ends_to_chars(text, sparse);
    const std::vector<uint64_t> sparse_expected = {0, 2, 2, 4, 4};
    CHECK(sparse == sparse_expected);
}

TEST_MAIN()
