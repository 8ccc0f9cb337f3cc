// The texts of a batch argument: str items as their UTF-8 text, bytes-like items as their bytes, read in
// place where the memory cannot change (str, bytes: kept alive here) and copied otherwise.
#pragma once
#include "python/pyref.h"

#include "core/text_batch.h"

#include <vector>

namespace lexaro::py {

struct BatchTexts {
    std::vector<PyRef> owners;  // the items: they keep the views into them alive
    TextBatch batch;
};

// Any sequence except str; each item a str or an object with a contiguous buffer (bytes, bytearray,
// memoryview...). Bytes are taken as they are, whether UTF-8 or not. The errors are those of a
// sequence of str: TypeError "Can't extract `str` to `Vec`" for a str, and for an item of another
// kind "'<type>' object is not an instance of 'str'", with the note for `param`.
bool to_batch_texts(PyObject* obj, const char* param, BatchTexts& out);

}  // namespace lexaro::py
