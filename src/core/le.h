// Unaligned little-endian loads of the data file formats (the hosts served are little-endian).
#pragma once
#include <cstdint>
#include <cstring>

namespace lexaro {

inline uint16_t load_u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

inline uint32_t load_u32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline uint64_t load_u64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

}  // namespace lexaro
