#include "core/pretok.h"

#include <cstring>

#include "core/ascii_classes.h"
#include "core/fileio.h"
#include "core/le.h"
#include "core/pcache.h"
#include "core/piece_pipeline.h"
#include "core/pretok_cut.h"

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

bool ranges_contain(const uint32_t* lo, const uint32_t* hi, size_t count, uint32_t c) {
    size_t low = 0, high = count;  // half-open [low, high)
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (c < lo[mid])
            high = mid;
        else if (c <= hi[mid])
            return true;
        else
            low = mid + 1;
    }
    return false;
}

void mark_bmp(std::vector<uint8_t>& bmp, const Ranges& r, uint32_t k) {
    for (size_t i = 0; i < r.lo.size(); ++i) {
        if (r.lo[i] > 0xFFFF) continue;
        const uint32_t end = r.hi[i] < 0xFFFF ? r.hi[i] : 0xFFFF;
        for (uint32_t c = r.lo[i]; c <= end; ++c) bmp[c] |= uint8_t(1u << k);
    }
}

Expected<UClass> UClass::from_bytes(std::span<const uint8_t> bytes, std::string_view source) {
    UClass u;
    u.bmp.assign(BMP_SIZE, 0);
    size_t pos = 0;
    std::vector<uint32_t>* lists[3][2] = {{&u.lo0, &u.hi0}, {&u.lo1, &u.hi1}, {&u.lo2, &u.hi2}};
    for (uint32_t k = 0; k < 3; ++k) {
        auto r = read_ranges(bytes, pos, source);
        if (!r) return r.take_error();
        mark_bmp(u.bmp, *r, k);
        *lists[k][0] = std::move(r->lo);
        *lists[k][1] = std::move(r->hi);
    }
    u.ascii_as_assumed = ascii_classes_as_assumed(u.bmp);
    return u;
}

Expected<UClass> UClass::load(const std::string& path) {
    FileRead f = read_whole_file(path, uniclass_file_bytes(3));
    if (!f.ok()) return Error{"lexaro: cannot open uniclass file " + display_path(path) + ": " + f.error};
    return from_bytes(f.bytes, display_path(path));
}

bool UClass::contains_supplementary(uint32_t k, uint32_t c) const {
    switch (k) {
        case CLASS_LETTER: return ranges_contain(lo0.data(), hi0.data(), lo0.size(), c);
        case CLASS_NUMBER: return ranges_contain(lo1.data(), hi1.data(), lo1.size(), c);
        case CLASS_SPACE: return ranges_contain(lo2.data(), hi2.data(), lo2.size(), c);
        default: return false;
    }
}

uint64_t UClass::footprint() const {
    return 4 * uint64_t(lo0.size() + hi0.size() + lo1.size() + hi1.size() + lo2.size() + hi2.size()) + bmp.size();
}

}  // namespace lexaro

// ---- the cl100k encode loop ----

namespace lexaro {

namespace {

// A table whose ASCII classes differ from those the fast paths assume is cut by the per-character rules.
[[gnu::noinline]] void encode_by_rules_cl100k(const Vocab& v, const UClass& u, const uint8_t* text, size_t len,
                                              std::vector<uint32_t>& out, PretokenCache& cache) {
    PendingPiece ring[PIPE_DEPTH];
    PiecePipeline pipe(v, cache, out, ring);
    cut_cl100k<false>(u, text, len, [&](const uint8_t* piece, size_t piece_len) { pipe.push(piece, piece_len); });
    pipe.finish();
}

}  // namespace

void encode_core_cl100k(const Vocab& v, const UClass& u, const uint8_t* text, size_t len, std::vector<uint32_t>& out,
                        PretokenCache& cache) {
    if (!u.ascii_as_assumed) return encode_by_rules_cl100k(v, u, text, len, out, cache);
    PendingPiece ring[PIPE_DEPTH];
    PiecePipeline pipe(v, cache, out, ring);
    cut_cl100k<true>(u, text, len, [&](const uint8_t* piece, size_t piece_len) { pipe.push(piece, piece_len); });
    pipe.finish();
}

std::vector<std::pair<uint32_t, uint32_t>> pretokenize_cl100k(const UClass& u, std::string_view text, bool fast) {
    std::vector<std::pair<uint32_t, uint32_t>> pieces;
    const auto* base = reinterpret_cast<const uint8_t*>(text.data());
    auto collect = [&](const uint8_t* piece, size_t piece_len) {
        pieces.emplace_back(uint32_t(piece - base), uint32_t(piece_len));
    };
    if (fast)
        cut_cl100k<true>(u, base, text.size(), collect);
    else
        cut_cl100k<false>(u, base, text.size(), collect);
    return pieces;
}

}  // namespace lexaro
