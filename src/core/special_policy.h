// The special-token policy of encode: which special strings become their ids, and which occurrence makes
// the call fail. The caller formats the failure; this decides it.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/tokenizer.h"

namespace lexaro {

// The value of an allowed_special / disallowed_special argument: every special-token string when
// `every_special` is set, together with `strings`. Ordered byte-wise ascending (std::string compares as
// unsigned char). "all" is kept as a flag instead of copying the special strings in, so that a default
// encode under o200k_harmony does not build and sort a set of 1,091 strings per call.
struct SpecialSet {
    bool every_special = false;
    std::set<std::string, std::less<>> strings;
};

// One flag per entry of the special list: its string is allowed. Empty when no entry is allowed.
std::vector<uint8_t> allowed_flags(const Tokenizer& tok, const SpecialSet& allowed);

// Of the disallowed strings that are not allowed, the first in ascending byte-wise order that occurs in the
// text (the empty string occurs nowhere), wherever it lies in the text. `is_allowed` is allowed_flags' result.
std::optional<std::string_view> first_refused(const Tokenizer& tok, std::string_view text, const SpecialSet& allowed,
                                              const SpecialSet& disallowed, const std::vector<uint8_t>& is_allowed);

// `s` (valid UTF-8) between double quotes, as the disallowed-special message shows it: quote, backslash, tab,
// line feed, carriage return and NUL as \" \\ \t \n \r \0; other ASCII controls, DEL, the code points of
// Other_Grapheme_Extend and the non-ASCII characters for which `escape_other` says so as \u{hex}.
std::string quoted_for_message(std::string_view s, const std::function<bool(uint32_t)>& escape_other);

// The message of encode's refusal of the special string shown as `quoted` (quoted_for_message's result).
std::string disallowed_message(std::string_view quoted);

}  // namespace lexaro
