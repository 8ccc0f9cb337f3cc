// encode_with_offsets in byte or code-point units.
#include "python/offset_methods.h"

#include "python/args.h"
#include "python/convert.h"
#include "python/fault.h"
#include "python/token_spans.h"
#include "python/tokenizer_object.h"

#include <string_view>
#include <vector>

namespace lexaro::py {

namespace {

constexpr const char* OFFSETS_PARAMS[] = {"text", "unit"};
constexpr Signature ENCODE_WITH_OFFSETS_SIGNATURE{"Tokenizer.encode_with_offsets", OFFSETS_PARAMS, 1};

constexpr const char* BAD_UNIT_MESSAGE = "unit must be 'byte' or 'char'";
constexpr const char* TOO_LONG_MESSAGE = "text too long for encode_with_offsets (4 GiB or more)";

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

}  // namespace

PyObject* method_encode_with_offsets(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[2];
    if (!bind_fastcall(ENCODE_WITH_OFFSETS_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;
    std::string_view text;
    std::string_view unit = "byte";
    if (!to_text(bound[0], "text", text)) return nullptr;
    if (bound[1] != nullptr && !to_text(bound[1], "unit", unit)) return nullptr;
    if (unit != "byte" && unit != "char") {
        PyErr_SetString(PyExc_ValueError, BAD_UNIT_MESSAGE);
        return nullptr;
    }
    // Refused before encoding: offsets of such a text would not fit the 32 bits they are served in.
    if (!spans_fit(text.size())) {
        PyErr_SetString(PyExc_ValueError, TOO_LONG_MESSAGE);
        return nullptr;
    }
    const Tokenizer& tok = core_of(self);
    const bool in_chars = unit == "char";
    std::vector<uint32_t> ids;
    std::vector<uint64_t> ends;
    if (!guarded_without_gil([&] {
            ids = tok.encode(text);
            ends = token_ends(tok.vocab, ids);
            if (in_chars) byte_ends_to_chars(text, ends);
        }))
        return nullptr;
    PyRef id_objects(id_list(ids));
    if (!id_objects) return nullptr;
    PyRef spans(span_list(ends));
    if (!spans) return nullptr;
    return PyTuple_Pack(2, id_objects.get(), spans.get());
}

}  // namespace lexaro::py
