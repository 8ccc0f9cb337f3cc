// Whole-file reads with the loader's error texts.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lexaro {

struct FileRead {
    std::vector<uint8_t> bytes;
    bool opened = false;  // false: open failed; true with a non-empty error: read failed
    std::string error;    // "<description> (os error N)", empty on success
    bool ok() const { return opened && error.empty(); }
};

// Reads a regular file whole, or its first max_bytes when it is longer (no data format accepts a
// longer file, and its parser reports the cut). Anything but a regular file is a read failure:
// "Is a directory" for a directory, "Invalid argument" for a FIFO, device or socket. A path
// containing a NUL byte is never passed to the system.
FileRead read_whole_file(const std::string& path, size_t max_bytes);

// "<strerror text> (os error N)"
std::string os_error_text(int err);

// Bytes of a path shown as text: invalid UTF-8 becomes U+FFFD.
std::string display_path(const std::string& path);

}  // namespace lexaro
