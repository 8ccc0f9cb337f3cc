// C++ exceptions become Python exceptions instead of crossing into the interpreter.
//
// Functions of the binding let C++ exceptions travel; the entry points registered with the interpreter
// (Entry below) turn them into Python exceptions: an allocation failure is MemoryError, every other
// exception escaping the core is the module's internal-fault exception. One exception is let through
// untouched: the forced unwind (abi::__forced_unwind) with which the interpreter ends a thread that tries
// to take the lock back while the process exits. It must reach the thread's start routine, so none of
// these functions is noexcept, and each rethrows it.
#pragma once
#include "python/pyref.h"

#include <cxxabi.h>

#include <exception>
#include <type_traits>

namespace lexaro::py {

// Raises the Python exception for the C++ exception being handled; call only inside a catch block that
// does not catch the forced unwind. `type` is the Tokenizer class, whose module has the internal-fault
// exception. Allocates nothing for an allocation failure.
void raise_current_fault(PyTypeObject* type);

// Runs `work` with the interpreter lock released. An exception of `work` is rethrown once the lock is
// back. The lock is taken back in this frame, after the exception has been caught, so that the forced
// unwind of an exiting interpreter starts from here and meets no destructor that is running for another
// exception.
template <class Work>
void without_gil(Work&& work) {
    std::exception_ptr fault;
    PyThreadState* const state = PyEval_SaveThread();
    try {
        work();
    } catch (abi::__forced_unwind&) {
        throw;  // the thread is being ended without the lock: nothing here may take it back
    } catch (...) {
        fault = std::current_exception();
    }
    PyEval_RestoreThread(state);
    if (fault) std::rethrow_exception(fault);
}

inline PyTypeObject* class_of(PyObject* self) { return Py_TYPE(self); }
inline PyTypeObject* class_of(PyTypeObject* type) { return type; }

// The functions registered with the Tokenizer class (methods, getters, slots), wrapped so that no C++
// exception leaves them: Entry<f>::call has f's signature and returns null or -1 with the Python
// exception set when f throws. The first argument is the instance or the class.
template <auto Function>
struct Entry;

template <class Result, class Receiver, class... Args, Result (*Function)(Receiver, Args...)>
struct Entry<Function> {
    static Result call(Receiver receiver, Args... args) {
        try {
            return Function(receiver, args...);
        } catch (abi::__forced_unwind&) {
            throw;
        } catch (...) {
            raise_current_fault(class_of(receiver));
        }
        if constexpr (std::is_pointer_v<Result>) {
            return nullptr;
        } else {
            return -1;
        }
    }
};

}  // namespace lexaro::py
