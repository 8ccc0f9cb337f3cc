#include "python/batch_texts.h"

#include "python/convert.h"
#include "python/fault.h"

namespace lexaro::py {

namespace {

// A buffer export held until the texts are copied: while it lasts, a bytearray cannot be resized
// under the view, even by code that runs when a later item is fetched.
struct HeldBuffer {
    Py_buffer view{};
    bool held = false;

    HeldBuffer() = default;
    HeldBuffer(HeldBuffer&& o) noexcept : view(o.view), held(o.held) { o.held = false; }
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    HeldBuffer& operator=(HeldBuffer&&) = delete;
    ~HeldBuffer() {
        if (held) PyBuffer_Release(&view);
    }
};

// One item: its text borrowed from the str (kept alive by `owner`) or from the held buffer.
bool item_text(PyObject* item, std::string_view& text, std::vector<HeldBuffer>& buffers, bool& from_buffer) {
    from_buffer = false;
    if (PyUnicode_Check(item)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);  // a lone surrogate raises here
        if (utf8 == nullptr) return false;
        text = std::string_view(utf8, size_t(size));
        return true;
    }
    if (!PyObject_CheckBuffer(item)) {
        raise_type_mismatch(item, "str");
        return false;
    }
    HeldBuffer held;
    if (PyObject_GetBuffer(item, &held.view, PyBUF_SIMPLE) != 0) return false;  // e.g. not contiguous
    held.held = true;
    text = std::string_view(static_cast<const char*>(held.view.buf), size_t(held.view.len));
    buffers.push_back(std::move(held));
    from_buffer = true;
    return true;
}

bool convert_batch_texts(PyObject* obj, BatchTexts& out) {
    if (PyUnicode_Check(obj)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(obj)) {
        raise_type_mismatch(obj, "Sequence");
        return false;
    }
    const Py_ssize_t n = PySequence_Size(obj);
    if (n < 0) return false;
    std::vector<PyRef> owners;
    std::vector<HeldBuffer> buffers;
    std::vector<std::string_view> texts;
    owners.reserve(size_t(n));
    texts.reserve(size_t(n));
    out.from_buffer.assign(size_t(n), 0);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyRef item(PySequence_GetItem(obj, i));
        if (!item) return false;
        std::string_view text;
        bool from_buffer = false;
        if (!item_text(item.get(), text, buffers, from_buffer)) return false;
        out.from_buffer[size_t(i)] = from_buffer;
        owners.push_back(std::move(item));
        texts.push_back(text);
    }
    return guarded([&] {
        size_t total = 0;
        for (std::string_view t : texts) total += t.size();
        out.bytes.clear();
        out.bytes.reserve(total);
        for (std::string_view t : texts) out.bytes.append(t);
        out.views.clear();
        out.views.reserve(texts.size());
        size_t at = 0;
        for (std::string_view t : texts) {
            out.views.emplace_back(out.bytes.data() + at, t.size());
            at += t.size();
        }
    });
}

}  // namespace

bool to_batch_texts(PyObject* obj, const char* param, BatchTexts& out) {
    if (convert_batch_texts(obj, out)) return true;
    note_param(param);
    return false;
}

}  // namespace lexaro::py
