// The built-in data set, linked into the library from data/ (by builtin_data.S.in, or as arrays written
// by cmake/embed_data.cmake for compilers without .incbin).
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#define LEXARO_DECLARE_BLOB(name)            \
    extern "C" const uint8_t name##_begin[]; \
    extern "C" const uint64_t name##_size;

LEXARO_DECLARE_BLOB(lexaro_cl100k_vocab)
LEXARO_DECLARE_BLOB(lexaro_o200k_vocab)
LEXARO_DECLARE_BLOB(lexaro_cl100k_special)
LEXARO_DECLARE_BLOB(lexaro_o200k_special)
LEXARO_DECLARE_BLOB(lexaro_o200k_harmony_special)
LEXARO_DECLARE_BLOB(lexaro_uniclass)
LEXARO_DECLARE_BLOB(lexaro_uniclass_o200k)
#undef LEXARO_DECLARE_BLOB

namespace lexaro::builtin {

#define LEXARO_BLOB_SPAN(fn, name) \
    inline std::span<const uint8_t> fn() { return {name##_begin, static_cast<size_t>(name##_size)}; }
LEXARO_BLOB_SPAN(cl100k_vocab, lexaro_cl100k_vocab)
LEXARO_BLOB_SPAN(o200k_vocab, lexaro_o200k_vocab)
LEXARO_BLOB_SPAN(cl100k_special, lexaro_cl100k_special)
LEXARO_BLOB_SPAN(o200k_special, lexaro_o200k_special)
LEXARO_BLOB_SPAN(o200k_harmony_special, lexaro_o200k_harmony_special)
LEXARO_BLOB_SPAN(uniclass, lexaro_uniclass)
LEXARO_BLOB_SPAN(uniclass_o200k, lexaro_uniclass_o200k)
#undef LEXARO_BLOB_SPAN

}  // namespace lexaro::builtin
