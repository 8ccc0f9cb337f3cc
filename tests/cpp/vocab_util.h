// Helpers for building vocab files in tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <span>

#include "core/builtin_data.h"
#include "core/mb.h"
#include "core/vocab.h"

namespace testutil {

struct Rec {
    std::string bytes;
    uint32_t rank;
};

inline void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
inline void put_u16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

inline std::vector<uint8_t> vocab_file(const std::vector<Rec>& recs) {
    std::vector<uint8_t> out;
    put_u32(out, uint32_t(recs.size()));
    for (const Rec& r : recs) {
        put_u16(out, uint32_t(r.bytes.size()));
        out.insert(out.end(), r.bytes.begin(), r.bytes.end());
        put_u32(out, r.rank);
    }
    return out;
}

// The 256 single bytes as ranks 0..255, followed by `extra` tokens.
inline std::vector<Rec> byte_vocab(const std::vector<std::string>& extra = {}) {
    std::vector<Rec> recs;
    for (uint32_t b = 0; b < 256; ++b) recs.push_back({std::string(1, char(b)), b});
    for (const std::string& s : extra) recs.push_back({s, uint32_t(recs.size())});
    return recs;
}

inline lexaro::Vocab build(const std::vector<Rec>& recs) {
    auto v = lexaro::Vocab::from_bytes(vocab_file(recs), "test");
    if (!v) throw std::runtime_error(v.error());
    return std::move(*v);
}

inline size_t occupied(std::span<const uint64_t> t) {
    size_t n = 0;
    for (uint64_t e : t) n += e != 0;
    return n;
}

// Classic byte-pair encoding: merge the adjacent pair with the lowest rank until none is a token.
inline std::vector<uint32_t> classic_bpe(const lexaro::Vocab& v, std::string_view piece) {
    std::vector<std::string_view> parts;
    for (size_t i = 0; i < piece.size(); ++i) parts.push_back(piece.substr(i, 1));
    for (;;) {
        uint32_t best = lexaro::NONE;
        size_t at = 0;
        for (size_t i = 0; i + 1 < parts.size(); ++i) {
            const std::string_view joined(parts[i].data(), parts[i].size() + parts[i + 1].size());
            const uint32_t id = v.find_id(joined);
            if (id < best) best = id, at = i;
        }
        if (best == lexaro::NONE) break;
        parts[at] = std::string_view(parts[at].data(), parts[at].size() + parts[at + 1].size());
        parts.erase(parts.begin() + long(at) + 1);
    }
    std::vector<uint32_t> ids;
    for (std::string_view p : parts) ids.push_back(v.find_id(p));
    return ids;
}

// Longest prefix tokens one after another, without the pair test: where this differs from the result,
// the encoder had to search further than its greedy pass.
inline std::vector<uint32_t> greedy(const lexaro::Vocab& v, std::string_view s) {
    std::vector<uint32_t> out;
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    for (size_t pos = 0; pos < s.size(); pos += v.token_len[out.back()])
        out.push_back(lexaro::nm_mb(v, p + pos, s.size() - pos));
    return out;
}

// The built-in cl100k_base (0) or o200k_base (1) vocabulary, built once.
inline const lexaro::Vocab& builtin_vocab(int which) {
    using lexaro::Vocab;
    static const Vocab c = std::move(*Vocab::from_bytes(lexaro::builtin::cl100k_vocab(), "cl100k_base"));
    static const Vocab o = std::move(*Vocab::from_bytes(lexaro::builtin::o200k_vocab(), "o200k_base"));
    return which == 0 ? c : o;
}

}  // namespace testutil
