// UTF-8 validation and lossy conversion with maximal-subpart substitution.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lexaro {

struct Utf8Fault {
    size_t valid_up_to;  // bytes before the first fault (== size when the input is valid)
    size_t error_len;    // length of the invalid sequence (1 to 3); 0 when the input ends inside a character
};

// Length of the maximal ill-formed or well-formed sequence at s[i]: returns the length of a valid
// character (1 to 4) with *valid = true, or the length of the maximal subpart (>= 1) with *valid = false.
size_t utf8_step(std::string_view s, size_t i, bool* valid);

Utf8Fault utf8_check(std::string_view s);

// True when all of p[0, len) is well-formed UTF-8 (utf8_check(...).valid_up_to == len), found faster: a
// table-driven automaton, with ASCII words between characters skipped whole.
bool utf8_valid(const uint8_t* p, size_t len);

// Every maximal ill-formed subsequence becomes one U+FFFD.
std::string utf8_lossy(std::string_view s);

}  // namespace lexaro
