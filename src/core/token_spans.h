// Per-token spans of an encoded text, in UTF-8 bytes or in code points.
#pragma once
#include "core/vocab.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace lexaro {

// Spans are served for texts whose offsets all fit in 32 bits: below 4 GiB.
inline constexpr uint64_t MAX_SPANNED_BYTES = 0xFFFFFFFFull;

inline bool spans_fit(uint64_t text_bytes) { return text_bytes <= MAX_SPANNED_BYTES; }

// n + 1 byte offsets for n ordinary ids: ends[0] = 0, ends[k + 1] = ends[k] + length of ids[k].
// Summed in 64 bits, so no sum wraps whatever the caller let through.
inline std::vector<uint64_t> token_ends(const Vocab& vocab, std::span<const uint32_t> ids) {
    std::vector<uint64_t> ends(ids.size() + 1);
    uint64_t sum = 0;
    ends[0] = 0;
    for (size_t k = 0; k < ids.size(); ++k) {
        sum += vocab.token_len[ids[k]];
        ends[k + 1] = sum;
    }
    return ends;
}

// Turns non-decreasing byte offsets into code-point offsets: each becomes the number of
// characters that start before it (bytes that are not continuation bytes 0x80..0xBF).
// An offset inside a character thus maps to just after it. One pass over the text.
inline void byte_ends_to_chars(std::string_view text, std::vector<uint64_t>& ends) {
    uint64_t pos = 0;
    uint64_t chars = 0;
    for (uint64_t& end : ends) {
        const uint64_t stop = std::min<uint64_t>(end, text.size());
        for (; pos < stop; ++pos) chars += (static_cast<uint8_t>(text[pos]) & 0xC0) != 0x80;
        end = chars;
    }
}

}  // namespace lexaro
