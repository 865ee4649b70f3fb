// File-system calls on the wide-character API. Tree operations look at each
// entry's own attributes: a link (reparse point) inside a tree is removed or
// skipped as a name, never followed out of the tree.
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/portable.h"
#include "platform/win_util.h"

#include <aclapi.h>  // after windows.h with its settings

namespace talvane::platform {
namespace {

Kind KindOfAttributes(DWORD a) {
    if (win::IsLink(a)) return Kind::Symlink;
    if (win::IsFolder(a)) return Kind::Dir;
    if (a & FILE_ATTRIBUTE_DEVICE) return Kind::Other;
    return Kind::File;
}

void Remember(int& first, int err) {
    if (first == 0) first = err;
}

// Splits "C:/a/b" into "C:/a" and "b" (trailing '/' ignored).
bool SplitParent(std::string path, std::string& parent, std::string& name) {
    while (path.size() > RootLength(path) && path.back() == '/') path.pop_back();
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || path.size() <= RootLength(path)) return false;
    parent =
        slash + 1 <= RootLength(path) ? path.substr(0, RootLength(path)) : path.substr(0, slash);
    name = path.substr(slash + 1);
    return !name.empty() && name != "." && name != "..";
}

std::string Join(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

int RemoveEntry(const std::string& path) {
    DWORD a = 0;
    if (!win::Attributes(path, a)) return win::LastErrno();
    if (!win::IsFolder(a) || win::IsLink(a)) return win::RemoveName(path);
    int first = 0;
    std::vector<DirEntry> entries;
    if (int err = ListDir(path, entries)) Remember(first, err);
    for (const auto& e : entries) {
        if (int err = RemoveEntry(Join(path, e.name))) Remember(first, err);
    }
    if (int err = win::RemoveName(path)) Remember(first, err);
    return first;
}

int GrantEntry(const std::string& path, bool recurse) {
    DWORD a = 0;
    if (!win::Attributes(path, a)) return win::LastErrno();
    if (win::IsLink(a)) return 0;
    int first = 0;
    if ((a & FILE_ATTRIBUTE_READONLY) &&
        !::SetFileAttributesW(win::Wide(path).c_str(), a & ~DWORD{FILE_ATTRIBUTE_READONLY}))
        Remember(first, win::LastErrno());
    if (recurse && win::IsFolder(a)) {
        std::vector<DirEntry> entries;
        if (int err = ListDir(path, entries)) Remember(first, err);
        for (const auto& e : entries) {
            if (int err = GrantEntry(Join(path, e.name), true)) Remember(first, err);
        }
    }
    return first;
}

bool ProcessRuns(unsigned long pid) {
    win::Handle h(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!h.Valid()) return ::GetLastError() == ERROR_ACCESS_DENIED;
    return ::WaitForSingleObject(h.Get(), 0) == WAIT_TIMEOUT;
}

int RemoveStalePartsIn(const std::string& folder, bool recursive, int depth) {
    std::vector<DirEntry> entries;
    if (ListDir(folder, entries) != 0) return 0;
    int removed = 0;
    for (const auto& e : entries) {
        const std::string path = Join(folder, e.name);
        if (e.kind == Kind::File && IsTempName(e.name)) {
            const unsigned long pid = std::strtoul(e.name.c_str() + 4, nullptr, 10);
            if (pid != ::GetCurrentProcessId() && !ProcessRuns(pid) && win::RemoveName(path) == 0)
                ++removed;
        } else if (recursive && e.kind == Kind::Dir && depth < 64) {
            removed += RemoveStalePartsIn(path, true, depth + 1);
        }
    }
    return removed;
}

// Folder locks are named kernel objects: the name is the folder's full path.
std::mutex g_lockMutex;
std::vector<HANDLE> g_locks;

}  // namespace

std::string ErrorText(int code) {
    const char* text = std::strerror(code);
    return text ? text : "Unknown error";
}

Kind PathKind(const std::string& path, Links links) {
    DWORD a = 0;
    const bool ok =
        links == Links::Follow ? win::TargetAttributes(path, a) : win::Attributes(path, a);
    return ok ? KindOfAttributes(a) : Kind::None;
}

int MakeOneDir(const std::string& path) {
    if (::CreateDirectoryW(win::Wide(path).c_str(), nullptr)) return 0;
    const int err = win::LastErrno();
    if (err == EEXIST && PathKind(path, Links::Follow) == Kind::Dir) return 0;
    if (err == EACCES && PathKind(path, Links::Follow) == Kind::Dir) return 0;  // a drive root
    return err;
}

int RemoveFile(const std::string& path) {
    DWORD a = 0;
    if (!win::Attributes(path, a)) return win::LastErrno();
    if (win::IsFolder(a) && !win::IsLink(a)) return EISDIR;
    return win::RemoveName(path);
}

int RemoveEmptyDir(const std::string& path) {
    return ::RemoveDirectoryW(win::Wide(path).c_str()) ? 0 : win::LastErrno();
}

int RenamePath(const std::string& from, const std::string& to) {
    return ::MoveFileExW(win::Wide(from).c_str(), win::Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)
               ? 0
               : win::LastErrno();
}

int ExchangePaths(const std::string&, const std::string&) {
    return ENOSYS;
}

int LinkFile(const std::string& from, const std::string& to) {
    return ::CreateHardLinkW(win::Wide(to).c_str(), win::Wide(from).c_str(), nullptr)
               ? 0
               : win::LastErrno();
}

int IdentifyPath(const std::string& path, PathId& out, Links links) {
    // Folders open only with backup semantics.
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (links == Links::Follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    win::Handle h(::CreateFileW(win::Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr));
    if (!h.Valid()) return win::LastErrno();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h.Get(), &info)) return win::LastErrno();
    out = {info.dwVolumeSerialNumber,
           (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return 0;
}

std::string AbsolutePath(const std::string& path) {
    const std::wstring wide = win::Wide(path);
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD written = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) return path;
    full.resize(written);
    return win::ToInternalPath(win::Utf8(full));
}

int ListDir(const std::string& path, std::vector<DirEntry>& out) {
    out.clear();
    DWORD a = 0;
    if (!win::TargetAttributes(path, a)) return win::LastErrno();
    if (!win::IsFolder(a)) return ENOTDIR;
    WIN32_FIND_DATAW data{};
    const HANDLE find = ::FindFirstFileExW(win::Wide(Join(path, "*")).c_str(), FindExInfoBasic,
                                           &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : win::ErrnoFrom(error);
    }
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        out.push_back({win::Utf8(name), KindOfAttributes(data.dwFileAttributes)});
    } while (::FindNextFileW(find, &data));
    const DWORD error = ::GetLastError();
    ::FindClose(find);
    if (error != ERROR_NO_MORE_FILES) return win::ErrnoFrom(error);
    std::sort(out.begin(), out.end(),
              [](const DirEntry& x, const DirEntry& y) { return x.name < y.name; });
    return 0;
}

