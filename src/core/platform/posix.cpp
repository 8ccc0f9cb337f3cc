// The platform services on Linux and macOS (and other POSIX systems).
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "core/pages.h"
#include "core/platform.h"
#include "core/threads.h"

namespace lexaro {

namespace {

// strerror_r is the GNU one (returns the text, possibly a static string) or the POSIX one (fills buf,
// returns 0): the overload taken follows its result type.
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }
[[maybe_unused]] const char* strerror_result(int status, const char* buf) {
    return status == 0 ? buf : "Unknown error";
}

}  // namespace

std::string os_error_text(int err) {
    char buf[256] = {};
    const char* text = strerror_result(strerror_r(err, buf, sizeof buf), buf);
    return std::string(text) + " (os error " + std::to_string(err) + ")";
}

FileRead read_whole_file(const std::string& path, size_t max_bytes) {
    FileRead r;
    if (path.find('\0') != std::string::npos) {
        r.error = "file name contained an unexpected NUL byte";
        return r;
    }
    // Only regular files are read: a FIFO would block the open or the reads, a device could be read
    // without end. The type is checked before opening (no device is opened at all) and again on the
    // open descriptor (the path may have changed in between); O_NONBLOCK keeps the open itself from
    // waiting for a FIFO's writer.
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        r.opened = true;
        r.error = os_error_text(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return r;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        r.error = os_error_text(errno);
        return r;
    }
    r.opened = true;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        r.error = os_error_text(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        ::close(fd);
        return r;
    }
    // The size is only a hint (the file may grow or shrink while it is read); no more than max_bytes
    // are ever kept.
    r.bytes.reserve(size_t(std::min<uint64_t>(uint64_t(std::max<off_t>(st.st_size, 0)), max_bytes)));
    uint8_t chunk[1 << 16];
    while (r.bytes.size() < max_bytes) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, max_bytes - r.bytes.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            r.error = os_error_text(errno);
            r.bytes.clear();
            break;
        }
        if (n == 0) break;
        r.bytes.insert(r.bytes.end(), chunk, chunk + n);
    }
    ::close(fd);
    return r;
}

namespace {
constexpr size_t HUGE_PAGE = size_t(2) << 20;
}

void* map_zeroed(size_t bytes) {
    if (bytes == 0) return nullptr;
    if (!wants_huge_pages(bytes)) {
        void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        return p;
    }
    // Whole huge pages: the mapping is rounded up to 2 MiB, over-mapped by one more and trimmed at both
    // ends to a 2 MiB boundary.
    bytes = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    void* raw = ::mmap(nullptr, bytes + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + HUGE_PAGE - 1) & ~uintptr_t(HUGE_PAGE - 1);
    if (aligned > start) ::munmap(raw, aligned - start);
    const uintptr_t end = start + bytes + HUGE_PAGE;
    if (end > aligned + bytes) ::munmap(reinterpret_cast<void*>(aligned + bytes), end - (aligned + bytes));
    void* p = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    ::madvise(p, bytes, MADV_HUGEPAGE);  // advice only: without huge pages the table works the same
#endif
    return p;
}

void unmap_zeroed(void* p, size_t bytes) {
    if (wants_huge_pages(bytes)) bytes = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    if (p) ::munmap(p, bytes);
}

#if defined(__linux__)
namespace {

std::string read_small(const std::string& path) {
    FileRead f = read_whole_file(path, 4096);
    if (!f.ok()) return {};
    return std::string(f.bytes.begin(), f.bytes.end());
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

uint64_t system_processors() {
    uint64_t n = 0;
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) n = uint64_t(CPU_COUNT(&set));
    const uint64_t quota = cgroup_limit();
    if (quota > 0 && (n == 0 || quota < n)) n = quota;
    return n;
}
#else
uint64_t system_processors() {
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? uint64_t(n) : 0;
}
#endif

uint64_t physical_memory_bytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? uint64_t(pages) * uint64_t(page) : 0;
}

ThreadExitKey new_thread_exit_key(void (*cleanup)(void*)) {
    pthread_key_t key;
    if (::pthread_key_create(&key, cleanup) != 0) return {};
    ThreadExitKey k;
    static_assert(sizeof(pthread_key_t) <= sizeof(k.handle));
    std::memcpy(&k.handle, &key, sizeof key);
    k.cleanup = cleanup;
    k.ok = true;
    return k;
}

bool set_thread_exit_value(const ThreadExitKey& key, void* value) {
    if (!key.ok) return false;
    pthread_key_t k;
    std::memcpy(&k, &key.handle, sizeof k);
    return ::pthread_setspecific(k, value) == 0;
}

bool on_fork(void (*prepare)(), void (*parent)(), void (*child)()) {
    return ::pthread_atfork(prepare, parent, child) == 0;
}

}  // namespace lexaro
