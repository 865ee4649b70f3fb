#include "app/tool_package.h"

#include <algorithm>
#include <memory>
#include <set>
#include <unordered_map>

#include "app/delta_download.h"
#include "app/messages.h"
#include "app/streamed_unpack.h"
#include "app/unzip.h"
#include "common/app_paths.h"
#include "common/log.h"
#include "common/names.h"
#include "common/process.h"
#include "common/strings.h"
#include "net/partial_download.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "zip/zip_reader.h"

namespace talvane::app {

bool ClaimProgramFolder(Frontend& frontend, FolderLock& lock) {
    if (lock.TryLock(WorkPath())) return true;
    DPrint("another launcher is working in the program folder; request refused");
    frontend.MessageBox(std::string("Another Talvane is already working in this program folder.") +
                            kLineBreak + "Please try again when it has finished.",
                        AppTitle(), MsgIcon::Exclamation);
    return false;
}

bool StartUnpacked(const std::string& program, const std::vector<std::string>& arguments) {
    if (DoesFileExist(program) && !MakeExecutable(program)) {
        DPrint("could not mark the program executable: " + program);
    }
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return StartDetached(argv);
}

DeployManifest ToolPackage::DescribeOnServer(const std::string& remoteName) {
    DeployManifest server;
    server.package = remoteName;
    if (const auto info = context_.transfers.Ftp().FileInfo(remoteName)) {
        server.serverSize = info->size;
        if (info->modified)
            server.serverTime = std::to_string(info->modified->time_since_epoch().count());
    }
    if (context_.signatures.Required())
        server.signature = context_.signatures.SignatureOnServer(remoteName);
    return server;
}

bool ToolPackage::StillDeployed(const DeployManifest& onServer) {
    const std::string& tree = context_.session.ExtractFolder;
    const auto deployed = LoadManifest(tree);
    std::string why;
    if (!deployed)
        why = "no record of an earlier deploy";
    else if (onServer.serverSize < 0 || onServer.serverTime.empty())
        why = "the server gives no size or time for " + onServer.package;
    else if (context_.signatures.Required() && onServer.signature.empty())
        why = "no signature on the server";
    else if (!SamePackageOnServer(*deployed, onServer))
        why = "the package on the server changed";
    else if (const auto changed = ChangedFiles(tree, *deployed); !changed.empty())
        why = std::to_string(changed.size()) + " file(s) in the tool tree changed, " +
              changed.front() + " first";
    if (why.empty()) {
        DPrint("skipped the download: the tool tree holds " + onServer.package +
               " as on the server");
        record_ = deployed;
        return true;
    }
    DPrint("downloading " + onServer.package + ": " + why);
    return false;
}

ToolPackage::Fetch ToolPackage::FetchFromRedist(const std::string& package,
                                                const std::string& remoteName,
                                                const std::string& failureMessage,
                                                bool skipDeployed, const std::string& stage) {
    Transfers& transfers = context_.transfers;
    onServer_.reset();
    record_.reset();
    remoteName_ = remoteName;
    resumed_ = false;
    streamed_ = false;
    delta_.clear();
    keepForDelta_ = {};
    deltaCheck_ = {};
    DeleteFileQuiet(DeltaPath(package));
    if (!transfers.OpenRedist()) return Fetch::Unreachable;
    transfers.Ftp().ChangeFolder("/Redist");
    if (skipDeployed) {
        onServer_ = DescribeOnServer(remoteName);
        if (StillDeployed(*onServer_)) {
            transfers.Close();
            onServer_.reset();
            return Fetch::Unchanged;
        }
        if (FetchChangedEntries(package)) {
            transfers.Close();
            return Fetch::Fetched;
        }
    }
    Fetch result = Fetch::Fetched;
    const bool fetched = FetchWhole(package, stage);
    resumed_ = transfers.Ftp().ResumedFrom() > 0;
    if (!fetched) {
        if (context_.frontend.Splash().IsOpen()) context_.frontend.Splash().Close();
        context_.frontend.MessageBox(failureMessage, AppTitle(), MsgIcon::None);
        result = Fetch::Failed;
    } else if (!context_.signatures.FtpFile(package, remoteName)) {
        result = Fetch::Failed;
    }
    transfers.Close();
    if (result != Fetch::Fetched) onServer_.reset();
    return result;
}

bool ToolPackage::FetchWhole(const std::string& package, const std::string& stage) {
    Transfers& transfers = context_.transfers;
    std::int64_t size = onServer_ ? onServer_->serverSize : -1;
    if (!stage.empty() && size < 0) {
        const auto info = transfers.Ftp().FileInfo(remoteName_);
        if (info) size = info->size;
    }
    if (stage.empty() || size <= 0) return transfers.FetchResumable(package, remoteName_);
    // Parts of an extraction that was killed outright are nobody's any more.
    RemoveStaleParts(stage, true);
    const auto streamed =
        StreamedUnpack(context_).Run(package, remoteName_, size, stage, KeepRule(stage));
    if (!streamed) return transfers.FetchResumable(package, remoteName_);
    if (streamed->unpacked) streamed_ = true;
    return streamed->fetched;
}

namespace {
std::function<bool(const ZipEntryInfo&)> KeepUnchanged(const std::string& tree);
}  // namespace

bool ToolPackage::FetchChangedEntries(const std::string& package) {
    if (!context_.transfers.Hosts().DeltaDownloads) {
        DPrint("DeltaDownloads=0: the package is fetched whole");
        return false;
    }
    auto keep = KeepUnchanged(context_.session.ExtractFolder);
    if (!keep || !onServer_ || onServer_->serverSize <= 0) return false;
    DeltaDownload delta(context_);
    const std::string target = DeltaPath(package);
    if (!delta.Fetch(remoteName_, onServer_->serverSize, onServer_->signature, keep, target))
        return false;
    delta_ = target;
    keepForDelta_ = std::move(keep);
    deltaCheck_ = delta.ContentCheck();
    return true;
}

bool ToolPackage::HasPackage(const std::string& package) const {
    return !delta_.empty() || DoesFileExist(package);
}

namespace {

// Entries whose file in the tree is the one an earlier deploy wrote, with the
// same size and CRC in the new package: left as they are.
std::function<bool(const ZipEntryInfo&)> KeepUnchanged(const std::string& tree) {
    const auto deployed = LoadManifest(tree);
    if (!deployed) return {};
    const auto changed = ChangedFiles(tree, *deployed);
    const std::set<std::string> touched(changed.begin(), changed.end());
    auto files = std::make_shared<std::unordered_map<std::string, DeployedFile>>();
    for (const DeployedFile& f : deployed->files)
        if (!touched.contains(f.path)) files->emplace(f.path, f);
    return [files](const ZipEntryInfo& entry) {
        const auto path = ZipEntryPath(entry.name);
        if (!path) return false;
        const auto hit = files->find(*path);
        return hit != files->end() && hit->second.size == entry.size &&
               hit->second.crc == entry.crc;
    };
}

// Package files as the unpack wrote them into `tree`; false when one is missing.
bool ListUnpacked(const std::string& package, const std::string& tree,
                  std::vector<DeployedFile>& files) {
    ZipReader zip;
    bool listed = zip.OpenZip(package);
    listed = listed && zip.ListEntries([&](const ZipEntryInfo& entry) {
        const auto path = ZipEntryPath(entry.name);
        fileio::FileFacts facts;
        if (!path || entry.size == 0) return;
        if (!fileio::StatFile(tree + "/" + *path, facts)) {
            listed = false;  // a file the package holds is not in the tree
            return;
        }
        files.push_back({*path, entry.size, entry.crc, static_cast<long long>(facts.modified)});
    });
    return listed;
}

// A recorded file as `tree` holds it now: one the configuration set replaced is
// described as the set left it, so that the next run does not take it for damage.
bool Refresh(const std::string& tree, DeployedFile& file) {
    fileio::FileFacts facts;
    const std::string path = tree + "/" + file.path;
    if (!fileio::StatFile(path, facts)) return false;
    if (facts.size == file.size && static_cast<long long>(facts.modified) == file.modified)
        return true;
    const auto crc = FileCrc32(path);
    if (!crc) return false;
    file = {file.path, facts.size, *crc, static_cast<long long>(facts.modified)};
    return true;
}

}  // namespace

void ToolPackage::NoteUnpacked(const std::string& package, const std::string& tree) {
    unpacked_ = true;
    record_.reset();
    if (!onServer_) return;
    DeployManifest record = *onServer_;
    if (ListUnpacked(package, tree, record.files)) record_ = std::move(record);
}

void ToolPackage::RecordDeploy(const std::string& tree) {
    if (!record_) {
        // The tree is no deploy anyone can describe.
        if (unpacked_) ForgetManifest(tree);
        return;
    }
    bool described = true;
    for (DeployedFile& file : record_->files) described = described && Refresh(tree, file);
    if (described && SaveManifest(tree, *record_)) {
        DPrint("recorded the deploy of " + record_->package);
        return;
    }
    ForgetManifest(tree);
    DPrint("the deploy of " + record_->package + " could not be recorded");
}

std::optional<std::string> ToolPackage::Extract(const std::string& package,
                                                const std::string& tree) {
    std::string problem;
    bool unpacked = false;
    if (!delta_.empty()) {
        // A delta holds only what its rule chose: the unpack keeps the same entries.
        unpacked = UnzipFile(&context_.frontend, package, tree, &problem, keepForDelta_,
                             deltaCheck_, StripPath(remoteName_));
    } else {
        unpacked = UnzipFile(&context_.frontend, package, tree, &problem, KeepRule(tree));
    }
    if (unpacked) return std::nullopt;
    return problem;
}

// The stage's record is replaced (or dropped) once the set is in it too.
std::function<bool(const ZipEntryInfo&)> ToolPackage::KeepRule(const std::string& tree) const {
    return onServer_ ? KeepUnchanged(tree) : std::function<bool(const ZipEntryInfo&)>();
}

bool ToolPackage::FetchWholeAgain(const std::string& package) {
    DPrint(remoteName_ + " was continued from a part and does not unpack; fetching it whole");
    resumed_ = false;
    DeleteFileQuiet(package);
    Transfers& transfers = context_.transfers;
    bool fetched = transfers.OpenRedist() && transfers.Ftp().ChangeFolder("/Redist") &&
                   transfers.FetchResumable(package, remoteName_);
    fetched = fetched && context_.signatures.FtpFile(package, remoteName_);
    transfers.Close();
    return fetched;
}

bool ToolPackage::Unpack(const std::string& wholePackage, const std::string& shownName,
                         const std::string& tree) {
    unpacked_ = false;
    const std::string& package = delta_.empty() ? wholePackage : delta_;
    if (!DoesFileExist(package)) {
        // No server, no package: the tool already in the tree is what runs.
        DPrint("no package to unpack; the tool tree stays as it is");
        return true;
    }
    if (streamed_) {
        NoteUnpacked(package, tree);
        return true;
    }
    // Parts of an extraction that was killed outright are nobody's any more.
    RemoveStaleParts(tree, true);
    auto failed = Extract(package, tree);
    if (failed && resumed_ && FetchWholeAgain(package)) failed = Extract(package, tree);
    if (!failed) {
        NoteUnpacked(package, tree);
        if (!delta_.empty()) DeleteFileQuiet(delta_);
        return true;
    }
    // Nothing of the package reached the tree; a half-new tool is never started.
    // The user knows the tree, not the stage beside it.
    const std::string& live = context_.session.ExtractFolder;
    std::string& problem = *failed;
    for (std::size_t at = problem.find(tree); !tree.empty() && at != std::string::npos;
         at = problem.find(tree, at + live.size()))
        problem.replace(at, tree.size(), live);
    DeleteFileQuiet(package);
    CloseSideWindows(context_.frontend);
    context_.frontend.MessageBox("Problem extracting " + shownName + "!" + kLineBreak + problem,
                                 AppTitle(), MsgIcon::Critical);
    return false;
}

bool ToolPackage::Commit(DeployTransaction& deploy) {
    int error = 0;
    if (deploy.Commit(error)) return true;
    CloseSideWindows(context_.frontend);
    const std::string why = error ? "The folder " + deploy.Tree() + " is in use (" +
                                        platform::ErrorText(error) + "): close Tekmo and try again."
                                  : "The folder " + deploy.Tree() + " could not be replaced.";
    context_.frontend.MessageBox("Tekmo could not be updated." + std::string(kLineBreak) + why +
                                     kLineBreak + "Nothing in it was changed.",
                                 AppTitle(), MsgIcon::Critical);
    return false;
}

bool ToolPackage::StartTool(const std::vector<std::string>& arguments) {
    const std::string program =
        context_.session.ExtractFolder + "/" + names::kTekmoExe + names::kExeSuffix;
    context_.frontend.SetActivity("Starting Tekmo");
    if (StartUnpacked(program, arguments)) return true;
    CloseSideWindows(context_.frontend);
    context_.frontend.MessageBox("Tekmo could not be started from " + program + ".", AppTitle(),
                                 MsgIcon::Critical);
    return false;
}

}  // namespace talvane::app

