// Zero-filled memory straight from the system, for the large tables that encoders write as they go.
#pragma once
#include <cstddef>

namespace lexaro {

// `bytes` of zeroed memory (throws std::bad_alloc). Pages become resident only when first touched; a
// region of 2 MiB or more is aligned to 2 MiB and asks for transparent huge pages, so that a table
// read at random positions costs a few large faults and few TLB misses instead of one of each per 4 KiB.
void* map_zeroed(size_t bytes);
void unmap_zeroed(void* p, size_t bytes);

}  // namespace lexaro
