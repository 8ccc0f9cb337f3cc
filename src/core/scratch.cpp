#include "core/scratch.h"

#include "core/platform.h"

namespace lexaro {

namespace {

struct ThreadScratch {
    Scratch scratch;
    std::vector<uint32_t> ids;
    TextRoom text;
};

void free_scratch(void* p) { delete static_cast<ThreadScratch*>(p); }

const ThreadExitKey SCRATCH_KEY = new_thread_exit_key(free_scratch);

// Made on first use and freed by free_scratch when the thread ends: a plain pointer, as a thread_local
// object's destructor may not run in time on every toolchain.
thread_local ThreadScratch* SCRATCH = nullptr;

// Where the system cannot free it at thread exit, the buffers stay with the thread and are lost when it
// ends (at most SCRATCH_KEPT_BYTES each): the calls still run.
[[gnu::noinline]] ThreadScratch& new_thread_scratch() {
    SCRATCH = new ThreadScratch;
    set_thread_exit_value(SCRATCH_KEY, SCRATCH);
    return *SCRATCH;
}

ThreadScratch& thread_scratch() { return SCRATCH != nullptr ? *SCRATCH : new_thread_scratch(); }

template <class T>
void release_if_large(std::vector<T>& v) {
    if (v.capacity() * sizeof(T) > SCRATCH_KEPT_BYTES) std::vector<T>().swap(v);
}

}  // namespace

Scratch& scratch() { return thread_scratch().scratch; }
std::vector<uint32_t>& ids_scratch() { return thread_scratch().ids; }
TextRoom& text_room_scratch() { return thread_scratch().text; }

void release_large_scratch() {
    if (SCRATCH != nullptr) release_if_large(SCRATCH->scratch.reachable);
}

void release_large_ids_scratch() {
    if (SCRATCH != nullptr) release_if_large(SCRATCH->ids);
}

}  // namespace lexaro
