// The Tokenizer class: construction, deallocation, repr, properties, the method table made from the
// method definitions, and its PyType_Spec.
#include "python/convert.h"
#include "python/fault.h"
#include "python/methods.h"
#include "python/module_state.h"

#include "core/fileio.h"

#include <new>
#include <optional>
#include <string>

namespace lexaro::py {

namespace {

constexpr Param NEW_PARAMS[] = {{"encoding"}, {"datadir", "\"\""}};
constexpr Signature NEW_SIGNATURE{"__new__", NEW_PARAMS};

PyObject* tokenizer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* bound[2];
    if (!bind_tuple(NEW_SIGNATURE, args, kwargs, bound)) return nullptr;
    std::string_view encoding;
    std::string_view datadir;  // empty: the built-in data set
    if (!to_text(bound[0], "encoding", encoding)) return nullptr;
    if (bound[1] != nullptr && !to_text(bound[1], "datadir", datadir)) return nullptr;

    // Building the tables takes a tenth of a second or more: other Python threads run meanwhile.
    std::optional<Expected<Tokenizer>> created;
    without_gil([&] { created.emplace(Tokenizer::create(encoding, datadir)); });
    if (!created->ok()) {
        // The core's message kept whole even if it holds a NUL byte (a datadir may, and the message shows it).
        PyRef message(str_of(created->error(), "replace"));
        if (message) PyErr_SetObject(PyExc_RuntimeError, message.get());
        return nullptr;
    }
    // What a pickle carries: absolute, so that a process with another working directory reads the same files.
    std::string kept_datadir = absolute_path(datadir);  // may allocate: done before the object exists
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&reinterpret_cast<PyTokenizer*>(self)->core) Tokenizer(std::move(created->value()));
    new (&reinterpret_cast<PyTokenizer*>(self)->datadir) std::string(std::move(kept_datadir));
    return self;
}

void tokenizer_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<PyTokenizer*>(self)->core.~Tokenizer();
    reinterpret_cast<PyTokenizer*>(self)->datadir.~basic_string();
    type->tp_free(self);
    Py_DECREF(type);  // instances of a heap type own a reference to it
}

PyObject* tokenizer_repr(PyObject* self) {
    const std::string text = "<lexaro.Tokenizer '" + core_of(self).name + "'>";
    return PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
}

// ---- properties ----

PyObject* get_name(PyObject* self, void*) { return str_of(core_of(self).name); }

PyObject* get_memory_bytes(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(core_of(self).footprint()); }

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

PyObject* get_special_tokens_set(PyObject* self, void*) { return special_tokens_set(core_of(self)); }

