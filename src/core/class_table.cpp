#include "core/class_table.h"

#include <utility>

#include "core/ascii_classes.h"
#include "core/fileio.h"
#include "core/le.h"

namespace lexaro {

namespace {

Error bad_uniclass(std::string_view source) { return Error{"lexaro: bad uniclass file: " + std::string(source)}; }

}  // namespace

Expected<Ranges> read_ranges(std::span<const uint8_t> bytes, size_t& pos, std::string_view source) {
    const size_t size = bytes.size();
    if (size < 4 || pos > size - 4) return bad_uniclass(source);
    const uint32_t r = load_u32(bytes.data() + pos);
    if (r > MAX_RANGES) return bad_uniclass(source);
    if (uint64_t(size - pos - 4) < uint64_t(r) * 8) return bad_uniclass(source);
    Ranges out;
    out.lo.reserve(r);
    out.hi.reserve(r);
    const uint8_t* p = bytes.data() + pos + 4;
    for (uint32_t i = 0; i < r; ++i, p += 8) {
        const uint32_t lo = load_u32(p), hi = load_u32(p + 4);
        if (lo > hi || hi >= 0x110000) return bad_uniclass(source);
        out.lo.push_back(lo);
        out.hi.push_back(hi);
    }
    pos += 4 + size_t(r) * 8;
    return out;
}

void mark_bmp(std::vector<uint8_t>& bmp, const Ranges& r, uint32_t k) {
    for (size_t i = 0; i < r.lo.size(); ++i) {
        if (r.lo[i] > 0xFFFF) continue;
        const uint32_t end = r.hi[i] < 0xFFFF ? r.hi[i] : 0xFFFF;
        for (uint32_t c = r.lo[i]; c <= end; ++c) bmp[c] |= uint8_t(1u << k);
    }
}

template <uint32_t Lists>
Expected<ClassTable<Lists>> ClassTable<Lists>::from_bytes(std::span<const uint8_t> bytes, std::string_view source) {
    ClassTable u;
    u.bmp.assign(BMP_SIZE, 0);
    size_t pos = 0;
    for (uint32_t k = 0; k < Lists; ++k) {
        auto r = read_ranges(bytes, pos, source);
        if (!r) return r.take_error();
        mark_bmp(u.bmp, *r, k);
        u.lo[k] = std::move(r->lo);
        u.hi[k] = std::move(r->hi);
    }
    u.ascii_as_assumed = ascii_classes_as_assumed(u.bmp);
    return u;
}

template <uint32_t Lists>
Expected<ClassTable<Lists>> ClassTable<Lists>::load(const std::string& path) {
    FileRead f = read_whole_file(path, uniclass_file_bytes(Lists));
    if (!f.ok()) return Error{"lexaro: cannot open uniclass file " + display_path(path) + ": " + f.error};
    return from_bytes(f.bytes, display_path(path));
}

template struct ClassTable<3>;
template struct ClassTable<5>;

}  // namespace lexaro
