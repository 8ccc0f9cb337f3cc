// Construction from an in-memory data directory, every file mutated: the vocab, the class table and the
// special-tokens file (or none). A tokenizer that is built then encodes the rest of the input with every
// invariant of the encode target.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "fuzz_check.h"

namespace {

// Takes a section of `u32 length, bytes` from the input; the length is cut to what is left.
// A length of 0xFFFFFFFF is an absent file.
struct Reader {
    const uint8_t* p;
    size_t left;

    bool section(std::span<const uint8_t>& out) {
        if (left < 4) {
            out = {};
            return true;
        }
        const uint32_t n = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        p += 4, left -= 4;
        if (n == 0xFFFFFFFFu) return false;
        const size_t take = std::min<size_t>(n, left);
        out = std::span<const uint8_t>(p, take);
        p += take, left -= take;
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::string_view encoding = lexaro::BUILTIN_NAMES[data[0] % 3];
    const uint64_t max_tokens = data[1];
    Reader r{data + 2, size - 2};
    lexaro::EncodingData files;
    files.vocab_source = "vocab", files.uniclass_source = "uniclass", files.special_source = "special";
    r.section(files.vocab);
    r.section(files.uniclass);
    files.has_special = r.section(files.special);
    const std::string_view text(reinterpret_cast<const char*>(r.p), r.left);
    auto tok = lexaro::Tokenizer::from_data(encoding, files);
    if (!tok) {
        FUZZ_CHECK(tok.error().rfind("lexaro: ", 0) == 0);
        return 0;
    }
    fuzz::check_encoding(*tok, text, max_tokens);
    return 0;
}
