// Character-class tables of the pre-tokenizers: one range list a class, read from a uniclass file, with a
// bit map for the Basic Multilingual Plane. cl100k reads three lists, o200k five; a family names its
// table by how many it reads.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/expected.h"

namespace lexaro {

inline constexpr uint32_t CLASS_LETTER = 0;
inline constexpr uint32_t CLASS_NUMBER = 1;
inline constexpr uint32_t CLASS_SPACE = 2;
inline constexpr uint32_t CLASS_UPPER = 3;  // o200k only: Lu Lt Lm Lo and marks
inline constexpr uint32_t CLASS_LOWER = 4;  // o200k only: Ll Lm Lo and marks

inline constexpr size_t MAX_RANGES = 100000;
inline constexpr size_t BMP_SIZE = 65536;

// The longest meaningful class file of `lists` range lists; bytes after them are never read.
inline constexpr uint64_t uniclass_file_bytes(uint64_t lists) { return lists * (4 + MAX_RANGES * 8); }

struct Ranges {
    std::vector<uint32_t> lo;
    std::vector<uint32_t> hi;
};

// Parses one range list at `pos` and advances it.
Expected<Ranges> read_ranges(std::span<const uint8_t> bytes, size_t& pos, std::string_view source);

// Sets bit k of bmp[c] for every c <= 0xFFFF in the ranges.
void mark_bmp(std::vector<uint8_t>& bmp, const Ranges& r, uint32_t k);

// Binary search over sorted, disjoint ranges (used above U+FFFF). Inline: the cutting loops of a
// family keep it in their own code.
inline bool ranges_contain(const uint32_t* lo, const uint32_t* hi, size_t count, uint32_t c) {
    size_t low = 0, high = count;  // half-open [low, high)
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (c < lo[mid])
            high = mid;
        else if (c <= hi[mid])
            return true;
        else
            low = mid + 1;
    }
    return false;
}

// The classes 0 .. Lists-1 of a uniclass file that holds that many range lists, in that order.
template <uint32_t Lists>
struct ClassTable {
    static_assert(Lists <= 8, "one bit of bmp a class");

    std::array<std::vector<uint32_t>, Lists> lo;
    std::array<std::vector<uint32_t>, Lists> hi;
    std::vector<uint8_t> bmp;       // bit k of bmp[c]: c is in class k; empty when not loaded
    bool ascii_as_assumed = false;  // the ASCII fast paths may cut by this table (see ascii_classes.h)

    static Expected<ClassTable> from_bytes(std::span<const uint8_t> bytes, std::string_view source);
    static Expected<ClassTable> load(const std::string& path);

    bool contains(uint32_t k, uint32_t c) const {
        if (c <= 0xFFFF) return (bmp[c] >> k) & 1;
        return contains_supplementary(k, c);
    }
    bool contains_supplementary(uint32_t k, uint32_t c) const {
        return k < Lists && ranges_contain(lo[k].data(), hi[k].data(), lo[k].size(), c);
    }
    uint64_t footprint() const {
        uint64_t n = bmp.size();
        for (uint32_t k = 0; k < Lists; ++k) n += 4 * uint64_t(lo[k].size() + hi[k].size());
        return n;
    }
};

extern template struct ClassTable<3>;
extern template struct ClassTable<5>;

// cl100k: letter, number, white space.
using UClass = ClassTable<3>;
// o200k: those three, then the upper and lower sets of its letter rules.
using UClassO = ClassTable<5>;

}  // namespace lexaro
