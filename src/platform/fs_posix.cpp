// File-system calls. Tree operations work relative to open folder descriptors
// with O_NOFOLLOW / AT_SYMLINK_NOFOLLOW so that a symbolic link inside a tree
// is treated as a name, never as a way out of the tree.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/fd_posix.h"
#include "platform/platform.h"
#include "platform/portable.h"

namespace talvane::platform {
namespace {

using Fd = posix::UniqueFd;

constexpr unsigned kRenameExchange = 2;  // RENAME_EXCHANGE of renameat2(2)

struct DirCloser {
    void operator()(DIR* d) const {
        if (d) ::closedir(d);
    }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

Kind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return Kind::File;
    if (S_ISDIR(mode)) return Kind::Dir;
    if (S_ISLNK(mode)) return Kind::Symlink;
    return Kind::Other;
}

// Names in a folder opened as `fd`, without "." and "..". Takes ownership of a
// duplicate so the caller keeps its descriptor.
int ReadNames(int fd, std::vector<DirEntry>& out) {
    int dupFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (dupFd < 0) return errno;
    DirPtr dir(::fdopendir(dupFd));
    if (!dir) {
        int err = errno;
        ::close(dupFd);
        return err;
    }
    ::rewinddir(dir.get());
    errno = 0;
    while (dirent* ent = ::readdir(dir.get())) {
        if (std::strcmp(ent->d_name, ".") == 0 || std::strcmp(ent->d_name, "..") == 0) continue;
        struct stat st {};
        Kind kind = Kind::Other;
        if (::fstatat(fd, ent->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) kind = KindOf(st.st_mode);
        out.push_back({ent->d_name, kind});
        errno = 0;
    }
    if (errno != 0) return errno;
    std::sort(out.begin(), out.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return 0;
}

// Splits "/a/b/c" into "/a/b" and "c" (trailing '/' ignored).
bool SplitParent(std::string path, std::string& parent, std::string& name) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || path == "/") return false;
    parent = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
    return !name.empty() && name != "." && name != "..";
}

void Remember(int& first, int err) {
    if (first == 0) first = err;
}

// Removes entry `name` of the folder `parentFd`; a folder is emptied first.
int RemoveEntryAt(int parentFd, const std::string& name) {
    struct stat st {};
    if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(parentFd, name.c_str(), 0) == 0 ? 0 : errno;

    int first = 0;
    Fd fd(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        Remember(first, errno);
    } else {
        std::vector<DirEntry> entries;
        if (int err = ReadNames(fd.Get(), entries)) Remember(first, err);
        for (const auto& e : entries) {
            if (int err = RemoveEntryAt(fd.Get(), e.name)) Remember(first, err);
        }
    }
    if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0) Remember(first, errno);
    return first;
}

int GrantAt(int parentFd, const std::string& name, bool recurse) {
    struct stat st {};
    if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (S_ISLNK(st.st_mode)) return 0;  // links carry no permissions of their own
    mode_t add = S_IRUSR | S_IWUSR;
    if (S_ISDIR(st.st_mode) || (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH))) add |= S_IXUSR;
    const mode_t wanted = (st.st_mode & 07777) | add;
    int first = 0;
    if (wanted != (st.st_mode & 07777) && ::fchmodat(parentFd, name.c_str(), wanted, 0) != 0)
        Remember(first, errno);
    if (recurse && S_ISDIR(st.st_mode)) {
        Fd fd(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd) return first ? first : errno;
        std::vector<DirEntry> entries;
        if (int err = ReadNames(fd.Get(), entries)) Remember(first, err);
        for (const auto& e : entries) {
            if (int err = GrantAt(fd.Get(), e.name, true)) Remember(first, err);
        }
    }
    return first;
}

// Splits `path` for a temporary file beside it: folder ("" for the working
// folder) and the name in it.
bool SplitForTemp(const std::string& path, std::string& folder, std::string& name) {
    std::string parent;
    if (path.find('/') == std::string::npos) {
        folder.clear();
        name = path;
        return !name.empty();
    }
    if (!SplitParent(path, parent, name)) return false;
    folder = parent;
    return true;
}

