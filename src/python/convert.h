// Converters from Python arguments to core values, one per kind of parameter.
//
// Each returns true on success, or false with a Python exception set. `param` is the
// parameter's name: a failure then gets the note "while processing '<param>'". Pass
// nullptr to convert without the note (for example for the items of a nested sequence,
// where the outer parameter adds it).
#pragma once
#include "python/pyref.h"

#include "core/text_batch.h"

#include <cstdint>
#include <memory>
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

// The texts of a batch: str items as their UTF-8 text, bytes-like items as their bytes, read in place where
// the memory cannot change (str, bytes: kept alive here) and copied otherwise.
struct BatchTexts {
    std::vector<PyRef> owners;                  // the items: they keep the views into them alive
    std::vector<std::unique_ptr<char[]>> utf8;  // the UTF-8 of long wide str items, made here (str_utf8.h)
    TextBatch batch;
};

// Any sequence except str; each item a str or an object with a contiguous buffer (bytes, bytearray,
// memoryview...). Bytes are taken as they are, whether UTF-8 or not. The errors are those of a sequence of
// str: "Can't extract `str` to `Vec`" for a str, "'<type>' object is not an instance of 'str'" for an item.
bool to_batch_texts(PyObject* obj, const char* param, BatchTexts& out);

// The length of a sequence argument (any sequence except str), or -1 with the error set: TypeError
// "Can't extract `str` to `Vec`" for a str, "'<type>' object is not an instance of 'Sequence'" for others.
Py_ssize_t sequence_length(PyObject* obj);

inline bool is_list_or_tuple(PyObject* obj) { return PyList_CheckExact(obj) || PyTuple_CheckExact(obj); }

// Bytes of memory the machine has; 0 when unknown.
uint64_t physical_memory();

// reserve_items (core/text_batch.h) for `n` (>= 0) items against the machine's memory. A length whose
// items could never fit is refused with MemoryError, as list() does. False with the error set.
template <class T>
bool reserve_for(std::vector<T>& v, Py_ssize_t n, bool held) {
    if (reserve_items(v, uint64_t(n), held, physical_memory())) return true;
    PyErr_NoMemory();
    return false;
}

// TypeError "'<type>' object is not an instance of '<expected>'"
// (for None: "'None' is not an instance of '<expected>'").
void raise_type_mismatch(PyObject* obj, const char* expected);

// Adds "while processing '<param>'" to the current exception (Python 3.11+; a no-op
// before, and when param is null).
void note_param(const char* param);

// Result builder: unsigned values (counts) as a new list of int.
template <class T>
PyObject* int_list(const std::vector<T>& values) {
    return list_of(values.size(), [&](size_t i) { return PyLong_FromUnsignedLongLong(values[i]); });
}

}  // namespace lexaro::py
