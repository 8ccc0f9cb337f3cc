#include "core/scratch.h"

namespace lexaro {

namespace {

thread_local Scratch SCRATCH;
thread_local std::vector<uint32_t> IDS;

template <class T>
void release_if_large(std::vector<T>& v) {
    if (v.capacity() * sizeof(T) > SCRATCH_KEPT_BYTES) std::vector<T>().swap(v);
}

}  // namespace

Scratch& scratch() { return SCRATCH; }
std::vector<uint32_t>& ids_scratch() { return IDS; }

void release_large_scratch() {
    release_if_large(SCRATCH.reachable);
}

void release_large_ids_scratch() { release_if_large(IDS); }

}  // namespace lexaro
