#include "app/main_presenter.h"

#include <cstdlib>
#include <utility>

#include "common/app_paths.h"
#include "common/event_pump.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "common/process.h"
#include "common/strings.h"
#include "settings/session.h"
#include "settings/settings.h"

namespace talvane::ui {

namespace {

constexpr int kCompactWidth = 5145;
constexpr int kCompactHeight = 2220;
constexpr int kFullWidth = 7530;
constexpr int kFullHeight = 4380;
constexpr const char* kCompactCaption = "Download and Run Tekmo Now?";

}  // namespace

void ReportSettingsNotSaved(Frontend& frontend, const std::string& settingsFile) {
    DPrint("settings could not be written to " + settingsFile);
    frontend.MessageBox(std::string("The settings could not be saved to ") + settingsFile + "." +
                            kLineBreak + "Check that the program folder can be written to.",
                        AppTitle(), MsgIcon::Exclamation);
}

// Marks a workflow as running on mFTP; restores the previous state on every
// way out (the test frontend ends the process by throwing).
class MainPresenter::BusyScope {
  public:
    explicit BusyScope(MainPresenter& owner) : owner_(owner), previous_(owner.busy_) {
        owner_.busy_ = true;
    }
    ~BusyScope() { owner_.busy_ = previous_; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    MainPresenter& owner_;
    bool previous_;
};

MainPresenter::MainPresenter(Frontend& frontend, MainView& view, Session& session,
                             Endpoints endpoints)
    : frontend_(frontend), view_(view), session_(session), endpoints_(std::move(endpoints)) {
    mFTP_.lowSpeedBytes = endpoints_.LowSpeedLimit;
    mFTP_.lowSpeedSeconds = endpoints_.LowSpeedTime;
    mFTP_.FileTransferProgress = [this](std::int32_t current, std::int32_t total) {
        OnFileTransferProgress(current, total);
    };
}

MainPresenter::~MainPresenter() = default;

void MainPresenter::Load() {
    if (loaded_) return;
    loaded_ = true;
    BusyScope busy(*this);

    mFTP_.SetModePassive();
    mFTP_.SetTransferBinary();
    // Downloads and settings writes of a launcher that was killed left parts here.
    RemoveStaleParts(AppPath(), false);
    view_.SetSizeTwips(kCompactWidth, kCompactHeight);
    frontend_.Splash().Bar().SetValue(20);

    // An offered update replaces the normal preparation: no credentials, no lists.
    if (CheckForUpdate()) return;

    const Session& app = session_;
    view_.SetText(MainField::User, app.UserName);
    view_.SetText(MainField::Password, app.Password);
    view_.SetText(MainField::ZipPassword, app.ZipPassword);
    RefreshConfigList();
    frontend_.Splash().Bar().SetValue(80);
    ListPreviousVersions();
    frontend_.Splash().Bar().SetValue(100);
    frontend_.Splash().Close();
}

void MainPresenter::Show() {
    if (!loaded_) Load();
    view_.Show();
}

void MainPresenter::Expand() {
    if (view_.WidthTwips() == kCompactWidth) {
        view_.SetSizeTwips(kFullWidth, kFullHeight);
        view_.SetLayoutButtonCaption("<<");
        view_.SetCaption(VersionLabel());
    } else {
        view_.SetSizeTwips(kCompactWidth, kCompactHeight);
        view_.SetLayoutButtonCaption(">>");
        view_.SetCaption(kCompactCaption);
    }
}

void MainPresenter::ProcessCommands() {
    if (!loaded_) Load();
    view_.SetChecked(MainCheck::DeleteMe, true);
    if (view_.ConfigText().empty()) {
        view_.Show();
        return;
    }
    view_.SetEnabled(MainControl::DownloadRunButton, false);
    view_.SetEnabled(MainControl::LayoutButton, false);
    view_.SetEnabled(MainControl::SaveDefaultCheck, false);
    view_.SetEnabled(MainControl::DeleteMeCheck, false);
    commandMode_ = true;
    frontend_.Splash().Show();
    {
        BusyScope busy(*this);
        DownloadAndRun();
    }
    // Still here: the run could not even start (no package at all). A hidden
    // window with no way to close it would linger, so hand over to the user.
    DPrint("unattended run could not start the tool; showing the main window");
    frontend_.Splash().Close();
    view_.Show();
}

void MainPresenter::Unload(int exitCode) {
    mFTP_.CloseConnection();
    DeleteFileQuiet(AppPath() + names::kUpdatesIni);
    view_.Close();
    frontend_.EndProcess(exitCode);
    std::abort();  // EndProcess never returns; this keeps the promise explicit
}

void MainPresenter::UnloadOtherForms() {
    if (frontend_.Status().IsOpen()) frontend_.Status().Close();
    if (frontend_.Splash().IsOpen()) frontend_.Splash().Close();
}

// ---- user actions -------------------------------------------------------

namespace {
bool IgnoredWhileBusy(bool busy, const char* what) {
    if (busy) DPrint(std::string("ignored while a workflow runs: ") + what);
    return busy;
}
}  // namespace

void MainPresenter::OnDownloadRun() {
    if (IgnoredWhileBusy(busy_, "Download && Run")) return;
    BusyScope busy(*this);
    DownloadAndRun();
}

void MainPresenter::OnRunPrevious() {
    if (IgnoredWhileBusy(busy_, "Run Previous Ver")) return;
    BusyScope busy(*this);
    RunPrevious();
}

void MainPresenter::OnLogin() {
    if (IgnoredWhileBusy(busy_, "Login")) return;
    BusyScope busy(*this);
    if (RefreshConfigList()) {
        frontend_.MessageBox(
            std::string("Test Login Success!") + kLineBreak + "Config list has been refreshed!",
            AppTitle(), MsgIcon::None);
        return;
    }
    // Without a word the user could not tell a wrong password from a dead server.
    std::string reason = mFTP_.GetLastErrorMessage();
    if (reason.empty()) reason = "The server " + endpoints_.RepositoryHost + " did not answer.";
    frontend_.MessageBox(std::string("Test Login Failed!") + kLineBreak + reason + kLineBreak +
                             "Check the user name and password, then try again.",
                         AppTitle(), MsgIcon::Exclamation);
}

void MainPresenter::OnSaveQuit() {
    if (IgnoredWhileBusy(busy_, "Save && Quit")) return;
    SaveSettings();
    Unload();
}

void MainPresenter::OnUpdate() {
    if (IgnoredWhileBusy(busy_, "Update Me!")) return;
    {
        BusyScope busy(*this);
        ApplyUpdate();
    }
    Unload();
}

void MainPresenter::OnInstall(Installer which) {
    if (IgnoredWhileBusy(busy_, "Kitworks installer")) return;
    BusyScope busy(*this);
    InstallCompanion(which);
}

void MainPresenter::OnSaveDefaultClick() {
    view_.SetChecked(MainCheck::DeleteMe, false);
}

void MainPresenter::OnClose() {
    Unload();
}

// ---- window-level routines ----------------------------------------------

std::string MainPresenter::StoredDefaultConfig() const {
    const std::string stored =
        ReadIniValue(session_.SettingsFile, names::kSettingsSection, "DefaultConfig");
    // "%prompt%" asks for a choice: nothing is preselected.
    return EqualsNoCase(stored, kPromptValue) ? std::string() : stored;
}

void MainPresenter::SelectDefaultConfig() {
    SelectListedConfig(view_, StoredDefaultConfig());
}

void MainPresenter::SaveSettings() {
    const std::string& ini = session_.SettingsFile;
    const char* section = names::kSettingsSection;
    bool saved = true;
    if (view_.Checked(MainCheck::SaveDefault)) {
        saved = WriteIniValue(ini, section, "DefaultConfig", view_.ConfigText()) && saved;
    }
    saved = WriteIniValue(ini, section, "UserName", view_.Text(MainField::User)) && saved;
    saved =
        WriteIniValue(ini, section, "Password", ScrambleString(view_.Text(MainField::Password))) &&
        saved;
    saved = WriteIniValue(ini, section, "ZipPassword",
                          ScrambleString(view_.Text(MainField::ZipPassword))) &&
            saved;
    // The user quits believing the settings are kept; say so when they are not
    // (a read-only program folder or settings file).
    if (!saved) ReportSettingsNotSaved(frontend_, session_.SettingsFile);
}

void MainPresenter::RunDownload(const std::string& url, const std::string& localPath,
                                long long maxBytes) {
    pendingAbort_.reset();
    mobjDownload_ = std::make_unique<Download>();
    mobjDownload_->lowSpeedBytes = endpoints_.LowSpeedLimit;
    mobjDownload_->lowSpeedSeconds = endpoints_.LowSpeedTime;
    mobjDownload_->maxBytes = maxBytes;
    mobjDownload_->DownloadStarted = [this] { OnDownloadStarted(); };
    mobjDownload_->DownloadProgress = [this](long received, long total) {
        OnDownloadProgress(received, total);
    };
    mobjDownload_->DownloadAborted = [this](long number, const std::string& description) {
        pendingAbort_ = PendingAbort{number, description};
    };
    mobjDownload_->StartDownload(url, localPath);
    mobjDownload_.reset();
    if (pendingAbort_) {
        const PendingAbort abort = *pendingAbort_;
        pendingAbort_.reset();
        OnDownloadAborted(abort.number, abort.description);
    }
}

bool MainPresenter::DownloadFile(const std::string& url, const std::string& localPath,
                                 long long maxBytes) {
    DeleteFileQuiet(localPath);
    RunDownload(url, localPath, maxBytes);
    return DoesFileExist(localPath);
}

bool MainPresenter::OpenRedist() {
    return mFTP_.OpenConnection(endpoints_.RedistHost, names::kBuiltInUser,
                                names::kBuiltInPassword);
}

bool MainPresenter::FetchWhole(const std::string& localPath, const std::string& remoteName) {
    if (mFTP_.FTPDownloadFile(localPath, remoteName)) return true;
    // A broken transfer must not leave a part that a later step would take
    // for the whole file.
    DeleteFileQuiet(localPath);
    return false;
}

bool MainPresenter::ClaimProgramFolder(FolderLock& lock) {
    if (lock.TryLock(AppPath())) return true;
    DPrint("another launcher is working in the program folder; request refused");
    frontend_.MessageBox(std::string("Another Talvane is already working in this program folder.") +
                             kLineBreak + "Please try again when it has finished.",
                         AppTitle(), MsgIcon::Exclamation);
    return false;
}

bool MainPresenter::StartUnpacked(const std::string& program, const std::string& arguments) {
    if (DoesFileExist(program) && !MakeExecutable(program)) {
        DPrint("could not mark the program executable: " + program);
    }
    return ShellX(program, arguments, false, kShowNormal);
}

// ---- progress -----------------------------------------------------------

void MainPresenter::OnFileTransferProgress(long current, long total) {
    if (!commandMode_) {
        ProgressBarView& bar = view_.Bar();
        bar.SetMax(total);
        bar.SetMin(0);
        if (total >= current) bar.SetValue(current);
    } else {
        ProgressBarView& bar = frontend_.Splash().Bar();
        bar.SetMax(total);
        bar.SetValue(current);
    }
    DoEvents();
}

void MainPresenter::OnDownloadStarted() {
    view_.Bar().SetValue(0);
    DoEvents();
}

void MainPresenter::OnDownloadProgress(long received, long total) {
    if (!commandMode_) {
        ProgressBarView& bar = view_.Bar();
        bar.SetMax(total);
        bar.SetMin(0);
        bar.SetValue(received);
    } else {
        ProgressBarView& bar = frontend_.Splash().Bar();
        bar.SetMax(total);
        bar.SetValue(received);
    }
    DoEvents();
}

void MainPresenter::OnDownloadAborted(long errNumber, const std::string& errDescription) {
    std::string text = "Download aborted.";
    if (!errDescription.empty()) text += " " + errDescription;
    DPrint("download aborted, code " + std::to_string(errNumber));
    frontend_.MessageBox(text, "Download", MsgIcon::Critical);
    Unload();
}

}  // namespace talvane::ui
