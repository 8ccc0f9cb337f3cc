// Pickling and copying of the Tokenizer.
#include "python/pickle_methods.h"

#include "python/tokenizer_object.h"

#include <filesystem>
#include <system_error>

namespace lexaro::py {

std::string pickled_datadir(std::string_view datadir) {
    if (datadir.empty()) return {};
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(datadir), error);
    // Without a working directory the path stays as given: it was readable when the object was made.
    return error ? std::string(datadir) : absolute.string();
}

namespace {

PyObject* text_of(const std::string& text) {
    // "replace": a path is bytes on Linux; one that is not UTF-8 still pickles, lossily.
    return PyUnicode_DecodeUTF8(text.data(), Py_ssize_t(text.size()), "replace");
}

}  // namespace

PyObject* method_reduce(PyObject* self, PyObject*) {
    PyRef registry(PyImport_ImportModule("lexaro.registry"));
    if (!registry) return nullptr;
    PyRef load(PyObject_GetAttrString(registry.get(), "load_tokenizer"));
    if (!load) return nullptr;
    const PyTokenizer* tokenizer = reinterpret_cast<const PyTokenizer*>(self);
    PyRef name(text_of(tokenizer->core.name));
    if (!name) return nullptr;
    PyRef datadir(text_of(tokenizer->datadir));
    if (!datadir) return nullptr;
    return Py_BuildValue("(O(OO))", load.get(), name.get(), datadir.get());
}

PyObject* method_copy(PyObject* self, PyObject*) { return Py_NewRef(self); }

}  // namespace lexaro::py
