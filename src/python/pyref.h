// Owning references to Python objects and a scoped release of the interpreter lock.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace lexaro::py {

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
    ~PyRef() { Py_XDECREF(obj_); }

    PyObject* get() const { return obj_; }
    PyObject* release() { return std::exchange(obj_, nullptr); }  // hands the reference to the caller
    explicit operator bool() const { return obj_ != nullptr; }

private:
    PyObject* obj_ = nullptr;
};

// Py_BEGIN_ALLOW_THREADS / Py_END_ALLOW_THREADS as a scope: every path out of the
// scope takes the lock back. Nothing inside the scope may touch a Python object.
class GilRelease {
public:
    GilRelease() : state_(PyEval_SaveThread()) {}
    ~GilRelease() { PyEval_RestoreThread(state_); }
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

private:
    PyThreadState* state_;
};

}  // namespace lexaro::py
