// The class-table parsers of both families, then both pre-tokenizer loops over the table: they advance on
// every table, and where the fast paths run they cut as the per-character rules do.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "fuzz_check.h"

namespace {

// Texts whose pieces depend on the classes of ASCII and of common non-ASCII characters.
constexpr std::string_view TEXTS[] = {
    "end.\xE2\x80\x94 next",
    "Hello, world!  It's 2024... ok?\n\n  Done.\r\n",
    "a.b.c  ...   x5y55z 555 !!! '' 's 'll \xC3\xA9t\xC3\xA9 \xD0\x96\xD0\xB6 \xE4\xB8\xAD\xE6\x96\x87",
    "\t\xC2\xA0 \xE3\x80\x80\xE2\x80\xA8 \xF0\x9F\x98\x80! \xC0\x8A \xE2\x80\x0A \xFF\xFE\x80 trailing   ",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Byte 0: the family (bit 0); bytes 1-2: the length of a text to cut, which follows; the rest: the table.
    if (size < 3) return 0;
    const bool o200k = data[0] & 1;
    const size_t text_len = std::min<size_t>(size_t(data[1]) | size_t(data[2]) << 8, size - 3);
    const std::string_view extra(reinterpret_cast<const char*>(data + 3), text_len);
    const std::span<const uint8_t> table(data + 3 + text_len, size - 3 - text_len);
    lexaro::Tokenizer tok;
    tok.is_o200k = o200k;
    if (o200k) {
        auto u = lexaro::UClassO::from_bytes(table, "fuzz");
        if (!u) return 0;
        tok.uclass_o = std::move(*u);
    } else {
        auto u = lexaro::UClass::from_bytes(table, "fuzz");
        if (!u) return 0;
        tok.uclass = std::move(*u);
    }
    for (std::string_view text : TEXTS) fuzz::check_cutting(tok, text);
    fuzz::check_cutting(tok, extra);
    return 0;
}
