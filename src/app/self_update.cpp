#include "app/self_update.h"

#include <algorithm>
#include <vector>

#include "app/messages.h"
#include "app/tool_package.h"
#include "app/unzip.h"
#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "common/strings.h"
#include "common/tree_removal.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "zip/zip_reader.h"

namespace talvane::app {

namespace {
constexpr const char* kIndexSection = "TekmoTalvane";
// The index is a few lines; anything larger is not an index.
constexpr std::size_t kMaxIndexSize = 64 * 1024;
// The archive around it, and the program package; far above real ones.
constexpr long long kMaxIndexArchiveBytes = 4ll << 20;
constexpr long long kMaxUpdatePackageBytes = 512ll << 20;

// The name the next start looks for (with ".exe" on Windows).
std::string OldExecutablePath() {
    return AppPath() + AppExeName() + names::kOldSuffix + names::kExeSuffix;
}

// Only the index itself leaves the archive: anything else it may carry would
// land beside the launcher, where programs it starts live.
void KeepIndexOnly(const std::string& archive, const std::string& index) {
    std::string text;
    ZipReader zip;
    zip.ZipError = [](long number, const std::string& message) {
        DPrint("updates index: zip error " + std::to_string(number) + ": " + message);
    };
    if (DoesFileExist(archive) && zip.OpenZip(archive) &&
        zip.ReadEntry(names::kUpdatesIni, kMaxIndexSize, text)) {
        if (!WriteFileAtomic(index, text, 0644)) DPrint("updates index could not be written");
    }
    zip.CloseZip();
}
}  // namespace

bool IsPackageUrl(const std::string& url) {
    const std::string lower = ToLower(url.substr(0, std::min<std::size_t>(url.size(), 8)));
    return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0 ||
           lower.rfind("ftp://", 0) == 0;
}

SelfUpdate::Check SelfUpdate::Fetch() {
    abort_.reset();
    const std::string index = WorkPath() + names::kUpdatesIni;
    const std::string archive = WorkPath() + names::kUpdatesZip;
    DeleteFileQuiet(index);
    DeleteFileQuiet(archive);
    const std::string& url = context_.transfers.Hosts().UpdatesURL;
    if (url.empty()) {
        DPrint("no updates URL configured; update check skipped");
        return Check::NotOffered;
    }
    const UrlDownload got = context_.transfers.Download(url, archive, kMaxIndexArchiveBytes);
    if (got.abort) {
        abort_ = got.abort;
        return Check::Aborted;
    }
    if (got.fetched && !context_.signatures.HttpFile(archive, url)) return Check::Refused;

    context_.frontend.Splash().Bar().SetValue(40);
    KeepIndexOnly(archive, index);
    context_.frontend.Splash().Bar().SetValue(60);
    DeleteFileQuiet(archive);

    const std::string current = ProgramVersionText();
    const std::string candidate = ReadIniValue(index, kIndexSection, "CurrentVersion");
    if (!IsNewerVersion(current, candidate)) return Check::NotOffered;
    DPrint("update offered: " + candidate + " (running " + current + ")");
    return Check::Offered;
}

Outcome SelfUpdate::Failed(const std::string& message) {
    context_.frontend.MessageBox(message, AppTitle(), MsgIcon::None);
    return Outcome::End(ExitCode::Failed);
}

Outcome SelfUpdate::Apply() {
    const std::string index = WorkPath() + names::kUpdatesIni;
    const std::string package = WorkPath() + names::kUpdatePackage;
    // The index goes when the program ends, whichever way this ends.
    const std::string url = ReadIniValue(index, kIndexSection, "DownloadURL");
    FolderLock folderLock;
    if (!ClaimProgramFolder(context_.frontend, folderLock)) return Outcome::End(ExitCode::Failed);

    if (!IsPackageUrl(url)) {
        // Only web and FTP locations, here and after redirects, for a program that
        // replaces this one. The URL itself is not logged: it may carry credentials.
        DPrint("update package URL refused: only http, https and ftp are accepted");
        return Failed("Failed to download update.");
    }
    const UrlDownload got = context_.transfers.Download(url, package, kMaxUpdatePackageBytes, false,
                                                        net::kPackageProtocols);
    if (got.abort) {
        ReportDownloadAborted(context_.frontend, *got.abort);
        return Outcome::End(ExitCode::Failed);
    }
    if (!got.fetched || !context_.signatures.HttpFile(package, url))
        return Failed("Failed to download update.");
    return Replace(package);
}

// The package is unpacked aside first; the running program is renamed only
// once a new program is known to be there, and every failure puts it back.
Outcome SelfUpdate::Replace(const std::string& package) {
    const std::string running = AppExePath();
    const std::string old = OldExecutablePath();
    const std::string staging = AppPath() + names::kUpdateStaging;
    const std::string programName = std::string(names::kLauncherExe) + names::kExeSuffix;
    const std::string staged = staging + "/" + programName;
    const std::string target = AppPath() + programName;
    const auto fail = [&](const std::string& why) {
        DPrint("update not applied: " + why);
        RemoveTree(staging);
        return Failed("Failed to unzip update.");
    };
    if (DoesDirExist(staging)) RemoveTree(staging);
    std::string problem;
    const bool unpacked =
        MakeSureDirExists(staging) && UnzipFile(&context_.frontend, package, staging, &problem);
    DeleteFileQuiet(package);
    if (!unpacked) return fail(problem.empty() ? "the package could not be unpacked" : problem);
    if (!DoesFileExist(staged) || IsSymbolicLink(staged) || !MakeExecutable(staged))
        return fail("the package holds no program file " + programName);

    // A program stays under its name at every moment: the backup is a second
    // name (or a copy) of the running one, and the new one replaces it in one rename.
    DeleteFileQuiet(old);
    if (platform::LinkFile(running, old) != 0 && platform::CopyFileReplacing(running, old) != 0)
        return fail("the running program could not be set aside");
    if (!RenameFile(staged, target)) {
        // A running program that cannot be replaced is renamed first; the next
        // start finishes an update cut off between the two renames.
        if (!RenameFile(running, old)) return fail("the running program could not be set aside");
        if (!RenameFile(staged, target)) {
            RenameFile(old, running);
            return fail("the new program could not be put in place");
        }
    }
    // The rest of the package joins the program folder; nothing in it may take
    // the name of the program or of its backup.
    std::vector<platform::DirEntry> entries;
    platform::ListDir(staging, entries);
    for (const auto& entry : entries) {
        if (entry.name == StripPath(old) || entry.name == StripPath(running)) continue;
        ShellMove(JoinPath(staging, entry.name), AppPath());
    }
    RemoveTree(staging);
    if (StartUnpacked(target, {})) return Outcome::End(ExitCode::Ok);
    // The new program does not start: the old one gets its name back.
    if (target != running) DeleteFileQuiet(target);
    RenameFile(old, running);
    return Failed("Failed to unzip update.");
}

}  // namespace talvane::app
