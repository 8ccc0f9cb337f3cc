// What belongs to one module object: the class and the internal-fault exception. Each interpreter that
// imports the module has its own.
#pragma once
#include "python/pyref.h"

namespace lexaro::py {

struct ModuleState {
    PyObject* tokenizer_type;  // strong references, dropped by the module's clear
    PyObject* internal_error;
};

inline ModuleState* state_of_module(PyObject* module) { return static_cast<ModuleState*>(PyModule_GetState(module)); }

// The state of the module that made `type` (the Tokenizer class). Never null for that class.
inline ModuleState* state_of_type(PyTypeObject* type) { return static_cast<ModuleState*>(PyType_GetModuleState(type)); }

}  // namespace lexaro::py
