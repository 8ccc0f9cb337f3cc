// The special-tokens file parser: whatever it accepts is a list of non-empty UTF-8 strings of at most
// 64 bytes, no more than the file declares.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/tokenizer.h"
#include "core/utf8.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto s = lexaro::specials_from_bytes(std::span<const uint8_t>(data, size), "fuzz");
    if (!s) return 0;
    FUZZ_CHECK(s->size() <= lexaro::MAX_SPECIALS);
    for (const lexaro::Special& sp : *s) {
        FUZZ_CHECK(!sp.text.empty() && sp.text.size() <= lexaro::MAX_SPECIAL_BYTES);
        FUZZ_CHECK(lexaro::utf8_check(sp.text).valid_up_to == sp.text.size());
    }
    return 0;
}
