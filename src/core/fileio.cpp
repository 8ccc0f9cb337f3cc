#include "core/fileio.h"

#include <algorithm>
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
    struct stat st {};
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

}  // namespace lexaro
