#include "core/pretok_o200k.h"

#include "core/fileio.h"

namespace lexaro {

Expected<UClassO> UClassO::from_bytes(std::span<const uint8_t> bytes, std::string_view source) {
    UClassO u;
    u.bmp.assign(BMP_SIZE, 0);
    size_t pos = 0;
    for (uint32_t k = 0; k < 5; ++k) {
        auto r = read_ranges(bytes, pos, source);
        if (!r) return r.take_error();
        mark_bmp(u.bmp, *r, k);
        u.lo[k] = std::move(r->lo);
        u.hi[k] = std::move(r->hi);
    }
    return u;
}

Expected<UClassO> UClassO::load(const std::string& path) {
    FileRead f = read_whole_file(path);
    if (!f.ok()) return Error{"lexaro: cannot open uniclass file " + display_path(path) + ": " + f.error};
    return from_bytes(f.bytes, display_path(path));
}

uint64_t UClassO::footprint() const {
    uint64_t n = bmp.size();
    for (int k = 0; k < 5; ++k) n += 4 * uint64_t(lo[k].size() + hi[k].size());
    return n;
}

}  // namespace lexaro
