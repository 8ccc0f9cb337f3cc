// Introspection members: special_tokens, special_tokens_set, is_special_token, token_byte_values.
// All keep the interpreter lock and build new objects on every call.
#include "python/convert.h"
#include "python/methods.h"

#include <string_view>

namespace lexaro::py {

namespace {

PyObject* token_byte_values(const Tokenizer& tok, PyObject* const*, PyObject*) {
    return list_of(tok.vocab.n_tokens, [&](size_t id) { return bytes_of(tok.vocab.token(uint32_t(id))); });
}

PyObject* is_special_token(const Tokenizer& tok, PyObject* const* args, PyObject*) {
    uint32_t id = 0;
    if (!to_id(args[0], "id", id)) return nullptr;
    return PyBool_FromLong(tok.special_by_id(id) != nullptr);
}

// Special strings were checked to be UTF-8 when the tokenizer was built.
PyObject* special_tokens(const Tokenizer& tok, PyObject* const*, PyObject*) {
    return list_of(tok.specials.size(), [&](size_t k) {
        return pair_of(str_of(tok.specials[k].text), PyLong_FromUnsignedLong(tok.specials[k].id));
    });
}

constexpr Param ID[] = {{"id"}};

}  // namespace

PyObject* special_tokens_set(const Tokenizer& tok) {
    PyRef texts(list_of(tok.specials.size(), [&](size_t k) { return str_of(tok.specials[k].text); }));
    return texts ? PySet_New(texts.get()) : nullptr;
}

const Method TOKEN_BYTE_VALUES{
    {"token_byte_values", {}}, "All base-vocab token byte strings, indexed by id.", token_byte_values};
const Method IS_SPECIAL_TOKEN{{"is_special_token", ID}, "", is_special_token};
// Documented text kept word for word, though the method returns a list of (string, id) pairs, not a dict.
const Method SPECIAL_TOKENS{
    {"special_tokens", {}}, "`{special string: id}` \u2014 tiktoken's `_special_tokens`.", special_tokens};

}  // namespace lexaro::py
