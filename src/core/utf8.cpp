#include "core/utf8.h"

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
