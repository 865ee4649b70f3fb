#pragma once
// File and process helpers shared by the tests.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace talvane::testing {

// True in CI (TALVANE_CI set): there every facility a test needs is provided.
bool InCi();

// A facility the test needs: without it a local run skips, CI fails.
#define TALVANE_REQUIRE(available, why)                                                    \
    if (!(available)) {                                                                    \
        if (::talvane::testing::InCi()) GTEST_FAIL() << "CI lacks what it needs: " << why; \
        GTEST_SKIP() << why;                                                               \
    }

std::string ReadFile(const std::string& path);  // empty when unreadable
// Creates missing parent folders first; true when everything was written.
bool WriteFile(const std::string& path, const std::string& data = "x", unsigned mode = 0644);
bool Exists(const std::string& path);
// A UTF-8 path for std::filesystem: on Windows a plain string would go through the ANSI code page.
inline std::filesystem::path U8(const std::string& utf8) {
    return std::filesystem::u8path(utf8);
}
// A bitmap file with the given info-header size; pixel rows are left out
// unless `withPixels`, since only the header decides the size.
std::string Bitmap(std::uint32_t infoSize, std::int32_t width, std::int32_t height,
                   bool withPixels = true, std::uint32_t planes = 1, std::uint32_t bits = 24);
// Names in `folder`, sorted; empty when it cannot be read.
std::vector<std::string> ListNames(const std::string& folder);
// The stock minisign tool with `args`, its output discarded: the exit status.
int Minisign(const std::string& args);
// A new key pair `<base>.pub` and `<base>.key`: the public key line, empty on failure.
std::string MinisignKeyPair(const std::string& base);
// Sets an environment variable; nullptr removes it.
void SetEnv(const char* name, const char* value);
// The process's peak memory so far, in kB.
long PeakMemoryKb();
// Runs a program (no shell) in `cwd`, output to `outFile`: its exit status, -1 if none.
int RunProgram(const std::vector<std::string>& argv, const std::string& cwd = {},
               const std::string& outFile = "/dev/null");

// A private temporary folder, removed with everything in it (read-only entries too).
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }  // absolute, no trailing '/'
    std::string file(const std::string& rel) const { return path_ + "/" + rel; }

  private:
    std::string path_;
};

// A new empty temporary folder: absolute, '/' separated, no trailing '/'.
std::string NewTempFolder();

// `scenario` as user 65534 in a child: 0 passed, 1 failed, 3 could not give up root.
int RunAsNobody(const std::function<bool()>& scenario);

}  // namespace talvane::testing
