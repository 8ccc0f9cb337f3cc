#include "core/pretok_o200k.h"

#include "core/pretok_driver.h"
#include "core/pretok_words.h"

namespace lexaro {

namespace {

// In the matchers ASCII is decided on the code point alone: 'A'-'Z' upper-set, 'a'-'z' lower-set.
inline bool o_upper(const UClassO& u, uint32_t cp) { return cp < 0x80 ? cp - 'A' <= 25 : u.contains(CLASS_UPPER, cp); }
inline bool o_lower(const UClassO& u, uint32_t cp) { return cp < 0x80 ? cp - 'a' <= 25 : u.contains(CLASS_LOWER, cp); }

constexpr unsigned O_UPPER_BIT = 1;
constexpr unsigned O_LOWER_BIT = 2;
static_assert(CLASS_LOWER == CLASS_UPPER + 1);

// Upper-set and lower-set membership together, from one table load.
inline unsigned o_case_bits(const UClassO& u, uint32_t cp) {
    if (cp < 0x80) return unsigned(cp - 'A' <= 25) * O_UPPER_BIT | unsigned(cp - 'a' <= 25) * O_LOWER_BIT;
    if (cp <= 0xFFFF) return (u.bmp[cp] >> CLASS_UPPER) & 3;
    return unsigned(u.contains(CLASS_UPPER, cp)) * O_UPPER_BIT | unsigned(u.contains(CLASS_LOWER, cp)) * O_LOWER_BIT;
}

inline bool o_punct(const UClassO& u, uint32_t cp) {
    if (cp <= 0xFFFF) return (u.bmp[cp] & (1u << CLASS_LETTER | 1u << CLASS_NUMBER | 1u << CLASS_SPACE)) == 0;
    return !u.contains(CLASS_LETTER, cp) && !u.contains(CLASS_NUMBER, cp) && !u.contains(CLASS_SPACE, cp);
}

using OMatcher = size_t (*)(const UClassO&, const uint8_t*, size_t, size_t);

// One rule: first after the one-character prefix of prefix_len bytes (0: none allowed), then from pos
// unless the character there cannot start it.
template <OMatcher Match>
inline size_t o_match_after_prefix(const UClassO& u, const uint8_t* t, size_t pos, size_t end, size_t prefix_len,
                                   bool from_pos) {
    if (prefix_len) {
        const size_t stop = Match(u, t, pos + prefix_len, end);
        if (stop != O_NO_MATCH) return stop;
    }
    return from_pos ? Match(u, t, pos, end) : O_NO_MATCH;
}

// Rules 1 and 2 with their prefix attempt, then the contraction suffix; O_NO_MATCH if neither matches.
size_t o_letter_stop(const UClassO& u, const uint8_t* t, size_t pos, size_t end, Char c) {
    const bool prefix = c.cp != '\r' && c.cp != '\n' &&
                        (c.cp <= 0xFFFF ? !(u.bmp[c.cp] & (1u << CLASS_LETTER | 1u << CLASS_NUMBER))
                                        : !u.contains(CLASS_LETTER, c.cp) && !u.contains(CLASS_NUMBER, c.cp));
    const size_t prefix_len = prefix ? c.len : 0;
    const bool from_pos = o_case_bits(u, c.cp) != 0;  // both rules start with an upper- or lower-set character
    size_t stop = o_match_after_prefix<o_match_ul>(u, t, pos, end, prefix_len, from_pos);
    if (stop == O_NO_MATCH) stop = o_match_after_prefix<o_match_upl>(u, t, pos, end, prefix_len, from_pos);
    return stop == O_NO_MATCH ? O_NO_MATCH : stop + contraction_len(t, stop, end);
}

}  // namespace

size_t o_match_ul(const UClassO& u, const uint8_t* text, size_t start, size_t end) {
    // One pass: every character is classified once, but for one that ends a run taken from its bytes, which
    // is decoded again. While the upper-set run grows, the end of its last character that is also lower-set
    // is kept: where the lower-set run after it is empty, the match gives back to there (characters in both
    // sets are Lm, Lo and marks; ASCII capitals never are).
    // Characters in both sets make up most words of caseless scripts: after one of them, the run of them
    // in regular two- or three-byte form is taken in one go, and the match may give back to its end.
    size_t p = start, give_back = O_NO_MATCH;
    unsigned bits = 0;
    Char c{0, 0};
    while (p < end) {
        c = decode_char(text, p, end);
        bits = o_case_bits(u, c.cp);
        if (!(bits & O_UPPER_BIT)) break;
        p += c.len;
        if (bits & O_LOWER_BIT) give_back = p = skip_class_chars<O_BOTH_SETS>(u.bmp.data(), text, p, end).end;
    }
    if (p == end || !(bits & O_LOWER_BIT)) return give_back;
    size_t q = p + c.len;
    while (q < end) {
        if (text[q] < 0x80) {  // ASCII is decided by the byte
            if (!o_byte_lower(text[q])) break;
            q = o_scan<o_block_lower, o_byte_lower>(text, q + 1, end);
            if (q == end || text[q] < 0x80) break;
        }
        const ClassRun lower = skip_class_chars<O_LOWER_SET>(u.bmp.data(), text, q, end);
        q = lower.end;
        if (lower.closed || q == end) break;
        if (text[q] < 0x80) continue;
        const Char d = decode_char(text, q, end);
        if (!(o_case_bits(u, d.cp) & O_LOWER_BIT)) break;
        q += d.len;
    }
    return q;
}

size_t o_match_upl(const UClassO& u, const uint8_t* text, size_t start, size_t end) {
    size_t p = start;
    while (p < end) {
        const Char c = decode_char(text, p, end);
        if (!o_upper(u, c.cp)) break;
        p += c.len;
    }
    if (p == start) return O_NO_MATCH;
    while (p < end) {
        const Char c = decode_char(text, p, end);
        if (!o_lower(u, c.cp)) break;
        p += c.len;
    }
    return p;
}

size_t o_general_stop(const UClassO& u, const uint8_t* text, size_t pos, size_t end) {
    const Char c = decode_char(text, pos, end);

    if (const size_t stop = o_letter_stop(u, text, pos, end, c); stop != O_NO_MATCH) return stop;

    if (u.contains(CLASS_NUMBER, c.cp)) {
        size_t i = pos + c.len;
        for (int n = 1; n < 3 && i < end; ++n) {
            const Char d = decode_char(text, i, end);
            if (!u.contains(CLASS_NUMBER, d.cp)) break;
            i += d.len;
        }
        return i;
    }

    // Punctuation, optionally led by one space, then any '\r', '\n', '/' bytes.
    const size_t s = text[pos] == ' ' ? pos + 1 : pos;
    size_t i = s;
    while (i < end) {
        const Char d = decode_char(text, i, end);
        if (!o_punct(u, d.cp)) break;
        i += d.len;
    }
    if (i > s) {
        while (i < end && (text[i] == '\r' || text[i] == '\n' || text[i] == '/')) ++i;
        return i;
    }

    // White space: up to the last newline; else all of it at the end of the text; else all but its
    // last character, which leads the next pre-token.
    size_t last_newline = O_NO_MATCH, last_start = pos, chars = 0;
    i = pos;
    while (i < end) {
        const Char d = decode_char(text, i, end);
        if (!u.contains(CLASS_SPACE, d.cp)) break;
        if (d.cp == '\n' || d.cp == '\r') last_newline = i;
        last_start = i;
        ++chars;
        i += d.len;
    }
    if (chars == 0) return pos + 1;  // no rule matches (possible only with a custom class table)
    if (last_newline != O_NO_MATCH) return last_newline + 1;
    if (i == end || chars == 1) return i;
    return last_start;
}

namespace {

// The letter run of rule 1 from s, whose byte is 0x80 or above, after a one-byte prefix at s - 1 when
// `prefixed`, read from the bytes of regular two- and three-byte characters; 0 when anything else
// decides. Three forms cover most words outside ASCII:
//  - a run of characters in both case sets (Lm, Lo and marks: the words of caseless scripts). Rule 1 takes
//    it whole when the end, an ASCII byte other than a letter, or a character in neither set follows: the
//    upper-set part takes it all and gives back to its end. Without a prefix this holds from a mark at s
//    too (no letter, so rule 1 is first tried after it): that attempt ends where the run does, or fails
//    and the run is taken from s.
//  - a lower-set letter outside the upper set (Ll): the upper-set part is empty, and the lower-set part
//    runs to the first character outside that set, or to an ASCII byte other than a small letter.
//  - an upper-set letter outside the lower set (Lu) and such a lower-set letter after it: the same run
//    from the second character.
// In the last two, without a prefix the first character must be a letter, so that rule 1 is tried from
// s and not after it. A contraction may follow the run, as in the general rules.
size_t o_fast_high_letters(const UClassO& u, const uint8_t* t, size_t s, size_t end, bool prefixed) {
    const RegularChar c = regular_char(u.bmp.data(), t, s, end);
    if (c.len == 0) return 0;
    if ((c.cls & O_BOTH_SETS) == O_BOTH_SETS) {
        const ClassRun run = skip_class_chars<O_BOTH_SETS>(u.bmp.data(), t, s + c.len, end);
        const size_t e = run.end;
        if (e == end) return end;
        if (run.closed) return regular_char(u.bmp.data(), t, e, end).cls & O_BOTH_SETS ? 0 : e;  // e.g. CJK punctuation
        if (t[e] >= 0x80 || o_byte_letter(t[e])) return 0;
        return e + contraction_len(t, e, end);
    }
    if (!(c.cls & O_BOTH_SETS) || (!prefixed && !(c.cls & (1u << CLASS_LETTER)))) return 0;
    size_t from = s + c.len;
    if (!(c.cls & O_LOWER_SET)) {  // upper-set only: a lower-set letter outside the upper set must follow
        const RegularChar d = regular_char(u.bmp.data(), t, from, end);
        if (d.len == 0 || (d.cls & O_BOTH_SETS) != O_LOWER_SET) return 0;
        from += d.len;
    }
    const ClassRun lower = skip_class_chars<O_LOWER_SET>(u.bmp.data(), t, from, end);
    if (lower.end == end || lower.closed) return lower.end;
    if (t[lower.end] >= 0x80 || o_byte_lower(t[lower.end])) return 0;
    return lower.end + contraction_len(t, lower.end, end);
}

}  // namespace

size_t o_prefixed_high_stop(const UClassO& u, const uint8_t* text, size_t pos, size_t end) {
    return o_fast_high_letters(u, text, pos + 1, end, true);
}

bool o_ends_space_run(const UClassO& u, const uint8_t* text, size_t q, size_t end) {
    const RegularChar c = regular_char(u.bmp.data(), text, q, end);
    return c.len != 0 && !(c.cls & (1u << CLASS_SPACE));
}

size_t o_lower_run_rest(const UClassO& u, const uint8_t* text, size_t q, size_t end) {
    for (;;) {
        const ClassRun r = skip_class_chars<O_LOWER_SET>(u.bmp.data(), text, q, end);
        if (r.closed || r.end == end) return r.end;
        q = r.end;
        if (text[q] >= 0x80) return 0;
        if (!o_byte_lower(text[q])) return q;
        q = o_scan<o_block_lower, o_byte_lower>(text, q + 1, end);
        if (q == end || text[q] < 0x80) return q;
    }
}

size_t o_high_stop(const UClassO& u, const uint8_t* text, size_t pos, size_t end) {
    // A prefix byte before a byte of 0x80 or above was tried by o_prefixed_high_stop already.
    if (text[pos] >= 0x80)
        if (const size_t stop = o_fast_high_letters(u, text, pos, end, false)) return stop;
    return o_general_stop(u, text, pos, end);
}

void encode_core_o200k(const Vocab& v, const UClassO& u, const uint8_t* text, size_t len, std::vector<uint32_t>& out,
                       PretokenCache& cache) {
    encode_pieces<O200kRules>(v, u, text, len, out, cache);
}

}  // namespace lexaro
