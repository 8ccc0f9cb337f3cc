// Finding special-token strings in a text in one pass: a byte trie over the strings, walked from each
// position that can start one (at most 64 bytes deep for special-token files).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace lexaro {

struct SpecialMatcher {
    struct Node {
        uint32_t first_edge = 0;  // edges of a node are contiguous in `edges`, sorted by byte
        uint16_t edge_count = 0;
        uint32_t ends_begin = 0;  // list indices of the strings ending here, ascending, in `ends`
        uint32_t ends_count = 0;
    };
    struct Edge {
        uint8_t byte;
        uint32_t child;
    };
    std::vector<Node> nodes;  // nodes[0] is the root
    std::vector<Edge> edges;
    std::vector<uint32_t> ends;
    std::vector<uint32_t> lengths;  // byte length of each listed string
    bool can_start[256] = {};
    int only_start = -1;  // the single byte every string starts with, or -1

    static SpecialMatcher build(const std::vector<std::string_view>& strings);
    bool empty() const { return lengths.empty(); }
};

inline constexpr size_t NO_MATCH = ~size_t(0);

// The leftmost occurrence at or after `pos` of any string whose `allowed` flag is set (all strings when
// `allowed` is null); among strings starting at the same position the earliest listed wins.
// Returns the string's index and sets *start, or NO_MATCH.
size_t find_special(const SpecialMatcher& m, std::string_view text, size_t pos, const uint8_t* allowed, size_t* start);

// False when no byte of the text can start any listed string (then none occurs).
bool may_occur(const SpecialMatcher& m, std::string_view text);

// Sets seen[i] = 1 for every listed string i that occurs anywhere in the text (overlaps included).
void mark_occurring(const SpecialMatcher& m, std::string_view text, std::vector<uint8_t>& seen);

}  // namespace lexaro
