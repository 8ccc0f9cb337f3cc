// Encode methods: encode with its special-token policy, the ordinary and raw-bytes encodes, the
// buffer and numpy forms, single-token lookup, truncate and count.
#include "python/encode_methods.h"

#include "python/args.h"
#include "python/convert.h"
#include "python/fault.h"
#include "python/tokenizer_object.h"

#include "core/literal_match.h"
#include "core/utf8.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lexaro::py {

namespace {

constexpr const char* TEXT_PARAMS[] = {"text"};
constexpr const char* POLICY_PARAMS[] = {"text", "allowed_special", "disallowed_special"};
constexpr const char* DATA_PARAMS[] = {"data"};
constexpr const char* PIECE_PARAMS[] = {"piece"};
constexpr const char* TRUNCATE_PARAMS[] = {"text", "max_tokens"};

constexpr Signature ENCODE_SIGNATURE{"Tokenizer.encode", POLICY_PARAMS, 1};
constexpr Signature ENCODE_ORDINARY_SIGNATURE{"Tokenizer.encode_ordinary", TEXT_PARAMS, 1};
constexpr Signature ENCODE_BYTES_SIGNATURE{"Tokenizer.encode_bytes", DATA_PARAMS, 1};
constexpr Signature ENCODE_WITH_SPECIAL_SIGNATURE{"Tokenizer.encode_with_special", TEXT_PARAMS, 1};
constexpr Signature ENCODE_TO_BUFFER_SIGNATURE{"Tokenizer.encode_to_buffer", POLICY_PARAMS, 1};
constexpr Signature ENCODE_TO_NUMPY_SIGNATURE{"Tokenizer.encode_to_numpy", POLICY_PARAMS, 1};
constexpr Signature ENCODE_SINGLE_TOKEN_SIGNATURE{"Tokenizer.encode_single_token", PIECE_PARAMS, 1};
constexpr Signature TRUNCATE_SIGNATURE{"Tokenizer.truncate", TRUNCATE_PARAMS, 2};
constexpr Signature COUNT_SIGNATURE{"Tokenizer.count", TEXT_PARAMS, 1};

constexpr const char* BAD_SET_MESSAGE = "allowed_special/disallowed_special must be 'all' or a collection of strings";
constexpr const char* NUMPY_MISSING_MESSAGE =
    "the numpy methods need numpy installed: pip install 'lexaro-rs[numpy]'";
constexpr const char* NOT_A_TOKEN_MESSAGE = "bytes are not a single token in this encoding";

// ---- the special set ----

// The value of an allowed_special / disallowed_special argument: every special-token string when
// `every_special` is set, together with `strings`. Ordered byte-wise ascending (std::string compares
// as unsigned char). "all" is kept as a flag instead of copying the special strings in, so that a
// default encode under o200k_harmony does not build and sort a set of 1,091 strings per call.
struct SpecialSet {
    bool every_special = false;
    std::set<std::string, std::less<>> strings;
};

// None or an omitted argument: every special string when `default_all`, else nothing. A str must be
// exactly "all"; any other object is iterated and each item must be a str.
bool to_set(PyObject* value, bool default_all, SpecialSet& out) {
    if (value == nullptr || value == Py_None) {
        out.every_special = default_all;
        return true;
    }
    if (PyUnicode_Check(value)) {
        std::string_view text;
        if (!to_text(value, nullptr, text)) return false;
        if (text != "all") {
            PyErr_SetString(PyExc_ValueError, BAD_SET_MESSAGE);
            return false;
        }
        out.every_special = true;
        return true;
    }
    PyRef iterator(PyObject_GetIter(value));
    if (!iterator) return false;
    for (;;) {
        PyRef item(PyIter_Next(iterator.get()));
        if (!item) return !PyErr_Occurred();  // exhausted, or the iterator's own error passed on
        std::string_view text;
        if (!to_text(item.get(), nullptr, text)) return false;
        out.strings.emplace(text);
    }
}

// One flag per entry of the special list: its string is allowed. Empty when no entry is allowed.
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

// Of the disallowed strings that are not allowed, the first in ascending byte-wise order that occurs
// in the text (the empty string occurs nowhere), wherever it lies in the text. Special-token strings
// are found all together in one pass over the text; only the other strings are searched one by one.
std::optional<std::string_view> first_refused(const Tokenizer& tok, std::string_view text,
                                              const SpecialSet& allowed, const SpecialSet& disallowed,
                                              const std::vector<uint8_t>& is_allowed) {
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
        if (memmem(text.data(), text.size(), s.data(), s.size()) != nullptr) {
            first = s;
            break;
        }
    }
    return first;
}

// ---- the disallowed-special message ----

// Other_Grapheme_Extend (Unicode 17.0): the grapheme-extending code points outside the general
// categories Mn and Me.
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

