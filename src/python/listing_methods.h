// Introspection of the loaded encoding: its special tokens and its ordinary token byte strings.
#pragma once
#include "python/pyref.h"

namespace lexaro::py {

// Methods of the Tokenizer type, each METH_FASTCALL | METH_KEYWORDS.
PyObject* method_token_byte_values(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_is_special_token(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_special_tokens(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Getter of the property special_tokens_set.
PyObject* get_special_tokens_set(PyObject* self, void* closure);

}  // namespace lexaro::py
