#include "core/fileio.h"

#include <filesystem>
#include <system_error>

#include "core/utf8.h"

namespace lexaro {

std::string display_path(const std::string& path) { return utf8_lossy(path); }

std::string absolute_path(std::string_view path) {
    if (path.empty()) return {};
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(path), error);
    return error ? std::string(path) : absolute.string();
}

}  // namespace lexaro
