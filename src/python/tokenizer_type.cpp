// The Tokenizer class: construction, deallocation, repr, properties and the type spec.
#include "python/args.h"
#include "python/convert.h"
#include "python/fault.h"
#include "python/tokenizer_object.h"

#include <new>
#include <optional>
#include <string>
#include <utility>

namespace lexaro::py {

namespace {

constexpr const char* NEW_PARAMS[] = {"encoding", "datadir"};
constexpr Signature NEW_SIGNATURE{"Tokenizer.__new__", NEW_PARAMS, 1};

// RuntimeError with the core's message, kept whole even if it holds a NUL byte
// (a datadir may contain one and the message shows the path).
void raise_load_error(const std::string& message) {
    PyRef text(PyUnicode_DecodeUTF8(message.data(), Py_ssize_t(message.size()), "replace"));
    if (text) PyErr_SetObject(PyExc_RuntimeError, text.get());
}

PyObject* tokenizer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* bound[2];
    if (!bind_tuple(NEW_SIGNATURE, args, kwargs, bound)) return nullptr;
    std::string_view encoding;
    std::string_view datadir;  // empty: the built-in data set
    if (!to_text(bound[0], "encoding", encoding)) return nullptr;
    if (bound[1] != nullptr && !to_text(bound[1], "datadir", datadir)) return nullptr;

    // Construction runs once per object and keeps the interpreter lock throughout.
    std::optional<Expected<Tokenizer>> created;
    if (!guarded([&] { created.emplace(Tokenizer::create(encoding, datadir)); })) return nullptr;
    if (!created->ok()) {
        raise_load_error(created->error());
        return nullptr;
    }
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&reinterpret_cast<PyTokenizer*>(self)->core) Tokenizer(std::move(created->value()));
    return self;
}

void tokenizer_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<PyTokenizer*>(self)->core.~Tokenizer();
    type->tp_free(self);
    Py_DECREF(type);  // instances of a heap type own a reference to it
}

PyObject* tokenizer_repr(PyObject* self) {
    const std::string text = "<lexaro.Tokenizer '" + core_of(self).name + "'>";
    return PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
}

// ---- properties ----

PyObject* get_name(PyObject* self, void*) {
    const std::string& name = core_of(self).name;
    return PyUnicode_FromStringAndSize(name.data(), Py_ssize_t(name.size()));
}

PyObject* get_memory_bytes(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(core_of(self).footprint());
}

PyObject* get_n_vocab(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(core_of(self).n_vocab()); }

PyObject* get_max_token_value(PyObject* self, void*) {
    // n_vocab is at least 1 (a vocabulary has a token) and at most 2^32 (a special id of 0xFFFFFFFF).
    return PyLong_FromUnsignedLongLong(core_of(self).n_vocab() - 1);
}

PyObject* get_eot_token(PyObject* self, void*) {
    const std::optional<uint32_t> eot = core_of(self).eot_token();
    if (!eot) {
        PyErr_SetString(PyExc_KeyError, "this encoding has no <|endoftext|>");
        return nullptr;
    }
    return PyLong_FromUnsignedLong(*eot);
}

// In registration order.
PyGetSetDef TOKENIZER_PROPERTIES[] = {
    {"name", get_name, nullptr, nullptr, nullptr},
    {"memory_bytes", get_memory_bytes, nullptr, "Exact heap footprint of the loaded encoding, in bytes.", nullptr},
    {"n_vocab", get_n_vocab, nullptr, nullptr, nullptr},
    {"max_token_value", get_max_token_value, nullptr, nullptr, nullptr},
    {"eot_token", get_eot_token, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot TOKENIZER_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Tokenizer(encoding, datadir=\"\")\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(tokenizer_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(tokenizer_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(tokenizer_repr)},
    {Py_tp_getset, TOKENIZER_PROPERTIES},
    {0, nullptr},
};

#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned long TOKENIZER_FLAGS = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned long TOKENIZER_FLAGS = Py_TPFLAGS_DEFAULT;
#endif

PyType_Spec TOKENIZER_SPEC = {
    "lexaro._lexaro.Tokenizer",
    int(sizeof(PyTokenizer)),
    0,
    TOKENIZER_FLAGS,
    TOKENIZER_SLOTS,
};

// Created on the first module execution and reused by later ones.
PyObject* TOKENIZER_TYPE = nullptr;

}  // namespace

PyObject* tokenizer_type() {
    if (TOKENIZER_TYPE == nullptr) {
        TOKENIZER_TYPE = PyType_FromSpec(&TOKENIZER_SPEC);
        if (TOKENIZER_TYPE == nullptr) return nullptr;
    }
    Py_INCREF(TOKENIZER_TYPE);
    return TOKENIZER_TYPE;
}

}  // namespace lexaro::py
