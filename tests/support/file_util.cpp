// The portable file helpers; processes_posix.cpp and processes_win.cpp hold the rest.
#include "support/file_util.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace talvane::testing {

namespace fs = std::filesystem;

bool InCi() {
    const char* ci = std::getenv("TALVANE_CI");
    return ci && *ci && std::string(ci) != "0";
}

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

int Minisign(const std::string& args) {
    return std::system(("minisign " + args + " >/dev/null 2>&1 </dev/null").c_str());
}

std::string MinisignKeyPair(const std::string& base) {
    if (Minisign("-G -W -f -p \"" + base + ".pub\" -s \"" + base + ".key\"") != 0) return {};
    const std::string pub = ReadFile(base + ".pub");
    const auto start = pub.find('\n') + 1;
    return pub.substr(start, pub.find('\n', start) - start);
}

std::vector<std::string> ListNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::u8path(folder), ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TempDir::TempDir() : path_(NewTempFolder()) {}

TempDir::~TempDir() {
    // Tests make folders read-only on purpose: give the owner full access back so the
    // removal cannot be blocked. Symbolic links are not followed.
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(
             path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (it->is_symlink(ignored))
            it.disable_recursion_pending();
        else
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ec);
}

}  // namespace talvane::testing
