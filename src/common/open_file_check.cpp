#include "common/open_file_check.h"

#include <filesystem>
#include <system_error>

namespace talvane {

std::string OpenFileProblem(const std::string& fullPath) {
    std::error_code ec;
    const auto status = std::filesystem::status(fullPath, ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status)) return {};
    return fullPath + "\nFile not found.\nPlease verify the correct file name was given.";
}

}  // namespace talvane
