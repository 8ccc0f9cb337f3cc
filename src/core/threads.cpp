#include "core/threads.h"

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/fileio.h"

namespace lexaro {

namespace {

std::string read_small(const std::string& path) {
    FileRead f = read_whole_file(path, 4096);
    if (!f.ok()) return {};
    return std::string(f.bytes.begin(), f.bytes.end());
}

uint64_t quota_cpus(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return 0;
    return uint64_t((quota + period - 1) / period);
}

// The cgroup path of this process for a controller ("" for the v2 unified hierarchy).
std::string cgroup_path(const char* controller) {
    const std::string text = read_small("/proc/self/cgroup");
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t a = line.find(':'), b = line.find(':', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        const std::string path = line.substr(b + 1);
        if (*controller == 0) {
            if (controllers.empty()) return path;
            continue;
        }
        std::string list(1, ',');  // ",cpu,cpuacct," contains ",cpu,"
        list += controllers;
        list += ',';
        std::string want(1, ',');
        want += controller;
        want += ',';
        if (list.find(want) != std::string::npos) return path;
    }
    return {};
}

uint64_t cgroup_limit() {
    const std::string v2 = cgroup_path("");
    if (!v2.empty()) {
        if (uint64_t n = cgroup_v2_limit(read_small("/sys/fs/cgroup" + v2 + "/cpu.max").c_str())) return n;
        if (uint64_t n = cgroup_v2_limit(read_small("/sys/fs/cgroup/cpu.max").c_str())) return n;
    }
    const std::string v1 = cgroup_path("cpu");
    for (const std::string base : {"/sys/fs/cgroup/cpu,cpuacct", "/sys/fs/cgroup/cpu"}) {
        for (const std::string& sub : {v1, std::string()}) {
            const std::string dir = base + sub;
            const std::string q = read_small(dir + "/cpu.cfs_quota_us"), p = read_small(dir + "/cpu.cfs_period_us");
            if (uint64_t n = cgroup_v1_limit(q.c_str(), p.c_str())) return n;
        }
    }
    return 0;
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
    uint64_t n = 0;
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) n = uint64_t(CPU_COUNT(&set));
    const uint64_t quota = cgroup_limit();
    if (quota > 0 && (n == 0 || quota < n)) n = quota;
    return n == 0 ? 4 : n;
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
