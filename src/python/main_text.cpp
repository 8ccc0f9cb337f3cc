#include "python/main_text.h"

#include "python/convert.h"

#include "core/utf8_units.h"

#include <new>
#include <utility>

namespace lexaro::py {

namespace {

// Reading the UTF-8 that the interpreter may already keep with a str needs its object layout, which is
// known for these versions (and not shared between threads without a lock).
#if PY_VERSION_HEX >= 0x030A0000 && PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
bool keeps_utf8(PyObject* obj) { return reinterpret_cast<PyCompactUnicodeObject*>(obj)->utf8 != nullptr; }
#else
bool keeps_utf8(PyObject*) { return false; }
#endif

// Whether an eighth or more of 256 characters spread evenly over the str are above ASCII.
bool mostly_ascii(const void* data, int kind, size_t n) {
    constexpr size_t SAMPLES = 256;
    size_t above = 0;
    for (size_t k = 0; k < SAMPLES; ++k) above += PyUnicode_READ(kind, data, k * (n / SAMPLES)) >= 0x80;
    return above < SAMPLES / 8;
}

// The str's characters as UTF-8 in out's buffer; false when it holds a surrogate, or turns out to need
// more than an eighth more bytes than characters (then the interpreter's conversion, about as fast for
// such text, is kept for the next call).
bool convert_here(PyObject* obj, MainText& out) {
    const size_t n = size_t(PyUnicode_GET_LENGTH(obj));
    const void* data = PyUnicode_DATA(obj);
    const int kind = PyUnicode_KIND(obj);
    if (!mostly_ascii(data, kind, n)) return false;
    const size_t max_bytes = n + n / 8;
    char* room = out.room(max_bytes + UNITS_OUT_SLACK);
    size_t len = NOT_CONVERTED;
    if (kind == PyUnicode_1BYTE_KIND)
        len = utf8_from_units(static_cast<const uint8_t*>(data), n, room, max_bytes);
    else if (kind == PyUnicode_2BYTE_KIND)
        len = utf8_from_units(static_cast<const uint16_t*>(data), n, room, max_bytes);
    else if (kind == PyUnicode_4BYTE_KIND)
        len = utf8_from_units(static_cast<const uint32_t*>(data), n, room, max_bytes);
    if (len == NOT_CONVERTED) return false;
    out.view = std::string_view(room, len);
    return true;
}

bool convert_main_text(PyObject* obj, MainText& out) {
    if (!PyUnicode_Check(obj)) {
        raise_type_mismatch(obj, "str");
        return false;
    }
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(obj) != 0) return false;
#endif
    if (!PyUnicode_IS_ASCII(obj) && size_t(PyUnicode_GET_LENGTH(obj)) >= OWN_CONVERSION_CHARS && !keeps_utf8(obj)) {
        try {
            if (convert_here(obj, out)) return true;
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return false;
        }
    }
    return to_text(obj, nullptr, out.view);
}

}  // namespace

MainText::~MainText() {
    if (room_.capacity == 0 || room_.capacity > SCRATCH_KEPT_BYTES) return;
    TextRoom& kept = text_room_scratch();  // made already, by room()
    if (room_.capacity > kept.capacity) kept = std::move(room_);
}

char* MainText::room(size_t bytes) {
    if (room_.capacity < bytes) {
        TextRoom& kept = text_room_scratch();
        if (kept.capacity >= bytes) {
            room_ = std::move(kept);
            kept.capacity = 0;
        } else {
            room_.bytes.reset(new char[bytes]);
            room_.capacity = bytes;
        }
    }
    return room_.bytes.get();
}

bool to_main_text(PyObject* obj, const char* param, MainText& out) {
    if (convert_main_text(obj, out)) return true;
    note_param(param);
    return false;
}

}  // namespace lexaro::py