// Writes a new file beside `to` through `fill` and renames it over `to`.
template <typename Fill>
int ReplaceWith(const std::string& to, unsigned mode, Fill fill) {
    std::string folder, name;
    if (!SplitForTemp(to, folder, name)) return EINVAL;
    posix::TempAt temp;
    if (int err = temp.Create(AT_FDCWD, folder, mode)) return err;
    if (int err = fill(temp)) return err;
    return temp.Commit(name, true);
}

}  // namespace

std::string ErrorText(int code) {
    char buf[256] = {};
    // GNU strerror_r returns the text, which may not be `buf`.
    const char* text = ::strerror_r(code, buf, sizeof buf);
    return text ? text : "Unknown error";
}

Kind PathKind(const std::string& path, Links links) {
    struct stat st {};
    int rc = links == Links::Follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    return rc == 0 ? KindOf(st.st_mode) : Kind::None;
}

int MakeOneDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return 0;
    int err = errno;
    if (err == EEXIST && PathKind(path, Links::Follow) == Kind::Dir) return 0;
    return err;
}

int RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}
int RemoveEmptyDir(const std::string& path) {
    return ::rmdir(path.c_str()) == 0 ? 0 : errno;
}
int RenamePath(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int ExchangePaths(const std::string& a, const std::string& b) {
#if defined(__linux__) && defined(SYS_renameat2)
    if (::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), kRenameExchange) == 0)
        return 0;
    // Kernels and file systems without the flag say so in one of these.
    return errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ? ENOSYS : errno;
#else
    (void)a;
    (void)b;
    return ENOSYS;
#endif
}

