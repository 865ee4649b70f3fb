#include "support/temp_dir.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace talvane::testing {
namespace {

std::string TempRoot() {
    const char* env = std::getenv("TMPDIR");
    std::string root = (env && *env == '/') ? env : "/tmp";
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

// Tests make folders read-only on purpose; give the owner full access back
// so the removal below cannot be blocked. Symbolic links are not followed.
void MakeWritable(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(
             root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (it->is_symlink(ignored)) {
            it.disable_recursion_pending();
            continue;
        }
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
}

}  // namespace

TempDir::TempDir() {
    std::string templ = TempRoot() + "/talvane-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + templ);
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    MakeWritable(path_);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& rel) const {
    return path_ + "/" + rel;
}

void Put(const std::string& path, const std::string& text) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string Get(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return "<missing>";
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> ListNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int RunAsNobody(const std::function<bool()>& scenario) {
    constexpr uid_t kNobody = 65534;
    const pid_t pid = ::fork();
    if (pid < 0) return 3;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(3);
        ::_exit(scenario() ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 1;
    return WEXITSTATUS(status);
}

}  // namespace talvane::testing
