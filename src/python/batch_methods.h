// The batch methods of Tokenizer: many texts encoded, counted or truncated on worker threads.
#pragma once
#include "python/pyref.h"

namespace lexaro::py {

// Methods of the Tokenizer type, each METH_FASTCALL | METH_KEYWORDS.
PyObject* method_encode_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_encode_batch_to_numpy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_count_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_truncate_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace lexaro::py
