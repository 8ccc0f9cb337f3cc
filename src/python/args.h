// Binding of call arguments to parameters, with the interpreter's wording for bad calls.
#pragma once
#include "python/pyref.h"

#include <cstddef>
#include <span>

namespace lexaro::py {

// One parameter as a text signature shows it: its name and the text of its default (null: required).
// Every parameter may be given by position or by keyword; the required ones come first.
struct Param {
    const char* name;
    const char* default_text = nullptr;
};

// A callable of the Tokenizer class, receiver (self or cls) excluded.
struct Signature {
    const char* name;  // shown in messages as "Tokenizer.<name>()"
    std::span<const Param> params;
};

// The most parameters a method has.
inline constexpr size_t MAX_PARAMS = 4;

// Binds a METH_FASTCALL | METH_KEYWORDS call. `out` has one slot per parameter and receives borrowed
// references; slots of omitted optional parameters are null. On a bad call raises TypeError worded as for
// a Python function with these parameters plus the receiver, e.g.
//   "Tokenizer.encode() missing 1 required positional argument: 'text'"
//   "Tokenizer.encode() takes from 2 to 4 positional arguments but 5 were given"
//   "Tokenizer.encode() got an unexpected keyword argument 'x'"
//   "Tokenizer.encode() got multiple values for argument 'text'"
bool bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);

// The same for a tuple of positional arguments and a keyword dict (null when absent), as tp_new receives them.
bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

}  // namespace lexaro::py
