// Converters from Python arguments to core values, one per kind of parameter.
//
// Each returns true on success, or false with a Python exception set. `param` is the
// parameter's name: a failure then gets the note "while processing '<param>'". Pass
// nullptr to convert without the note (for example for the items of a nested sequence,
// where the outer parameter adds it).
#pragma once
#include "python/pyref.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string_view>
#include <vector>

namespace lexaro::py {

// str -> its UTF-8 text, borrowed from the str object (valid while it lives).
// A lone surrogate raises the interpreter's UnicodeEncodeError.
bool to_text(PyObject* obj, const char* param, std::string_view& out);

// bytes (or a subclass) -> its contents, borrowed; bytearray and memoryview are refused.
bool to_bytes(PyObject* obj, const char* param, std::string_view& out);

// int (or an object with __index__) in 0 .. 2^32 - 1 -> token id.
bool to_id(PyObject* obj, const char* param, uint32_t& out);

// int (or an object with __index__) in 0 .. 2^64 - 1, for threads and max_tokens.
bool to_count(PyObject* obj, const char* param, uint64_t& out);

// True / False, or a numpy bool; everything else, 0 and 1 included, is refused.
bool to_flag(PyObject* obj, const char* param, bool& out);

// Any sequence except str, each item an id.
bool to_id_vector(PyObject* obj, const char* param, std::vector<uint32_t>& out);

// Any sequence except str, each item converted as by to_id_vector.
bool to_id_vector_list(PyObject* obj, const char* param, std::vector<std::vector<uint32_t>>& out);

// Bytes of memory the machine has; 0 when unknown.
uint64_t physical_memory();

inline bool is_list_or_tuple(PyObject* obj) { return PyList_CheckExact(obj) || PyTuple_CheckExact(obj); }

// Makes room for a sequence of `n` items of which `held` says whether they are really in memory
// (a list, a tuple, a buffer with a stride). A length the object merely declares (__len__, a
// zero-stride buffer) is not trusted: only a modest part is reserved, the rest grows as items arrive.
// A length whose items could never fit the machine's memory is refused with MemoryError, as list()
// does. False with the error set.
template <class T>
bool reserve_items(std::vector<T>& v, Py_ssize_t n, bool held) {
    constexpr Py_ssize_t declared_reserve = Py_ssize_t(1) << 16;
    const uint64_t limit = physical_memory();
    if (limit != 0 && uint64_t(n) > limit / sizeof(T)) {
        PyErr_NoMemory();
        return false;
    }
    try {
        v.reserve(size_t(held ? n : std::min(n, declared_reserve)));
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
    return true;
}

// TypeError "'<type>' object is not an instance of '<expected>'"
// (for None: "'None' is not an instance of '<expected>'").
void raise_type_mismatch(PyObject* obj, const char* expected);

// Adds "while processing '<param>'" to the current exception (Python 3.11+; a no-op
// before, and when param is null).
void note_param(const char* param);

// Result builder shared by the methods: unsigned values (ids, counts) as a new list of int.
template <class T>
PyObject* int_list(const std::vector<T>& values) {
    PyRef list(PyList_New(Py_ssize_t(values.size())));
    if (!list) return nullptr;
    for (size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyLong_FromUnsignedLongLong(values[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), Py_ssize_t(i), item);
    }
    return list.release();
}

inline PyObject* id_list(const std::vector<uint32_t>& ids) { return int_list(ids); }

}  // namespace lexaro::py
