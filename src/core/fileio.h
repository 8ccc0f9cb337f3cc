// Whole-file reads with the loader's error texts (read_whole_file and os_error_text in platform.h).
#pragma once
#include <string>
#include <string_view>

#include "core/platform.h"

namespace lexaro {

// Bytes of a path shown as text: invalid UTF-8 becomes U+FFFD.
std::string display_path(const std::string& path);

// `path` made absolute against the working directory; as given when there is none (or it is empty).
std::string absolute_path(std::string_view path);

}  // namespace lexaro
