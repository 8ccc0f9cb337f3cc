// The decode methods of Tokenizer: ids back to bytes, or to text under an errors mode.
#pragma once
#include "python/pyref.h"

namespace lexaro::py {

// Methods of the Tokenizer type, each METH_FASTCALL | METH_KEYWORDS.
PyObject* method_decode(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_decode_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_decode_single_token_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                           PyObject* kwnames);
PyObject* method_decode_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace lexaro::py
