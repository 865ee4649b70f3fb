// The portable file helpers; processes_posix.cpp and processes_win.cpp hold the rest.
#include "support/file_util.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace talvane::testing {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool WriteFile(const std::string& path, const std::string& data, unsigned mode) {
    std::error_code ec;
    fs::create_directories(fs::u8path(path).parent_path(), ec);
    {
        std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
        if (!(out << data)) return false;
    }
    fs::permissions(fs::u8path(path), static_cast<fs::perms>(mode), ec);
    return !ec;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::u8path(path), ec);
}

std::vector<std::string> ListNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::u8path(folder), ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace talvane::testing
