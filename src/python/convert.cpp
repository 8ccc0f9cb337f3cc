#include "python/convert.h"

#include "python/str_utf8.h"

#include <cstring>
#include <new>

#include "core/id_items.h"
#include "core/platform.h"

namespace lexaro::py {

namespace {

// The type's __name__: tp_name without its module prefix.
const char* short_type_name(PyObject* obj) {
    const char* name = Py_TYPE(obj)->tp_name;
    const char* dot = std::strrchr(name, '.');
    return dot != nullptr ? dot + 1 : name;
}

// numpy is never imported here: its bool scalar is recognised by type name
// ("numpy.bool" since numpy 2, "numpy.bool_" before).
bool is_numpy_bool(PyObject* obj) {
    const char* name = Py_TYPE(obj)->tp_name;
    return std::strcmp(name, "numpy.bool") == 0 || std::strcmp(name, "numpy.bool_") == 0;
}

// An int object for `obj`: itself, or the result of __index__ (kept alive in `holder`).
PyObject* as_int(PyObject* obj, PyRef& holder) {
    if (PyLong_Check(obj)) return obj;
    if (!PyIndex_Check(obj)) {
        raise_type_mismatch(obj, "int");
        return nullptr;
    }
    holder = PyRef(PyNumber_Index(obj));
    return holder.get();
}

bool convert_text(PyObject* obj, std::string_view& out) {
    if (!PyUnicode_Check(obj)) {
        raise_type_mismatch(obj, "str");
        return false;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);  // cached inside the str object
    if (utf8 == nullptr) return false;
    out = std::string_view(utf8, size_t(size));
    return true;
}

bool convert_id(PyObject* obj, uint32_t& out) {
    PyRef holder;
    PyObject* value = as_int(obj, holder);
    if (value == nullptr) return false;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow != 0) {
        // Beyond 64 bits: let the interpreter raise its own OverflowError.
        PyLong_AsLong(value);
        return false;
    }
    if (v == -1 && PyErr_Occurred()) return false;
    if (v < 0 || v > 0xFFFFFFFFll) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        return false;
    }
    out = uint32_t(v);
    return true;
}

bool convert_count(PyObject* obj, uint64_t& out) {
    PyRef holder;
    PyObject* value = as_int(obj, holder);
    if (value == nullptr) return false;
    const unsigned long long v = PyLong_AsUnsignedLongLong(value);  // OverflowError if negative or too large
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = uint64_t(v);
    return true;
}

bool convert_flag(PyObject* obj, bool& out) {
    if (obj == Py_True || obj == Py_False) {
        out = obj == Py_True;
        return true;
    }
    if (is_numpy_bool(obj)) {
        const int truth = PyObject_IsTrue(obj);
        if (truth < 0) return false;
        out = truth != 0;
        return true;
    }
    raise_type_mismatch(obj, "bool");
    return false;
}

// Ids straight from a one-dimensional buffer of native integers. Returns 1 when done, 0 when the
// object is no such buffer (nothing set), -1 with an error set.
int convert_id_buffer(PyObject* obj, std::vector<uint32_t>& out) {
    HeldBuffer held;
    if (!PyObject_CheckBuffer(obj)) return 0;
    if (PyObject_GetBuffer(obj, &held.view, PyBUF_FORMAT | PyBUF_STRIDES) != 0) {
        PyErr_Clear();
        return 0;
    }
    held.held = true;
    const Py_buffer& view = held.view;
    const char code = native_integer_code(view.format != nullptr ? view.format : "B");
    if (view.ndim != 1 || code == 0) return 0;
    out.clear();
    const bool in_memory = view.strides == nullptr || view.strides[0] != 0;  // a zero stride repeats one item
    if (!reserve_for(out, view.shape[0], in_memory)) return -1;
    const ItemFault fault =
        append_id_items(static_cast<const char*>(view.buf), view.strides != nullptr ? view.strides[0] : view.itemsize,
                        size_t(view.shape[0]), code, out);
    // the texts the interpreter's own conversion gives for such an item
    if (fault != ItemFault::None)
        PyErr_SetString(PyExc_OverflowError, fault == ItemFault::BeyondInt64
                                                 ? "Python int too large to convert to C long"
                                                 : "out of range integral type conversion attempted");
    return fault == ItemFault::None ? 1 : -1;
}

bool convert_id_vector(PyObject* obj, std::vector<uint32_t>& out) {
    const Py_ssize_t n = sequence_length(obj);
    if (n < 0) return false;
    if (const int done = convert_id_buffer(obj, out); done != 0) return done > 0;
    out.clear();
    if (!reserve_for(out, n, is_list_or_tuple(obj))) return false;
    if (is_list_or_tuple(obj)) {
        // Items read in place; the size is re-read every step, since an item's __index__ could change a list.
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(obj); ++i) {
            PyObject* item = PySequence_Fast_GET_ITEM(obj, i);
            uint32_t id = 0;
            if (PyLong_CheckExact(item)) {
                if (!convert_id(item, id)) return false;
            } else {
                PyRef keep(Py_NewRef(item));  // alive while its __index__ runs, which could drop it from the list
                if (!convert_id(keep.get(), id)) return false;
            }
            out.push_back(id);
        }
        return true;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyRef item(PySequence_GetItem(obj, i));
        uint32_t id = 0;
        if (!item || !convert_id(item.get(), id)) return false;
        out.push_back(id);
    }
    return true;
}

