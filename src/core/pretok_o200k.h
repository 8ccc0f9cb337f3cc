// UClassO: the character classes of the o200k pre-tokenizer, and its matchers.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/expected.h"
#include "core/pretok.h"

namespace lexaro {

struct UClassO {
    std::array<std::vector<uint32_t>, 5> lo;
    std::array<std::vector<uint32_t>, 5> hi;
    std::vector<uint8_t> bmp;  // bit k of bmp[c]: c is in class k; empty when not loaded

    static Expected<UClassO> from_bytes(std::span<const uint8_t> bytes, std::string_view source);
    static Expected<UClassO> load(const std::string& path);

    bool contains(uint32_t k, uint32_t c) const {
        if (c <= 0xFFFF) return (bmp[c] >> k) & 1;
        return ranges_contain(lo[k].data(), hi[k].data(), lo[k].size(), c);
    }
    uint64_t footprint() const;
};

}  // namespace lexaro
