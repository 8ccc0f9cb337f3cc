// What the core asks of the operating system, in one place: files, error texts, zeroed pages, counts of
// processors and memory, fork handlers. platform/posix.cpp (Linux, macOS) and platform/windows.cpp
// implement it; the build compiles the one that fits. Nothing else in the core tests for a platform.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lexaro {

struct FileRead {
    std::vector<uint8_t> bytes;
    bool opened = false;  // false: open failed; true with a non-empty error: read failed
    std::string error;    // os_error_text of the failure, empty on success
    bool ok() const { return opened && error.empty(); }
};

// Reads a regular file whole, or its first max_bytes when it is longer (no data format accepts a
// longer file, and its parser reports the cut). Anything but a regular file is a read failure: on
// POSIX "Is a directory" for a directory, "Invalid argument" for a FIFO, device or socket. A path
// containing a NUL byte is never passed to the system. Paths are bytes on POSIX, UTF-8 on Windows.
FileRead read_whole_file(const std::string& path, size_t max_bytes);

// "<the system's text> (os error N)" for an error number of the system (errno on POSIX, GetLastError
// on Windows).
std::string os_error_text(int err);

// `bytes` of zeroed memory straight from the system (throws std::bad_alloc); nullptr for 0 bytes.
// Pages become resident only when first touched. A region of HUGE_PAGES_FROM or more (pages.h) is
// rounded up to whole 2 MiB pages and aligned to them; on Linux it asks for transparent huge pages,
// so that a table read at random positions costs a few large faults and few TLB misses.
void* map_zeroed(size_t bytes);
void unmap_zeroed(void* p, size_t bytes);

// Processors this process may use as the system tells it (on Linux the affinity mask, lowered to the
// control group's CPU quota), 0 when it cannot tell.
uint64_t system_processors();

// Physical memory in bytes, 0 when the system does not tell.
uint64_t physical_memory_bytes();

// A per-thread value whose cleanup runs when a thread that set one ends: a pthread key with a destructor on
// POSIX, a fiber-local slot with a callback on Windows. The objects of the core that live as long as a
// thread are held this way rather than as thread_local objects with destructors, which some toolchains
// (MinGW-w64's emulated TLS) destroy after the storage under them was freed. The cleanup is given the
// value and runs once the thread's own code is done; it must not throw nor touch thread_local variables.
// It may not run for the thread that ends the process (whose memory goes with it). Keys live as long as
// the process.
struct ThreadExitKey {
    uint64_t handle = 0;
    void (*cleanup)(void*) = nullptr;
    bool ok = false;  // false: the system had no key left, and no value can be set
};
ThreadExitKey new_thread_exit_key(void (*cleanup)(void*));

// Sets the calling thread's value for `key` (not null); false when it could not be recorded.
bool set_thread_exit_value(const ThreadExitKey& key, void* value);

// Runs prepare before a fork() and parent / child after it on each side, where the system forks
// (pthread_atfork); does nothing where it does not. Returns false when the handlers could not be set.
bool on_fork(void (*prepare)(), void (*parent)(), void (*child)());

}  // namespace lexaro
