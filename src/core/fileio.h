// Whole-file reads with the loader's error texts (read_whole_file and os_error_text in platform.h).
#pragma once
#include <string>

#include "core/platform.h"

namespace lexaro {

// Bytes of a path shown as text: invalid UTF-8 becomes U+FFFD.
std::string display_path(const std::string& path);

}  // namespace lexaro
