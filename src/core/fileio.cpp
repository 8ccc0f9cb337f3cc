#include "core/fileio.h"

#include "core/utf8.h"

namespace lexaro {

std::string display_path(const std::string& path) { return utf8_lossy(path); }

}  // namespace lexaro
