// The texts of a batch as the workers read them: views into memory that the caller keeps alive and
// unchanged (str and bytes objects), and copies owned here of memory that could change while the
// workers run (a bytearray, a writable memoryview).
#pragma once
#include <cstdint>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lexaro {

struct BatchItem {
    std::string_view text;
    bool from_buffer = false;  // a bytes-like item rather than a str: its results are bytes too
    bool copy = false;         // the memory may change: read a copy
};

struct TextBatch {
    std::vector<std::string_view> views;  // one per item, into the caller's memory or into `copies`
    std::vector<uint8_t> from_buffer;     // each item's from_buffer
    std::string copies;                   // the copied items back to back

    TextBatch() = default;
    TextBatch(const TextBatch&) = delete;  // the views point into `copies`
    TextBatch& operator=(const TextBatch&) = delete;
};

// Fills `out` (empty) from the items. May throw std::bad_alloc.
void make_text_batch(std::span<const BatchItem> items, TextBatch& out);

// Makes room for a sequence of `n` items of which `held` says whether they are really in memory (a list,
// a buffer with a stride). A length that a sequence merely declares (a __len__, a zero stride) is not
// trusted: only a modest part is reserved and the rest grows as items arrive. False when `n` items could
// never fit in `memory` bytes (0: unknown) or the reservation fails.
template <class T>
bool reserve_items(std::vector<T>& v, uint64_t n, bool held, uint64_t memory) {
    constexpr uint64_t declared_reserve = uint64_t(1) << 16;
    if (memory != 0 && n > memory / sizeof(T)) return false;
    try {
        v.reserve(size_t(held || n < declared_reserve ? n : declared_reserve));
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {  // beyond what a vector can hold at all
        return false;
    }
    return true;
}

}  // namespace lexaro
