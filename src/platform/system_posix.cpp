// The running program, the user, and handing files back to the invoking user.
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace talvane::platform {
namespace {

bool ParseId(const char* text, unsigned long& value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 10);
    return errno == 0 && end && *end == '\0';
}

std::string NameOfUid(uid_t uid) {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* result = nullptr;
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &result) == 0 && result)
        return result->pw_name;
    return std::to_string(uid);
}

}  // namespace

std::string CurrentExecutablePath() {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    return std::string(buf.data(), static_cast<std::size_t>(n));
}

std::string CurrentUserName() {
    return NameOfUid(::geteuid());
}

int HandToInvokingUser(const std::string& path, std::string& newOwner) {
    newOwner.clear();
    if (::geteuid() != 0) return 0;
    unsigned long uid = 0, gid = 0;
    if (!ParseId(std::getenv("SUDO_UID"), uid) || !ParseId(std::getenv("SUDO_GID"), gid)) return 0;
    if (::lchown(path.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(gid)) != 0) return errno;
    newOwner = NameOfUid(static_cast<uid_t>(uid));
    return 0;
}

int RestrictToOwner(const std::string& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    return ::chmod(folder.c_str(), st.st_mode & 0700) == 0 ? 0 : errno;
}

void DisableCoreDumps() {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

}  // namespace talvane::platform

namespace talvane::platform {

bool DisplayAvailable() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

void UseParentConsole() {}

std::size_t RootLength(std::string_view path) {
    return !path.empty() && path.front() == '/' ? 1 : 0;
}

std::string FolderFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string SharedDesktopFolder() {
    return {};
}

std::string InstalledProgramFolder(const std::string& programFolder, UserFolder kind) {
    if (::access(programFolder.c_str(), W_OK) == 0) return {};
    const bool config = kind == UserFolder::Config;
    const char* xdg = std::getenv(config ? "XDG_CONFIG_HOME" : "XDG_CACHE_HOME");
    // The XDG rule: a relative value is ignored.
    if (xdg && *xdg == '/') return std::string(xdg) + "/talvane/";
    const char* home = std::getenv("HOME");
    if (!home || *home != '/') return {};
    return std::string(home) + (config ? "/.config" : "/.cache") + "/talvane/";
}

}  // namespace talvane::platform
