#include "core/utf8.h"

#include <cstring>

namespace lexaro {

size_t utf8_step(std::string_view s, size_t i, bool* valid) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned b0 = at(i);
    const size_t n = s.size();
    if (b0 < 0x80) {
        *valid = true;
        return 1;
    }
    size_t need;
    unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        *valid = false;
        return 1;
    }
    size_t k = 1;
    for (; k < need; ++k) {
        if (i + k >= n) break;
        const unsigned b = at(i + k);
        const bool ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
        if (!ok) break;
    }
    *valid = k == need;
    return k;
}

Utf8Fault utf8_check(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        bool valid;
        const size_t k = utf8_step(s, i, &valid);
        if (!valid) {
            // A subpart cut off by the end of the input is incomplete, not invalid.
            const unsigned lead = static_cast<unsigned char>(s[i]);
            const bool at_end = i + k >= s.size() && lead >= 0xC2 && lead <= 0xF4;
            return {i, at_end ? 0 : k};
        }
        i += k;
    }
    return {s.size(), 0};
}

namespace {

// A shift automaton over UTF-8: a state is a bit offset, and the row of a byte holds at each state's offset
// the state the byte leads to, so that one step is a table load and a shift. Only the low six bits of the
// state are meaningful.
enum : uint64_t {
    U_DONE = 0,  // between characters
    U_BAD = 6,   // a fault was seen
    U_TAIL1 = 12,
    U_TAIL2 = 18,
    U_TAIL3 = 24,
    U_AFTER_E0 = 30,  // the second byte must be A0-BF (no overlong form)
    U_AFTER_ED = 36,  // 80-9F (no surrogate)
    U_AFTER_F0 = 42,  // 90-BF (no overlong form)
    U_AFTER_F4 = 48,  // 80-8F (nothing above U+10FFFF)
};

constexpr uint64_t next_state(uint64_t state, unsigned b) {
    const auto in = [b](unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
    switch (state) {
        case U_DONE:
            if (b < 0x80) return U_DONE;
            if (in(0xC2, 0xDF)) return U_TAIL1;
            if (b == 0xE0) return U_AFTER_E0;
            if (b == 0xED) return U_AFTER_ED;
            if (in(0xE1, 0xEF)) return U_TAIL2;
            if (b == 0xF0) return U_AFTER_F0;
            if (in(0xF1, 0xF3)) return U_TAIL3;
            if (b == 0xF4) return U_AFTER_F4;
            return U_BAD;
        case U_TAIL1:
            return in(0x80, 0xBF) ? U_DONE : U_BAD;
        case U_TAIL2:
            return in(0x80, 0xBF) ? U_TAIL1 : U_BAD;
        case U_TAIL3:
            return in(0x80, 0xBF) ? U_TAIL2 : U_BAD;
        case U_AFTER_E0:
            return in(0xA0, 0xBF) ? U_TAIL1 : U_BAD;
        case U_AFTER_ED:
            return in(0x80, 0x9F) ? U_TAIL1 : U_BAD;
        case U_AFTER_F0:
            return in(0x90, 0xBF) ? U_TAIL2 : U_BAD;
        case U_AFTER_F4:
            return in(0x80, 0x8F) ? U_TAIL2 : U_BAD;
        default:
            return U_BAD;
    }
}

struct Utf8Rows {
    uint64_t row[256];
};

constexpr Utf8Rows make_rows() {
    Utf8Rows r{};
    for (unsigned b = 0; b < 256; ++b)
        for (uint64_t s = U_DONE; s <= U_AFTER_F4; s += 6) r.row[b] |= next_state(s, b) << s;
    return r;
}

constexpr Utf8Rows UTF8_ROWS = make_rows();

}  // namespace

bool utf8_valid(const uint8_t* p, size_t len) {
    constexpr uint64_t HIGH = 0x8080808080808080ull;
    uint64_t s = U_DONE;
    size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if ((w & HIGH) == 0 && (s & 63) == U_DONE) continue;  // eight ASCII bytes between characters
        for (size_t k = 0; k < 8; ++k) s = UTF8_ROWS.row[p[i + k]] >> (s & 63);
    }
    for (; i < len; ++i) s = UTF8_ROWS.row[p[i]] >> (s & 63);
    return (s & 63) == U_DONE;
}

std::string utf8_lossy(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        bool valid;
        const size_t k = utf8_step(s, i, &valid);
        if (valid)
            out.append(s.data() + i, k);
        else
            out.append("\xEF\xBF\xBD");
        i += k;
    }
    return out;
}

}  // namespace lexaro
