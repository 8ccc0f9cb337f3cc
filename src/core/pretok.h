// The cl100k pre-tokenizer: its encode loop and its pieces.
#pragma once
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "core/class_table.h"

namespace lexaro {

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
