#include "python/id_ints.h"

namespace lexaro::py {

namespace {

// A new reference to the int `id`, kept for later lists when it is one of the common ids.
PyObject* id_int(IdInts& ints, uint32_t id) {
    if (id >= ID_INTS || ints.items == nullptr) return PyLong_FromUnsignedLong(id);
    PyObject*& kept = ints.items[id];
    if (kept == nullptr) kept = PyLong_FromUnsignedLong(id);
    return Py_XNewRef(kept);
}

}  // namespace

PyObject* id_list(IdInts& ints, const std::vector<uint32_t>& ids) {
    if (ints.items == nullptr && !ints.closed)
        // Zeroed pages from the allocator: only the parts that the ids seen touch become resident.
        // Without the memory the ints are made one by one, as before.
        ints.items = static_cast<PyObject**>(PyMem_Calloc(ID_INTS, sizeof(PyObject*)));
    return list_of(ids.size(), [&](size_t i) { return id_int(ints, ids[i]); });
}

void close_id_ints(IdInts& ints) {
    ints.closed = true;
    PyObject** items = std::exchange(ints.items, nullptr);
    if (items == nullptr) return;
    for (uint32_t id = 0; id < ID_INTS; ++id) Py_XDECREF(items[id]);
    PyMem_Free(items);
}

}  // namespace lexaro::py
