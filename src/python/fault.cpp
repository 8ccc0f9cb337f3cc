#include "python/fault.h"

#include "python/module_state.h"

#include <new>

namespace lexaro::py {

void raise_current_fault(PyTypeObject* type) {
    const char* message = "unknown internal fault";
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return;
    } catch (const std::exception& e) {
        message = e.what();  // lives while the caller handles the exception
    } catch (...) {
    }
    const ModuleState* state = state_of_type(type);
    PyErr_SetString(state->internal_error != nullptr ? state->internal_error : PyExc_SystemError, message);
}

}  // namespace lexaro::py
