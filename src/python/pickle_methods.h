// Pickling and copying: a Tokenizer travels by encoding name and data directory, never by its tables.
#pragma once
#include "python/pyref.h"

#include <string>
#include <string_view>

namespace lexaro::py {

// The data directory as a pickle carries it: absolute, so that a process with another working
// directory reads the same files; "" (the built-in data) stays "".
std::string pickled_datadir(std::string_view datadir);

// __reduce__ (METH_NOARGS): (lexaro.registry.load_tokenizer, (name, datadir)). The reconstructor
// returns the receiving process's shared instance for a built-in encoding.
PyObject* method_reduce(PyObject* self, PyObject* unused);
// __copy__ (METH_NOARGS) and __deepcopy__ (METH_O): the object itself, as it never changes.
PyObject* method_copy(PyObject* self, PyObject* unused);

}  // namespace lexaro::py
