// Decode methods: decode with its errors modes, decode_bytes, decode_batch and the bytes of one token.
#include "python/convert.h"
#include "python/fault.h"
#include "python/methods.h"

#include "core/decode_text.h"

#include <string>
#include <string_view>
#include <vector>

namespace lexaro::py {

namespace {

// An omitted `errors` is "replace"; any str is accepted.
bool to_errors_mode(PyObject* obj, ErrorsMode& out) {
    std::string_view name;
    if (obj != nullptr && !to_text(obj, "errors", name)) return false;
    out = obj != nullptr ? errors_mode(name) : ErrorsMode::Replace;
    return true;
}

// The text of decoded bytes under `mode`: a new str, or null with a Python error set.
PyObject* text_of(std::string_view bytes, ErrorsMode mode) {
    const DecodedText decoded = decoded_text(bytes, mode);
    if (decoded.fault) {
        PyErr_SetString(PyExc_ValueError, strict_fault_message(*decoded.fault).c_str());
        return nullptr;
    }
    return str_of(decoded.as_is ? bytes : decoded.text);
}

std::string decoded_bytes(const Tokenizer& tok, const std::vector<uint32_t>& ids) {
    std::string bytes;
    without_gil([&] { bytes = tok.decode(ids); });
    return bytes;
}

PyObject* decode(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    std::vector<uint32_t> ids;
    ErrorsMode mode;
    if (!to_id_vector(args[0], "ids", ids) || !to_errors_mode(args[1], mode)) return nullptr;
    return text_of(decoded_bytes(tok, ids), mode);
}

PyObject* decode_bytes(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    std::vector<uint32_t> ids;
    if (!to_id_vector(args[0], "ids", ids)) return nullptr;
    return bytes_of(decoded_bytes(tok, ids));
}

PyObject* decode_single_token_bytes(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    uint32_t id = 0;
    if (!to_id(args[0], "id", id)) return nullptr;
    const std::optional<std::string_view> bytes = tok.token_bytes(id);  // a lookup: the lock is kept
    if (!bytes) {
        PyErr_Format(PyExc_KeyError, "unknown token id %lu", static_cast<unsigned long>(id));
        return nullptr;
    }
    return bytes_of(*bytes);
}

PyObject* decode_batch(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    std::vector<std::vector<uint32_t>> batch;
    ErrorsMode mode;
    if (!to_id_vector_list(args[0], "batch", batch) || !to_errors_mode(args[1], mode)) return nullptr;
    // One release per element; the first strict failure ends the call.
    return list_of(batch.size(), [&](size_t i) { return text_of(decoded_bytes(tok, batch[i]), mode); });
}

constexpr Param IDS_ERRORS[] = {{"ids"}, {"errors", "\"replace\""}};
constexpr Param IDS[] = {{"ids"}};
constexpr Param ID[] = {{"id"}};
constexpr Param BATCH_ERRORS[] = {{"batch"}, {"errors", "\"replace\""}};

}  // namespace

const Method DECODE{{"decode", IDS_ERRORS}, "", decode};
const Method DECODE_BYTES{{"decode_bytes", IDS}, "", decode_bytes};
const Method DECODE_SINGLE_TOKEN_BYTES{{"decode_single_token_bytes", ID}, "", decode_single_token_bytes};
const Method DECODE_BATCH{{"decode_batch", BATCH_ERRORS}, "", decode_batch};

}  // namespace lexaro::py
