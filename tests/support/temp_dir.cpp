#include "support/temp_dir.h"

#include <filesystem>

namespace talvane::testing {

namespace fs = std::filesystem;

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
