// Decode methods: decode with its errors modes, decode_bytes, decode_batch and the bytes of one token.
#include "python/decode_methods.h"

#include "python/args.h"
#include "python/convert.h"
#include "python/fault.h"
#include "python/tokenizer_object.h"

#include "core/utf8.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lexaro::py {

namespace {

constexpr const char* DECODE_PARAMS[] = {"ids", "errors"};
constexpr const char* IDS_PARAMS[] = {"ids"};
constexpr const char* ID_PARAMS[] = {"id"};
constexpr const char* BATCH_PARAMS[] = {"batch", "errors"};

constexpr Signature DECODE_SIGNATURE{"Tokenizer.decode", DECODE_PARAMS, 1};
constexpr Signature DECODE_BYTES_SIGNATURE{"Tokenizer.decode_bytes", IDS_PARAMS, 1};
constexpr Signature DECODE_SINGLE_TOKEN_BYTES_SIGNATURE{"Tokenizer.decode_single_token_bytes", ID_PARAMS, 1};
constexpr Signature DECODE_BATCH_SIGNATURE{"Tokenizer.decode_batch", BATCH_PARAMS, 1};

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// Every errors value other than "strict" and "ignore", compared byte for byte, means Replace.
enum class ErrorsMode { Strict, Replace, Ignore };

// An omitted `errors` is "replace"; any str is accepted.
bool to_errors_mode(PyObject* obj, ErrorsMode& out) {
    out = ErrorsMode::Replace;
    if (obj == nullptr) return true;
    std::string_view text;
    if (!to_text(obj, "errors", text)) return false;
    if (text == "strict") out = ErrorsMode::Strict;
    if (text == "ignore") out = ErrorsMode::Ignore;
    return true;
}

// ValueError naming the first fault of bytes that are not valid UTF-8.
void raise_invalid_utf8(const Utf8Fault& fault) {
    const size_t invalid_len = fault.error_len;
    if (invalid_len == 0) {
        PyErr_Format(PyExc_ValueError, "invalid utf-8 in decode: incomplete utf-8 byte sequence from index %zu",
                     fault.valid_up_to);
    } else {
        PyErr_Format(PyExc_ValueError, "invalid utf-8 in decode: invalid utf-8 sequence of %zu bytes from index %zu",
                     invalid_len, fault.valid_up_to);
    }
}

PyObject* str_from_utf8(std::string_view valid) {
    return PyUnicode_DecodeUTF8(valid.data(), Py_ssize_t(valid.size()), "strict");
}

// The text of decoded bytes under `mode`: a new str, or null with a Python error set.
PyObject* text_of(std::string_view bytes, ErrorsMode mode) {
    std::string converted;
    Utf8Fault fault{};
    bool valid = false;
    if (!guarded([&] {
            fault = utf8_check(bytes);
            valid = fault.valid_up_to == bytes.size();
            if (mode == ErrorsMode::Strict || (valid && mode == ErrorsMode::Replace)) return;
            // The valid prefix is kept as it is; only the rest needs substitution.
            converted.assign(bytes.substr(0, fault.valid_up_to));
            converted += utf8_lossy(bytes.substr(fault.valid_up_to));
            if (mode == ErrorsMode::Ignore) {
                // Also drops U+FFFD characters the bytes encoded themselves, as documented.
                std::string kept;
                kept.reserve(converted.size());
                size_t from = 0;
                for (size_t at; (at = converted.find(REPLACEMENT, from)) != std::string::npos;
                     from = at + REPLACEMENT.size()) {
                    kept.append(converted, from, at - from);
                }
                kept.append(converted, from);
                converted = std::move(kept);
            }
        }))
        return nullptr;
    if (mode == ErrorsMode::Strict && !valid) {
        raise_invalid_utf8(fault);
        return nullptr;
    }
    if (valid && mode != ErrorsMode::Ignore) return str_from_utf8(bytes);
    return str_from_utf8(converted);
}

// Tokenizer::decode with the interpreter lock released around it.
bool decode_without_gil(const Tokenizer& tok, const std::vector<uint32_t>& ids, std::string& bytes) {
    return guarded_without_gil([&] { bytes = tok.decode(ids); });
}

// The bytes of an ordinary or special id; none for an id that is neither.
std::optional<std::string_view> single_token_bytes(const Tokenizer& tok, uint32_t id) {
    if (id < tok.vocab.n_tokens) return tok.vocab.token(id);
    for (const Special& special : tok.specials) {
        if (special.id == id) return special.text;
    }
    return std::nullopt;
}

}  // namespace

PyObject* method_decode(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[2];
    if (!bind_fastcall(DECODE_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
    std::vector<uint32_t> ids;
    ErrorsMode mode;
    if (!to_id_vector(bound[0], "ids", ids) || !to_errors_mode(bound[1], mode)) return nullptr;
    std::string bytes;
    if (!decode_without_gil(core_of(self), ids, bytes)) return nullptr;
    return text_of(bytes, mode);
}

PyObject* method_decode_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[1];
    if (!bind_fastcall(DECODE_BYTES_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
    std::vector<uint32_t> ids;
    if (!to_id_vector(bound[0], "ids", ids)) return nullptr;
    std::string bytes;
    if (!decode_without_gil(core_of(self), ids, bytes)) return nullptr;
    return PyBytes_FromStringAndSize(bytes.data(), Py_ssize_t(bytes.size()));
}

PyObject* method_decode_single_token_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                           PyObject* kwnames) {
    PyObject* bound[1];
    if (!bind_fastcall(DECODE_SINGLE_TOKEN_BYTES_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
    uint32_t id = 0;
    if (!to_id(bound[0], "id", id)) return nullptr;
    // A lookup: the lock is kept.
    const std::optional<std::string_view> bytes = single_token_bytes(core_of(self), id);
    if (!bytes) {
        PyErr_Format(PyExc_KeyError, "unknown token id %lu", static_cast<unsigned long>(id));
        return nullptr;
    }
    return PyBytes_FromStringAndSize(bytes->data(), Py_ssize_t(bytes->size()));
}

PyObject* method_decode_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[2];
    if (!bind_fastcall(DECODE_BATCH_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
    std::vector<std::vector<uint32_t>> batch;
    ErrorsMode mode;
    if (!to_id_vector_list(bound[0], "batch", batch) || !to_errors_mode(bound[1], mode)) return nullptr;
    PyRef texts(PyList_New(Py_ssize_t(batch.size())));
    if (!texts) return nullptr;
    const Tokenizer& tok = core_of(self);
    std::string bytes;
    for (size_t i = 0; i < batch.size(); ++i) {
        // One release per element; the first strict failure ends the call.
        if (!decode_without_gil(tok, batch[i], bytes)) return nullptr;
        PyObject* text = text_of(bytes, mode);
        if (text == nullptr) return nullptr;
        PyList_SET_ITEM(texts.get(), Py_ssize_t(i), text);
    }
    return texts.release();
}

}  // namespace lexaro::py
