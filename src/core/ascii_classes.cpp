#include "core/ascii_classes.h"

#include "core/class_table.h"

namespace lexaro {

bool ascii_classes_as_assumed(const std::vector<uint8_t>& bmp) {
    constexpr uint8_t mask = 1u << CLASS_LETTER | 1u << CLASS_NUMBER | 1u << CLASS_SPACE;
    for (uint32_t c = 0; c < 0x80; ++c) {
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool number = c >= '0' && c <= '9';
        const bool space = (c >= 0x09 && c <= 0x0D) || c == ' ';
        const uint8_t assumed = uint8_t(letter << CLASS_LETTER | number << CLASS_NUMBER | space << CLASS_SPACE);
        if ((bmp[c] & mask) != assumed) return false;
    }
    return true;
}

}  // namespace lexaro
