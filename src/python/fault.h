// C++ exceptions become Python exceptions instead of crossing into the interpreter.
//
// An allocation failure is MemoryError; any other exception escaping the core is the internal-fault
// exception. One exception is let through untouched: the forced unwind (abi::__forced_unwind) with
// which the interpreter ends a thread that tries to take the lock back while the process exits. It
// must reach the thread's start routine, so none of these functions is noexcept, and each rethrows it.
#pragma once
#include "python/pyref.h"

#include <cxxabi.h>

#include <exception>
#include <new>
#include <string>
#include <type_traits>

namespace lexaro::py {

// Creates the internal-fault exception type once per process (it derives from
// BaseException, so `except Exception` does not swallow a fault). Returns false
// with a Python error set if the type cannot be created.
bool init_internal_error();

// Raises the internal-fault exception with `message`. Needs the interpreter lock.
void raise_internal_error(const char* message);

// What a caught exception becomes once the interpreter lock is held.
struct Fault {
    enum Kind { None, NoMemory, Internal } kind = None;
    std::string message;  // for Internal

    void raise() const {
        if (kind == NoMemory) PyErr_NoMemory();
        if (kind == Internal) raise_internal_error(message.c_str());
    }
};

// Classifies the exception being handled; call only inside a catch block that does not catch the
// forced unwind. Allocates nothing for an allocation failure.
inline Fault current_fault() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return {Fault::NoMemory, {}};
    } catch (const std::exception& e) {
        try {
            return {Fault::Internal, e.what()};
        } catch (const std::bad_alloc&) {
            return {Fault::NoMemory, {}};
        }
    } catch (...) {
        return {Fault::Internal, "unknown internal fault"};
    }
}

// Runs `work` with the interpreter lock held. A C++ exception escaping it becomes a Python
// exception; returns false exactly when a Python error is set.
template <class Work>
bool guarded(Work&& work) {
    try {
        work();
        return true;
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        current_fault().raise();
    }
    return false;
}

// Runs `work` with the interpreter lock released. The fault is kept until the lock is back, since
// an exception can only be raised while holding it. The lock is taken back in this frame, after
// every exception of `work` has been handled, so that the forced unwind of an exiting interpreter
// starts from here and meets no destructor that is running for another exception.
template <class Work>
bool guarded_without_gil(Work&& work) {
    Fault fault;
    PyThreadState* const state = PyEval_SaveThread();
    try {
        work();
    } catch (abi::__forced_unwind&) {
        throw;  // the thread is being ended without the lock: nothing here may take it back
    } catch (...) {
        fault = current_fault();
    }
    PyEval_RestoreThread(state);
    fault.raise();
    return fault.kind == Fault::None;
}

// The functions registered with the interpreter (methods, getters, slots), wrapped so that no C++
// exception leaves them: Entry<f>::call has f's signature and returns null or -1 with the Python
// exception set when f throws.
template <auto Function>
struct Entry;

template <class Result, class... Args, Result (*Function)(Args...)>
struct Entry<Function> {
    static Result call(Args... args) {
        try {
            return Function(args...);
        } catch (abi::__forced_unwind&) {
            throw;
        } catch (...) {
            current_fault().raise();
        }
        if constexpr (std::is_pointer_v<Result>) {
            return nullptr;
        } else {
            return -1;
        }
    }
};

}  // namespace lexaro::py
