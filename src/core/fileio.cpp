#include "core/fileio.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/utf8.h"

namespace lexaro {

std::string os_error_text(int err) {
    char buf[256];
    // GNU strerror_r returns the text (possibly a static string, not buf).
    const char* text = strerror_r(err, buf, sizeof buf);
    return std::string(text) + " (os error " + std::to_string(err) + ")";
}

std::string display_path(const std::string& path) { return utf8_lossy(path); }

FileRead read_whole_file(const std::string& path) {
    FileRead r;
    if (path.find('\0') != std::string::npos) {
        r.error = "file name contained an unexpected NUL byte";
        return r;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        r.error = os_error_text(errno);
        return r;
    }
    r.opened = true;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) r.bytes.reserve(size_t(st.st_size));
    uint8_t chunk[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
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

}  // namespace lexaro