namespace talvane::app {

namespace {
bool IsPartOfPackage(const std::string& name) {
    for (const char* suffix : {".zip.partial", ".zip.partial.info"}) {
        const std::string_view s(suffix);
        if (name.size() <= s.size() || name.compare(name.size() - s.size(), s.size(), s) != 0)
            continue;
        const std::string base = name.substr(0, name.size() - s.size() + 4);
        return base == names::kTekmoUpdateZip || base == names::kPreviousZip ||
               base.rfind("Tekmo_", 0) == 0;
    }
    return false;
}
}  // namespace

void DropOtherParts(const std::string& keep) {
    std::vector<platform::DirEntry> entries;
    if (platform::ListDir(WorkPath(), entries) != 0) return;
    const std::string kept = StripPath(keep);
    for (const auto& e : entries) {
        if (e.kind != platform::Kind::File || !IsPartOfPackage(e.name)) continue;
        if (e.name == net::PartPath(kept) || e.name == net::OriginPath(kept)) continue;
        DPrint("removing " + e.name + ": a part of another download");
        DeleteFileQuiet(WorkPath() + e.name);
    }
}

std::string LocalPackageName(const std::string& remoteName, const std::string& fallback) {
    const std::string name = Trim(remoteName);
    const bool plain = name.size() > 10 && name.rfind("Tekmo_", 0) == 0 &&
                       name.compare(name.size() - 4, 4, ".zip") == 0 &&
                       name.find_first_of("/\\:*?\"<>|") == std::string::npos &&
                       std::none_of(name.begin(), name.end(),
                                    [](unsigned char c) { return c < 0x20 || c == 0x7f; });
    return plain ? name : fallback;
}

}  // namespace talvane::app
