#include "core/decode_text.h"

namespace lexaro {

namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

std::string without_replacements(const std::string& text) {
    std::string kept;
    kept.reserve(text.size());
    size_t from = 0;
    for (size_t at; (at = text.find(REPLACEMENT, from)) != std::string::npos; from = at + REPLACEMENT.size())
        kept.append(text, from, at - from);
    kept.append(text, from);
    return kept;
}

}  // namespace

ErrorsMode errors_mode(std::string_view name) {
    if (name == "strict") return ErrorsMode::Strict;
    if (name == "ignore") return ErrorsMode::Ignore;
    return ErrorsMode::Replace;
}

DecodedText decoded_text(std::string_view bytes, ErrorsMode mode) {
    DecodedText out;
    const Utf8Fault fault = utf8_check(bytes);
    const bool valid = fault.valid_up_to == bytes.size();
    if (valid && mode != ErrorsMode::Ignore) {
        out.as_is = true;
        return out;
    }
    if (mode == ErrorsMode::Strict) {
        out.fault = fault;
        return out;
    }
    // The valid prefix is kept as it is; only the rest needs substitution.
    out.text.assign(bytes.substr(0, fault.valid_up_to));
    out.text += utf8_lossy(bytes.substr(fault.valid_up_to));
    if (mode == ErrorsMode::Ignore) out.text = without_replacements(out.text);
    return out;
}

std::string strict_fault_message(const Utf8Fault& fault) {
    const std::string at = " from index " + std::to_string(fault.valid_up_to);
    if (fault.error_len == 0) return "invalid utf-8 in decode: incomplete utf-8 byte sequence" + at;
    return "invalid utf-8 in decode: invalid utf-8 sequence of " + std::to_string(fault.error_len) + " bytes" + at;
}

}  // namespace lexaro
