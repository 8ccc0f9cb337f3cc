// The loops every pre-tokenizer family shares: cutting a text into pieces, encoding them, listing them.
//
// A family is a type that gives its cutting rules and nothing else:
//   using Classes = ...;   its character-class table (a ClassTable)
//   static size_t ascii_stop(const Classes&, const uint8_t* t, size_t pos, size_t len);
//       the end of the piece at pos decided from its bytes (ASCII, and the regular two- and three-byte
//       forms of the common characters above it), or 0 when the per-character rules must decide;
//   template <bool Fast> static size_t general_stop(const Classes&, const uint8_t* t, size_t pos, size_t len);
//       the end of the piece at pos by the per-character rules (with Fast, runs inside it may be read a
//       block or a regular form at a time, and the common pieces ascii_stop left are tried that way first).
// Both give the same pieces: the fast path is for speed, the per-character rules are its yardstick.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "core/pcache.h"
#include "core/piece_pipeline.h"

namespace lexaro {

// Calls emit(piece, piece_len) for every piece of text[0, len) in order. Inlined into its caller, so
// that the state `emit` works on (the encode pipeline's) can stay in registers.
template <class Rules, bool Fast, class Emit>
[[gnu::always_inline]] inline void cut_pieces(const typename Rules::Classes& u, const uint8_t* text, size_t len,
                                              Emit&& emit) {
    size_t pos = 0;
    while (pos < len) {
        size_t end = 0;
        if constexpr (Fast) end = Rules::ascii_stop(u, text, pos, len);
        if (end == 0) end = Rules::template general_stop<Fast>(u, text, pos, len);
        emit(text + pos, end - pos);
        pos = end;
    }
}

// Without a cache (a thread past the cache budget, a re-entrant call) each piece is encoded as it is cut.
// Out of line, so that the loop with the cache is compiled on its own.
template <class Rules, bool Fast>
[[gnu::noinline]] void encode_without_cache(const Vocab& v, const typename Rules::Classes& u, const uint8_t* text,
                                            size_t len, std::vector<uint32_t>& out) {
    cut_pieces<Rules, Fast>(u, text, len,
                            [&](const uint8_t* piece, size_t piece_len) { encode_uncached(v, piece, piece_len, out); });
}

// A table whose ASCII classes differ from those the fast paths assume is cut by the per-character rules.
template <class Rules>
[[gnu::noinline]] void encode_by_rules(const Vocab& v, const typename Rules::Classes& u, const uint8_t* text,
                                       size_t len, std::vector<uint32_t>& out, PretokenCache& cache) {
    if (cache.disabled()) return encode_without_cache<Rules, false>(v, u, text, len, out);
    PendingPiece ring[PIPE_DEPTH];
    MissBatch misses;
    PiecePipeline pipe(v, cache, out, ring, &misses);
    cut_pieces<Rules, false>(u, text, len,
                             [&](const uint8_t* piece, size_t piece_len) { pipe.push(piece, piece_len); });
    pipe.finish();
}

// Appends the ids of the pieces of text[0, len) to `out`.
template <class Rules>
[[gnu::always_inline]] inline void encode_pieces(const Vocab& v, const typename Rules::Classes& u, const uint8_t* text,
                                                 size_t len, std::vector<uint32_t>& out, PretokenCache& cache) {
    if (!u.ascii_as_assumed) return encode_by_rules<Rules>(v, u, text, len, out, cache);
    if (cache.disabled()) return encode_without_cache<Rules, true>(v, u, text, len, out);
    PendingPiece ring[PIPE_DEPTH];
    MissBatch misses;
    PiecePipeline pipe(v, cache, out, ring, &misses);
    cut_pieces<Rules, true>(u, text, len, [&](const uint8_t* piece, size_t piece_len) { pipe.push(piece, piece_len); });
    pipe.finish();
}

// The pieces of `text` as (start, length), by the fast path or by the per-character rules alone (for
// tests: offsets are 32-bit).
template <class Rules>
std::vector<std::pair<uint32_t, uint32_t>> list_pieces(const typename Rules::Classes& u, std::string_view text,
                                                       bool fast) {
    std::vector<std::pair<uint32_t, uint32_t>> pieces;
    const auto* base = reinterpret_cast<const uint8_t*>(text.data());
    auto collect = [&](const uint8_t* piece, size_t piece_len) {
        pieces.emplace_back(uint32_t(piece - base), uint32_t(piece_len));
    };
    if (fast)
        cut_pieces<Rules, true>(u, base, text.size(), collect);
    else
        cut_pieces<Rules, false>(u, base, text.size(), collect);
    return pieces;
}

}  // namespace lexaro
