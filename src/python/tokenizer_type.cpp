// The Tokenizer class: construction, deallocation, repr, properties and its PyType_Spec.
#include "python/args.h"
#include "python/batch_methods.h"
#include "python/convert.h"
#include "python/decode_methods.h"
#include "python/encode_methods.h"
#include "python/fault.h"
#include "python/listing_methods.h"
#include "python/offset_methods.h"
#include "python/pickle_methods.h"
#include "python/tokenizer_object.h"

#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
    std::string kept_datadir = pickled_datadir(datadir);  // may allocate: done before the object exists
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
    {"name", Entry<get_name>::call, nullptr, nullptr, nullptr},
    {"memory_bytes", Entry<get_memory_bytes>::call, nullptr, "Exact heap footprint of the loaded encoding, in bytes.", nullptr},
    {"n_vocab", Entry<get_n_vocab>::call, nullptr, nullptr, nullptr},
    {"max_token_value", Entry<get_max_token_value>::call, nullptr, nullptr, nullptr},
    {"eot_token", Entry<get_eot_token>::call, nullptr, nullptr, nullptr},
    {"special_tokens_set", Entry<get_special_tokens_set>::call, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- methods ----

// METH_FASTCALL | METH_KEYWORDS functions are stored in the table as PyCFunction; each is wrapped
// so that no C++ exception leaves it.
template <auto Method>
PyCFunction fastcall() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Entry<Method>::call));
}

constexpr int FASTCALL_KEYWORDS = METH_FASTCALL | METH_KEYWORDS;

