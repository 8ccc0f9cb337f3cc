// Pickling and copying: a Tokenizer travels by encoding name and data directory, never by its tables.
#include "python/methods.h"
#include "python/tokenizer_object.h"

namespace lexaro::py {

PyObject* method_reduce(PyObject* self, PyObject*) {
    PyRef registry(PyImport_ImportModule("lexaro.registry"));
    if (!registry) return nullptr;
    PyRef load(PyObject_GetAttrString(registry.get(), "load_tokenizer"));
    if (!load) return nullptr;
    const PyTokenizer* tokenizer = reinterpret_cast<const PyTokenizer*>(self);
    // "replace": a path is bytes on Linux; one that is not UTF-8 still pickles, lossily.
    PyRef name(str_of(tokenizer->core.name, "replace"));
    if (!name) return nullptr;
    return Py_BuildValue("(O(ON))", load.get(), name.get(), str_of(tokenizer->datadir, "replace"));
}

PyObject* method_copy(PyObject* self, PyObject*) { return Py_NewRef(self); }

}  // namespace lexaro::py
