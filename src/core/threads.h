// The number of processors this process may really use.
#pragma once
#include <cstdint>

namespace lexaro {

// Processors the system lets this process use (on Linux the affinity mask, lowered to the control
// group's CPU quota: cgroup v2 cpu.max or v1 cpu.cfs_quota_us / cpu.cfs_period_us, where one is set);
// else std::thread::hardware_concurrency(); 4 when nothing can be determined.
uint64_t available_parallelism();

// Worker threads for a batch of n texts when the caller asks for `threads` (0: one per usable
// processor): never more than the texts, nor more than MAX_THREADS_PER_PROCESSOR per usable processor.
inline constexpr uint64_t MAX_THREADS_PER_PROCESSOR = 4;
uint64_t worker_count(uint64_t threads, uint64_t n);

// The quota part on its own, from the text of the control files (for tests): ceil(quota / period), or 0
// when the text sets no limit or cannot be read.
uint64_t cgroup_v2_limit(const char* cpu_max_text);
uint64_t cgroup_v1_limit(const char* quota_text, const char* period_text);

}  // namespace lexaro