// Whether a non-ASCII character is written as \u{...}: it is not printable (str.isprintable) or it
// extends a grapheme (category Mn or Me from the interpreter's unicodedata, or Other_Grapheme_Extend).
// Returns 1 or 0, or -1 with a Python error set. `unicodedata` is imported on first need.
int escapes_non_ascii(uint32_t cp, PyRef& unicodedata) {
    if (other_grapheme_extend(cp)) return 1;
    PyRef ch(PyUnicode_FromOrdinal(int(cp)));
    if (!ch) return -1;
    PyRef printable(PyObject_CallMethod(ch.get(), "isprintable", nullptr));
    if (!printable) return -1;
    if (printable.get() != Py_True) return 1;
    if (!unicodedata) {
        unicodedata = PyRef(PyImport_ImportModule("unicodedata"));
        if (!unicodedata) return -1;
    }
    PyRef category(PyObject_CallMethod(unicodedata.get(), "category", "O", ch.get()));
    if (!category) return -1;
    return PyUnicode_CompareWithASCIIString(category.get(), "Mn") == 0 ||
           PyUnicode_CompareWithASCIIString(category.get(), "Me") == 0;
}

uint32_t code_point(std::string_view ch) {
    const auto byte = [&](size_t k) { return uint32_t(static_cast<uint8_t>(ch[k])); };
    switch (ch.size()) {
        case 1: return byte(0);
        case 2: return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
        case 3: return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
        default: return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
    }
}

