#include "common/fso.h"

#include <cerrno>
#include <vector>

#include "common/event_pump.h"
#include "common/files.h"
#include "common/log.h"
#include "common/ownership.h"
#include "common/process.h"
#include "common/strings.h"
#include "platform/platform.h"

namespace talvane {
namespace {

using platform::Kind;

std::string ExtensionOf(std::string_view name) {
    std::string file = StripPath(name);
    std::size_t dot = file.rfind('.');
    return dot == std::string::npos ? std::string() : file.substr(dot + 1);
}

void WriteResultLines(std::string_view header, std::string_view path, bool result) {
    DPrint(header);
    DPrint("\t- passed: " + std::string(path));
    DPrint(std::string("\t- returned: ") + (result ? "True" : "False"));
}

}  // namespace

bool clsFSO::KillDir(std::string_view strPath, bool RecreatePath) {
    bool result = false;
    for (int attempt = 1;; ++attempt) {
        if (!DoesDirExist(strPath)) {
            result = true;
            WriteResultLines("clsFSO\\KillDir: ", strPath, true);
            break;
        }
        if (DelTree32(strPath)) {
            result = true;
            break;
        }
        if (attempt == 1) {
            ResetAttributes(strPath);
            continue;
        }
        // Second failure: take down what can be taken, piece by piece, by the
        // names the folder gives (a joined list would split a name holding ';').
        KillFilesBelow(std::string(strPath));
        std::vector<platform::DirEntry> entries;
        platform::ListDir(std::string(strPath), entries);
        for (const auto& e : entries)
            if (e.kind == Kind::Dir) DelTree32(JoinPath(strPath, e.name));
        result = false;
        break;
    }
    if (RecreatePath) MakeSureDirExists(strPath);
    return result;
}

void clsFSO::KillFilesBelow(const std::string& folder) {
    std::vector<platform::DirEntry> entries;
    if (platform::ListDir(folder, entries) != 0) return;
    for (const auto& e : entries) {
        const std::string path = JoinPath(folder, e.name);
        if (e.kind == Kind::Dir)
            KillFilesBelow(path);
        else
            KillFile(path);
    }
}

bool clsFSO::KillFile(std::string_view strFile) {
    bool result = false;
    const std::string path(strFile);
    for (int attempt = 1;; ++attempt) {
        if (platform::PathKind(path, false) != Kind::Dir) platform::RemoveFile(path);
        if (!DoesFileExist(path)) {
            result = true;
            break;
        }
        if (attempt == 2) {
            DPrint("clsFSO\\KillFile - Unable to delete:  " + path);
            break;
        }
        ResetAttributes(path);
    }
    WriteResultLines("clsFSO\\KillFile: ", strFile, result);
    return result;
}

bool clsFSO::DelTree32(std::string_view strPath) {
    const std::string path(strPath);
    int err = 0;
    // A path that is itself a link goes as a link; the tree behind it stays.
    err = platform::PathKind(path, false) == Kind::None ? ENOENT : platform::RemoveTree(path);
    if (err == 0) return true;
    ReportFailure("clsFSO\\DelTree32", ErrorMarker::Dashed, err, platform::ErrorText(err));
    DPrint("\t- Error deleting path:  " + path);
    return false;
}

std::string clsFSO::Get_FileList(std::string_view folder, bool recurse, std::string_view pattern) {
    if (folder.empty()) {
        DPrint("cFSO\\Get_FileList - Passed no string, aborting!");
        return {};
    }
    std::string list;
    const std::string dir(folder);
    // "*.*", or a name without '*', selects everything; "*.ext" selects by extension.
    const bool everything = pattern == "*.*" || pattern.find('*') == std::string_view::npos;
    const std::string wantedExt = ExtensionOf(pattern);
    std::vector<platform::DirEntry> entries;
    if (int err = platform::ListDir(dir, entries)) {
        ReportFailure("clsFSO\\Get_FileList", ErrorMarker::Dashed, err, platform::ErrorText(err));
        DPrint("clsFSO\\Get_FileList -      DIR: " + dir);
        DPrint(list);
        DPrint("\tAborting function...");
        return list;
    }
    for (const auto& e : entries) {
        if (e.kind == Kind::Dir) continue;
        DoEvents();
        if (everything || EqualsNoCase(ExtensionOf(e.name), wantedExt))
            list += JoinPath(dir, e.name) + ";";
    }
    if (recurse) {
        for (const auto& e : entries) {
            if (e.kind == Kind::Dir) list += Get_FileList(JoinPath(dir, e.name), recurse, pattern);
        }
    }
    return list;
}

std::string clsFSO::Get_DirList(std::string_view strPath, bool bRecurseSubs) {
    if (strPath.empty()) {
        DPrint("cFSO\\Get_DirList - Passed no string, aborting!");
        return {};
    }
    const std::string dir(strPath);
    std::vector<platform::DirEntry> entries;
    if (int err = platform::ListDir(dir, entries)) {
        ReportFailure("clsFSO\\Get_DirList", ErrorMarker::Dashed, err, platform::ErrorText(err));
        DPrint("clsFSO\\Get_DirList -      DIR: " + dir);
        DPrint("\tAborting function...");
        return {};
    }
    std::string list;
    for (const auto& e : entries) {
        // Links to folders are not descended: they may lead out of the tree.
        if (e.kind != Kind::Dir) continue;
        DoEvents();
        const std::string sub = JoinPath(dir, e.name);
        list += sub + ";";
        if (bRecurseSubs) list += Get_DirList(sub, true) + ";";
    }
    if (!list.empty() && list.back() == ';') list.pop_back();
    return list;
}

void clsFSO::ResetAttributes(std::string_view sTargetFile) {
    const std::string target(sTargetFile);
    ChangeOwnerOfFile(target, "");
    // What the recursive grant did on Windows: full access for the owner
    // over the whole tree (nothing for group or others).
    platform::GrantOwnerAccess(target, true);
}

}  // namespace talvane
