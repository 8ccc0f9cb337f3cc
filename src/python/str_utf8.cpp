#include "python/str_utf8.h"

#include "python/convert.h"

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

// Whether fewer than an eighth of 256 characters spread evenly over the str are above ASCII.
bool mostly_ascii(const void* data, int kind, size_t n) {
    constexpr size_t SAMPLES = 256;
    size_t above = 0;
    for (size_t k = 0; k < SAMPLES; ++k) above += PyUnicode_READ(kind, data, k * (n / SAMPLES)) >= 0x80;
    return above < SAMPLES / 8;
}

bool convert_main_text(PyObject* obj, MainText& out) {
    if (!PyUnicode_Check(obj)) {
        raise_type_mismatch(obj, "str");
        return false;
    }
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(obj) != 0) return false;
#endif
    if (const size_t bound = own_utf8_bound(obj)) {
        try {
            char* room = out.room(bound + UNITS_OUT_SLACK);
            if (const size_t len = own_utf8(obj, room, bound); len != NOT_CONVERTED) {
                out.view = std::string_view(room, len);
                return true;
            }
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return false;
        }
    }
    return to_text(obj, nullptr, out.view);
}

}  // namespace

// Beyond an eighth more bytes than characters, the interpreter's conversion is about as fast, and it keeps
// its result for the next call.
size_t own_utf8_bound(PyObject* str) {
    const size_t n = size_t(PyUnicode_GET_LENGTH(str));
    if (PyUnicode_IS_ASCII(str) || n < OWN_CONVERSION_CHARS || keeps_utf8(str)) return 0;
    if (!mostly_ascii(PyUnicode_DATA(str), PyUnicode_KIND(str), n)) return 0;
    return n + n / 8;
}

size_t own_utf8(PyObject* str, char* room, size_t bound) {
    const size_t n = size_t(PyUnicode_GET_LENGTH(str));
    const void* data = PyUnicode_DATA(str);
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_1BYTE_KIND:
            return utf8_from_units(static_cast<const uint8_t*>(data), n, room, bound);
        case PyUnicode_2BYTE_KIND:
            return utf8_from_units(static_cast<const uint16_t*>(data), n, room, bound);
        case PyUnicode_4BYTE_KIND:
            return utf8_from_units(static_cast<const uint32_t*>(data), n, room, bound);
        default:
            return NOT_CONVERTED;
    }
}

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