bool convert_id_vector_list(PyObject* obj, std::vector<std::vector<uint32_t>>& out) {
    const Py_ssize_t n = sequence_length(obj);
    if (n < 0) return false;
    out.clear();
    if (!reserve_for(out, n, is_list_or_tuple(obj))) return false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyRef item(PySequence_GetItem(obj, i));
        if (!item) return false;
        out.emplace_back();
        if (!convert_id_vector(item.get(), out.back())) return false;
    }
    return true;
}

bool item_text(PyObject* item, BatchItem& out, std::vector<HeldBuffer>& buffers,
               std::vector<std::unique_ptr<char[]>>& made) {
    if (PyUnicode_Check(item)) {
#if PY_VERSION_HEX < 0x030C0000
        if (PyUnicode_READY(item) != 0) return false;
#endif
        if (const size_t bound = own_utf8_bound(item)) {
            std::unique_ptr<char[]> room(new char[bound + UNITS_OUT_SLACK]);  // std::bad_alloc: see the caller
            if (const size_t len = own_utf8(item, room.get(), bound); len != NOT_CONVERTED) {
                out.text = std::string_view(room.get(), len);
                made.push_back(std::move(room));
                return true;
            }
        }
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
    try {  // MemoryError here gets the parameter's note like any other failure of the conversion
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyRef item(PySequence_GetItem(obj, i));
            if (!item || !item_text(item.get(), items.emplace_back(), buffers, out.utf8)) return false;
            out.owners.push_back(std::move(item));
        }
        make_text_batch(items, out.batch);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
    return true;
}

// Adds the note when a conversion failed; passes the verdict on.
bool noted(bool ok, const char* param) {
    if (!ok) note_param(param);
    return ok;
}

}  // namespace

Py_ssize_t sequence_length(PyObject* obj) {
    if (PyUnicode_Check(obj)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return -1;
    }
    if (!PySequence_Check(obj)) {
        raise_type_mismatch(obj, "Sequence");
        return -1;
    }
    return PySequence_Size(obj);
}

uint64_t physical_memory() {
    static const uint64_t bytes = physical_memory_bytes();
    return bytes;
}

void raise_type_mismatch(PyObject* obj, const char* expected) {
    if (obj == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
    } else {
        PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of '%s'", short_type_name(obj), expected);
    }
}

void note_param(const char* param) {
#if PY_VERSION_HEX >= 0x030B0000
    if (param == nullptr || !PyErr_Occurred()) return;
    // The exception is taken out while add_note runs and put back unchanged if that fails.
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* exc = PyErr_GetRaisedException();
#else
    PyObject *type = nullptr, *exc = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &exc, &traceback);
    PyErr_NormalizeException(&type, &exc, &traceback);
#endif
    PyRef note(PyUnicode_FromFormat("while processing '%s'", param));
    PyRef added(note ? PyObject_CallMethod(exc, "add_note", "O", note.get()) : nullptr);
    if (!added) PyErr_Clear();
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc);
#else
    PyErr_Restore(type, exc, traceback);
#endif
#else
    (void)param;
#endif
}

bool to_text(PyObject* obj, const char* param, std::string_view& out) { return noted(convert_text(obj, out), param); }

bool to_bytes(PyObject* obj, const char* param, std::string_view& out) {
    if (!PyBytes_Check(obj)) {
        raise_type_mismatch(obj, "bytes");
        note_param(param);
        return false;
    }
    out = std::string_view(PyBytes_AS_STRING(obj), size_t(PyBytes_GET_SIZE(obj)));
    return true;
}

bool to_id(PyObject* obj, const char* param, uint32_t& out) { return noted(convert_id(obj, out), param); }
bool to_count(PyObject* obj, const char* param, uint64_t& out) { return noted(convert_count(obj, out), param); }
bool to_flag(PyObject* obj, const char* param, bool& out) { return noted(convert_flag(obj, out), param); }
bool to_id_vector(PyObject* obj, const char* param, std::vector<uint32_t>& out) {
    return noted(convert_id_vector(obj, out), param);
}
bool to_id_vector_list(PyObject* obj, const char* param, std::vector<std::vector<uint32_t>>& out) {
    return noted(convert_id_vector_list(obj, out), param);
}

bool to_batch_texts(PyObject* obj, const char* param, BatchTexts& out) {
    return noted(convert_batch_texts(obj, out), param);
}

}  // namespace lexaro::py
