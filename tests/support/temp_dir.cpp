#include "support/temp_dir.h"

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

}  // namespace talvane::testing
