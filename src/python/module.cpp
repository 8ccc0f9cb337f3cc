// The extension module _lexaro: two-phase initialisation with one execution step.
#include "python/fault.h"
#include "python/tokenizer_object.h"

namespace lexaro::py {

namespace {

constexpr const char* VERSION = "0.1.4";

// Adds `value` (a new reference, null on failure) as attribute `name`.
bool add_attribute(PyObject* module, const char* name, PyObject* value) {
    PyRef owned(value);
    return owned && PyObject_SetAttrString(module, name, owned.get()) == 0;
}

PyObject* builtin_encodings() {
    PyRef list(PyList_New(0));
    if (!list) return nullptr;
    for (std::string_view name : BUILTIN_NAMES) {
        PyRef item(PyUnicode_FromStringAndSize(name.data(), Py_ssize_t(name.size())));
        if (!item || PyList_Append(list.get(), item.get()) != 0) return nullptr;
    }
    return list.release();
}

int lexaro_exec(PyObject* module) {
    if (!init_internal_error()) return -1;
    if (!add_attribute(module, "Tokenizer", tokenizer_type())) return -1;
    if (!add_attribute(module, "__version__", PyUnicode_FromString(VERSION))) return -1;
    if (!add_attribute(module, "BUILTIN_ENCODINGS", builtin_encodings())) return -1;
    return 0;
}

PyModuleDef_Slot LEXARO_SLOTS[] = {
    {Py_mod_exec, reinterpret_cast<void*>(Entry<lexaro_exec>::call)},
    {0, nullptr},
};

PyModuleDef LEXARO_MODULE = {
    PyModuleDef_HEAD_INIT,
    "_lexaro",
    "",       // empty docstring
    0,        // no per-module state
    nullptr,  // no module-level functions
    LEXARO_SLOTS,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace lexaro::py

PyMODINIT_FUNC PyInit__lexaro() { return PyModuleDef_Init(&lexaro::py::LEXARO_MODULE); }
