// Per-thread scratch buffers, reused across calls and freed when the thread ends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace lexaro {

// Backtracking state of the piece encoder.
struct Scratch {
    std::vector<uint64_t> reachable;  // bit p: position p may still be reached
    std::vector<uint32_t> resumed;    // ids of a piece whose search goes on from its greedy pass
};

// Bytes left uninitialised, for a text the caller converts to UTF-8. A call takes the buffer out for its
// length (TextRoom is moved out and back), so that a call made inside it finds none and makes its own.
struct TextRoom {
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;
};

Scratch& scratch();                    // SCRATCH of the calling thread
std::vector<uint32_t>& ids_scratch();  // IDS of the calling thread (truncate)
TextRoom& text_room_scratch();         // TEXT of the calling thread

// Capacity a scratch buffer keeps between calls. One very long text must not leave every thread
// that ever saw one holding memory of its size for the rest of its life.
inline constexpr uint64_t SCRATCH_KEPT_BYTES = uint64_t(4) << 20;

// Free the calling thread's SCRATCH buffers, or its IDS, where they grew beyond SCRATCH_KEPT_BYTES;
// the next call that needs that much allocates again.
void release_large_scratch();
void release_large_ids_scratch();

}  // namespace lexaro
