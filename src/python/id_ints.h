// The int objects of the commonest ids, made once per interpreter and shared by every list of ids.
// Ids are merge ranks, so the low ones are the frequent tokens: ids below ID_INTS are nine in ten of the
// ids of most text. A list item then costs a reference count instead of an allocation and a free.
#pragma once
#include "python/pyref.h"

#include <cstdint>
#include <vector>

namespace lexaro::py {

inline constexpr uint32_t ID_INTS = 65536;

struct IdInts {
    PyObject** items = nullptr;  // ID_INTS strong references or nulls, made on first use; null until then
    bool closed = false;         // the module has been cleared: make no more
};

// The ids as a new list of int, or null with a Python error set.
PyObject* id_list(IdInts& ints, const std::vector<uint32_t>& ids);

// Drops every kept int and stops keeping new ones (the module's clear).
void close_id_ints(IdInts& ints);

}  // namespace lexaro::py
