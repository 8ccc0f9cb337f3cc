// Owning references to Python objects and buffer exports.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <string_view>
#include <utility>

namespace lexaro::py {

// True once the interpreter has begun to shut down.
inline bool interpreter_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

// Owns one strong reference (or none) and drops it on scope exit.
// Must only be destroyed while the interpreter lock is held.
class PyRef {
public:
    PyRef() = default;
    explicit PyRef(PyObject* owned) : obj_(owned) {}  // takes over a new reference (may be null)
    static PyRef borrow(PyObject* obj) {
        Py_XINCREF(obj);
        return PyRef(obj);
    }

    PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(obj_);
            obj_ = std::exchange(other.obj_, nullptr);
        }
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() {
        // A thread that the exiting interpreter ends while it waits for the lock unwinds without
        // holding it: its references are left alone rather than dropped unlocked.
        if (obj_ != nullptr && !interpreter_finalizing()) Py_DECREF(obj_);
    }

    PyObject* get() const { return obj_; }
    PyObject* release() { return std::exchange(obj_, nullptr); }  // hands the reference to the caller
    explicit operator bool() const { return obj_ != nullptr; }

private:
    PyObject* obj_ = nullptr;
};

// A buffer export, released on every path out of its owner's scope once `held` is set. While it lasts, a
// bytearray cannot be resized under the view.
struct HeldBuffer {
    Py_buffer view{};
    bool held = false;

    HeldBuffer() = default;
    HeldBuffer(HeldBuffer&& o) noexcept : view(o.view), held(std::exchange(o.held, false)) {}
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    HeldBuffer& operator=(HeldBuffer&&) = delete;
    ~HeldBuffer() {
        if (held) PyBuffer_Release(&view);
    }
};

// New objects of the values the methods return; null with a Python error set.
inline PyObject* bytes_of(std::string_view b) { return PyBytes_FromStringAndSize(b.data(), Py_ssize_t(b.size())); }
inline PyObject* str_of(std::string_view utf8, const char* errors = "strict") {
    return PyUnicode_DecodeUTF8(utf8.data(), Py_ssize_t(utf8.size()), errors);
}

// A new 2-tuple that takes over `a` and `b` (new references; null when either is, with its error set).
inline PyObject* pair_of(PyObject* a, PyObject* b) {
    PyRef first(a), second(b);
    PyObject* pair = first && second ? PyTuple_New(2) : nullptr;
    if (pair == nullptr) return nullptr;
    PyTuple_SET_ITEM(pair, 0, first.release());
    PyTuple_SET_ITEM(pair, 1, second.release());
    return pair;
}

// A new list of `n` items, `item(i)` making the i-th (a new reference, or null with the error set).
template <class Item>
PyObject* list_of(size_t n, Item&& item) {
    PyRef list(PyList_New(Py_ssize_t(n)));
    if (!list) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        PyObject* value = item(i);
        if (value == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), Py_ssize_t(i), value);
    }
    return list.release();
}

}  // namespace lexaro::py
