// Classes of 16 bytes at a time, as bit masks: bit i describes byte i of the block.
//
// One path is chosen when compiling: SSE2 on x86-64, NEON on arm64, plain loops elsewhere or when
// LEXARO_FORCE_SCALAR is defined (the build option of that name, so that this path is tested on any
// machine). Every path gives the same masks; the pre-tokenizers build their ASCII classes from these.
#pragma once
#include <cstdint>
#include <cstring>

#if !defined(LEXARO_FORCE_SCALAR) && (defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64))
#define LEXARO_BYTES_SSE2 1
#include <emmintrin.h>
#elif !defined(LEXARO_FORCE_SCALAR) && (defined(__aarch64__) || defined(_M_ARM64)) && defined(__ARM_NEON)
#define LEXARO_BYTES_NEON 1
#include <arm_neon.h>
#endif

namespace lexaro::byte16 {

#if defined(LEXARO_BYTES_SSE2)
inline constexpr const char* PATH = "sse2";
struct Block {
    __m128i v;
};
inline Block load(const uint8_t* p) { return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))}; }
inline Block or_each(Block b, uint8_t c) { return {_mm_or_si128(b.v, _mm_set1_epi8(char(c)))}; }
inline uint32_t equal_to(Block b, uint8_t c) {
    return uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(b.v, _mm_set1_epi8(char(c)))));
}
// Bytes in [lo, lo + n), n >= 1: the range is moved to [-128, -128 + n) and compared signed.
inline uint32_t in_range(Block b, uint8_t lo, uint8_t n) {
    const __m128i shifted = _mm_sub_epi8(b.v, _mm_set1_epi8(char(lo + 0x80)));
    return uint32_t(_mm_movemask_epi8(_mm_cmplt_epi8(shifted, _mm_set1_epi8(char(-128 + n)))));
}
inline uint32_t high(Block b) { return uint32_t(_mm_movemask_epi8(b.v)); }  // 0x80 and above

#elif defined(LEXARO_BYTES_NEON)
inline constexpr const char* PATH = "neon";
struct Block {
    uint8x16_t v;
};
inline Block load(const uint8_t* p) { return {vld1q_u8(p)}; }
inline Block or_each(Block b, uint8_t c) { return {vorrq_u8(b.v, vdupq_n_u8(c))}; }
// One bit per lane from lanes that are all ones or all zeros: each lane keeps its own bit weight, and
// the halves are summed across.
inline uint32_t lane_bits(uint8x16_t lanes) {
    static const uint8_t WEIGHTS[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t bits = vandq_u8(lanes, vld1q_u8(WEIGHTS));
    return uint32_t(vaddv_u8(vget_low_u8(bits))) | uint32_t(vaddv_u8(vget_high_u8(bits))) << 8;
}
inline uint32_t equal_to(Block b, uint8_t c) { return lane_bits(vceqq_u8(b.v, vdupq_n_u8(c))); }
inline uint32_t in_range(Block b, uint8_t lo, uint8_t n) {
    return lane_bits(vcltq_u8(vsubq_u8(b.v, vdupq_n_u8(lo)), vdupq_n_u8(n)));
}
inline uint32_t high(Block b) { return lane_bits(vcgeq_u8(b.v, vdupq_n_u8(0x80))); }

#else
inline constexpr const char* PATH = "scalar";
struct Block {
    uint8_t v[16];
};
inline Block load(const uint8_t* p) {
    Block b;
    std::memcpy(b.v, p, 16);
    return b;
}
inline Block or_each(Block b, uint8_t c) {
    for (uint8_t& x : b.v) x = uint8_t(x | c);
    return b;
}
template <class Test>
inline uint32_t bits_where(const Block& b, Test test) {
    uint32_t m = 0;
    for (uint32_t i = 0; i < 16; ++i) m |= uint32_t(test(b.v[i])) << i;
    return m;
}
inline uint32_t equal_to(Block b, uint8_t c) {
    return bits_where(b, [c](uint8_t x) { return x == c; });
}
inline uint32_t in_range(Block b, uint8_t lo, uint8_t n) {
    return bits_where(b, [lo, n](uint8_t x) { return uint8_t(x - lo) < n; });
}
inline uint32_t high(Block b) {
    return bits_where(b, [](uint8_t x) { return x >= 0x80; });
}
#endif

}  // namespace lexaro::byte16
