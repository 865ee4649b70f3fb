#include "common/tree_removal.h"

#include <cerrno>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/log.h"
#include "common/log_sites.h"
#include "common/ownership.h"
#include "platform/platform.h"

namespace talvane {
namespace {

using platform::Kind;
using platform::Links;

void WriteResultLines(std::string_view header, std::string_view path, bool result) {
    DPrint(header);
    DPrint("\t- passed: " + std::string(path));
    DPrint(std::string("\t- returned: ") + (result ? "True" : "False"));
}

// What a recursive grant does on Windows: full access for the owner over the whole tree
// (nothing for group or others).
void ResetAccess(const std::string& target) {
    ChangeOwnerOfFile(target, "");
    platform::GrantOwnerAccess(target, true);
}

bool DeleteWholeTree(const std::string& path) {
    // A path that is itself a link goes as a link; the tree behind it stays.
    const int err =
        platform::PathKind(path, Links::Name) == Kind::None ? ENOENT : platform::RemoveTree(path);
    if (err == 0) return true;
    ReportFailure(logsite::kDeleteTree, ErrorMarker::Dashed, err, platform::ErrorText(err));
    DPrint("\t- Error deleting path:  " + path);
    return false;
}

// Every file below `folder` (links as names, never followed), one by one.
void RemoveFilesBelow(const std::string& folder) {
    std::vector<platform::DirEntry> entries;
    if (platform::ListDir(folder, entries) != 0) return;
    for (const auto& e : entries) {
        const std::string path = JoinPath(folder, e.name);
        if (e.kind == Kind::Dir)
            RemoveFilesBelow(path);
        else
            RemoveFileForcibly(path);
    }
}

bool RemoveEscalating(const std::string& path) {
    for (int attempt = 1;; ++attempt) {
        if (!DoesDirExist(path)) {
            WriteResultLines("RemoveTree: ", path, true);
            return true;
        }
        if (DeleteWholeTree(path)) return true;
        if (attempt == 1) {
            ResetAccess(path);
            continue;
        }
        // Second failure: take down what can be taken, piece by piece, by the names the
        // folders give.
        RemoveFilesBelow(path);
        std::vector<platform::DirEntry> entries;
        platform::ListDir(path, entries);
        for (const auto& e : entries)
            if (e.kind == Kind::Dir) DeleteWholeTree(JoinPath(path, e.name));
        return false;
    }
}

}  // namespace

bool RemoveTree(std::string_view folder, Recreate recreate) {
    const bool removed = RemoveEscalating(std::string(folder));
    if (recreate == Recreate::Yes) MakeSureDirExists(folder);
    return removed;
}

bool RemoveFileForcibly(std::string_view file) {
    const std::string path(file);
    bool removed = false;
    for (int attempt = 1;; ++attempt) {
        if (platform::PathKind(path, Links::Name) != Kind::Dir) platform::RemoveFile(path);
        if (!DoesFileExist(path)) {
            removed = true;
            break;
        }
        if (attempt == 2) {
            DPrint(logsite::kRemoveFile + " - Unable to delete:  " + path);
            break;
        }
        ResetAccess(path);
    }
    WriteResultLines(logsite::kRemoveFile + ": ", file, removed);
    return removed;
}

}  // namespace talvane
