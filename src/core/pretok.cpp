#include "core/pretok.h"

#include "core/pcache.h"
#include "core/piece_pipeline.h"
#include "core/pretok_cut.h"

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
