// Internal faults of the core become Python exceptions instead of crossing into the interpreter.
#pragma once
#include "python/pyref.h"

#include <cstdlib>
#include <exception>
#include <new>
#include <string>

namespace lexaro::py {

// Creates the internal-fault exception type once per process (it derives from
// BaseException, so `except Exception` does not swallow a fault). Returns false
// with a Python error set if the type cannot be created.
bool init_internal_error();

// Raises the internal-fault exception with `message`. Needs the interpreter lock.
void raise_internal_error(const char* message);

// Runs `work` with the interpreter lock held. A C++ exception escaping it becomes the
// internal-fault exception; returns false exactly when a Python error is set.
template <class Work>
bool guarded(Work&& work) noexcept {
    try {
        work();
        return true;
    } catch (const std::bad_alloc&) {
        std::abort();  // running out of memory ends the process, as everywhere else
    } catch (const std::exception& e) {
        raise_internal_error(e.what());
    } catch (...) {
        raise_internal_error("unknown internal fault");
    }
    return false;
}

// Runs `work` with the interpreter lock released. The fault's message is kept until
// the lock is back, since an exception can only be raised while holding it.
template <class Work>
bool guarded_without_gil(Work&& work) noexcept {
    std::string fault;
    bool failed = false;
    {
        GilRelease released;
        try {
            work();
        } catch (const std::bad_alloc&) {
            std::abort();
        } catch (const std::exception& e) {
            fault = e.what();
            failed = true;
        } catch (...) {
            fault = "unknown internal fault";
            failed = true;
        }
    }
    if (failed) raise_internal_error(fault.c_str());
    return !failed;
}

}  // namespace lexaro::py
