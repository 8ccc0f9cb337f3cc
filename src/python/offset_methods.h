// encode_with_offsets: the ordinary encoding of a text with the span each token covers.
#pragma once
#include "python/pyref.h"

namespace lexaro::py {

// A method of the Tokenizer type, METH_FASTCALL | METH_KEYWORDS.
PyObject* method_encode_with_offsets(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace lexaro::py
