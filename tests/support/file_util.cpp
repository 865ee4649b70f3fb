// The portable file helpers; processes_posix.cpp and processes_win.cpp hold the rest.
#include "support/file_util.h"

#include <algorithm>
#include <cstdint>
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

namespace {

void PutLE(std::string& b, std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

}  // namespace

// A bitmap file with the given info-header size; pixel rows are left out
// unless `withPixels`, since only the header decides the size.
std::string Bitmap(std::uint32_t infoSize, std::int32_t width, std::int32_t height, bool withPixels,
                   std::uint32_t planes, std::uint32_t bits) {
    std::string b(14 + infoSize, '\0');
    b[0] = 'B';
    b[1] = 'M';
    PutLE(b, 10, 14 + infoSize, 4);
    PutLE(b, 14, infoSize, 4);
    const int field = infoSize == 12 ? 2 : 4;  // the old core header has 16-bit sizes
    PutLE(b, 18, static_cast<std::uint32_t>(width), field);
    PutLE(b, 18 + static_cast<std::size_t>(field), static_cast<std::uint32_t>(height), field);
    PutLE(b, 18 + 2 * static_cast<std::size_t>(field), planes, 2);
    PutLE(b, 20 + 2 * static_cast<std::size_t>(field), bits, 2);
    if (withPixels && width > 0 && height != 0) {
        const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
        b.resize(b.size() + row * static_cast<std::size_t>(height < 0 ? -height : height), '\x7f');
    }
    PutLE(b, 2, static_cast<std::uint32_t>(b.size()), 4);
    return b;
}

}  // namespace talvane::testing
