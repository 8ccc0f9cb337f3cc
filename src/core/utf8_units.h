// UTF-8 from strings of fixed-width code units: one byte (Latin-1), two (UCS-2) or four (UTF-32) per
// character. Runs of ASCII are narrowed sixteen units at a time, so text that is ASCII but for a few
// characters converts at about the speed of a copy.
#pragma once
#include <cstddef>
#include <cstdint>

namespace lexaro {

inline constexpr size_t NOT_CONVERTED = SIZE_MAX;
inline constexpr size_t UNITS_OUT_SLACK = 16;  // bytes past max_bytes that the conversion may write

// Writes the UTF-8 of s[0, n) to out and returns its length; out needs room for max_bytes +
// UNITS_OUT_SLACK bytes. Returns NOT_CONVERTED, with out's contents unspecified, when the UTF-8 would
// be longer than max_bytes, or when a two- or four-byte unit is a surrogate (U+D800 to U+DFFF), which
// has no UTF-8 form. Four-byte units above U+10FFFF are not expected (they are not characters).
size_t utf8_from_units(const uint8_t* s, size_t n, char* out, size_t max_bytes);
size_t utf8_from_units(const uint16_t* s, size_t n, char* out, size_t max_bytes);
size_t utf8_from_units(const uint32_t* s, size_t n, char* out, size_t max_bytes);

}  // namespace lexaro
