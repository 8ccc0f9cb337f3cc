// encode_with_offsets in byte or code-point units.
#include "python/convert.h"
#include "python/fault.h"
#include "python/methods.h"

#include "core/token_spans.h"

#include <string_view>
#include <vector>

namespace lexaro::py {

namespace {

// (ends[k], ends[k + 1]) for each k, as a list of 2-tuples.
PyObject* span_list(const std::vector<uint64_t>& ends) {
    const size_t n = ends.size() - 1;
    PyRef list(PyList_New(Py_ssize_t(n)));
    if (!list) return nullptr;
    for (size_t k = 0; k < n; ++k) {
        PyRef start(PyLong_FromUnsignedLongLong(ends[k]));
        PyRef end(PyLong_FromUnsignedLongLong(ends[k + 1]));
        if (!start || !end) return nullptr;
        PyObject* span = PyTuple_Pack(2, start.get(), end.get());
        if (span == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), Py_ssize_t(k), span);
    }
    return list.release();
}

PyObject* encode_with_offsets(const Tokenizer& tok, PyObject* const* args) {
    std::string_view text;
    std::string_view unit = "byte";
    if (!to_text(args[0], "text", text)) return nullptr;
    if (args[1] != nullptr && !to_text(args[1], "unit", unit)) return nullptr;
    if (unit != "byte" && unit != "char") {
        PyErr_SetString(PyExc_ValueError, "unit must be 'byte' or 'char'");
        return nullptr;
    }
    // Refused before encoding: offsets of such a text would not fit the 32 bits they are served in.
    if (!spans_fit(text.size())) {
        PyErr_SetString(PyExc_ValueError, "text too long for encode_with_offsets (4 GiB or more)");
        return nullptr;
    }
    std::vector<uint32_t> ids;
    std::vector<uint64_t> ends;
    without_gil([&] {
        ids = tok.encode(text);
        ends = token_ends(tok.vocab, ids);
        if (unit == "char") byte_ends_to_chars(text, ends);
    });
    PyRef id_objects(id_list(ids));
    if (!id_objects) return nullptr;
    PyRef spans(span_list(ends));
    return spans ? PyTuple_Pack(2, id_objects.get(), spans.get()) : nullptr;
}

constexpr Param TEXT_UNIT[] = {{"text"}, {"unit", "\"byte\""}};

}  // namespace

const Method ENCODE_WITH_OFFSETS{{"encode_with_offsets", TEXT_UNIT},
                                 "Ordinary ids + per-token spans. `unit=\"byte\"` gives exact UTF-8 byte\n"
                                 "offsets (they tile the input); `unit=\"char\"` gives code-point offsets\n"
                                 "(HF `offset_mapping` shape).",
                                 encode_with_offsets};

}  // namespace lexaro::py
