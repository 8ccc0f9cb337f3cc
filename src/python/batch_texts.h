// The texts of a batch: str items as their UTF-8 text, bytes-like items as their bytes. str and bytes
// objects are immutable and kept alive here, so their memory is read in place; the contents of any other
// buffer (bytearray, memoryview...) could change while the workers run, so they are copied first.
#pragma once
#include "python/pyref.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lexaro::py {

struct BatchTexts {
    std::vector<PyRef> owners;            // the items: they keep borrowed texts alive
    std::string copies;                   // the bytes of the mutable buffers, back to back
    std::vector<std::string_view> views;  // one per item, into an item or into `copies`
    std::vector<uint8_t> from_buffer;     // 1 where the item was bytes-like rather than str

    BatchTexts() = default;
    BatchTexts(const BatchTexts&) = delete;
    BatchTexts& operator=(const BatchTexts&) = delete;
};

// Any sequence except str; each item a str or an object with a contiguous buffer (bytes, bytearray,
// memoryview...). Bytes are taken as they are, whether UTF-8 or not. The errors are those of a
// sequence of str: TypeError "Can't extract `str` to `Vec`" for a str, and for an item of another
// kind "'<type>' object is not an instance of 'str'", with the note for `param`.
bool to_batch_texts(PyObject* obj, const char* param, BatchTexts& out);

}  // namespace lexaro::py
