// Encoding arbitrary bytes with the built-in encodings of both families: decode(encode(b)) == b, the
// pre-token cache changes nothing, counts agree, truncation keeps a prefix, and both cutting loops
// advance and agree.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"

namespace {

const lexaro::Tokenizer& builtin(size_t k) {
    static const lexaro::Tokenizer all[] = {std::move(*lexaro::Tokenizer::create("cl100k_base")),
                                            std::move(*lexaro::Tokenizer::create("o200k_base")),
                                            std::move(*lexaro::Tokenizer::create("o200k_harmony"))};
    return all[k % 3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    fuzz::check_encoding(builtin(data[0]), text, data[1]);
    return 0;
}
