#include "common/files.h"

#include "common/atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "common/log.h"
#include "common/strings.h"
#include "platform/platform.h"

namespace talvane {
namespace {

using platform::Kind;
using platform::Links;

// Paths longer than this are logged with their length: they point at a
// too-deep extraction folder.
constexpr std::size_t kLongPathLimit = 116;

bool IsAbsolute(std::string_view path) {
    return platform::RootLength(path) > 0;
}

std::string WithoutTrailingSlashes(std::string_view path) {
    std::string p(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string ParentOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    const std::size_t root = platform::RootLength(path);
    return slash < root ? path.substr(0, root) : path.substr(0, slash);
}

bool HasWildcard(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

// "name (2).ext" beside an existing "name.ext".
std::string FreeNameBeside(const std::string& target) {
    const std::string folder = ParentOf(target);
    std::string name = StripPath(target);
    std::size_t dot = name.rfind('.');
    std::string stem = (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
    std::string ext = (dot == std::string::npos || dot == 0) ? "" : name.substr(dot);
    for (int n = 2;; ++n) {
        std::string candidate = JoinPath(folder, stem + " (" + std::to_string(n) + ")" + ext);
        if (platform::PathKind(candidate, Links::Name) == Kind::None) return candidate;
    }
}

enum class Op { Copy, Move };

// Puts `from` at `to`: files replace files, folders merge into folders.
bool Transfer(const std::string& from, const std::string& to, Op op, bool renameOnCollision);

bool TransferFile(const std::string& from, Kind fromKind, const std::string& to, Op op,
                  bool renameOnCollision) {
    std::string target = to;
    const Kind existing = platform::PathKind(target, Links::Name);
    if (existing == Kind::Dir) return false;  // a file cannot replace a folder
    if (existing != Kind::None && renameOnCollision) target = FreeNameBeside(target);

    if (op == Op::Move) {
        int err = platform::RenamePath(from, target);
        if (err == 0) return true;
        if (err != EXDEV) return false;
        // Another file system: copy, then remove the original.
    }
    int err = fromKind == Kind::Symlink ? platform::CopySymlink(from, target)
                                        : platform::CopyFileReplacing(from, target);
    if (err) return false;
    if (op == Op::Move) return platform::RemoveFile(from) == 0;
    return true;
}

// What is at `to`, where a folder is merged; a link there would carry the files
// out of the tree to wherever it points: the link goes, and None comes back.
Kind MergeTarget(const std::string& to) {
    Kind existing = platform::PathKind(to, Links::Name);
    if (existing != Kind::Symlink) return existing;
    DPrint("replaced the link " + to + " by a folder");
    return platform::RemoveFile(to) == 0 ? Kind::None : Kind::Symlink;
}

bool TransferDir(const std::string& from, const std::string& to, Op op, bool renameOnCollision) {
    Kind existing = MergeTarget(to);
    if (existing != Kind::None && existing != Kind::Dir) return false;
    if (op == Op::Move && existing == Kind::None) {
        if (!MakeSureDirExists(ParentOf(to))) return false;
        int err = platform::RenamePath(from, to);
        if (err == 0) return true;
        if (err != EXDEV) return false;
    }
    if (existing == Kind::None && platform::MakeOneDir(to) != 0) return false;
    std::vector<platform::DirEntry> entries;
    if (platform::ListDir(from, entries) != 0) return false;
    bool ok = true;
    for (const auto& e : entries) {
        ok = Transfer(JoinPath(from, e.name), JoinPath(to, e.name), op, renameOnCollision) && ok;
    }
    if (op == Op::Move && ok) ok = platform::RemoveEmptyDir(from) == 0;
    return ok;
}

bool Transfer(const std::string& from, const std::string& to, Op op, bool renameOnCollision) {
    // A folder cannot go inside itself; copying would never end.
    if (to.size() > from.size() && to.compare(0, from.size(), from) == 0 && to[from.size()] == '/')
        return false;
    const Kind kind = platform::PathKind(from, Links::Name);
    switch (kind) {
        case Kind::None:
            return false;
        case Kind::Dir:
            return TransferDir(from, to, op, renameOnCollision);
        default:
            if (!MakeSureDirExists(ParentOf(to))) return false;
            return TransferFile(from, kind, to, op, renameOnCollision);
    }
}

// One operation of the shell kind: a source (file, folder or wildcard pattern)
// and a destination. The destination is a folder to put things into when it is
// an existing folder, ends in '/', or the source is a wildcard; otherwise it is
// the new path of the single source item.
bool ShellOperation(std::string_view source, std::string_view destination, Op op,
                    bool renameOnCollision) {
    if (!IsAbsolute(source) || !IsAbsolute(destination)) return false;
    const std::string src = WithoutTrailingSlashes(source);
    const std::string dst = WithoutTrailingSlashes(destination);
    const std::string srcName = StripPath(src);
    const bool destIsFolder = destination.back() == '/' || DoesDirExist(dst);

    if (HasWildcard(srcName)) {
        const std::string folder = ParentOf(src);
        std::vector<platform::DirEntry> entries;
        if (platform::ListDir(folder, entries) != 0) return false;
        std::vector<std::string> matches;
        for (const auto& e : entries) {
            if (WildcardMatch(srcName, e.name)) matches.push_back(e.name);
        }
        if (matches.empty()) return false;
        if (!MakeSureDirExists(dst)) return false;
        bool ok = true;
        for (const auto& name : matches) {
            ok = Transfer(JoinPath(folder, name), JoinPath(dst, name), op, renameOnCollision) && ok;
        }
        return ok;
    }

    if (platform::PathKind(src, Links::Name) == Kind::None) return false;
    if (src == dst) return op == Op::Move;  // nothing to do; a copy onto itself fails
    if (destIsFolder) {
        const std::string target = JoinPath(dst, srcName);
        if (target == src) return op == Op::Move;
        if (!MakeSureDirExists(dst)) return false;
        return Transfer(src, target, op, renameOnCollision);
    }
    return Transfer(src, dst, op, renameOnCollision);
}

bool NotMoved(std::string_view root, const std::string& relative, int err) {
    DPrint("not moved: " + JoinPath(root, relative) + ": " + platform::ErrorText(err));
    return false;
}

// One entry below the staging root, of the kind its listing gave (links not
// followed), to the path `to`. Only files and folders move.
bool MoveStaged(const std::string& root, const std::string& relative, Kind kind,
                const std::string& to) {
    if (kind != Kind::Dir) {
        if (platform::PathKind(to, Links::Name) == Kind::Dir || !MakeSureDirExists(ParentOf(to)))
            return false;
        const int err = platform::MoveFileBelow(root, relative, to);
        return err == 0 || NotMoved(root, relative, err);
    }
    std::vector<platform::DirEntry> entries;
    if (int err = platform::ListDirBelow(root, relative, entries))
        return NotMoved(root, relative, err);
    const Kind existing = MergeTarget(to);
    if (existing == Kind::None && !MakeSureDirExists(to)) return false;
    if (existing != Kind::None && existing != Kind::Dir) return false;
    bool ok = true;
    for (const auto& e : entries)
        ok = MoveStaged(root, relative + "/" + e.name, e.kind, JoinPath(to, e.name)) && ok;
    return ok;
}

bool CloneEntries(const std::string& from, const std::string& to) {
    if (platform::MakeOneDir(to) != 0) return false;
    std::vector<platform::DirEntry> entries;
    if (platform::ListDir(from, entries) != 0) return false;
    bool ok = true;
    for (const auto& e : entries) {
        const std::string source = JoinPath(from, e.name), target = JoinPath(to, e.name);
        switch (e.kind) {
            case Kind::Dir:
                ok = CloneEntries(source, target) && ok;
                break;
            case Kind::File:
                ok = (platform::LinkFile(source, target) == 0 ||
                      platform::CopyFileReplacing(source, target) == 0) &&
                     ok;
                break;
            case Kind::Symlink:
                ok = platform::CopySymlink(source, target) == 0 && ok;
                break;
            default:
                DPrint("not copied (neither file, folder nor link): " + source);
                break;
        }
    }
    return ok;
}

}  // namespace

bool CloneTree(std::string_view from, std::string_view to) {
    return CloneEntries(std::string(from), std::string(to));
}

bool MoveFromStaging(std::string_view root, std::string_view relative,
                     std::string_view destination) {
    if (!IsAbsolute(root) || !IsAbsolute(destination)) return false;
    const std::string rel = WithoutTrailingSlashes(relative);
    const std::size_t slash = rel.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : rel.substr(0, slash);
    const std::string pattern = StripPath(rel);
    std::vector<platform::DirEntry> entries;
    if (int err = platform::ListDirBelow(std::string(root), folder, entries))
        return NotMoved(root, rel, err);
    bool matched = false, ok = true;
    for (const auto& e : entries) {
        if (HasWildcard(pattern) ? !WildcardMatch(pattern, e.name) : pattern != e.name) continue;
        matched = true;
        const std::string entry = folder.empty() ? e.name : folder + "/" + e.name;
        ok = MoveStaged(std::string(root), entry, e.kind, JoinPath(destination, e.name)) && ok;
    }
    return matched && ok;
}

bool DoesFileExist(std::string_view path) {
    bool result = false;
    if (IsAbsolute(path)) {
        result = platform::PathKind(std::string(path), Links::Follow) != Kind::Dir &&
                 platform::PathKind(std::string(path), Links::Follow) != Kind::None;
    }
    if (path.size() > kLongPathLimit) DPrint(static_cast<long long>(path.size()));
    return result;
}

bool DoesDirExist(std::string_view path) {
    return IsAbsolute(path) && platform::PathKind(std::string(path), Links::Follow) == Kind::Dir;
}

bool MakeSureDirExists(std::string_view folder) {
    if (!IsAbsolute(folder)) return false;
    std::string path(folder);
    // Create each missing level from the top down.
    for (std::size_t pos = path.find('/', std::max<std::size_t>(1, platform::RootLength(path)));
         pos != std::string::npos; pos = path.find('/', pos + 1)) {
        platform::MakeOneDir(path.substr(0, pos));
    }
    platform::MakeOneDir(path);
    return DoesDirExist(folder);
}

bool ShellCopy(std::string_view source, std::string_view destination, bool renameOnCollision) {
    return ShellOperation(source, destination, Op::Copy, renameOnCollision);
}

bool ShellMove(std::string_view source, std::string_view destination, bool renameOnCollision) {
    return ShellOperation(source, destination, Op::Move, renameOnCollision);
}

std::string GetPathType(std::string_view path) {
    std::string result;
    if (DoesFileExist(path)) result = "file";
    if (DoesDirExist(path)) result = "dir";
    if (result.empty()) result = "neither";
    return result;
}

bool DeleteFileQuiet(std::string_view path) {
    std::string p(path);
    const Kind kind = platform::PathKind(p, Links::Name);
    if (kind == Kind::None) return true;
    if (kind == Kind::Dir) return false;
    return platform::RemoveFile(p) == 0 || platform::PathKind(p, Links::Name) == Kind::None;
}

bool RenameFile(std::string_view from, std::string_view to) {
    return platform::RenamePath(std::string(from), std::string(to)) == 0;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    while (!out.empty() && out.back() == '/') out.pop_back();
    std::size_t skip = 0;
    while (skip < name.size() && name[skip] == '/') ++skip;
    out += '/';
    out += name.substr(skip);
    return out;
}

void RemoveStaleParts(std::string_view folder, bool recursive) {
    const int removed = platform::RemoveStaleParts(std::string(folder), recursive);
    if (removed > 0)
        DPrint("removed " + std::to_string(removed) + " part(s) left by an interrupted run in " +
               std::string(folder));
}

bool IsSymbolicLink(std::string_view path) {
    return platform::PathKind(std::string(path), Links::Name) == Kind::Symlink;
}

bool WriteFileAtomic(std::string_view path, std::string_view data, unsigned mode) {
    return static_cast<bool>(WriteFileAtomically(std::string(path), data, mode));
}

bool ReadWholeFile(std::string_view path, std::string& out) {
    return platform::ReadFile(std::string(path), out) == 0;
}

int GetFileMode(std::string_view path) {
    return platform::FileMode(std::string(path));
}

bool IsWritablePath(std::string_view path) {
    return platform::CanWrite(std::string(path));
}

std::string ResolveLinks(std::string_view path) {
    return platform::ResolveLinks(std::string(path));
}

bool MakeExecutable(std::string_view path) {
    return platform::AddExecutePermission(std::string(path)) == 0;
}

FolderLock::~FolderLock() {
    platform::UnlockFolder(fd_);
}

bool FolderLock::TryLock(std::string_view folder) {
    if (fd_ >= 0) return true;
    const int err = platform::LockFolder(std::string(folder), fd_);
    if (err == EWOULDBLOCK) return false;
    if (err != 0) DPrint("folder lock not taken: " + platform::ErrorText(err));
    return true;
}

}  // namespace talvane
