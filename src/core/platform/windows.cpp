// The platform services on Windows: no fork, no mmap, no FIFOs; paths are UTF-8 turned into UTF-16,
// error texts are the system's own messages with their GetLastError codes.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <bit>
#include <new>

#include "core/pages.h"
#include "core/platform.h"

namespace lexaro {

namespace {

std::string utf8_from_wide(const wchar_t* w, int n) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, w, n, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, n, out.data(), bytes, nullptr, nullptr);
    return out;
}

// The path as UTF-16; false (with the system's error code set) when it is not valid UTF-8.
bool wide_from_utf8(const std::string& s, std::wstring& out) {
    if (s.empty()) {
        out.clear();
        return true;
    }
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), nullptr, 0);
    if (n <= 0) return false;
    out.assign(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), out.data(), n);
    return true;
}

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

}  // namespace

std::string os_error_text(int err) {
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, DWORD(err), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = n > 0 ? utf8_from_wide(text, int(n)) : std::string("Unknown error");
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message + " (os error " + std::to_string(err) + ")";
}

FileRead read_whole_file(const std::string& path, size_t max_bytes) {
    FileRead r;
    if (path.find('\0') != std::string::npos) {
        r.error = "file name contained an unexpected NUL byte";
        return r;
    }
    std::wstring wpath;
    if (!wide_from_utf8(path, wpath)) {
        r.error = os_error_text(int(GetLastError()));
        return r;
    }
    // Only regular files are read. A directory is refused before opening, as the system refuses to open
    // one ("Access is denied"); a console, pipe or other device after it, by the handle's type, before
    // anything is read from it.
    const DWORD attributes = GetFileAttributesW(wpath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        r.opened = true;
        r.error = os_error_text(ERROR_ACCESS_DENIED);
        return r;
    }
    const Handle file{CreateFileW(wpath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE) {
        r.error = os_error_text(int(GetLastError()));
        return r;
    }
    r.opened = true;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.h) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        r.error = os_error_text(ERROR_INVALID_PARAMETER);
        return r;
    }
    // The size is only a hint (the file may change while it is read); no more than max_bytes are kept.
    const uint64_t size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    r.bytes.reserve(size_t(std::min<uint64_t>(size, max_bytes)));
    uint8_t chunk[1 << 16];
    while (r.bytes.size() < max_bytes) {
        DWORD n = 0;
        const DWORD want = DWORD(std::min(sizeof chunk, max_bytes - r.bytes.size()));
        if (!ReadFile(file.h, chunk, want, &n, nullptr)) {
            r.error = os_error_text(int(GetLastError()));
            r.bytes.clear();
            break;
        }
        if (n == 0) break;
        r.bytes.insert(r.bytes.end(), chunk, chunk + n);
    }
    return r;
}

namespace {
constexpr size_t HUGE_PAGE = size_t(2) << 20;
}

// Large pages on Windows need a privilege that processes seldom hold: the regions use small pages,
// aligned to 2 MiB like elsewhere. Committed pages are zero and resident only once touched.
void* map_zeroed(size_t bytes) {
    if (bytes == 0) return nullptr;
    if (!wants_huge_pages(bytes)) {
        void* p = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (p == nullptr) throw std::bad_alloc();
        return p;
    }
    // A reservation cannot be trimmed: find an aligned address inside a larger one, release it and take
    // the aligned part; another thread may take that range in between, so a few attempts are made.
    bytes = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    for (int attempt = 0; attempt < 16; ++attempt) {
        void* raw = VirtualAlloc(nullptr, bytes + HUGE_PAGE, MEM_RESERVE, PAGE_NOACCESS);
        if (raw == nullptr) break;
        const uintptr_t aligned = (reinterpret_cast<uintptr_t>(raw) + HUGE_PAGE - 1) & ~uintptr_t(HUGE_PAGE - 1);
        VirtualFree(raw, 0, MEM_RELEASE);
        if (void* p = VirtualAlloc(reinterpret_cast<void*>(aligned), bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))
            return p;
    }
    throw std::bad_alloc();
}

void unmap_zeroed(void* p, size_t) {
    if (p) VirtualFree(p, 0, MEM_RELEASE);
}

uint64_t system_processors() {
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return uint64_t(std::popcount(uint64_t(process)));
    const DWORD n = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return n;
}

uint64_t physical_memory_bytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? uint64_t(status.ullTotalPhys) : 0;
}

// Fiber-local storage rather than thread-local (TlsAlloc has no cleanup): its callback runs when a thread
// ends, with MSVC's runtime and MinGW's alike. A thread that runs fibers of its own shares one value among
// them. The callback has the system's calling convention, the cleanup a plain one: the slot holds both the
// cleanup and the value.
namespace {

struct FlsValue {
    void (*cleanup)(void*);
    void* value;
};

void NTAPI run_fls_cleanup(void* p) {
    if (p == nullptr) return;
    FlsValue* v = static_cast<FlsValue*>(p);
    v->cleanup(v->value);
    delete v;
}

}  // namespace

ThreadExitKey new_thread_exit_key(void (*cleanup)(void*)) {
    const DWORD index = FlsAlloc(run_fls_cleanup);
    if (index == FLS_OUT_OF_INDEXES) return {};
    ThreadExitKey k;
    k.handle = index;
    k.cleanup = cleanup;
    k.ok = true;
    return k;
}

bool set_thread_exit_value(const ThreadExitKey& key, void* value) {
    if (!key.ok) return false;
    const DWORD index = DWORD(key.handle);
    FlsValue* old = static_cast<FlsValue*>(FlsGetValue(index));
    if (old != nullptr) {  // a second value on this thread replaces the first
        old->value = value;
        return true;
    }
    FlsValue* fresh = new (std::nothrow) FlsValue{key.cleanup, value};
    if (fresh == nullptr) return false;
    if (!FlsSetValue(index, fresh)) {
        delete fresh;
        return false;
    }
    return true;
}

// No fork on Windows: nothing to prepare for.
bool on_fork(void (*)(), void (*)(), void (*)()) { return true; }

}  // namespace lexaro
