// encode_with_offsets in byte or code-point units.
#include "python/convert.h"
#include "python/fault.h"
#include "python/methods.h"

#include "core/token_spans.h"

#include <string_view>
#include <vector>

namespace lexaro::py {

namespace {

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
    using u64 = unsigned long long;  // (ends[k], ends[k + 1]) for each token k
    PyObject* spans =
        list_of(ids.size(), [&](size_t k) { return Py_BuildValue("(KK)", u64(ends[k]), u64(ends[k + 1])); });
    return Py_BuildValue("(ON)", id_objects.get(), spans);
}

constexpr Param TEXT_UNIT[] = {{"text"}, {"unit", "\"byte\""}};

}  // namespace

const Method ENCODE_WITH_OFFSETS{{"encode_with_offsets", TEXT_UNIT},
                                 "Ordinary ids + per-token spans. `unit=\"byte\"` gives exact UTF-8 byte\n"
                                 "offsets (they tile the input); `unit=\"char\"` gives code-point offsets\n"
                                 "(HF `offset_mapping` shape).",
                                 encode_with_offsets};

}  // namespace lexaro::py
