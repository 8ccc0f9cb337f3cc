#include "python/batch_texts.h"

#include "python/convert.h"

#include <new>

namespace lexaro::py {

namespace {

bool item_text(PyObject* item, BatchItem& out, std::vector<HeldBuffer>& buffers) {
    if (PyUnicode_Check(item)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);  // a lone surrogate raises here
        if (utf8 == nullptr) return false;
        out.text = std::string_view(utf8, size_t(size));
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
    HeldBuffer& held = buffers.emplace_back();
    if (PyObject_GetBuffer(item, &held.view, PyBUF_SIMPLE) != 0) return false;  // e.g. not contiguous
    held.held = true;
    out = {std::string_view(static_cast<const char*>(held.view.buf), size_t(held.view.len)), true, true};
    return true;
}

bool convert_batch_texts(PyObject* obj, BatchTexts& out) {
    const Py_ssize_t n = sequence_length(obj);
    if (n < 0) return false;
    std::vector<HeldBuffer> buffers;
    std::vector<BatchItem> items;
    const bool held = is_list_or_tuple(obj);  // else the length is only declared: items grow as they arrive
    if (!reserve_for(items, n, held) || !reserve_for(out.owners, n, held)) return false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyRef item(PySequence_GetItem(obj, i));
        if (!item || !item_text(item.get(), items.emplace_back(), buffers)) return false;
        out.owners.push_back(std::move(item));
    }
    try {  // MemoryError here gets the parameter's note like any other failure of the conversion
        make_text_batch(items, out.batch);
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
