#include "core/special_index.h"

#include <algorithm>

namespace lexaro {

namespace {

// The positions 0 .. n - 1 ordered by `key`, the first position of each key only.
template <class Key>
std::vector<uint32_t> first_of_each(const std::vector<Special>& specials, Key key) {
    std::vector<uint32_t> order(specials.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto less = [&](uint32_t a, uint32_t b) { return key(specials[a]) < key(specials[b]); };
    std::stable_sort(order.begin(), order.end(), less);  // stable: equal keys stay in list order
    const auto same = [&](uint32_t a, uint32_t b) { return key(specials[a]) == key(specials[b]); };
    order.erase(std::unique(order.begin(), order.end(), same), order.end());
    return order;
}

uint32_t id_of(const Special& s) { return s.id; }
std::string_view text_of(const Special& s) { return s.text; }

template <class Key, class Value>
const Special* find(const std::vector<uint32_t>& order, const std::vector<Special>& specials, Key key, Value value) {
    const auto at = std::lower_bound(order.begin(), order.end(), value,
                                     [&](uint32_t pos, const Value& v) { return key(specials[pos]) < v; });
    return at != order.end() && key(specials[*at]) == value ? &specials[*at] : nullptr;
}

}  // namespace

SpecialIndex SpecialIndex::build(const std::vector<Special>& specials) {
    return {first_of_each(specials, id_of), first_of_each(specials, text_of)};
}

const Special* find_special_by_id(const SpecialIndex& index, const std::vector<Special>& specials, uint32_t id) {
    return find(index.by_id, specials, id_of, id);
}

const Special* find_special_by_text(const SpecialIndex& index, const std::vector<Special>& specials,
                                    std::string_view text) {
    return find(index.by_text, specials, text_of, text);
}

}  // namespace lexaro
