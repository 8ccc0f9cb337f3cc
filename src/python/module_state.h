// What the module is made of: the state that belongs to one module object (the class, the internal-fault
// exception and the kept int objects of ids; each interpreter that imports the module has its own), and
// the Tokenizer object, a thin holder of one core Tokenizer.
#pragma once
#include "python/id_ints.h"
#include "python/pyref.h"

#include "core/tokenizer.h"

#include <string>

namespace lexaro::py {

struct ModuleState {
    PyObject* tokenizer_type;  // strong references, dropped by the module's clear
    PyObject* internal_error;
    IdInts id_ints;  // released by the module's clear
};

inline ModuleState* state_of_module(PyObject* module) { return static_cast<ModuleState*>(PyModule_GetState(module)); }

// The state of the module that made `type` (the Tokenizer class). Never null for that class.
inline ModuleState* state_of_type(PyTypeObject* type) { return static_cast<ModuleState*>(PyType_GetModuleState(type)); }

struct PyTokenizer {
    PyObject_HEAD Tokenizer core;  // constructed in place by tp_new, destroyed by tp_dealloc
    std::string datadir;           // absolute; "" for the built-in data (what a pickle carries besides the name)
};

inline const Tokenizer& core_of(PyObject* self) { return reinterpret_cast<PyTokenizer*>(self)->core; }

// The kept ints of the interpreter that made the Tokenizer `self`.
inline IdInts& id_ints_of(PyObject* self) { return state_of_type(Py_TYPE(self))->id_ints; }

// The class object "lexaro._lexaro.Tokenizer" of `module`, a new reference, or null with a Python error set.
PyObject* new_tokenizer_type(PyObject* module);

}  // namespace lexaro::py
