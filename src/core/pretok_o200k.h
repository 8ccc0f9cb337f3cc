// The o200k pre-tokenizer: cutting rules, matchers and the encode loop.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "core/byte_class.h"
#include "core/pretok.h"
#include "core/pretok_chars.h"
#include "core/pretok_words.h"

namespace lexaro {

struct Vocab;
struct PretokenCache;

inline constexpr size_t O_NO_MATCH = ~size_t(0);

// Upper-set run (zero or more) then lower-set run (one or more) from `start`; O_NO_MATCH if none.
size_t o_match_ul(const UClassO& u, const uint8_t* text, size_t start, size_t end);
// Upper-set run (one or more) then lower-set run (zero or more) from `start`; O_NO_MATCH if none.
size_t o_match_upl(const UClassO& u, const uint8_t* text, size_t start, size_t end);
// Stop of the pre-token at `pos` by the rules over decoded characters (any lead byte).
size_t o_general_stop(const UClassO& u, const uint8_t* text, size_t pos, size_t end);
// The same where the fast forms gave up: a letter run from a byte of 0x80 or above read from its bytes,
// the rest by o_general_stop.
size_t o_high_stop(const UClassO& u, const uint8_t* text, size_t pos, size_t end);
// The pre-token at pos, whose byte may prefix a letter run and is followed by a byte of 0x80 or above;
// 0 when the general rules must decide. Out of line: the loop that serves English and code stays as it is.
[[gnu::noinline]] size_t o_prefixed_high_stop(const UClassO& u, const uint8_t* text, size_t pos, size_t end);
// Whether the character at q, whose byte is 0x80 or above, ends a run of ASCII white space: a regular two-
// or three-byte character that is not white space. Out of line, as it is rarely asked.
[[gnu::noinline]] bool o_ends_space_run(const UClassO& u, const uint8_t* text, size_t q, size_t end);
// The end of the lower-set run of rule 1 that goes on at q, whose byte is 0x80 or above, over lower-set
// characters in regular two- or three-byte form and ASCII small letters (café, straße); 0 when a
// character in any other form decides.
[[gnu::noinline]] size_t o_lower_run_rest(const UClassO& u, const uint8_t* text, size_t q, size_t end);

// The case sets as bits of the class byte bmp[cp], for skip_class_chars.
inline constexpr uint8_t O_UPPER_SET = 1u << CLASS_UPPER;
inline constexpr uint8_t O_LOWER_SET = 1u << CLASS_LOWER;
inline constexpr uint8_t O_BOTH_SETS = O_UPPER_SET | O_LOWER_SET;

// ---- ASCII byte classes, one byte and 16 at a time ----

inline bool o_byte_upper(uint8_t b) { return uint8_t(b - 0x41) <= 25; }
inline bool o_byte_lower(uint8_t b) { return uint8_t(b - 0x61) <= 25; }
inline bool o_byte_letter(uint8_t b) { return uint8_t((b | 0x20) - 0x61) <= 25; }
inline bool o_byte_digit(uint8_t b) { return uint8_t(b - 0x30) <= 9; }
inline bool o_byte_space(uint8_t b) { return uint8_t(b - 0x09) <= 4 || b == 0x20; }
inline bool o_byte_newline(uint8_t b) { return b == 0x0A || b == 0x0D; }
inline bool o_byte_punct(uint8_t b) { return b < 0x80 && !o_byte_letter(b) && !o_byte_digit(b) && !o_byte_space(b); }

inline unsigned o_block_upper(const uint8_t* p) { return byte16::in_range(byte16::load(p), 0x41, 26); }
inline unsigned o_block_lower(const uint8_t* p) { return byte16::in_range(byte16::load(p), 0x61, 26); }
inline unsigned o_block_space(const uint8_t* p) {
    const byte16::Block v = byte16::load(p);
    return byte16::in_range(v, 0x09, 5) | byte16::equal_to(v, 0x20);
}
inline unsigned o_block_newline(const uint8_t* p) {
    const byte16::Block v = byte16::load(p);
    return byte16::equal_to(v, 0x0A) | byte16::equal_to(v, 0x0D);
}
inline unsigned o_block_punct(const uint8_t* p) {
    const byte16::Block v = byte16::load(p);
    const unsigned other = byte16::in_range(byte16::or_each(v, 0x20), 0x61, 26) | byte16::in_range(v, 0x30, 10) |
                           byte16::in_range(v, 0x09, 5) | byte16::equal_to(v, 0x20) | byte16::high(v);
    return ~other & 0xFFFF;
}

// First position at or after i whose byte is outside the class; full blocks first, then byte by byte
// so that nothing past `end` is read.
template <unsigned (*Block)(const uint8_t*), bool (*Byte)(uint8_t)>
inline size_t o_scan(const uint8_t* t, size_t i, size_t end) {
    for (; i + 16 <= end; i += 16) {
        const unsigned out = ~Block(t + i) & 0xFFFF;
        if (out) return i + size_t(__builtin_ctz(out));
    }
    while (i < end && Byte(t[i])) ++i;
    return i;
}

struct OSpaceRun {
    size_t stop;
    size_t last_newline;  // position of the last 0x0A/0x0D in the run, O_NO_MATCH if none
};

inline OSpaceRun o_scan_space(const uint8_t* t, size_t i, size_t end) {
    size_t last = O_NO_MATCH;
    for (; i + 16 <= end; i += 16) {
        const unsigned out = ~o_block_space(t + i) & 0xFFFF;
        const unsigned in_run = out ? (out & (0u - out)) - 1 : 0xFFFF;  // bits below the first non-space
        const unsigned nl = o_block_newline(t + i) & in_run;
        if (nl) last = i + size_t(31 - __builtin_clz(nl));
        if (out) return {i + size_t(__builtin_ctz(out)), last};
    }
    for (; i < end && o_byte_space(t[i]); ++i)
        if (o_byte_newline(t[i])) last = i;
    return {i, last};
}

// ---- fast forms: pre-tokens decided on their bytes; 0 means the general rules decide ----

// Letters from `from` (an ASCII letter), as rule 1 (upper then lower) or rule 2 (upper alone).
[[gnu::always_inline]] inline size_t o_fast_letters(const UClassO& u, const uint8_t* t, size_t from, size_t end) {
    size_t p = from;
    if (o_byte_upper(t[p])) p = o_scan<o_block_upper, o_byte_upper>(t, p + 1, end);
    if (p < end && t[p] >= 0x80) return 0;  // a non-ASCII upper- or lower-set letter may continue the run
    size_t q = p;
    if (q < end && o_byte_lower(t[q])) {
        q = o_scan<o_block_lower, o_byte_lower>(t, q + 1, end);
        if (q < end && t[q] >= 0x80 && (q = o_lower_run_rest(u, t, q, end)) == 0) return 0;
    }
    return q + contraction_len(t, q, end);  // a letter run may swallow a contraction
}

inline size_t o_fast_space(const UClassO& u, const uint8_t* t, size_t pos, size_t end) {
    const OSpaceRun r = o_scan_space(t, pos, end);
    if (r.stop < end && t[r.stop] >= 0x80 && !o_ends_space_run(u, t, r.stop, end))
        return 0;  // Unicode white space may continue the run
    if (r.last_newline != O_NO_MATCH) return r.last_newline + 1;
    if (r.stop == end || r.stop - pos == 1) return r.stop;
    return r.stop - 1;  // the last space stays to lead the next pre-token
}

// Punctuation from `from` (an ASCII punctuation byte), then trailing '\r', '\n', '/'.
inline size_t o_fast_punct(const uint8_t* t, size_t from, size_t end) {
    size_t i = o_scan<o_block_punct, o_byte_punct>(t, from + 1, end);
    if (i < end && t[i] >= 0x80) return 0;
    while (i < end && (t[i] == '\r' || t[i] == '\n' || t[i] == '/')) ++i;
    return i;
}

// The pre-token at `pos`, whose byte is below 0x80, or 0 when the general rules must decide.
[[gnu::always_inline]] inline size_t o_fast_stop(const UClassO& u, const uint8_t* t, size_t pos, size_t end) {
    const uint8_t b = t[pos];
    if (o_byte_letter(b)) return o_fast_letters(u, t, pos, end);
    if (o_byte_digit(b)) {
        size_t i = pos + 1;
        while (i < end && i - pos < 3 && o_byte_digit(t[i])) ++i;
        if (i - pos < 3 && i < end && t[i] >= 0x80) return 0;  // a non-ASCII number may continue
        return i;
    }
    if (o_byte_newline(b)) return o_fast_space(u, t, pos, end);
    // b may prefix a letter run.
    if (pos + 1 < end) {
        const uint8_t n = t[pos + 1];
        if (n >= 0x80) return o_prefixed_high_stop(u, t, pos, end);
        if (o_byte_letter(n)) return o_fast_letters(u, t, pos + 1, end);
        if (b == ' ' && o_byte_punct(n)) return o_fast_punct(t, pos + 1, end);
    }
    if (o_byte_punct(b)) return o_fast_punct(t, pos, end);
    return o_fast_space(u, t, pos, end);
}

// The o200k family for the shared loops of pretok_driver.h: pre-tokens are decided on bytes where possible.
struct O200kRules {
    using Classes = UClassO;
    [[gnu::always_inline]] static size_t ascii_stop(const UClassO& u, const uint8_t* t, size_t pos, size_t len) {
        return t[pos] < 0x80 ? o_fast_stop(u, t, pos, len) : 0;
    }
    template <bool Fast>
    [[gnu::always_inline]] static size_t general_stop(const UClassO& u, const uint8_t* t, size_t pos, size_t len) {
        if constexpr (Fast) return o_high_stop(u, t, pos, len);
        return o_general_stop(u, t, pos, len);
    }
};

// Appends the ids of text[0, len) by the o200k rules.
void encode_core_o200k(const Vocab& v, const UClassO& u, const uint8_t* text, size_t len, std::vector<uint32_t>& out,
                       PretokenCache& cache);

}  // namespace lexaro
