#include "core/special_policy.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/utf8.h"

namespace lexaro {

std::vector<uint8_t> allowed_flags(const Tokenizer& tok, const SpecialSet& allowed) {
    std::vector<uint8_t> flags;
    if (!allowed.every_special && allowed.strings.empty()) return flags;
    flags.assign(tok.specials.size(), 0);
    bool any = false;
    for (size_t i = 0; i < tok.specials.size(); ++i) {
        if (allowed.every_special || allowed.strings.contains(tok.specials[i].text)) flags[i] = 1, any = true;
    }
    if (!any) flags.clear();
    return flags;
}

// Special-token strings are found all together in one pass over the text; only the other strings are
// searched one by one.
std::optional<std::string_view> first_refused(const Tokenizer& tok, std::string_view text, const SpecialSet& allowed,
                                              const SpecialSet& disallowed, const std::vector<uint8_t>& is_allowed) {
    // the common case, all specials disallowed by default: most texts cannot even start one
    if (disallowed.strings.empty() && !may_occur(tok.special_matcher, text)) return std::nullopt;
    const std::vector<Special>& specials = tok.specials;
    std::vector<uint8_t> refused(specials.size(), 0);
    std::vector<std::string_view> named_specials;  // strings of disallowed.strings that are special strings
    bool any_refused = false;
    for (size_t i = 0; i < specials.size(); ++i) {
        const bool named = !disallowed.strings.empty() && disallowed.strings.contains(specials[i].text);
        if (named) named_specials.push_back(specials[i].text);
        if ((disallowed.every_special || named) && (is_allowed.empty() || is_allowed[i] == 0)) {
            refused[i] = 1;
            any_refused = true;
        }
    }

    std::optional<std::string_view> first;
    if (any_refused) {
        std::vector<uint8_t> seen;
        mark_occurring(tok.special_matcher, text, seen);
        for (size_t i = 0; i < specials.size(); ++i) {
            if (refused[i] != 0 && seen[i] != 0 && (!first || specials[i].text < *first)) first = specials[i].text;
        }
    }

    std::sort(named_specials.begin(), named_specials.end());
    for (const std::string& s : disallowed.strings) {
        if (first && s >= *first) break;  // everything from here on comes later in the order
        if (s.empty() || allowed.strings.contains(s)) continue;
        if (std::binary_search(named_specials.begin(), named_specials.end(), std::string_view(s))) continue;
        if (text.find(s) != std::string_view::npos) {  // memmem is not on every system
            first = s;
            break;
        }
    }
    return first;
}

namespace {

// Other_Grapheme_Extend (Unicode 17.0): the grapheme-extending code points outside the general categories
// Mn and Me.
constexpr std::pair<uint32_t, uint32_t> OTHER_GRAPHEME_EXTEND[] = {
    {0x09BE, 0x09BE},   {0x09D7, 0x09D7},   {0x0B3E, 0x0B3E},   {0x0B57, 0x0B57},   {0x0BBE, 0x0BBE},
    {0x0BD7, 0x0BD7},   {0x0CC0, 0x0CC0},   {0x0CC2, 0x0CC2},   {0x0CC7, 0x0CC8},   {0x0CCA, 0x0CCB},
    {0x0CD5, 0x0CD6},   {0x0D3E, 0x0D3E},   {0x0D57, 0x0D57},   {0x0DCF, 0x0DCF},   {0x0DDF, 0x0DDF},
    {0x1715, 0x1715},   {0x1734, 0x1734},   {0x1B35, 0x1B35},   {0x1B3B, 0x1B3B},   {0x1B3D, 0x1B3D},
    {0x1B43, 0x1B44},   {0x1BAA, 0x1BAA},   {0x1BF2, 0x1BF3},   {0x200C, 0x200C},   {0x302E, 0x302F},
    {0xA953, 0xA953},   {0xA9C0, 0xA9C0},   {0xFF9E, 0xFF9F},   {0x111C0, 0x111C0}, {0x11235, 0x11235},
    {0x1133E, 0x1133E}, {0x1134D, 0x1134D}, {0x11357, 0x11357}, {0x113B8, 0x113B8}, {0x113C2, 0x113C2},
    {0x113C5, 0x113C5}, {0x113C7, 0x113C9}, {0x113CF, 0x113CF}, {0x114B0, 0x114B0}, {0x114BD, 0x114BD},
    {0x115AF, 0x115AF}, {0x116B6, 0x116B6}, {0x11930, 0x11930}, {0x1193D, 0x1193D}, {0x11F41, 0x11F41},
    {0x16FF0, 0x16FF1}, {0x1D165, 0x1D166}, {0x1D16D, 0x1D172}, {0xE0020, 0xE007F},
};

bool other_grapheme_extend(uint32_t cp) {
    for (const auto& [lo, hi] : OTHER_GRAPHEME_EXTEND) {
        if (cp >= lo && cp <= hi) return true;
    }
    return false;
}

uint32_t code_point(std::string_view ch) {
    const auto byte = [&](size_t k) { return uint32_t(static_cast<uint8_t>(ch[k])); };
    switch (ch.size()) {
        case 1:
            return byte(0);
        case 2:
            return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
        case 3:
            return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
        default:
            return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
    }
}

}  // namespace

std::string quoted_for_message(std::string_view s, const std::function<bool(uint32_t)>& escape_other) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        bool valid = false;
        const std::string_view ch = s.substr(i, utf8_step(s, i, &valid));
        i += ch.size();
        const uint32_t cp = code_point(ch);
        const char* named = cp == '"'    ? "\\\""
                            : cp == '\\' ? "\\\\"
                            : cp == '\t' ? "\\t"
                            : cp == '\n' ? "\\n"
                            : cp == '\r' ? "\\r"
                            : cp == 0    ? "\\0"
                                         : nullptr;
        if (named != nullptr) {
            out += named;
        } else if (cp < 0x80 ? cp < 0x20 || cp == 0x7F : other_grapheme_extend(cp) || escape_other(cp)) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "\\u{%x}", unsigned(cp));
            out += hex;
        } else {
            out += ch;
        }
    }
    return out + '"';
}

std::string disallowed_message(std::string_view quoted) {
    const std::string q(quoted);
    return "Encountered text corresponding to disallowed special token " + q +
           ".\nIf you want this text to be encoded as a special token, pass it to `allowed_special`, e.g. "
           "`allowed_special={" +
           q +
           ", ...}`.\nIf you want this text to be encoded as normal text, disable the check for this token by "
           "passing `disallowed_special=()`, or use `encode_ordinary`.";
}

}  // namespace lexaro
