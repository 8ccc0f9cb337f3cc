// Ids read from the items of a one-dimensional array of native integers (a numpy array, an array.array...).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lexaro {

// The integer code of a format string that describes one native integer (b B h H i I l L q Q, alone or after
// '@' or '='), else 0.
char native_integer_code(const char* format);

// Why an item is no id: it lies outside 0 .. 2^32 - 1, and beyond the signed 64-bit range or not.
enum class ItemFault { None, OutOfRange, BeyondInt64 };

// Appends the `n` items of integer code `code` found `stride` bytes apart from `data`, up to the first item
// that is no id.
ItemFault append_id_items(const char* data, ptrdiff_t stride, size_t n, char code, std::vector<uint32_t>& out);

}  // namespace lexaro
