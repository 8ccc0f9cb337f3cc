// Cutting text into cl100k pre-tokens: the per-character rules, with ASCII fast paths in front.
//
// Cl100kRules gives them to the shared loops (pretok_driver.h). The fast path is byte-level dispatch for
// ASCII pieces, 16-byte block scans of ASCII runs and letter runs of two- and three-byte characters read
// from their bytes; the per-character rules decode and classify every character one by one.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/byte_class.h"
#include "core/pretok.h"
#include "core/pretok_chars.h"
#include "core/pretok_words.h"

namespace lexaro::cl100k {

// ---- character classes ----

inline constexpr uint8_t IS_LETTER = 1u << CLASS_LETTER;
inline constexpr uint8_t IS_NUMBER = 1u << CLASS_NUMBER;
inline constexpr uint8_t IS_SPACE = 1u << CLASS_SPACE;
inline constexpr uint8_t ANY_CLASS = IS_LETTER | IS_NUMBER | IS_SPACE;  // none of these: punctuation

inline uint8_t char_class(const UClass& u, uint32_t cp) {
    if (cp <= 0xFFFF) return u.bmp[cp] & ANY_CLASS;
    return uint8_t(ranges_contain(u.lo[0].data(), u.hi[0].data(), u.lo[0].size(), cp) * IS_LETTER |
                   ranges_contain(u.lo[1].data(), u.hi[1].data(), u.lo[1].size(), cp) * IS_NUMBER |
                   ranges_contain(u.lo[2].data(), u.hi[2].data(), u.lo[2].size(), cp) * IS_SPACE);
}

inline bool is_newline(uint8_t b) { return b == '\n' || b == '\r'; }

// ---- ASCII bytes: kinds for the fast path's dispatch, masks for 16-byte blocks ----

enum : uint8_t {
    K_LETTER,   // A-Z a-z
    K_DIGIT,    // 0-9
    K_SPACE,    // 0x20: may stand before a punctuation run
    K_BLANK,    // 0x09 0x0B 0x0C
    K_NEWLINE,  // 0x0A 0x0D
    K_QUOTE,    // 0x27: may start a contraction
    K_PUNCT,    // any other byte below 0x80
    K_HIGH,     // 0x80 and above: the general rules decide
};

constexpr std::array<uint8_t, 256> make_byte_kinds() {
    std::array<uint8_t, 256> k{};
    for (int b = 0; b < 256; ++b) {
        if (b >= 0x80)
            k[b] = K_HIGH;
        else if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z'))
            k[b] = K_LETTER;
        else if (b >= '0' && b <= '9')
            k[b] = K_DIGIT;
        else if (b == ' ')
            k[b] = K_SPACE;
        else if (b == '\n' || b == '\r')
            k[b] = K_NEWLINE;
        else if (b >= 0x09 && b <= 0x0D)
            k[b] = K_BLANK;
        else if (b == '\'')
            k[b] = K_QUOTE;
        else
            k[b] = K_PUNCT;
    }
    return k;
}
inline constexpr std::array<uint8_t, 256> BYTE_KIND = make_byte_kinds();

using byte16::Block;

inline uint32_t letter_mask(Block b) { return byte16::in_range(byte16::or_each(b, 0x20), 'a', 26); }
inline uint32_t digit_mask(Block b) { return byte16::in_range(b, '0', 10); }
inline uint32_t space_mask(Block b) { return byte16::in_range(b, 0x09, 5) | byte16::equal_to(b, ' '); }
inline uint32_t newline_mask(Block b) { return byte16::equal_to(b, '\n') | byte16::equal_to(b, '\r'); }
inline uint32_t punct_mask(Block b) {
    const uint32_t ascii = ~byte16::high(b) & 0xFFFF;
    return ascii & ~(letter_mask(b) | digit_mask(b) | space_mask(b));
}

inline Block load16(const uint8_t* p) { return byte16::load(p); }

// The last n < 16 bytes of the text, from q. Bit i of (mask(bytes) >> shift) describes byte q + i,
// for the bits in `valid`. Reads the text's last 16 bytes when it has that many, else a padded
// copy: nothing outside the text is read.
struct Tail {
    Block bytes;
    uint32_t shift;
    uint32_t valid;
};

inline Tail load_tail(const uint8_t* t, size_t q, size_t len) {
    const size_t n = len - q;
    const uint32_t valid = (1u << n) - 1;
    if (len >= 16) return {load16(t + len - 16), uint32_t(16 - n), valid};
    uint8_t copy[16] = {};
    std::memcpy(copy, t + q, n);
    return {load16(copy), 0, valid};
}

// End of the run of bytes accepted by `mask` from q (q <= len).
template <class Mask>
inline size_t skip_run(const uint8_t* t, size_t q, size_t len, Mask mask) {
    for (; len - q >= 16; q += 16)
        if (const uint32_t stop = ~mask(load16(t + q)) & 0xFFFF) return q + uint32_t(__builtin_ctz(stop));
    if (q == len) return len;
    const Tail b = load_tail(t, q, len);
    const uint32_t stop = ~(mask(b.bytes) >> b.shift) & b.valid;
    return stop ? q + uint32_t(__builtin_ctz(stop)) : len;
}

// ASCII white space from q; nl_end becomes the end of the last newline byte skipped, if any.
inline size_t skip_ascii_space(const uint8_t* t, size_t q, size_t len, size_t& nl_end) {
    auto scan = [&](uint32_t space, uint32_t newline, uint32_t valid) -> uint32_t {  // returns the stop bits
        const uint32_t stop = ~space & valid;
        const uint32_t run = stop ? (1u << __builtin_ctz(stop)) - 1 : valid;
        if (const uint32_t nl = newline & run) nl_end = q + 32 - uint32_t(__builtin_clz(nl));
        return stop;
    };
    for (; len - q >= 16; q += 16) {
        const Block b = load16(t + q);
        if (const uint32_t stop = scan(space_mask(b), newline_mask(b), 0xFFFF))
            return q + uint32_t(__builtin_ctz(stop));
    }
    if (q == len) return len;
    const Tail b = load_tail(t, q, len);
    const uint32_t stop = scan(space_mask(b.bytes) >> b.shift, newline_mask(b.bytes) >> b.shift, b.valid);
    return stop ? q + uint32_t(__builtin_ctz(stop)) : len;
}

// ---- the runs of the general rules ----

// The rest of a letter run from q, character by character.
template <bool Fast>
[[gnu::noinline]] size_t letter_run_rest(const UClass& u, const uint8_t* t, size_t len, size_t q) {
    while (q < len) {
        if constexpr (Fast) {
            if (t[q] < 0x80) {  // block scans only where ASCII continues the run, not before every character
                q = skip_run(t, q, len, [](Block b) { return letter_mask(b); });
                if (q == len || t[q] < 0x80) break;
            }
            const ClassRun r = skip_class_chars<IS_LETTER>(u.bmp.data(), t, q, len);
            q = r.end;
            if (r.closed || q == len) break;
            if (t[q] < 0x80) continue;
        }
        const Char c = decode_char(t, q, len);
        if (!(char_class(u, c.cp) & IS_LETTER)) break;
        q += c.len;
    }
    return q;
}

// End of the run of letters from q.
template <bool Fast>
[[gnu::always_inline]] inline size_t letter_run_end(const UClass& u, const uint8_t* t, size_t len, size_t q) {
    if constexpr (Fast) {
        if (q < len && t[q] < 0x80) {
            q = skip_run(t, q, len, [](Block b) { return letter_mask(b); });
            if (q == len || t[q] < 0x80) return q;
        }
    }
    return letter_run_rest<Fast>(u, t, len, q);
}

// The rest of a punctuation run from q, character by character.
template <bool Fast>
[[gnu::noinline]] size_t punct_run_rest(const UClass& u, const uint8_t* t, size_t len, size_t q) {
    while (q < len) {
        if constexpr (Fast) {
            if (t[q] < 0x80) {
                q = skip_run(t, q, len, [](Block b) { return punct_mask(b); });
                if (q == len || t[q] < 0x80) break;
            }
        }
        const Char c = decode_char(t, q, len);
        if (char_class(u, c.cp) & ANY_CLASS) break;
        q += c.len;
    }
    return q;
}

// End of a punctuation piece whose run continues at q: more punctuation, then newline bytes.
template <bool Fast>
[[gnu::always_inline]] inline size_t punct_piece_end(const UClass& u, const uint8_t* t, size_t len, size_t q) {
    if constexpr (Fast) {
        q = skip_run(t, q, len, [](Block b) { return punct_mask(b); });
        if (q < len && t[q] >= 0x80) q = punct_run_rest<Fast>(u, t, len, q);
        return skip_run(t, q, len, [](Block b) { return newline_mask(b); });
    }
    q = punct_run_rest<Fast>(u, t, len, q);
    while (q < len && is_newline(t[q])) ++q;
    return q;
}

// End of the white-space piece starting at pos (the character there is white space).
template <bool Fast>
inline size_t space_piece_end(const UClass& u, const uint8_t* t, size_t len, size_t pos) {
    size_t q = pos, last = pos, nl_end = 0;  // last: start of the run's last character
    while (q < len) {
        if constexpr (Fast) {
            const size_t r = skip_ascii_space(t, q, len, nl_end);
            if (r > q) last = r - 1;
            q = r;
            if (q == len || t[q] < 0x80) break;
        }
        const Char c = decode_char(t, q, len);
        if (!(char_class(u, c.cp) & IS_SPACE)) break;
        // Newlines count as bytes: lenient decoding lets a longer white-space character end in
        // 0x0A or 0x0D (C0 0A, E2 80 0A), and the piece then ends right after that byte.
        for (uint32_t i = 0; i < c.len; ++i)
            if (is_newline(t[q + i])) nl_end = q + i + 1;
        last = q;
        q += c.len;
    }
    if (q == len) return len;     // trailing white space stays whole
    if (nl_end) return nl_end;    // up to the last newline
    if (last > pos) return last;  // leave the last character to prefix what follows
    return q;
}

// The piece starting at pos by the per-character rules; returns its end.
template <bool Fast>
[[gnu::noinline]] size_t cut_general(const UClass& u, const uint8_t* t, size_t len, size_t pos) {
    const uint8_t b0 = t[pos];
    if (b0 == '\'')
        if (const size_t n = contraction_len(t, pos, len)) return pos + n;
    const Char c = decode_char(t, pos, len);
    const uint8_t cls = char_class(u, c.cp);
    const size_t next = pos + c.len;
    if (cls & IS_LETTER) return letter_run_end<Fast>(u, t, len, next);
    const bool newline = is_newline(b0);  // a one-byte character: lead bytes are 0xC0 or above
    if (!newline && !(cls & IS_NUMBER) && next < len) {
        const Char d = decode_char(t, next, len);
        if (char_class(u, d.cp) & IS_LETTER) return letter_run_end<Fast>(u, t, len, next + d.len);
    }
    if (cls & IS_NUMBER) {
        size_t q = next;
        for (int n = 1; n < 3 && q < len; ++n) {
            const Char d = decode_char(t, q, len);
            if (!(char_class(u, d.cp) & IS_NUMBER)) break;
            q += d.len;
        }
        return q;
    }
    // Only the ASCII space may stand before a punctuation run.
    const size_t s = b0 == ' ' ? pos + 1 : pos;
    if (s < len) {
        const Char d = s == pos ? c : decode_char(t, s, len);
        const uint8_t dcls = s == pos ? cls : char_class(u, d.cp);
        if (!(dcls & ANY_CLASS)) return punct_piece_end<Fast>(u, t, len, s + d.len);
    }
    if (cls & IS_SPACE) return space_piece_end<Fast>(u, t, len, pos);
    return pos + 1;  // unreachable with consistent class tables
}

// End of a letter run whose characters above ASCII skip_class_chars took: it ends where that run closed
// or at an ASCII byte other than a letter, and goes on over ASCII letters or any other form.
[[gnu::always_inline]] inline size_t letter_run_after(const UClass& u, const uint8_t* t, size_t len, ClassRun r) {
    if (r.closed || (r.end < len && t[r.end] < 0x80 && BYTE_KIND[t[r.end]] != K_LETTER)) return r.end;
    return letter_run_end<true>(u, t, len, r.end);
}

// End of the letter run from q whose first character is not ASCII, read from the bytes of two- and
// three-byte letters; 0 when that character is not such a letter and the general rules must decide.
[[gnu::always_inline]] inline size_t high_letter_run_end(const UClass& u, const uint8_t* t, size_t len, size_t q) {
    const ClassRun r = skip_class_chars<IS_LETTER>(u.bmp.data(), t, q, len);
    return r.end == q ? 0 : letter_run_after(u, t, len, r);
}

// The piece at pos whose first character, in regular two- or three-byte form, is neither a letter, a
// number nor white space (a mark, a sign, punctuation): it prefixes the letter run right after it, or
// else starts a punctuation run. 0 when the general rules must decide. Out of line: it serves scripts
// whose marks split words (Indic vowel signs) and punctuation outside ASCII.
[[gnu::noinline]] inline size_t high_other_piece_end(const UClass& u, const uint8_t* t, size_t len, size_t pos) {
    const RegularChar c = regular_char(u.bmp.data(), t, pos, len);
    if (c.len == 0 || (c.cls & ANY_CLASS)) return 0;
    const size_t next = pos + c.len;
    if (next < len) {
        if (BYTE_KIND[t[next]] == K_LETTER) return letter_run_end<true>(u, t, len, next + 1);
        if (t[next] >= 0x80) {
            const ClassRun r = skip_class_chars<IS_LETTER>(u.bmp.data(), t, next, len);
            if (r.end > next) return letter_run_after(u, t, len, r);
            if (!r.closed) return 0;  // a form the general rules decide
        }
    }
    return punct_piece_end<true>(u, t, len, next);
}

// Whether the character at q (0x80 or above) ends a run of ASCII white space before it: a regular two- or
// three-byte character that is not white space. Out of line, as it is rarely asked.
[[gnu::noinline]] inline bool ends_space_run(const UClass& u, const uint8_t* t, size_t len, size_t q) {
    const RegularChar c = regular_char(u.bmp.data(), t, q, len);
    return c.len != 0 && !(c.cls & IS_SPACE);
}

// The piece starting at pos decided from ASCII bytes and from letters in regular two- or three-byte form
// (pretok_words.h); 0 when any other character could change the outcome and the general rules must decide.
[[gnu::always_inline]] inline size_t cut_ascii(const UClass& u, const uint8_t* t, size_t len, size_t pos) {
    const uint8_t k0 = BYTE_KIND[t[pos]];
    if (k0 == K_LETTER) return letter_run_end<true>(u, t, len, pos + 1);
    const size_t left = len - pos;
    if (k0 == K_DIGIT) {
        size_t n = 1;
        while (n < 3 && n < left && BYTE_KIND[t[pos + n]] == K_DIGIT) ++n;
        if (n < 3 && n < left && t[pos + n] >= 0x80) return 0;  // may be a further number
        return pos + n;
    }
    if (k0 == K_HIGH) {  // most often a letter of two or three bytes
        const size_t e = high_letter_run_end(u, t, len, pos);
        return e ? e : high_other_piece_end(u, t, len, pos);
    }
    if (left == 1) return pos + 1;  // a lone punctuation or white-space byte at the end
    const uint8_t k1 = BYTE_KIND[t[pos + 1]];
    if (k0 != K_NEWLINE) {  // a newline is never a prefix
        if (k1 == K_LETTER) {
            if (k0 == K_QUOTE)
                if (const size_t n = contraction_len(t, pos, len)) return pos + n;
            return letter_run_end<true>(u, t, len, pos + 2);
        }
        if (k1 == K_HIGH) return high_letter_run_end(u, t, len, pos + 1);  // could be a letter after the prefix
        if (k0 == K_PUNCT || k0 == K_QUOTE) return punct_piece_end<true>(u, t, len, pos + 1);
        if (k0 == K_SPACE && (k1 == K_PUNCT || k1 == K_QUOTE)) return punct_piece_end<true>(u, t, len, pos + 2);
    }
    // White space: 0x09-0x0D or 0x20.
    size_t nl_end = 0;
    const size_t q = skip_ascii_space(t, pos, len, nl_end);
    if (q == len) return len;
    if (t[q] >= 0x80 && !ends_space_run(u, t, len, q)) return 0;  // may be Unicode white space
    if (nl_end) return nl_end;
    return q - pos >= 2 ? q - 1 : pos + 1;
}

}  // namespace lexaro::cl100k

namespace lexaro {

// The cl100k family for the shared loops of pretok_driver.h.
struct Cl100kRules {
    using Classes = UClass;
    [[gnu::always_inline]] static size_t ascii_stop(const UClass& u, const uint8_t* t, size_t pos, size_t len) {
        return cl100k::cut_ascii(u, t, len, pos);
    }
    template <bool Fast>
    [[gnu::always_inline]] static size_t general_stop(const UClass& u, const uint8_t* t, size_t pos, size_t len) {
        return cl100k::cut_general<Fast>(u, t, len, pos);
    }
};

}  // namespace lexaro
