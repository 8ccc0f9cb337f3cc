// The special tokens by id and by text, for lookups that would otherwise scan the list.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lexaro {

struct Special {
    std::string text;
    uint32_t id;
};

// Positions in the special list, sorted by id and by text. Where a data directory lists an id or a text
// twice, the earlier entry is kept, so a lookup finds what a walk of the list in order finds first.
struct SpecialIndex {
    std::vector<uint32_t> by_id;
    std::vector<uint32_t> by_text;

    static SpecialIndex build(const std::vector<Special>& specials);
};

// The first listed special with this id or this text; null when there is none.
const Special* find_special_by_id(const SpecialIndex& index, const std::vector<Special>& specials, uint32_t id);
const Special* find_special_by_text(const SpecialIndex& index, const std::vector<Special>& specials,
                                    std::string_view text);

}  // namespace lexaro
