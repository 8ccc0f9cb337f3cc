// Introspection members: special_tokens, special_tokens_set, is_special_token, token_byte_values.
// All keep the interpreter lock and build new objects on every call.
#include "python/convert.h"
#include "python/methods.h"

#include <string_view>

namespace lexaro::py {

namespace {

// Special strings were checked to be UTF-8 when the tokenizer was built.
PyObject* str_of(std::string_view text) { return PyUnicode_DecodeUTF8(text.data(), Py_ssize_t(text.size()), "strict"); }

PyObject* token_byte_values(const Tokenizer& tok, PyObject* const*) {
    PyRef list(PyList_New(Py_ssize_t(tok.vocab.n_tokens)));
    if (!list) return nullptr;
    for (uint32_t id = 0; id < tok.vocab.n_tokens; ++id) {
        const std::string_view bytes = tok.vocab.token(id);
        PyObject* item = PyBytes_FromStringAndSize(bytes.data(), Py_ssize_t(bytes.size()));
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), Py_ssize_t(id), item);
    }
    return list.release();
}

PyObject* is_special_token(const Tokenizer& tok, PyObject* const* args) {
    uint32_t id = 0;
    if (!to_id(args[0], "id", id)) return nullptr;
    return PyBool_FromLong(tok.special_by_id(id) != nullptr);
}

PyObject* special_tokens(const Tokenizer& tok, PyObject* const*) {
    PyRef list(PyList_New(Py_ssize_t(tok.specials.size())));
    if (!list) return nullptr;
    for (size_t k = 0; k < tok.specials.size(); ++k) {
        PyRef text(str_of(tok.specials[k].text));
        PyRef id(PyLong_FromUnsignedLong(tok.specials[k].id));
        if (!text || !id) return nullptr;
        PyObject* pair = PyTuple_Pack(2, text.get(), id.get());
        if (pair == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), Py_ssize_t(k), pair);
    }
    return list.release();
}

constexpr Param ID[] = {{"id"}};

}  // namespace

PyObject* special_tokens_set(const Tokenizer& tok) {
    PyRef set(PySet_New(nullptr));
    if (!set) return nullptr;
    for (const Special& special : tok.specials) {
        PyRef text(str_of(special.text));
        if (!text || PySet_Add(set.get(), text.get()) != 0) return nullptr;
    }
    return set.release();
}

const Method TOKEN_BYTE_VALUES{
    {"token_byte_values", {}}, "All base-vocab token byte strings, indexed by id.", token_byte_values};
const Method IS_SPECIAL_TOKEN{{"is_special_token", ID}, "", is_special_token};
// The specified doc text, although the method returns a list of (string, id) pairs, not a dict.
const Method SPECIAL_TOKENS{
    {"special_tokens", {}}, "`{special string: id}` \u2014 tiktoken's `_special_tokens`.", special_tokens};

}  // namespace lexaro::py