int CopyFileReplacing(const std::string& from, const std::string& to) {
    win::Handle in(::CreateFileW(win::Wide(from).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in.Valid()) return win::LastErrno();
    if (::GetFileType(in.Get()) != FILE_TYPE_DISK) return EINVAL;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(in.Get(), &info)) return win::LastErrno();
    if (win::IsFolder(info.dwFileAttributes)) return EINVAL;
    std::string folder, name;
    if (to.find('/') == std::string::npos) {
        name = to;
    } else if (!SplitParent(to, folder, name)) {
        return EINVAL;
    }
    win::TempPart temp;
    const unsigned mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
    if (int err = temp.Create(folder, mode)) return err;
    std::vector<char> buf(1 << 16);
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(in.Get(), buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr))
            return win::LastErrno();
        if (n == 0) break;
        if (int err = temp.Write(buf.data(), n)) return err;
    }
    return temp.Commit(name, true);
}

int CopySymlink(const std::string& from, const std::string& to) {
    std::string target = ResolveLinks(from);
    if (target.empty()) return ENOENT;
    DWORD a = 0;
    const bool folder = win::TargetAttributes(from, a) && win::IsFolder(a);
    if (PathKind(to, Links::Name) == Kind::File || PathKind(to, Links::Name) == Kind::Symlink)
        win::RemoveName(to);
    const DWORD flags =
        (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    return ::CreateSymbolicLinkW(win::Wide(to).c_str(), win::Wide(target).c_str(), flags)
               ? 0
               : win::LastErrno();
}

namespace {

// The path of `relative` below `root`, each level checked on its own
// attributes: a link (reparse point) at any level refuses it.
int PathBelow(const std::string& root, const std::string& relative, std::string& path) {
    path = root;
    std::vector<std::string> names;
    if (int err = SplitRelative(relative, names)) return err;
    for (std::size_t i = 0; i < names.size(); ++i) {
        path = Join(path, names[i]);
        DWORD a = 0;
        if (!win::Attributes(path, a)) return win::LastErrno();
        if (win::IsLink(a)) return ELOOP;
        if (i + 1 < names.size() && !win::IsFolder(a)) return ENOTDIR;
    }
    return 0;
}

}  // namespace

int ListDirBelow(const std::string& root, const std::string& relative, std::vector<DirEntry>& out) {
    out.clear();
    std::string path;
    if (int err = PathBelow(root, relative, path)) return err;
    return ListDir(path, out);
}

int MoveFileBelow(const std::string& root, const std::string& relative, const std::string& to) {
    std::string from;
    if (int err = PathBelow(root, relative, from)) return err;
    DWORD a = 0;
    if (!win::Attributes(from, a)) return win::LastErrno();
    if (win::IsFolder(a) || (a & FILE_ATTRIBUTE_DEVICE)) return EINVAL;
    const std::wstring source = win::Wide(from), target = win::Wide(to);
    if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
    if (::GetLastError() != ERROR_NOT_SAME_DEVICE) return win::LastErrno();
    // A copy would write into the file the target names, which may have a second
    // name elsewhere (a staged tree): the target goes first.
    ::DeleteFileW(target.c_str());
    return ::MoveFileExW(source.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)
               ? 0
               : win::LastErrno();
}

int RemoveStaleParts(const std::string& folder, bool recursive) {
    return RemoveStalePartsIn(folder, recursive, 0);
}

int RemoveTree(const std::string& path) {
    std::string parent, name;
    if (!SplitParent(path, parent, name)) return EINVAL;
    return RemoveEntry(path);
}

int GrantOwnerAccess(const std::string& path, bool recurse) {
    std::string parent, name;
    if (!SplitParent(path, parent, name)) return EINVAL;
    return GrantEntry(path, recurse);
}

int ReadFile(const std::string& path, std::string& out) {
    out.clear();
    DWORD a = 0;
    if (win::TargetAttributes(path, a) && win::IsFolder(a)) return EISDIR;
    win::Handle in(::CreateFileW(win::Wide(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in.Valid()) return win::LastErrno();
    if (::GetFileType(in.Get()) != FILE_TYPE_DISK) return EINVAL;
    std::vector<char> buf(1 << 16);
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(in.Get(), buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr))
            return win::LastErrno();
        if (n == 0) return 0;
        out.append(buf.data(), n);
    }
}

int FileMode(const std::string& path) {
    struct _stat64 st {};
    if (::_wstat64(win::Wide(path).c_str(), &st) != 0) return -1;
    return static_cast<int>(st.st_mode & 0777);
}

bool CanWrite(const std::string& path) {
    return ::_waccess(win::Wide(path).c_str(), 2) == 0;
}

std::string ResolveLinks(const std::string& path) {
    win::Handle h(::CreateFileW(win::Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid()) return {};
    std::vector<wchar_t> buf(32768);
    const DWORD n = ::GetFinalPathNameByHandleW(h.Get(), buf.data(), static_cast<DWORD>(buf.size()),
                                                FILE_NAME_NORMALIZED);
    if (n == 0 || n >= buf.size()) return {};
    std::wstring full(buf.data(), n);
    if (full.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        full = L"\\\\" + full.substr(8);
    } else if (full.rfind(L"\\\\?\\", 0) == 0) {
        full = full.substr(4);
    }
    return win::ToInternalPath(win::Utf8(full));
}

// Windows decides what runs by the name, not by permission bits.
int AddExecutePermission(const std::string& path) {
    return PathKind(path, Links::Follow) == Kind::File ? 0 : EINVAL;
}

int LockFolder(const std::string& path, int& fd) {
    fd = -1;
    std::string full = ResolveLinks(path);
    if (full.empty()) return ENOENT;
    std::wstring key = win::Wide(full);
    for (wchar_t& c : key) c = c == L'\\' ? L'/' : static_cast<wchar_t>(::towlower(c));
    const std::wstring name = L"Local\\talvane-folder-" + key;
    const HANDLE h = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (!h) return win::LastErrno();
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(h);
        return EWOULDBLOCK;
    }
    std::lock_guard<std::mutex> lock(g_lockMutex);
    g_locks.push_back(h);
    fd = static_cast<int>(g_locks.size() - 1);
    return 0;
}

void UnlockFolder(int fd) {
    std::lock_guard<std::mutex> lock(g_lockMutex);
    if (fd < 0 || static_cast<std::size_t>(fd) >= g_locks.size() || !g_locks[fd]) return;
    ::CloseHandle(g_locks[fd]);
    g_locks[fd] = nullptr;
}

namespace {

// Whether `sid` is the token's user or its default owner: an elevated process
// gives what it creates to the administrators group.
bool TokenNames(HANDLE token, TOKEN_INFORMATION_CLASS what, PSID sid) {
    DWORD size = 0;
    ::GetTokenInformation(token, what, nullptr, 0, &size);
    if (size == 0) return false;
    std::vector<unsigned char> buffer(size);
    if (!::GetTokenInformation(token, what, buffer.data(), size, &size)) return false;
    const PSID mine = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                        : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
    return ::EqualSid(mine, sid) != FALSE;
}

}  // namespace

bool OwnedByCurrentUser(const std::string& path, Links links) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS |
                        (links == Links::Follow ? 0 : DWORD{FILE_FLAG_OPEN_REPARSE_POINT});
    win::Handle entry(::CreateFileW(win::Wide(path).c_str(), READ_CONTROL,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, flags, nullptr));
    if (!entry.Valid()) return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(entry.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const std::unique_ptr<void, decltype(&::LocalFree)> held(descriptor, &::LocalFree);
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    const win::Handle token(raw);
    return TokenNames(token.Get(), TokenUser, owner) || TokenNames(token.Get(), TokenOwner, owner);
}

}  // namespace talvane::platform
