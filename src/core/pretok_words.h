// Runs of one class over two- and three-byte characters, classified straight from their bytes.
//
// Letter runs in most scripts are all two-byte characters (Latin with diacritics, Greek, Cyrillic,
// Hebrew, Arabic) or all three-byte ones (CJK, Indic, Thai). The general decoding (decode_char) handles
// every form and every length left; these take only the regular forms, with one check each, and leave
// the rest to it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace lexaro {

struct ClassRun {
    size_t end;
    bool closed;  // the character at `end` is in regular form and outside the class: the run ends there
};

// The run from q of characters whose class byte bmp[cp] has every bit of Want, over characters in
// regular two- or three-byte form at or above U+0080. It stops at the first character outside the class
// (closed) or in any other form: ASCII, a four-byte or stray lead, an overlong form of ASCII, a sequence
// cut short by the end; the last two bytes of the text are left too. From an open end the caller decides
// character by character. Below U+0080 the families decide by the byte, not by bmp, so those characters
// are never taken here.
template <uint8_t Want>
inline ClassRun skip_class_chars(const uint8_t* bmp, const uint8_t* t, size_t q, size_t len) {
    while (len - q >= 3) {
        const uint32_t b = t[q];
        if (b - 0xC2 < 0x1E) {  // C2-DF: two bytes
            if ((bmp[(b & 0x1F) << 6 | (t[q + 1] & 0x3Fu)] & Want) != Want) return {q, true};
            q += 2;
        } else if ((b & 0xF0) == 0xE0) {
            const uint32_t cp = (b & 0x0F) << 12 | (t[q + 1] & 0x3Fu) << 6 | (t[q + 2] & 0x3Fu);
            if (cp < 0x80) break;
            if ((bmp[cp] & Want) != Want) return {q, true};
            q += 3;
        } else {
            break;
        }
    }
    return {q, false};
}

// The class byte bmp[cp] of the character at q in regular two- or three-byte form, with its length; a
// length of 0 for any other form and for the text's last two bytes (the forms skip_class_chars leaves to
// the general decoding).
struct RegularChar {
    uint8_t cls;
    size_t len;
};
inline RegularChar regular_char(const uint8_t* bmp, const uint8_t* t, size_t q, size_t len) {
    if (len - q < 3) return {0, 0};
    const uint32_t b = t[q];
    if (b - 0xC2 < 0x1E) return {bmp[(b & 0x1F) << 6 | (t[q + 1] & 0x3Fu)], 2};
    if ((b & 0xF0) != 0xE0) return {0, 0};
    const uint32_t cp = (b & 0x0F) << 12 | (t[q + 1] & 0x3Fu) << 6 | (t[q + 2] & 0x3Fu);
    return cp < 0x80 ? RegularChar{0, 0} : RegularChar{bmp[cp], 3};
}

}  // namespace lexaro
