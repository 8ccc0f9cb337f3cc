// The vocab file parser and table build, then the piece encoder over the built tables: every token is
// found by its bytes, and a piece encodes to tokens whose bytes are the piece (when every byte is a token).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/mb.h"
#include "core/vocab.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The file, then an optional piece after a 4-byte length prefix at the very end of the input.
    size_t file_size = size;
    std::string_view piece;
    if (size >= 4) {
        const uint32_t n = uint32_t(data[size - 4]) | uint32_t(data[size - 3]) << 8 | uint32_t(data[size - 2]) << 16 |
                           uint32_t(data[size - 1]) << 24;
        if (n <= size - 4) {
            file_size = size - 4 - n;
            piece = std::string_view(reinterpret_cast<const char*>(data + file_size), n);
        }
    }
    auto v = lexaro::Vocab::from_bytes(std::span<const uint8_t>(data, file_size), "fuzz");
    if (!v) return 0;
    for (uint32_t t = 0; t < v->n_tokens; ++t) {
        const uint32_t found = v->find_id(v->token(t));
        FUZZ_CHECK(found != lexaro::NONE && v->token(found) == v->token(t));
    }
    if (piece.empty()) return 0;
    std::vector<uint32_t> ids;
    lexaro::encode_mb(*v, reinterpret_cast<const uint8_t*>(piece.data()), piece.size(), ids);
    std::string back;
    for (const uint32_t id : ids) {
        FUZZ_CHECK(id < v->n_tokens);
        back += v->token(id);
    }
    if (v->all_bytes) FUZZ_CHECK(back == piece);
    return 0;
}
