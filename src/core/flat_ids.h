// The flat result of a batch encode: every text's ids back to back, 4 bytes each, little-endian whatever the
// host, with n + 1 offsets (8 bytes each, little-endian): text i has ids[offsets[i] .. offsets[i + 1]].
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lexaro {

template <class T>
T little_endian(T v) {
    if constexpr (std::endian::native == std::endian::little) {
        return v;
    } else {
        T r = 0;
        for (size_t k = 0; k < sizeof(T); ++k) r = T(r << 8) | T((v >> (8 * k)) & 0xFF);
        return r;
    }
}

// The n + 1 offsets of the texts' ids, stored little-endian.
std::vector<int64_t> id_offsets(const std::vector<std::vector<uint32_t>>& per_text);

// `ids` from `out` on, 4 bytes each, little-endian.
void write_ids(std::span<const uint32_t> ids, char* out);

// Copies all ids into `out` (room for the last offset's count of ids) and frees each text's vector once
// copied. A large result is split into contiguous ranges of texts copied on up to `threads` threads: the copy,
// and the page faults of a fresh result buffer, would otherwise be serial work that limits how much a batch
// gains from its worker threads.
void copy_all_ids(std::vector<std::vector<uint32_t>>& per_text, const std::vector<int64_t>& offsets, uint64_t threads,
                  char* out);

}  // namespace lexaro
