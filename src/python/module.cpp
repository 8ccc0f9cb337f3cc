// The extension module _lexaro: two-phase initialisation with one execution step, and the module state
// (the class and the internal-fault exception) that each interpreter importing it gets its own of.
#include "python/module_state.h"

#include <iterator>

namespace lexaro::py {

namespace {

// Set by the build from the project's version in pyproject.toml.
constexpr const char* VERSION = LEXARO_VERSION;

// Adds `value` (a new reference, null on failure) as attribute `name`.
bool add_attribute(PyObject* module, const char* name, PyObject* value) {
    PyRef owned(value);
    return owned && PyObject_SetAttrString(module, name, owned.get()) == 0;
}

PyObject* builtin_encodings() {
    return list_of(std::size(BUILTIN_NAMES), [](size_t i) { return str_of(BUILTIN_NAMES[i]); });
}

// Calls only the C API (nothing here throws), so it needs no C++ exception guard.
int lexaro_exec(PyObject* module) {
    ModuleState* state = state_of_module(module);
    // Not a module attribute: the module exposes only Tokenizer, __version__ and BUILTIN_ENCODINGS.
    state->internal_error = PyErr_NewExceptionWithDoc(
        "lexaro._lexaro.InternalError", "A fault inside the tokenizer core (a bug, never an expected outcome).",
        PyExc_BaseException, nullptr);
    if (state->internal_error == nullptr) return -1;
    state->tokenizer_type = new_tokenizer_type(module);
    if (state->tokenizer_type == nullptr) return -1;
    if (!add_attribute(module, "Tokenizer", Py_NewRef(state->tokenizer_type))) return -1;
    if (!add_attribute(module, "__version__", PyUnicode_FromString(VERSION))) return -1;
    if (!add_attribute(module, "BUILTIN_ENCODINGS", builtin_encodings())) return -1;
    return 0;
}

int lexaro_traverse(PyObject* module, visitproc visit, void* arg) {
    const ModuleState* state = state_of_module(module);
    Py_VISIT(state->tokenizer_type);
    Py_VISIT(state->internal_error);
    return 0;
}

int lexaro_clear(PyObject* module) {
    ModuleState* state = state_of_module(module);
    Py_CLEAR(state->tokenizer_type);
    Py_CLEAR(state->internal_error);
    close_id_ints(state->id_ints);
    return 0;
}

void lexaro_free(void* module) { lexaro_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot LEXARO_SLOTS[] = {
    {Py_mod_exec, reinterpret_cast<void*>(lexaro_exec)},
#ifdef Py_mod_multiple_interpreters
    // No Python object is shared between module objects, and the core's process-wide state (the cache
    // pool, its byte budget, the tokenizer ids) is guarded for threads that run at the same time anyway.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef LEXARO_MODULE = {
    PyModuleDef_HEAD_INIT,
    "_lexaro",
    "",  // empty docstring
    sizeof(ModuleState),
    nullptr,  // no module-level functions
    LEXARO_SLOTS,
    lexaro_traverse,
    lexaro_clear,
    lexaro_free,
};

}  // namespace

}  // namespace lexaro::py

PyMODINIT_FUNC PyInit__lexaro() { return PyModuleDef_Init(&lexaro::py::LEXARO_MODULE); }
