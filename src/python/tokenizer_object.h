// PyTokenizer: the Python Tokenizer object, a thin holder of one core Tokenizer.
#pragma once
#include "python/pyref.h"

#include "core/tokenizer.h"

#include <string>

namespace lexaro::py {

struct PyTokenizer {
    PyObject_HEAD Tokenizer core;  // constructed in place by tp_new, destroyed by tp_dealloc
    std::string datadir;           // absolute; "" for the built-in data (what a pickle carries besides the name)
};

inline const Tokenizer& core_of(PyObject* self) { return reinterpret_cast<PyTokenizer*>(self)->core; }

// The class object "lexaro._lexaro.Tokenizer" of `module`, a new reference, or null with a Python error set.
PyObject* new_tokenizer_type(PyObject* module);

}  // namespace lexaro::py
