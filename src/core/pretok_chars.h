// Character-level rules that every pre-tokenizer family shares.
#pragma once
#include <cstddef>
#include <cstdint>

namespace lexaro {

struct Char {
    uint32_t cp;
    uint32_t len;  // bytes, 1 to 4
};

// Lenient decoding of the character at pos: a lead byte starts a 2-, 3- or 4-byte sequence when that many
// bytes remain, and the following bytes are taken as they are, not examined. Anything else (a stray
// continuation byte, 0xF8-0xFF, a lead byte cut short by the end) is one character whose code point is
// the byte value (U+0080-U+00FF).
inline Char decode_char(const uint8_t* t, size_t pos, size_t len) {
    const uint32_t b = t[pos];
    const size_t left = len - pos;
    if (b < 0x80) return {b, 1};
    if ((b & 0xE0) == 0xC0 && left >= 2) return {(b & 0x1F) << 6 | (t[pos + 1] & 0x3Fu), 2};
    if ((b & 0xF0) == 0xE0 && left >= 3)
        return {(b & 0x0F) << 12 | (t[pos + 1] & 0x3Fu) << 6 | (t[pos + 2] & 0x3Fu), 3};
    if ((b & 0xF8) == 0xF0 && left >= 4)
        return {(b & 0x07) << 18 | (t[pos + 1] & 0x3Fu) << 12 | (t[pos + 2] & 0x3Fu) << 6 | (t[pos + 3] & 0x3Fu), 4};
    return {b, 1};
}

// Bytes of the contraction ('s 't 'm 'd 'll 're 've, letters in either case) that starts at pos, 2 or 3;
// 0 when there is none there (no apostrophe, or what follows it is no contraction).
inline size_t contraction_len(const uint8_t* t, size_t pos, size_t len) {
    const size_t left = len - pos;
    if (left < 2 || t[pos] != '\'') return 0;
    const uint8_t l1 = t[pos + 1] | 0x20;  // lower case for letters; no other byte maps onto one
    if (l1 == 's' || l1 == 't' || l1 == 'm' || l1 == 'd') return 2;
    if (left < 3) return 0;
    const uint8_t l2 = t[pos + 2] | 0x20;
    if ((l1 == 'l' && l2 == 'l') || (l1 == 'r' && l2 == 'e') || (l1 == 'v' && l2 == 'e')) return 3;
    return 0;
}

}  // namespace lexaro