int LinkFile(const std::string& from, const std::string& to) {
    return ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int IdentifyPath(const std::string& path, PathId& out, Links links) {
    struct stat st {};
    if ((links == Links::Follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0)
        return errno;
    out = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return 0;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    return ec ? path : full.lexically_normal().string();
}

int ListDir(const std::string& path, std::vector<DirEntry>& out) {
    out.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return errno;
    return ReadNames(fd.Get(), out);
}

namespace {

// Copies the regular file open as `in` onto `to`.
int CopyOpenFile(const Fd& in, const std::string& to) {
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    // Permission bits travel with the file, less setuid/setgid/sticky.
    return ReplaceWith(to, st.st_mode & 0777, [&](posix::TempAt& temp) {
        std::vector<char> buf(1 << 16);
        for (;;) {
            const ssize_t n = ::read(in.Get(), buf.data(), buf.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (n == 0) return 0;
            if (int err = temp.Write(buf.data(), static_cast<std::size_t>(n))) return err;
        }
    });
}

// Opens the folder `relative` below `root` one level at a time; a link at any
// level fails the open instead of being followed.
int OpenBelow(const std::string& root, const std::string& relative, Fd& out) {
    std::vector<std::string> names;
    if (int err = SplitRelative(relative, names)) return err;
    Fd folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return errno;
    for (const std::string& name : names) {
        Fd next(
            ::openat(folder.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) return errno;
        folder = std::move(next);
    }
    out = std::move(folder);
    return 0;
}

}  // namespace

int CopyFileReplacing(const std::string& from, const std::string& to) {
    // Non-blocking open: a named pipe must be refused, not waited on.
    Fd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!in) return errno;
    return CopyOpenFile(in, to);
}

int ListDirBelow(const std::string& root, const std::string& relative, std::vector<DirEntry>& out) {
    out.clear();
    Fd folder;
    if (int err = OpenBelow(root, relative, folder)) return err;
    return ReadNames(folder.Get(), out);
}

int MoveFileBelow(const std::string& root, const std::string& relative, const std::string& to) {
    std::string parent, name;
    if (!SplitParent("/" + relative, parent, name)) return EINVAL;
    Fd folder;
    if (int err = OpenBelow(root, parent, folder)) return err;
    Fd in(::openat(folder.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!in) return errno;
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (::renameat(folder.Get(), name.c_str(), AT_FDCWD, to.c_str()) == 0) return 0;
    if (errno != EXDEV) return errno;
    if (int err = CopyOpenFile(in, to)) return err;
    return ::unlinkat(folder.Get(), name.c_str(), 0) == 0 ? 0 : errno;
}

int CopySymlink(const std::string& from, const std::string& to) {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink(from.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) return errno;
    std::string target(buf.data(), static_cast<std::size_t>(n));
    if (PathKind(to, Links::Name) != Kind::None && PathKind(to, Links::Name) != Kind::Dir)
        ::unlink(to.c_str());
    return ::symlink(target.c_str(), to.c_str()) == 0 ? 0 : errno;
}

namespace {

bool ProcessRuns(long pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

int RemoveStalePartsAt(int folderFd, bool recursive, int depth) {
    std::vector<DirEntry> entries;
    if (ReadNames(folderFd, entries) != 0) return 0;
    int removed = 0;
    for (const auto& e : entries) {
        if (e.kind == Kind::File && IsTempName(e.name)) {
            const long pid = std::strtol(e.name.c_str() + 4, nullptr, 10);
            if (pid != ::getpid() && !ProcessRuns(pid) &&
                ::unlinkat(folderFd, e.name.c_str(), 0) == 0)
                ++removed;
        } else if (recursive && e.kind == Kind::Dir && depth < 64) {
            Fd sub(::openat(folderFd, e.name.c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (sub) removed += RemoveStalePartsAt(sub.Get(), true, depth + 1);
        }
    }
    return removed;
}

}  // namespace

int RemoveStaleParts(const std::string& folder, bool recursive) {
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd ? RemoveStalePartsAt(fd.Get(), recursive, 0) : 0;
}

int RemoveTree(const std::string& path) {
    std::string parent, name;
    if (!SplitParent(path, parent, name)) return EINVAL;
    Fd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd) return errno;
    return RemoveEntryAt(parentFd.Get(), name);
}

int GrantOwnerAccess(const std::string& path, bool recurse) {
    std::string parent, name;
    if (!SplitParent(path, parent, name)) return EINVAL;
    Fd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd) return errno;
    return GrantAt(parentFd.Get(), name, recurse);
}

int ReadFile(const std::string& path, std::string& out) {
    out.clear();
    // Non-blocking open so that a named pipe in place of a file cannot hang us.
    Fd in(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!in) return errno;
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return EINVAL;
    std::vector<char> buf(1 << 16);
    for (;;) {
        ssize_t n = ::read(in.Get(), buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        out.append(buf.data(), static_cast<std::size_t>(n));
    }
}

int FileMode(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int>(st.st_mode & 07777);
}

bool CanWrite(const std::string& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

std::string ResolveLinks(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

int AddExecutePermission(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    const mode_t mode = st.st_mode & 07777;
    const mode_t wanted = mode | S_IXUSR | ((mode & (S_IRGRP | S_IROTH)) >> 2);
    if (wanted == mode) return 0;
    return ::chmod(path.c_str(), wanted) == 0 ? 0 : errno;
}

int LockFolder(const std::string& path, int& fd) {
    fd = -1;
    Fd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return errno;
    int rc = 0;
    do {
        rc = ::flock(folder.Get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return errno == EAGAIN ? EWOULDBLOCK : errno;
    fd = folder.Release();
    return 0;
}

void UnlockFolder(int fd) {
    if (fd >= 0) ::close(fd);  // closing the last descriptor releases the lock
}

bool OwnedByCurrentUser(const std::string& path, Links links) {
    struct stat st {};
    const int rc = links == Links::Follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    return rc == 0 && st.st_uid == ::geteuid();
}

}  // namespace talvane::platform
