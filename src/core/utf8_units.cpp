#include "core/utf8_units.h"

#include <bit>
#include <cstring>

#include "core/byte_class.h"

namespace lexaro {

namespace {

// Stores the next sixteen units narrowed to one byte each at out (bytes past the first non-ASCII unit
// are not meaningful) and returns how many of them lead as ASCII (0 to 16).
#if defined(LEXARO_BYTES_SSE2)
inline uint32_t ascii_lead(const uint8_t* s, char* out) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    const uint32_t high = uint32_t(_mm_movemask_epi8(v));
    return high != 0 ? uint32_t(std::countr_zero(high)) : 16;
}
// The packing reads units as signed, so units of 0x8000 and above would pack to 0: ASCII is told by its
// own test of each unit.
inline uint32_t ascii_lead(const uint16_t* s, char* out) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
    const __m128i above = _mm_set1_epi16(int16_t(0xFF80)), zero = _mm_setzero_si128();
    const __m128i ascii =
        _mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, above), zero), _mm_cmpeq_epi16(_mm_and_si128(b, above), zero));
    const uint32_t high = ~uint32_t(_mm_movemask_epi8(ascii)) & 0xFFFF;
    return high != 0 ? uint32_t(std::countr_zero(high)) : 16;
}
// Units are at most 0x10FFFF, so the signed packing to 16 bits never goes negative.
inline uint32_t ascii_lead(const uint32_t* s, char* out) {
    const auto at = [s](size_t k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k)); };
    const __m128i v = _mm_packus_epi16(_mm_packs_epi32(at(0), at(4)), _mm_packs_epi32(at(8), at(12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    const uint32_t high = uint32_t(_mm_movemask_epi8(v));
    return high != 0 ? uint32_t(std::countr_zero(high)) : 16;
}
#else
template <class Unit>
inline uint32_t ascii_lead(const Unit* s, char* out) {
    uint32_t k = 0;
    while (k < 16 && s[k] < 0x80) {
        out[k] = char(s[k]);
        ++k;
    }
    return k;
}
#endif

// One character above ASCII; false for a surrogate.
inline bool put_wide(uint32_t c, char*& o) {
    if (c < 0x800) {
        o[0] = char(0xC0 | c >> 6);
        o[1] = char(0x80 | (c & 0x3F));
        o += 2;
    } else if (c < 0x10000) {
        if (c - 0xD800 < 0x800) return false;
        o[0] = char(0xE0 | c >> 12);
        o[1] = char(0x80 | (c >> 6 & 0x3F));
        o[2] = char(0x80 | (c & 0x3F));
        o += 3;
    } else {
        o[0] = char(0xF0 | c >> 18);
        o[1] = char(0x80 | (c >> 12 & 0x3F));
        o[2] = char(0x80 | (c >> 6 & 0x3F));
        o[3] = char(0x80 | (c & 0x3F));
        o += 4;
    }
    return true;
}

template <class Unit>
size_t convert(const Unit* s, size_t n, char* out, size_t max_bytes) {
    char* o = out;
    const char* const limit = out + max_bytes;
    size_t i = 0;
    while (i < n) {
        // o <= limit here, so a store of sixteen bytes stays within the slack; so must it be again before
        // a character is written after the ASCII that led the store.
        if (n - i >= 16) {
            const uint32_t k = ascii_lead(s + i, o);
            o += k;
            i += k;
            if (o > limit) return NOT_CONVERTED;
            if (k == 16) continue;
        }
        const uint32_t c = s[i++];
        if (c < 0x80) {
            *o++ = char(c);
        } else if (!put_wide(c, o)) {
            return NOT_CONVERTED;
        }
        if (o > limit) return NOT_CONVERTED;
    }
    return size_t(o - out);
}

}  // namespace

size_t utf8_from_units(const uint8_t* s, size_t n, char* out, size_t max_bytes) {
    return convert(s, n, out, max_bytes);
}
size_t utf8_from_units(const uint16_t* s, size_t n, char* out, size_t max_bytes) {
    return convert(s, n, out, max_bytes);
}
size_t utf8_from_units(const uint32_t* s, size_t n, char* out, size_t max_bytes) {
    return convert(s, n, out, max_bytes);
}

}  // namespace lexaro
