// Encode methods: encode with its special-token policy, the ordinary and raw-bytes encodes, the buffer and
// numpy forms, encode_with_offsets, single-token lookup, truncate and count.
#include "python/convert.h"
#include "python/fault.h"
#include "python/methods.h"
#include "python/module_state.h"
#include "python/str_utf8.h"

#include "core/flat_ids.h"
#include "core/special_policy.h"
#include "core/token_spans.h"

#include <string>
#include <string_view>
#include <vector>

namespace lexaro::py {

namespace {

constexpr Param TEXT[] = {{"text"}};
constexpr Param POLICY[] = {{"text"}, {"allowed_special", "None"}, {"disallowed_special", "None"}};

constexpr const char* BAD_SET_MESSAGE = "allowed_special/disallowed_special must be 'all' or a collection of strings";

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

// Whether a non-ASCII character is written as \u{...} in the message: it is not printable (str.isprintable)
// or its general category is Mn or Me (from the interpreter's unicodedata, imported on first need).
// Returns 1 or 0, or -1 with a Python error set.
int escapes_by_category(uint32_t cp, PyRef& unicodedata) {
    if (!Py_UNICODE_ISPRINTABLE(Py_UCS4(cp))) return 1;
    if (!unicodedata && !(unicodedata = PyRef(PyImport_ImportModule("unicodedata")))) return -1;
    PyRef category(PyObject_CallMethod(unicodedata.get(), "category", "C", int(cp)));
    if (!category) return -1;
    return PyUnicode_CompareWithASCIIString(category.get(), "Mn") == 0 ||
           PyUnicode_CompareWithASCIIString(category.get(), "Me") == 0;
}

void raise_disallowed(std::string_view s) {
    PyRef unicodedata;
    bool failed = false;
    const std::string quoted = quoted_for_message(s, [&](uint32_t cp) {
        const int escape = failed ? 0 : escapes_by_category(cp, unicodedata);
        failed |= escape < 0;
        return escape == 1;
    });
    if (failed) return;
    PyRef message(str_of(disallowed_message(quoted)));
    if (message) PyErr_SetObject(PyExc_ValueError, message.get());
}

// encode's policy, shared with encode_to_buffer and encode_to_numpy: convert, refuse disallowed strings
// with the lock held, then encode without it. False with a Python error set.
bool encode_by_policy(const Tokenizer& tok, PyObject* const* args, std::vector<uint32_t>& ids) {
    MainText main;
    if (!to_main_text(args[0], "text", main)) return false;
    const std::string_view text = main.view;
    SpecialSet allowed;
    SpecialSet disallowed;
    if (!to_set(args[1], false, allowed) || !to_set(args[2], true, disallowed)) return false;
    const std::vector<uint8_t> flags = allowed_flags(tok, allowed);
    if (const auto refused = first_refused(tok, text, allowed, disallowed, flags)) {
        raise_disallowed(*refused);
        return false;
    }
    without_gil([&] { ids = flags.empty() ? tok.encode(text) : tok.encode_with_allowed(text, flags.data()); });
    return true;
}

// 4 bytes per id, least significant first.
PyObject* id_buffer(const std::vector<uint32_t>& ids) {
    PyObject* bytes = PyBytes_FromStringAndSize(nullptr, Py_ssize_t(4 * ids.size()));
    if (bytes != nullptr) write_ids(ids, PyBytes_AS_STRING(bytes));
    return bytes;
}

// The ids of `encode()`, run with the lock released, as a list.
template <class Encode>
PyObject* encoded_list(PyObject* self, Encode&& encode) {
    std::vector<uint32_t> ids;
    without_gil([&] { ids = encode(); });
    return id_list(id_ints_of(self), ids);
}

PyObject* encode(const Tokenizer& tok, PyObject* const* args, PyObject* self) {
    std::vector<uint32_t> ids;
    return encode_by_policy(tok, args, ids) ? id_list(id_ints_of(self), ids) : nullptr;
}

PyObject* encode_ordinary(const Tokenizer& tok, PyObject* const* args, PyObject* self) {
    MainText text;
    return to_main_text(args[0], "text", text) ? encoded_list(self, [&] { return tok.encode(text.view); }) : nullptr;
}

PyObject* encode_bytes(const Tokenizer& tok, PyObject* const* args, PyObject* self) {
    std::string_view data;
    return to_bytes(args[0], "data", data) ? encoded_list(self, [&] { return tok.encode(data); }) : nullptr;
}

PyObject* encode_with_special(const Tokenizer& tok, PyObject* const* args, PyObject* self) {
    MainText text;
    return to_main_text(args[0], "text", text) ? encoded_list(self, [&] { return tok.encode_with_special(text.view); })
                                               : nullptr;
}

PyObject* encode_to_buffer(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    std::vector<uint32_t> ids;
    return encode_by_policy(tok, args, ids) ? id_buffer(ids) : nullptr;
}

PyObject* encode_to_numpy(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    std::vector<uint32_t> ids;
    if (!encode_by_policy(tok, args, ids)) return nullptr;
    PyRef buffer(id_buffer(ids));
    return buffer ? frombuffer(buffer.get(), "uint32") : nullptr;
}

PyObject* encode_single_token(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    std::string_view piece;
    if (!(PyBytes_Check(args[0]) ? to_bytes(args[0], nullptr, piece) : to_text(args[0], nullptr, piece)))
        return nullptr;
    const std::optional<uint32_t> id = tok.token_id(piece);  // a lookup, not an encode: the lock is kept
    if (!id) {
        PyErr_SetString(PyExc_KeyError, "bytes are not a single token in this encoding");
        return nullptr;
    }
    return PyLong_FromUnsignedLong(*id);
}

PyObject* truncate(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    MainText main;
    uint64_t max_tokens = 0;
    if (!to_main_text(args[0], "text", main) || !to_count(args[1], "max_tokens", max_tokens)) return nullptr;
    const std::string_view text = main.view;
    Truncation cut;
    without_gil([&] { cut = tok.truncate(text, max_tokens); });
    // Nothing cut: the caller's own str object, not a copy.
    PyObject* kept = cut.byte_len == text.size() ? Py_NewRef(args[0]) : str_of(text.substr(0, cut.byte_len));
    return pair_of(kept, PyLong_FromUnsignedLongLong(cut.total_tokens));
}

PyObject* count(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    MainText text;
    if (!to_main_text(args[0], "text", text)) return nullptr;
    uint64_t n = 0;
    without_gil([&] { n = tok.count(text.view); });
    return PyLong_FromUnsignedLongLong(n);
}

PyObject* encode_with_offsets(const Tokenizer& tok, PyObject* const* args, PyObject* self) {
    MainText main;
    std::string_view unit = "byte";
    if (!to_main_text(args[0], "text", main)) return nullptr;
    const std::string_view text = main.view;
    if (args[1] != nullptr && !to_text(args[1], "unit", unit)) return nullptr;
    if (unit != "byte" && unit != "char") {
        PyErr_SetString(PyExc_ValueError, "unit must be 'byte' or 'char'");
        return nullptr;
    }
    // Refused before encoding: offsets of such a text would not fit the 32 bits they are served in.
    if (!spans_fit(text.size())) {
        PyErr_SetString(PyExc_ValueError, "text too long for encode_with_offsets (4 GiB or more)");
        return nullptr;
    }
    std::vector<uint32_t> ids;
    std::vector<uint64_t> ends;
    without_gil([&] {
        ids = tok.encode(text);
        ends = token_ends(tok.vocab, ids);
        if (unit == "char") byte_ends_to_chars(text, ends);
    });
    PyRef id_objects(id_list(id_ints_of(self), ids));
    if (!id_objects) return nullptr;
    PyObject* spans = list_of(ids.size(), [&](size_t k) {  // (ends[k], ends[k + 1]) for each token k
        return pair_of(PyLong_FromUnsignedLongLong(ends[k]), PyLong_FromUnsignedLongLong(ends[k + 1]));
    });
    return pair_of(id_objects.release(), spans);
}

constexpr Param DATA[] = {{"data"}};
constexpr Param PIECE[] = {{"piece"}};
constexpr Param TEXT_AND_MAX[] = {{"text"}, {"max_tokens"}};
constexpr Param TEXT_UNIT[] = {{"text"}, {"unit", "\"byte\""}};

}  // namespace

PyObject* frombuffer(PyObject* buffer, const char* dtype) {
    PyRef numpy(PyImport_ImportModule("numpy"));
    if (!numpy) {
        PyErr_Clear();
        PyErr_SetString(PyExc_RuntimeError, "the numpy methods need numpy installed: pip install 'lexaro-rs[numpy]'");
        return nullptr;
    }
    PyRef function(PyObject_GetAttrString(numpy.get(), "frombuffer"));
    if (!function) return nullptr;
    return PyObject_CallFunction(function.get(), "Os", buffer, dtype);
}

const Method ENCODE{{"encode", POLICY},
                    "tiktoken's `Encoding.encode`: raise if a disallowed special string occurs;\n"
                    "otherwise encode, turning allowed specials into their ids.",
                    encode};
const Method ENCODE_ORDINARY{{"encode_ordinary", TEXT},
                             "Encode ignoring special tokens entirely (tiktoken's `encode_ordinary`).",
                             encode_ordinary};
const Method ENCODE_BYTES{{"encode_bytes", DATA}, "Encode raw bytes (no UTF-8 validation).", encode_bytes};
const Method ENCODE_WITH_SPECIAL{
    {"encode_with_special", TEXT}, "Every special-token string is turned into its id.", encode_with_special};
// Documented text kept word for word; no Python wrapper exists (`encode_to_numpy` is the numpy form).
const Method ENCODE_TO_BUFFER{{"encode_to_buffer", POLICY},
                              "Same as `encode`, but returns the ids as a little-endian uint32 buffer \u2014\n"
                              "the Python wrapper turns it into a numpy array with no per-token Python\n"
                              "int objects (the cost that otherwise dominates big inputs).",
                              encode_to_buffer};
const Method ENCODE_TO_NUMPY{{"encode_to_numpy", POLICY},
                             "Same as `encode`, but returns a numpy `uint32` array \u2014 the fastest path\n"
                             "from Python: no per-token Python int objects, just one buffer.",
                             encode_to_numpy};
const Method ENCODE_SINGLE_TOKEN{
    {"encode_single_token", PIECE}, "Exact bytes/str of a SINGLE token -> its id.", encode_single_token};
const Method TRUNCATE{{"truncate", TEXT_AND_MAX},
                      "Truncate to at most `max_tokens` tokens. Returns `(text, total_tokens)`,\n"
                      "where `total_tokens` counts the whole input whether or not it was cut.",
                      truncate};
const Method COUNT{{"count", TEXT}, "", count};

const Method ENCODE_WITH_OFFSETS{{"encode_with_offsets", TEXT_UNIT},
                                 "Ordinary ids + per-token spans. `unit=\"byte\"` gives exact UTF-8 byte\n"
                                 "offsets (they tile the input); `unit=\"char\"` gives code-point offsets\n"
                                 "(HF `offset_mapping` shape).",
                                 encode_with_offsets};

}  // namespace lexaro::py
