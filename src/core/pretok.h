// The cl100k pre-tokenizer: its encode loop (its cutting rules are in pretok_cut.h).
#pragma once
#include <cstdint>
#include <vector>

#include "core/class_table.h"

namespace lexaro {

struct Vocab;
struct PretokenCache;

// Cuts `text` into cl100k pre-tokens and appends the ids of each piece to `out`.
void encode_core_cl100k(const Vocab& v, const UClass& u, const uint8_t* text, size_t len, std::vector<uint32_t>& out,
                        PretokenCache& cache);

}  // namespace lexaro
