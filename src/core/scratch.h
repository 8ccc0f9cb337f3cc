// Per-thread scratch buffers, reused across calls and freed when the thread ends.
#pragma once
#include <cstdint>
#include <vector>

namespace lexaro {

// Backtracking state of the piece encoder.
struct Scratch {
    std::vector<uint64_t> reachable;  // bit p: position p may still be reached
};

Scratch& scratch();             // SCRATCH of the calling thread
std::vector<uint32_t>& ids_scratch();  // IDS of the calling thread (truncate)

}  // namespace lexaro