// `s` (valid UTF-8) between double quotes, escaped for the message. False with a Python error set.
bool append_quoted(std::string_view s, std::string& out) {
    PyRef unicodedata;
    out += '"';
    for (size_t i = 0; i < s.size();) {
        bool valid = false;
        const std::string_view ch = s.substr(i, utf8_step(s, i, &valid));
        i += ch.size();
        const uint32_t cp = code_point(ch);
        if (cp == '"') {
            out += "\\\"";
        } else if (cp == '\\') {
            out += "\\\\";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == 0) {
            out += "\\0";
        } else {
            const int escape = cp < 0x80 ? int(cp < 0x20 || cp == 0x7F) : escapes_non_ascii(cp, unicodedata);
            if (escape < 0) return false;
            if (escape != 0) {
                char hex[16];
                std::snprintf(hex, sizeof hex, "\\u{%x}", unsigned(cp));
                out += hex;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return true;
}

void raise_disallowed(std::string_view s) {
    std::string quoted;
    if (!append_quoted(s, quoted)) return;
    const std::string message =
        "Encountered text corresponding to disallowed special token " + quoted +
        ".\nIf you want this text to be encoded as a special token, pass it to `allowed_special`, e.g. "
        "`allowed_special={" +
        quoted +
        ", ...}`.\nIf you want this text to be encoded as normal text, disable the check for this token by "
        "passing `disallowed_special=()`, or use `encode_ordinary`.";
    PyRef text(PyUnicode_FromStringAndSize(message.data(), Py_ssize_t(message.size())));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
}

// ---- shared steps ----

// encode's policy, shared with encode_to_buffer and encode_to_numpy: convert, refuse disallowed
// strings with the lock held, then encode without it. False with a Python error set.
bool encode_by_policy(const Signature& sig, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, std::vector<uint32_t>& ids) {
    PyObject* bound[3];
    if (!bind_fastcall(sig, args, nargs, kwnames, bound)) return false;
    std::string_view text;
    if (!to_text(bound[0], "text", text)) return false;
    SpecialSet allowed;
    SpecialSet disallowed;
    if (!to_set(bound[1], false, allowed) || !to_set(bound[2], true, disallowed)) return false;

    const Tokenizer& tok = core_of(self);
    std::vector<uint8_t> flags;
    std::optional<std::string_view> refused;
    if (!guarded([&] {
            flags = allowed_flags(tok, allowed);
            refused = first_refused(tok, text, allowed, disallowed, flags);
        }))
        return false;
    if (refused) {
        raise_disallowed(*refused);
        return false;
    }
    return guarded_without_gil([&] { ids = flags.empty() ? tok.encode(text) : tok.encode_with_allowed(text, flags.data()); });
}

// 4 bytes per id, least significant first.
PyObject* id_buffer(const std::vector<uint32_t>& ids) {
    PyObject* bytes = PyBytes_FromStringAndSize(nullptr, Py_ssize_t(4 * ids.size()));
    if (bytes == nullptr) return nullptr;
    char* out = PyBytes_AS_STRING(bytes);
    if constexpr (std::endian::native == std::endian::little) {
        if (!ids.empty()) std::memcpy(out, ids.data(), 4 * ids.size());
    } else {
        for (size_t i = 0; i < ids.size(); ++i) {
            for (size_t k = 0; k < 4; ++k) out[4 * i + k] = char(ids[i] >> (8 * k));
        }
    }
    return bytes;
}

// Binds the single `text` parameter and encodes it with `encode` (lock released) into a list.
template <class Encode>
PyObject* encode_text(const Signature& sig, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, Encode&& encode) {
    PyObject* bound[1];
    if (!bind_fastcall(sig, args, nargs, kwnames, bound)) return nullptr;
    std::string_view text;
    if (!to_text(bound[0], "text", text)) return nullptr;
    const Tokenizer& tok = core_of(self);
    std::vector<uint32_t> ids;
    if (!guarded_without_gil([&] { ids = encode(tok, text); })) return nullptr;
    return id_list(ids);
}

}  // namespace

PyObject* frombuffer(PyObject* buffer, const char* dtype) {
    PyRef numpy(PyImport_ImportModule("numpy"));
    if (!numpy) {
        PyErr_Clear();
        PyErr_SetString(PyExc_RuntimeError, NUMPY_MISSING_MESSAGE);
        return nullptr;
    }
    PyRef function(PyObject_GetAttrString(numpy.get(), "frombuffer"));
    if (!function) return nullptr;
    return PyObject_CallFunction(function.get(), "Os", buffer, dtype);
}

PyObject* method_encode(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::vector<uint32_t> ids;
    if (!encode_by_policy(ENCODE_SIGNATURE, self, args, nargs, kwnames, ids)) return nullptr;
    return id_list(ids);
}

PyObject* method_encode_ordinary(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return encode_text(ENCODE_ORDINARY_SIGNATURE, self, args, nargs, kwnames,
                       [](const Tokenizer& tok, std::string_view text) { return tok.encode(text); });
}

PyObject* method_encode_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[1];
    if (!bind_fastcall(ENCODE_BYTES_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
    std::string_view data;
    if (!to_bytes(bound[0], "data", data)) return nullptr;
    const Tokenizer& tok = core_of(self);
    std::vector<uint32_t> ids;
    if (!guarded_without_gil([&] { ids = tok.encode(data); })) return nullptr;
    return id_list(ids);
}

PyObject* method_encode_with_special(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return encode_text(ENCODE_WITH_SPECIAL_SIGNATURE, self, args, nargs, kwnames,
                       [](const Tokenizer& tok, std::string_view text) { return tok.encode_with_special(text); });
}

PyObject* method_encode_to_buffer(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::vector<uint32_t> ids;
    if (!encode_by_policy(ENCODE_TO_BUFFER_SIGNATURE, self, args, nargs, kwnames, ids)) return nullptr;
    return id_buffer(ids);
}

PyObject* method_encode_to_numpy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::vector<uint32_t> ids;
    if (!encode_by_policy(ENCODE_TO_NUMPY_SIGNATURE, self, args, nargs, kwnames, ids)) return nullptr;
    PyRef buffer(id_buffer(ids));
    if (!buffer) return nullptr;
    return frombuffer(buffer.get(), "uint32");
}

PyObject* method_encode_single_token(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[1];
    if (!bind_fastcall(ENCODE_SINGLE_TOKEN_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
    std::string_view piece;
    if (PyBytes_Check(bound[0])) {
        piece = std::string_view(PyBytes_AS_STRING(bound[0]), size_t(PyBytes_GET_SIZE(bound[0])));
    } else if (!to_text(bound[0], nullptr, piece)) {
        return nullptr;
    }
    // A lookup, not an encode: the lock is kept.
    const Tokenizer& tok = core_of(self);
    uint32_t id = NONE;
    bool found = false;
    if (!guarded([&] {
            id = tok.vocab.find_id(piece);
            found = id != NONE;
            for (size_t i = 0; !found && i < tok.specials.size(); ++i) {
                if (tok.specials[i].text == piece) id = tok.specials[i].id, found = true;
            }
        }))
        return nullptr;
    if (!found) {
        PyErr_SetString(PyExc_KeyError, NOT_A_TOKEN_MESSAGE);
        return nullptr;
    }
    return PyLong_FromUnsignedLong(id);
}

PyObject* method_truncate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[2];
    if (!bind_fastcall(TRUNCATE_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
    std::string_view text;
    uint64_t max_tokens = 0;
    if (!to_text(bound[0], "text", text) || !to_count(bound[1], "max_tokens", max_tokens)) return nullptr;
    const Tokenizer& tok = core_of(self);
    Truncation cut;
    if (!guarded_without_gil([&] { cut = tok.truncate(text, max_tokens); })) return nullptr;
    // Nothing cut: the caller's own str object, not a copy.
    PyRef kept = cut.byte_len == text.size()
                     ? PyRef::borrow(bound[0])
                     : PyRef(PyUnicode_DecodeUTF8(text.data(), Py_ssize_t(cut.byte_len), "strict"));
    if (!kept) return nullptr;
    PyRef total(PyLong_FromUnsignedLongLong(cut.total_tokens));
    if (!total) return nullptr;
    return PyTuple_Pack(2, kept.get(), total.get());
}

PyObject* method_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[1];
    if (!bind_fastcall(COUNT_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
    std::string_view text;
    if (!to_text(bound[0], "text", text)) return nullptr;
    const Tokenizer& tok = core_of(self);
    uint64_t count = 0;
    if (!guarded_without_gil([&] { count = tok.count(text); })) return nullptr;
    return PyLong_FromUnsignedLongLong(count);
}

}  // namespace lexaro::py
