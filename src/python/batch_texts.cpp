#include "python/batch_texts.h"

#include "python/convert.h"

#include <new>

namespace lexaro::py {

namespace {

// Where one item's text lives: in the item itself (str, bytes), or in a held buffer to be copied.
struct ItemText {
    std::string_view text;
    bool from_buffer = false;
    bool copy = false;
};

bool item_text(PyObject* item, ItemText& out, std::vector<HeldBuffer>& buffers) {
    if (PyUnicode_Check(item)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);  // a lone surrogate raises here
        if (utf8 == nullptr) return false;
        out = {std::string_view(utf8, size_t(size)), false, false};
        return true;
    }
    if (PyBytes_Check(item)) {
        out = {std::string_view(PyBytes_AS_STRING(item), size_t(PyBytes_GET_SIZE(item))), true, false};
        return true;
    }
    if (!PyObject_CheckBuffer(item)) {
        raise_type_mismatch(item, "str");
        return false;
    }
    HeldBuffer held;
    if (PyObject_GetBuffer(item, &held.view, PyBUF_SIMPLE) != 0) return false;  // e.g. not contiguous
    held.held = true;
    out = {std::string_view(static_cast<const char*>(held.view.buf), size_t(held.view.len)), true, true};
    buffers.push_back(std::move(held));
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
    std::vector<HeldBuffer> buffers;
    std::vector<ItemText> items;
    const bool held = is_list_or_tuple(obj);  // else the length is only declared: items grow as they arrive
    if (!reserve_items(items, n, held) || !reserve_items(out.owners, n, held)) return false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyRef item(PySequence_GetItem(obj, i));
        if (!item) return false;
        items.emplace_back();
        if (!item_text(item.get(), items.back(), buffers)) return false;
        out.owners.push_back(std::move(item));
    }
    try {  // MemoryError here gets the parameter's note like any other failure of the conversion
        size_t copied = 0;
        for (const ItemText& it : items) copied += it.copy ? it.text.size() : 0;
        out.copies.reserve(copied);  // no reallocation below: the views into it stay valid
        out.views.reserve(items.size());
        out.from_buffer.reserve(items.size());
        for (const ItemText& it : items) {
            if (it.copy) {
                const size_t at = out.copies.size();
                out.copies.append(it.text);
                out.views.emplace_back(out.copies.data() + at, it.text.size());
            } else {
                out.views.push_back(it.text);
            }
            out.from_buffer.push_back(it.from_buffer);
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
    return true;
}

}  // namespace

bool to_batch_texts(PyObject* obj, const char* param, BatchTexts& out) {
    if (convert_batch_texts(obj, out)) return true;
    note_param(param);
    return false;
}

}  // namespace lexaro::py
