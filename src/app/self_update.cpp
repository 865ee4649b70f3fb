// Self-update: the updates index at load, "Update Me!" replaces the program.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "common/app_paths.h"
#include "common/files.h"
#include "common/fso.h"
#include "common/log.h"
#include "common/names.h"
#include "common/process.h"
#include "common/strings.h"
#include "settings/settings.h"
#include "app/unzip.h"
#include "zip/zip_reader.h"
#include "app/main_presenter.h"

namespace talvane::ui {

namespace {
constexpr const char* kIndexSection = "TekmoTalvane";
// Where an update package is unpacked before anything of it replaces the program.
constexpr const char* kUpdateStaging = ".update-staging";
// The index is a few lines; anything larger is not an index.
constexpr std::size_t kMaxIndexSize = 64 * 1024;
// The archive around it, and the program package; far above real ones.
constexpr long long kMaxIndexArchiveBytes = 4ll << 20;
constexpr long long kMaxUpdatePackageBytes = 512ll << 20;

// The name the next start looks for (with ".exe" on Windows).
std::string OldExecutablePath() {
    return AppPath() + AppExeName() + names::kOldSuffix + names::kExeSuffix;
}
}  // namespace

bool IsHttpUrl(const std::string& url) {
    const std::string lower = ToLower(url.substr(0, std::min<std::size_t>(url.size(), 8)));
    return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

bool MainPresenter::CheckForUpdate() {
    DownloadUpdatesIndex();
    const std::string current = ProgramVersionText();
    const std::string candidate =
        ReadIniValue(AppPath() + names::kUpdatesIni, kIndexSection, "CurrentVersion");
    if (!IsNewerVersion(current, candidate)) return false;
    DPrint("update offered: " + candidate + " (running " + current + ")");
    view_.SetVisible(MainControl::UpdatePanel, true);
    view_.SetVisible(MainControl::SelectConfigGroup, false);
    view_.SetEnabled(MainControl::SelectConfigGroup, false);
    return true;
}

void MainPresenter::DownloadUpdatesIndex() {
    const std::string index = AppPath() + names::kUpdatesIni;
    const std::string archive = AppPath() + names::kUpdatesZip;
    DeleteFileQuiet(index);
    DeleteFileQuiet(archive);
    if (endpoints_.UpdatesURL.empty()) {
        DPrint("no updates URL configured; update check skipped");
        return;
    }

    RunDownload(endpoints_.UpdatesURL, archive, kMaxIndexArchiveBytes);
    if (DoesFileExist(archive) && !VerifyHttpDownload(archive, endpoints_.UpdatesURL)) return;

    frontend_.Splash().Bar().SetValue(40);
    // Only the index itself leaves the archive: anything else it may carry
    // would land beside the launcher, where programs it starts live.
    std::string text;
    ZipExtractionClass zip;
    zip.ZipError = [](long number, const std::string& message) {
        DPrint("updates index: zip error " + std::to_string(number) + ": " + message);
    };
    if (DoesFileExist(archive) && zip.OpenZip(archive) &&
        zip.ReadEntry(names::kUpdatesIni, kMaxIndexSize, text)) {
        if (!WriteFileAtomic(index, text, 0644)) DPrint("updates index could not be written");
    }
    zip.CloseZip();
    frontend_.Splash().Bar().SetValue(60);
    DeleteFileQuiet(archive);
}

void MainPresenter::ApplyUpdate() {
    const std::string index = AppPath() + names::kUpdatesIni;
    const std::string package = AppPath() + names::kUpdatePackage;
    const std::string url = ReadIniValue(index, kIndexSection, "DownloadURL");
    DeleteFileQuiet(index);
    FolderLock folderLock;
    if (!ClaimProgramFolder(folderLock)) return;

    bool downloaded = false;
    if (IsHttpUrl(url)) {
        downloaded =
            DownloadFile(url, package, kMaxUpdatePackageBytes) && VerifyHttpDownload(package, url);
    } else {
        // Only web locations are trusted for a program that replaces this one.
        // The URL itself is not logged: it may carry credentials.
        DPrint("update package URL refused: only http and https are accepted");
    }
    if (!downloaded) {
        frontend_.MessageBox("Failed to download update.", AppTitle(), MsgIcon::None);
        Unload();
    }

    // The package is unpacked aside first; the running program is renamed only
    // once a new program is known to be there, and every failure puts it back.
    const std::string running = AppExePath();
    const std::string old = OldExecutablePath();
    const std::string staging = AppPath() + kUpdateStaging;
    const std::string programName = std::string(names::kLauncherExe) + names::kExeSuffix;
    const std::string staged = staging + "/" + programName;
    const std::string target = AppPath() + programName;
    clsFSO fso;
    auto fail = [&](const std::string& why) {
        DPrint("update not applied: " + why);
        fso.KillDir(staging);
        frontend_.MessageBox("Failed to unzip update.", AppTitle(), MsgIcon::None);
        Unload();
    };
    if (DoesDirExist(staging)) fso.KillDir(staging);
    std::string problem;
    const bool unpacked = MakeSureDirExists(staging) &&
                          UnzipFile(&frontend_, package, staging, &problem);
    DeleteFileQuiet(package);
    if (!unpacked) fail(problem.empty() ? "the package could not be unpacked" : problem);
    if (!DoesFileExist(staged) || IsSymbolicLink(staged) || !MakeExecutable(staged))
        fail("the package holds no program file " + programName);

    if (!RenameFile(running, old)) fail("the running program could not be set aside");
    if (!RenameFile(staged, target)) {
        RenameFile(old, running);
        fail("the new program could not be put in place");
    }
    // The rest of the package joins the program folder; nothing in it may take
    // the name of the program or of its backup.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(staging, ec)) {
        const std::string name = entry.path().filename().string();
        if (name == StripPath(old) || name == StripPath(running)) continue;
        ShellMove(entry.path().string(), AppPath());
    }
    fso.KillDir(staging);
    if (StartUnpacked(target, "")) Unload();
    // The new program does not start: the old one gets its name back.
    if (target != running) DeleteFileQuiet(target);
    RenameFile(old, running);
    frontend_.MessageBox("Failed to unzip update.", AppTitle(), MsgIcon::None);
    Unload();
}

}  // namespace talvane::ui