// In registration order. Each docstring is the text signature, "\n--\n\n", then the doc text.
PyMethodDef TOKENIZER_METHODS[] = {
    {"encode", fastcall<method_encode>(), FASTCALL_KEYWORDS,
     "encode($self, text, allowed_special=None, disallowed_special=None)\n--\n\n"
     "tiktoken's `Encoding.encode`: raise if a disallowed special string occurs;\n"
     "otherwise encode, turning allowed specials into their ids."},
    {"encode_ordinary", fastcall<method_encode_ordinary>(), FASTCALL_KEYWORDS,
     "encode_ordinary($self, text)\n--\n\n"
     "Encode ignoring special tokens entirely (tiktoken's `encode_ordinary`)."},
    {"encode_bytes", fastcall<method_encode_bytes>(), FASTCALL_KEYWORDS,
     "encode_bytes($self, data)\n--\n\n"
     "Encode raw bytes (no UTF-8 validation)."},
    {"encode_with_special", fastcall<method_encode_with_special>(), FASTCALL_KEYWORDS,
     "encode_with_special($self, text)\n--\n\n"
     "Every special-token string is turned into its id."},
    {"encode_to_buffer", fastcall<method_encode_to_buffer>(), FASTCALL_KEYWORDS,
     "encode_to_buffer($self, text, allowed_special=None, disallowed_special=None)\n--\n\n"
     "Same as `encode`, but returns the ids as a little-endian uint32 buffer \u2014\n"
     "the Python wrapper turns it into a numpy array with no per-token Python\n"
     "int objects (the cost that otherwise dominates big inputs)."},
    {"encode_to_numpy", fastcall<method_encode_to_numpy>(), FASTCALL_KEYWORDS,
     "encode_to_numpy($self, text, allowed_special=None, disallowed_special=None)\n--\n\n"
     "Same as `encode`, but returns a numpy `uint32` array \u2014 the fastest path\n"
     "from Python: no per-token Python int objects, just one buffer."},
    {"encode_batch_to_numpy", fastcall<method_encode_batch_to_numpy>(), FASTCALL_KEYWORDS,
     "encode_batch_to_numpy($self, texts, threads=0, with_special=False)\n--\n\n"
     "Encode many texts in parallel into numpy arrays: `(ids, offsets)`, where\n"
     "text `i` occupies `ids[offsets[i]:offsets[i + 1]]`."},
    {"encode_with_offsets", fastcall<method_encode_with_offsets>(), FASTCALL_KEYWORDS,
     "encode_with_offsets($self, text, unit=\"byte\")\n--\n\n"
     "Ordinary ids + per-token spans. `unit=\"byte\"` gives exact UTF-8 byte\n"
     "offsets (they tile the input); `unit=\"char\"` gives code-point offsets\n"
     "(HF `offset_mapping` shape)."},
    {"encode_single_token", fastcall<method_encode_single_token>(), FASTCALL_KEYWORDS,
     "encode_single_token($self, piece)\n--\n\n"
     "Exact bytes/str of a SINGLE token -> its id."},
    {"truncate", fastcall<method_truncate>(), FASTCALL_KEYWORDS,
     "truncate($self, text, max_tokens)\n--\n\n"
     "Truncate to at most `max_tokens` tokens. Returns `(text, total_tokens)`,\n"
     "where `total_tokens` counts the whole input whether or not it was cut."},
    {"truncate_batch", fastcall<method_truncate_batch>(), FASTCALL_KEYWORDS,
     "truncate_batch($self, texts, max_tokens, threads=0)\n--\n\n"
     "`truncate` over many texts, in parallel."},
    {"count", fastcall<method_count>(), FASTCALL_KEYWORDS, "count($self, text)\n--\n\n"},
    {"encode_batch", fastcall<method_encode_batch>(), FASTCALL_KEYWORDS,
     "encode_batch($self, texts, threads=0, with_special=False)\n--\n\n"
     "Encode many texts in parallel. Returns (flat uint32 id buffer, per-text\n"
     "int64 offsets buffer with `len(texts)+1` entries)."},
    {"count_batch", fastcall<method_count_batch>(), FASTCALL_KEYWORDS,
     "count_batch($self, texts, threads=0, with_special=False)\n--\n\n"
     "Token counts for many texts, in parallel \u2014 no ids are materialized, so a\n"
     "counting workload allocates O(threads) instead of O(total tokens)."},
    {"decode", fastcall<method_decode>(), FASTCALL_KEYWORDS, "decode($self, ids, errors=\"replace\")\n--\n\n"},
    {"decode_bytes", fastcall<method_decode_bytes>(), FASTCALL_KEYWORDS, "decode_bytes($self, ids)\n--\n\n"},
    {"decode_single_token_bytes", fastcall<method_decode_single_token_bytes>(), FASTCALL_KEYWORDS,
     "decode_single_token_bytes($self, id)\n--\n\n"},
    {"decode_batch", fastcall<method_decode_batch>(), FASTCALL_KEYWORDS,
     "decode_batch($self, batch, errors=\"replace\")\n--\n\n"},
    {"token_byte_values", fastcall<method_token_byte_values>(), FASTCALL_KEYWORDS,
     "token_byte_values($self)\n--\n\n"
     "All base-vocab token byte strings, indexed by id."},
    {"is_special_token", fastcall<method_is_special_token>(), FASTCALL_KEYWORDS,
     "is_special_token($self, id)\n--\n\n"},
    // Moved behind the properties in the class __dict__ (see tokenizer_type()).
    {"special_tokens", fastcall<method_special_tokens>(), FASTCALL_KEYWORDS,
     "special_tokens($self)\n--\n\n"
     "`{special string: id}` \u2014 tiktoken's `_special_tokens`."},
    {"__reduce__", Entry<method_reduce>::call, METH_NOARGS, nullptr},
    {"__copy__", Entry<method_copy>::call, METH_NOARGS, nullptr},
    {"__deepcopy__", Entry<method_deepcopy>::call, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot TOKENIZER_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Tokenizer(encoding, datadir=\"\")\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(Entry<tokenizer_new>::call)},
    {Py_tp_dealloc, reinterpret_cast<void*>(tokenizer_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(Entry<tokenizer_repr>::call)},
    {Py_tp_methods, TOKENIZER_METHODS},
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

// Moves `key` of the class __dict__ to just after `anchor`, keeping the order of the other entries.
// CPython fills the dict with all methods before the properties; the class's documented order
// has the last method behind them.
bool move_after(PyObject* dict, const char* key, const char* anchor) {
    PyRef value = PyRef::borrow(PyDict_GetItemString(dict, key));
    if (!value) {
        PyErr_Format(PyExc_SystemError, "Tokenizer has no member %s", key);
        return false;
    }
    if (PyDict_DelItemString(dict, key) != 0) return false;
    PyRef keys(PyDict_Keys(dict));
    if (!keys) return false;
    // The entries after the anchor are taken out and put back behind the moved one.
    std::vector<std::pair<PyRef, PyRef>> tail;
    bool past_anchor = false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(keys.get()); ++i) {
        PyObject* name = PyList_GET_ITEM(keys.get(), i);
        if (past_anchor) tail.emplace_back(PyRef::borrow(name), PyRef::borrow(PyDict_GetItem(dict, name)));
        if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, anchor) == 0) past_anchor = true;
    }
    for (const auto& [name, item] : tail) {
        if (PyDict_DelItem(dict, name.get()) != 0) return false;
    }
    if (PyDict_SetItemString(dict, key, value.get()) != 0) return false;
    for (const auto& [name, item] : tail) {
        if (PyDict_SetItem(dict, name.get(), item.get()) != 0) return false;
    }
    return true;
}

// Created on the first module execution and reused by later ones.
PyObject* TOKENIZER_TYPE = nullptr;

}  // namespace

PyObject* tokenizer_type() {
    if (TOKENIZER_TYPE == nullptr) {
        TOKENIZER_TYPE = PyType_FromSpec(&TOKENIZER_SPEC);
        if (TOKENIZER_TYPE == nullptr) return nullptr;
        PyTypeObject* type = reinterpret_cast<PyTypeObject*>(TOKENIZER_TYPE);
        if (!move_after(type->tp_dict, "special_tokens", "special_tokens_set")) {
            Py_CLEAR(TOKENIZER_TYPE);
            return nullptr;
        }
        PyType_Modified(type);
    }
    Py_INCREF(TOKENIZER_TYPE);
    return TOKENIZER_TYPE;
}

}  // namespace lexaro::py
