// The test helpers of temp_dir.cpp and file_util.cpp for the Windows build.
// Under Wine the Python helpers are the machine's own /usr/bin/python3,
// started through CreateProcessW like any program.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "support/file_util.h"
#include "support/temp_dir.h"

namespace talvane::testing {
namespace fs = std::filesystem;

namespace {

std::wstring Wide(const std::string& s) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string Slashes(std::string s) {
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

std::wstring CommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const auto& a : argv) {
        if (!line.empty()) line += ' ';
        line += '"' + a + '"';  // test arguments carry no quotes
    }
    return Wide(line);
}

}  // namespace

// ---- temp_dir

TempDir::TempDir() {
    std::error_code ec;
    // Under Wine, Z: is the Linux root: a folder there is one the Linux-side
    // servers can serve.
    fs::path base = "Z:/tmp";
    if (!fs::is_directory(base, ec)) base = fs::temp_directory_path(ec);
    static unsigned counter = 0;
    for (int i = 0; i < 100; ++i) {
        const fs::path p = base / ("talvane-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                   std::to_string(++counter));
        if (fs::create_directory(p, ec)) {
            path_ = Slashes(p.lexically_normal().string());
            return;
        }
    }
    throw std::runtime_error("no temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ec);
}

// Windows has no account to drop to.
int RunAsNobody(const std::function<bool()>&) {
    return 3;
}

// ---- file_util

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
        names.push_back(Slashes(it->path().filename().string()));
    std::sort(names.begin(), names.end());
    return names;
}

int RunProgram(const std::vector<std::string>& argv, const std::string& cwd,
               const std::string& outFile) {
    if (argv.empty()) return -1;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const std::string out = outFile == "/dev/null" ? "NUL" : outFile;
    HANDLE file = ::CreateFileW(Wide(out).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = file;
    si.hStdError = file;
    PROCESS_INFORMATION pi{};
    std::wstring line = CommandLine(argv);
    const std::wstring dir = Wide(cwd);
    int code = -1;
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                         cwd.empty() ? nullptr : dir.c_str(), &si, &pi)) {
        ::WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD exit = 1;
        if (::GetExitCodeProcess(pi.hProcess, &exit)) code = static_cast<int>(exit);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return code;
}

// ---- cloud_server: the script process (handles kept beside the object, whose
// members are POSIX-shaped)


}  // namespace talvane::testing
