// The single-text encode methods of Tokenizer and the special-token policy of `encode`.
#pragma once
#include "python/pyref.h"

namespace lexaro::py {

// Methods of the Tokenizer type, each METH_FASTCALL | METH_KEYWORDS.
PyObject* method_encode(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_encode_ordinary(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_encode_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_encode_with_special(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_encode_to_buffer(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_encode_to_numpy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_encode_single_token(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_truncate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// numpy.frombuffer(buffer, dtype) with numpy imported on demand. Without numpy: RuntimeError
// "the numpy methods need numpy installed: pip install 'lexaro-rs[numpy]'". Returns a new
// reference (the array keeps `buffer` alive as its base), or null with a Python error set.
PyObject* frombuffer(PyObject* buffer, const char* dtype);

}  // namespace lexaro::py
