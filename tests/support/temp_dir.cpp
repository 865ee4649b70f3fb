#include "support/temp_dir.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace talvane::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
    const char* env = std::getenv("TMPDIR");
    std::string templ = (env && *env == '/') ? env : "/tmp";
    templ += "/talvane-test-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + templ);
    path_ = fs::path(templ).lexically_normal().string();
}

TempDir::~TempDir() {
    // Tests make folders read-only on purpose: give the owner full access back so the
    // removal cannot be blocked. Symbolic links are not followed.
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (it->is_symlink(ignored)) it.disable_recursion_pending();
        else fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ec);
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
