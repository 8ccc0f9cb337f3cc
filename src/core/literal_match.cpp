#include "core/literal_match.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace lexaro {

SpecialMatcher SpecialMatcher::build(const std::vector<std::string_view>& strings) {
    // Build with ordered child maps first, then flatten into sorted edge runs.
    struct Tmp {
        std::map<uint8_t, uint32_t> children;
        std::vector<uint32_t> ends;
    };
    std::vector<Tmp> tmp(1);
    SpecialMatcher m;
    for (uint32_t i = 0; i < strings.size(); ++i) {
        const std::string_view s = strings[i];
        m.lengths.push_back(uint32_t(s.size()));
        if (s.empty()) continue;  // an empty string occurs nowhere
        uint32_t node = 0;
        for (unsigned char c : s) {
            auto it = tmp[node].children.find(c);
            if (it == tmp[node].children.end()) {
                const uint32_t child = uint32_t(tmp.size());
                tmp[node].children.emplace(c, child);
                tmp.emplace_back();
                node = child;
            } else {
                node = it->second;
            }
        }
        tmp[node].ends.push_back(i);
        m.can_start[static_cast<unsigned char>(s[0])] = true;
    }
    m.nodes.resize(tmp.size());
    for (size_t n = 0; n < tmp.size(); ++n) {
        Node& node = m.nodes[n];
        node.first_edge = uint32_t(m.edges.size());
        node.edge_count = uint16_t(tmp[n].children.size());
        for (auto [byte, child] : tmp[n].children) m.edges.push_back({byte, child});
        node.ends_begin = uint32_t(m.ends.size());
        node.ends_count = uint32_t(tmp[n].ends.size());
        m.ends.insert(m.ends.end(), tmp[n].ends.begin(), tmp[n].ends.end());
    }
    int starts = 0, last = -1;
    for (int b = 0; b < 256; ++b)
        if (m.can_start[b]) ++starts, last = b;
    m.only_start = starts == 1 ? last : -1;
    return m;
}

namespace {

uint32_t child_of(const SpecialMatcher& m, const SpecialMatcher::Node& node, uint8_t byte) {
    const SpecialMatcher::Edge* e = m.edges.data() + node.first_edge;
    const SpecialMatcher::Edge* end = e + node.edge_count;
    const auto* it =
        std::lower_bound(e, end, byte, [](const SpecialMatcher::Edge& x, uint8_t b) { return x.byte < b; });
    return (it != end && it->byte == byte) ? it->child : 0;
}

// Next position >= pos whose byte can start a string, or text.size().
size_t next_start(const SpecialMatcher& m, std::string_view text, size_t pos) {
    if (m.only_start >= 0) {
        const void* hit = pos < text.size() ? std::memchr(text.data() + pos, m.only_start, text.size() - pos) : nullptr;
        return hit ? size_t(static_cast<const char*>(hit) - text.data()) : text.size();
    }
    while (pos < text.size() && !m.can_start[static_cast<unsigned char>(text[pos])]) ++pos;
    return pos;
}

// Calls f(list index) for every string ending along the walk from position i.
template <class F>
void walk_from(const SpecialMatcher& m, std::string_view text, size_t i, F&& f) {
    uint32_t node = 0;
    for (size_t j = i; j < text.size(); ++j) {
        node = child_of(m, m.nodes[node], static_cast<uint8_t>(text[j]));
        if (node == 0) return;
        const SpecialMatcher::Node& n = m.nodes[node];
        for (uint32_t k = 0; k < n.ends_count; ++k) f(m.ends[n.ends_begin + k]);
    }
}

}  // namespace

size_t find_special(const SpecialMatcher& m, std::string_view text, size_t pos, const uint8_t* allowed, size_t* start) {
    if (m.empty()) return NO_MATCH;
    for (size_t i = next_start(m, text, pos); i < text.size(); i = next_start(m, text, i + 1)) {
        size_t best = NO_MATCH;
        walk_from(m, text, i, [&](uint32_t idx) {
            if (idx < best && (!allowed || allowed[idx])) best = idx;
        });
        if (best != NO_MATCH) {
            *start = i;
            return best;
        }
    }
    return NO_MATCH;
}

bool may_occur(const SpecialMatcher& m, std::string_view text) {
    return !m.empty() && next_start(m, text, 0) < text.size();
}

void mark_occurring(const SpecialMatcher& m, std::string_view text, std::vector<uint8_t>& seen) {
    seen.assign(m.lengths.size(), 0);
    if (m.empty()) return;
    for (size_t i = next_start(m, text, 0); i < text.size(); i = next_start(m, text, i + 1))
        walk_from(m, text, i, [&](uint32_t idx) { seen[idx] = 1; });
}

}  // namespace lexaro
