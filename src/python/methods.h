// The methods of the Tokenizer class, each defined once beside its implementation: its name, parameters
// and doc text. The method table, the text signatures in the docstrings and the binding of arguments to
// parameters are all made from these definitions (tokenizer_type.cpp).
#pragma once
#include "python/args.h"

#include "core/tokenizer.h"

namespace lexaro::py {

struct Method {
    Signature signature;
    const char* doc;  // the doc text after the text signature; "" for none
    // `args` has one slot per parameter, a borrowed reference or null for an omitted optional one; `self`
    // is the Tokenizer object. Returns a new reference, or null with a Python error set; may throw (see
    // fault.h).
    PyObject* (*impl)(const Tokenizer& tok, PyObject* const* args, PyObject* self);
};

// encode_methods.cpp
extern const Method ENCODE, ENCODE_ORDINARY, ENCODE_BYTES, ENCODE_WITH_SPECIAL, ENCODE_TO_BUFFER, ENCODE_TO_NUMPY,
    ENCODE_WITH_OFFSETS, ENCODE_SINGLE_TOKEN, TRUNCATE, COUNT;
// batch_methods.cpp
extern const Method ENCODE_BATCH_TO_NUMPY, TRUNCATE_BATCH, ENCODE_BATCH, COUNT_BATCH;
// decode_methods.cpp
extern const Method DECODE, DECODE_BYTES, DECODE_SINGLE_TOKEN_BYTES, DECODE_BATCH;
// listing_methods.cpp
extern const Method TOKEN_BYTE_VALUES, IS_SPECIAL_TOKEN, SPECIAL_TOKENS;
// The value of the property special_tokens_set.
PyObject* special_tokens_set(const Tokenizer& tok);

// numpy.frombuffer(buffer, dtype) with numpy imported on demand. Without numpy: RuntimeError
// "the numpy methods need numpy installed: pip install 'lexaro-rs[numpy]'". Returns a new
// reference (the array keeps `buffer` alive as its base), or null with a Python error set.
PyObject* frombuffer(PyObject* buffer, const char* dtype);

}  // namespace lexaro::py
