#include "core/threads.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/platform.h"

namespace lexaro {

namespace {

uint64_t quota_cpus(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return 0;
    return uint64_t((quota + period - 1) / period);
}

}  // namespace

uint64_t cgroup_v2_limit(const char* text) {
    char quota[32] = {};
    long long period = 0;
    if (std::sscanf(text, "%31s %lld", quota, &period) != 2 || std::strcmp(quota, "max") == 0) return 0;
    char* end = nullptr;
    const long long q = std::strtoll(quota, &end, 10);
    if (end == quota) return 0;
    return quota_cpus(q, period);
}

uint64_t cgroup_v1_limit(const char* quota_text, const char* period_text) {
    long long q = 0, p = 0;
    if (std::sscanf(quota_text, "%lld", &q) != 1 || std::sscanf(period_text, "%lld", &p) != 1) return 0;
    return quota_cpus(q, p);
}

uint64_t available_parallelism() {
    if (const uint64_t n = system_processors()) return n;
    const unsigned hw = std::thread::hardware_concurrency();
    return hw != 0 ? hw : 4;
}

uint64_t worker_count(uint64_t threads, uint64_t n) {
    if (threads != 0 && (threads <= MAX_THREADS_PER_PROCESSOR || n <= MAX_THREADS_PER_PROCESSOR))
        return threads < n ? threads : n;  // within the cap whatever the processors: no need to count them
    const uint64_t processors = available_parallelism();
    uint64_t count = threads != 0 ? threads : processors;
    if (count > processors * MAX_THREADS_PER_PROCESSOR) count = processors * MAX_THREADS_PER_PROCESSOR;
    return count < n ? count : n;
}

}  // namespace lexaro