// In registration order.
PyGetSetDef TOKENIZER_PROPERTIES[] = {
    {"name", Entry<get_name>::call, nullptr, nullptr, nullptr},
    {"memory_bytes", Entry<get_memory_bytes>::call, nullptr, "Exact heap footprint of the loaded encoding, in bytes.",
     nullptr},
    {"n_vocab", Entry<get_n_vocab>::call, nullptr, nullptr, nullptr},
    {"max_token_value", Entry<get_max_token_value>::call, nullptr, nullptr, nullptr},
    {"eot_token", Entry<get_eot_token>::call, nullptr, nullptr, nullptr},
    {"special_tokens_set", Entry<get_special_tokens_set>::call, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- pickling and copying: a Tokenizer travels by encoding name and data directory, never by its tables ----

// (lexaro.registry.load_tokenizer, (name, datadir)): the reconstructor returns the receiving process's
// shared instance for a built-in encoding.
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

// ---- methods ----

// "name(receiver, a, b=default)": the text signature the interpreter reads from a docstring's first line.
std::string text_signature(const char* name, const char* receiver, const Signature& sig) {
    std::string text = std::string(name) + "(" + receiver;
    for (const Param& p : sig.params) {
        if (text.back() != '(') text += ", ";
        text += p.name;
        if (p.default_text != nullptr) text += std::string("=") + p.default_text;
    }
    return text + ")\n--\n\n";
}

template <const Method& M>
PyObject* call_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[MAX_PARAMS];
    if (!bind_fastcall(M.signature, args, nargs, kwnames, bound)) return nullptr;
    return M.impl(core_of(self), bound, self);
}

// The table entry of one method: its docstring is made once and kept for the process.
template <const Method& M>
PyMethodDef method_entry() {
    static const std::string doc = text_signature(M.signature.name, "$self", M.signature) + M.doc;
    // METH_FASTCALL | METH_KEYWORDS functions are stored in the table as PyCFunction.
    const auto function = reinterpret_cast<void (*)()>(&Entry<call_method<M>>::call);
    return {M.signature.name, reinterpret_cast<PyCFunction>(function), METH_FASTCALL | METH_KEYWORDS, doc.c_str()};
}

// The methods Ms in that order, then the pickling and copying methods. Made on the first use and kept for
// the process: the interpreter keeps pointers into it.
template <const Method&... Ms>
PyMethodDef* method_table() {
    static PyMethodDef table[] = {
        method_entry<Ms>()...,
        {"__reduce__", Entry<method_reduce>::call, METH_NOARGS, nullptr},
        {"__copy__", Entry<method_copy>::call, METH_NOARGS, nullptr},
        {"__deepcopy__", Entry<method_copy>::call, METH_O, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };
    return table;
}

// In registration order. The last method, special_tokens, comes behind the properties (see
// new_tokenizer_type()).
PyMethodDef* tokenizer_methods() {
    return method_table<ENCODE, ENCODE_ORDINARY, ENCODE_BYTES, ENCODE_WITH_SPECIAL, ENCODE_TO_BUFFER, ENCODE_TO_NUMPY,
                        ENCODE_BATCH_TO_NUMPY, ENCODE_WITH_OFFSETS, ENCODE_SINGLE_TOKEN, TRUNCATE, TRUNCATE_BATCH,
                        COUNT, ENCODE_BATCH, COUNT_BATCH, DECODE, DECODE_BYTES, DECODE_SINGLE_TOKEN_BYTES, DECODE_BATCH,
                        TOKEN_BYTE_VALUES, IS_SPECIAL_TOKEN>();
}

#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned long TOKENIZER_FLAGS = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned long TOKENIZER_FLAGS = Py_TPFLAGS_DEFAULT;
#endif

}  // namespace

PyObject* new_tokenizer_type(PyObject* module) {
    static const std::string class_doc = text_signature("Tokenizer", "", NEW_SIGNATURE);
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(class_doc.c_str())},
        {Py_tp_new, reinterpret_cast<void*>(Entry<tokenizer_new>::call)},
        {Py_tp_dealloc, reinterpret_cast<void*>(tokenizer_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(Entry<tokenizer_repr>::call)},
        {Py_tp_methods, tokenizer_methods()},
        {Py_tp_getset, TOKENIZER_PROPERTIES},
        {0, nullptr},
    };
    static PyType_Spec tokenizer_spec = {"lexaro._lexaro.Tokenizer", int(sizeof(PyTokenizer)), 0, TOKENIZER_FLAGS,
                                         slots};
    PyRef type(PyType_FromModuleAndSpec(module, &tokenizer_spec, nullptr));
    if (!type) return nullptr;
    // The interpreter puts every method of the table in the class __dict__ before the properties; the
    // class's documented order has its last method behind them, so that one is added afterwards.
    static PyMethodDef last_method = method_entry<SPECIAL_TOKENS>();
    PyTypeObject* tokenizer = reinterpret_cast<PyTypeObject*>(type.get());
    PyRef descriptor(PyDescr_NewMethod(tokenizer, &last_method));
    if (!descriptor || PyDict_SetItemString(tokenizer->tp_dict, last_method.ml_name, descriptor.get()) != 0)
        return nullptr;
    PyType_Modified(tokenizer);
    return type.release();
}

}  // namespace lexaro::py
