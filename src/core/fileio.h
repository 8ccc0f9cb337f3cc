// Whole-file reads with the loader's error texts.
#pragma once
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

// Reads a file whole. A path containing a NUL byte is never passed to the system.
FileRead read_whole_file(const std::string& path);

// "<strerror text> (os error N)"
std::string os_error_text(int err);

// Bytes of a path shown as text: invalid UTF-8 becomes U+FFFD.
std::string display_path(const std::string& path);

}  // namespace lexaro
