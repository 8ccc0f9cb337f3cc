#include "core/flat_ids.h"

#include <cstring>

#include "core/fan_out.h"

namespace lexaro {

std::vector<int64_t> id_offsets(const std::vector<std::vector<uint32_t>>& per_text) {
    std::vector<int64_t> offsets;
    offsets.reserve(per_text.size() + 1);
    int64_t total = 0;
    offsets.push_back(0);
    for (const std::vector<uint32_t>& ids : per_text) offsets.push_back(little_endian(total += int64_t(ids.size())));
    return offsets;
}

void write_ids(std::span<const uint32_t> ids, char* out) {
    if constexpr (std::endian::native == std::endian::little) {
        if (!ids.empty()) std::memcpy(out, ids.data(), ids.size() * 4);
    } else {
        for (size_t k = 0; k < ids.size(); ++k) {
            const uint32_t le = little_endian(ids[k]);
            std::memcpy(out + 4 * k, &le, 4);
        }
    }
}

namespace {

// Texts [first, last) from `out` on; each text's vector is freed once copied.
void copy_ids(std::vector<std::vector<uint32_t>>& per_text, size_t first, size_t last, char* out) {
    for (size_t i = first; i < last; ++i) {
        write_ids(per_text[i], out);
        out += per_text[i].size() * 4;
        std::vector<uint32_t>().swap(per_text[i]);
    }
}

}  // namespace

void copy_all_ids(std::vector<std::vector<uint32_t>>& per_text, const std::vector<int64_t>& offsets, uint64_t threads,
                  char* out) {
    const size_t n = per_text.size();
    const uint64_t total = uint64_t(little_endian(offsets.back()));
    const uint64_t parts = worker_count(threads, n);
    if (total < (uint64_t(1) << 20) || parts < 2) return copy_ids(per_text, 0, n, out);
    std::vector<size_t> cut{0};  // text boundaries with about total / parts ids between them
    for (size_t i = 1; i < n && cut.size() < parts; ++i)
        if (uint64_t(little_endian(offsets[i])) * parts >= total * cut.size()) cut.push_back(i);
    cut.push_back(n);
    for_each_text(cut.size() - 1, parts, [&](size_t k, uint64_t, NoState&) {
        copy_ids(per_text, cut[k], cut[k + 1], out + 4 * little_endian(offsets[cut[k]]));
    });
}

}  // namespace lexaro
