// The 16-byte class masks of the compiled path (SSE2, NEON or scalar) against the same classes taken
// one byte at a time: every byte value in every lane, every range the pre-tokenizers can ask for.
#include <cstdint>
#include <cstdio>

#include "check.h"
#include "core/byte_class.h"

using namespace lexaro;

namespace {

// Blocks that between them put every byte value in every lane.
template <class Fn>
void for_each_block(Fn fn) {
    uint8_t b[16];
    for (uint32_t start = 0; start < 256; ++start) {
        for (uint32_t i = 0; i < 16; ++i) b[i] = uint8_t(start + i * 17);
        fn(b);
    }
}

template <class Test>
uint32_t expected_bits(const uint8_t* b, Test test) {
    uint32_t m = 0;
    for (uint32_t i = 0; i < 16; ++i) m |= uint32_t(test(b[i])) << i;
    return m;
}

}  // namespace

TEST(masks_match_the_bytes_one_by_one) {
    std::printf("  byte-class path: %s\n", byte16::PATH);
    int wrong = 0;
    for_each_block([&](const uint8_t* b) {
        const byte16::Block v = byte16::load(b);
        wrong += byte16::high(v) != expected_bits(b, [](uint8_t x) { return x >= 0x80; });
        for (uint32_t c = 0; c < 256; c += 5)
            wrong += byte16::equal_to(v, uint8_t(c)) != expected_bits(b, [c](uint8_t x) { return x == c; });
        for (uint32_t lo : {0x00u, 0x09u, 0x30u, 0x41u, 0x61u, 0x7Fu, 0x80u, 0xF0u})
            for (uint32_t n = 1; n <= 128 && lo + n <= 256; n += 3)
                wrong += byte16::in_range(v, uint8_t(lo), uint8_t(n)) !=
                         expected_bits(b, [lo, n](uint8_t x) { return x >= lo && x < lo + n; });
        const byte16::Block folded = byte16::or_each(v, 0x20);
        wrong += byte16::equal_to(folded, 'a') != expected_bits(b, [](uint8_t x) { return (x | 0x20) == 'a'; });
    });
    CHECK_EQ(wrong, 0);
}

TEST(unaligned_loads_read_the_bytes_given) {
    uint8_t buf[48];
    for (uint32_t i = 0; i < 48; ++i) buf[i] = uint8_t(i % 3 == 0 ? 'x' : 0x90 + i);
    for (uint32_t off = 0; off < 32; ++off) {
        const byte16::Block v = byte16::load(buf + off);
        CHECK_EQ(byte16::equal_to(v, 'x'), expected_bits(buf + off, [](uint8_t x) { return x == 'x'; }));
    }
}

TEST_MAIN()
