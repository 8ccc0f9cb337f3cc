// The texts of a batch: str items as their UTF-8 text, bytes-like items as their bytes, all copied into
// one block while the interpreter lock is held, so that the workers read memory no Python code can reach.
#pragma once
#include "python/pyref.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lexaro::py {

struct BatchTexts {
    std::string bytes;                    // every text back to back: one allocation per batch
    std::vector<std::string_view> views;  // into `bytes`, one per text
    std::vector<uint8_t> from_buffer;     // 1 where the item was bytes-like rather than str
};

// Any sequence except str; each item a str or an object with a contiguous buffer (bytes, bytearray,
// memoryview...). Bytes are taken as they are, whether UTF-8 or not. The errors are those of a
// sequence of str: TypeError "Can't extract `str` to `Vec`" for a str, and for an item of another
// kind "'<type>' object is not an instance of 'str'", with the note for `param`.
bool to_batch_texts(PyObject* obj, const char* param, BatchTexts& out);

}  // namespace lexaro::py
