#include "python/fault.h"

namespace lexaro::py {

// Not a module attribute: the module exposes only Tokenizer, __version__ and
// BUILTIN_ENCODINGS. Created on the first module execution and kept for the process.
static PyObject* INTERNAL_ERROR = nullptr;

bool init_internal_error() {
    if (INTERNAL_ERROR != nullptr) return true;
    INTERNAL_ERROR = PyErr_NewExceptionWithDoc(
        "lexaro._lexaro.InternalError",
        "A fault inside the tokenizer core (a bug, never an expected outcome).",
        PyExc_BaseException, nullptr);
    return INTERNAL_ERROR != nullptr;
}

void raise_internal_error(const char* message) {
    PyErr_SetString(INTERNAL_ERROR != nullptr ? INTERNAL_ERROR : PyExc_SystemError, message);
}

}  // namespace lexaro::py
