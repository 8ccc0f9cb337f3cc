// Decoded bytes as text under an errors mode, as `decode` offers them.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "core/utf8.h"

namespace lexaro {

// Every errors value other than "strict" and "ignore", compared byte for byte, means Replace.
enum class ErrorsMode { Strict, Replace, Ignore };
ErrorsMode errors_mode(std::string_view name);

// The text of `bytes` under a mode. `as_is`: the bytes are the text unchanged (valid UTF-8, nothing to
// drop). Otherwise `fault` under Strict (the first fault of bytes that are not UTF-8), else `text`: every
// maximal ill-formed subsequence as U+FFFD under Replace; under Ignore those dropped and also the U+FFFD
// characters that the bytes encode themselves.
struct DecodedText {
    bool as_is = false;
    std::optional<Utf8Fault> fault;
    std::string text;
};
DecodedText decoded_text(std::string_view bytes, ErrorsMode mode);

// The message of a strict decode's failure: "invalid utf-8 in decode: ..." with the fault's place.
std::string strict_fault_message(const Utf8Fault& fault);

}  // namespace lexaro
