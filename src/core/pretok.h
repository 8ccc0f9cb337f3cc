// UClass: the character classes of the cl100k pre-tokenizer (letter, number, white space).
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
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

// Binary search over sorted, disjoint ranges (used above U+FFFF).
bool ranges_contain(const uint32_t* lo, const uint32_t* hi, size_t count, uint32_t c);

struct UClass {
    std::vector<uint32_t> lo0, hi0, lo1, hi1, lo2, hi2;
    std::vector<uint8_t> bmp;  // bit k of bmp[c]: c is in class k; empty when not loaded
    bool ascii_as_assumed = false;  // the ASCII fast paths may cut by this table (see ascii_classes.h)

    static Expected<UClass> from_bytes(std::span<const uint8_t> bytes, std::string_view source);
    static Expected<UClass> load(const std::string& path);

    bool contains(uint32_t k, uint32_t c) const {
        if (c <= 0xFFFF) return (bmp[c] >> k) & 1;
        return contains_supplementary(k, c);
    }
    bool contains_supplementary(uint32_t k, uint32_t c) const;
    uint64_t footprint() const;
};

// ---- the cl100k encode loop ----

struct Vocab;
struct PretokenCache;

// Cuts `text` into cl100k pre-tokens and appends the ids of each piece to `out`.
void encode_core_cl100k(const Vocab& v, const UClass& u, const uint8_t* text, size_t len, std::vector<uint32_t>& out,
                        PretokenCache& cache);

// The pieces of `text` as (start, length), with the ASCII fast paths on or off (for tests: offsets
// are 32-bit).
std::vector<std::pair<uint32_t, uint32_t>> pretokenize_cl100k(const UClass& u, std::string_view text, bool fast);

}  // namespace lexaro
