// Introspection members: special_tokens, special_tokens_set, is_special_token, token_byte_values.
// All keep the interpreter lock and build new objects on every call.
#include "python/listing_methods.h"

#include "python/args.h"
#include "python/convert.h"
#include "python/tokenizer_object.h"

#include <string_view>

namespace lexaro::py {

namespace {

constexpr const char* ID_PARAMS[] = {"id"};

constexpr Signature TOKEN_BYTE_VALUES_SIGNATURE{"Tokenizer.token_byte_values", {}, 0};
constexpr Signature IS_SPECIAL_TOKEN_SIGNATURE{"Tokenizer.is_special_token", ID_PARAMS, 1};
constexpr Signature SPECIAL_TOKENS_SIGNATURE{"Tokenizer.special_tokens", {}, 0};

// Special strings were checked to be UTF-8 when the tokenizer was built.
PyObject* str_of(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), Py_ssize_t(text.size()), "strict");
}

}  // namespace

PyObject* method_token_byte_values(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!bind_fastcall(TOKEN_BYTE_VALUES_SIGNATURE, args, nargs, kwnames, nullptr)) return nullptr;
    const Vocab& vocab = core_of(self).vocab;
    PyRef list(PyList_New(Py_ssize_t(vocab.n_tokens)));
    if (!list) return nullptr;
    for (uint32_t id = 0; id < vocab.n_tokens; ++id) {
        const std::string_view bytes = vocab.token(id);
        PyObject* item = PyBytes_FromStringAndSize(bytes.data(), Py_ssize_t(bytes.size()));
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), Py_ssize_t(id), item);
    }
    return list.release();
}

PyObject* method_is_special_token(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[1];
    if (!bind_fastcall(IS_SPECIAL_TOKEN_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
    uint32_t id = 0;
    if (!to_id(bound[0], "id", id)) return nullptr;
    for (const Special& special : core_of(self).specials) {
        if (special.id == id) Py_RETURN_TRUE;
    }
    Py_RETURN_FALSE;
}

PyObject* method_special_tokens(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!bind_fastcall(SPECIAL_TOKENS_SIGNATURE, args, nargs, kwnames, nullptr)) return nullptr;
    const std::vector<Special>& specials = core_of(self).specials;
    PyRef list(PyList_New(Py_ssize_t(specials.size())));
    if (!list) return nullptr;
    for (size_t k = 0; k < specials.size(); ++k) {
        PyRef text(str_of(specials[k].text));
        PyRef id(PyLong_FromUnsignedLong(specials[k].id));
        if (!text || !id) return nullptr;
        PyObject* pair = PyTuple_Pack(2, text.get(), id.get());
        if (pair == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), Py_ssize_t(k), pair);
    }
    return list.release();
}

PyObject* get_special_tokens_set(PyObject* self, void*) {
    PyRef set(PySet_New(nullptr));
    if (!set) return nullptr;
    for (const Special& special : core_of(self).specials) {
        PyRef text(str_of(special.text));
        if (!text || PySet_Add(set.get(), text.get()) != 0) return nullptr;
    }
    return set.release();
}

}  // namespace lexaro::py
