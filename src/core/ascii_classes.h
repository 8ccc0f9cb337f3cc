// The ASCII members of the character classes, which the byte-level fast paths of both pre-tokenizers
// take as given instead of looking them up.
#pragma once
#include <cstdint>
#include <vector>

namespace lexaro {

// Whether the letter, number and white-space bits of bmp[0x00 .. 0x7F] hold exactly the ASCII
// members the fast paths assume: letters A-Z a-z, numbers 0-9, white space 0x09-0x0D and 0x20
// (the built-in tables do). Under a table that says otherwise the fast paths would not cut where the
// table's rules do, and could stop advancing (a white-space '.' did), so such a table is cut by its
// per-character rules alone.
bool ascii_classes_as_assumed(const std::vector<uint8_t>& bmp);

}  // namespace lexaro
