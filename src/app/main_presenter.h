#pragma once
// frmMain's logic: load, layouts, the unattended run, the handlers and the
// window-level routines the workflows share. The workflows themselves are
// member functions defined beside their subject (cloud/, transfer/).
#include <memory>
#include <optional>
#include <string>

#include "app/catalogue.h"
#include "net/ftp.h"
#include "common/files.h"
#include "settings/endpoints.h"
#include "settings/session.h"
#include "net/download.h"
#include "app/frontend.h"
#include "app/views.h"

namespace talvane::ui {

enum class Installer { Pellam, Harlo, Quorra, Sorvik, Umbrin };

// Line break inside message texts (CR LF on Windows).
#ifdef _WIN32
inline constexpr const char* kLineBreak = "\r\n";
#else
inline constexpr const char* kLineBreak = "\n";
#endif

// "%prompt%" and "%desktop%": special setting values, compared without case.
inline constexpr const char* kPromptValue = "%prompt%";
inline constexpr const char* kDesktopValue = "%desktop%";

// Builds a 7-Zip argument string ("x "archive" -o"folder" -y"). The archive
// password never goes here: 7-Zip reads it from its standard input, where no
// other user can see it (the argument list is public).
std::string SevenZipExtractArguments(const std::string& archive, const std::string& outFolder);
// Quotes one argument by the Windows command-line rules (backslashes before a
// quote doubled, quotes escaped).
std::string QuoteCommandLineArgument(const std::string& text);
// True for http:// and https:// URLs (any letter case in the scheme).
bool IsHttpUrl(const std::string& url);
// Tells the user (and the log) that the settings file could not be written.
void ReportSettingsNotSaved(Frontend& frontend, const std::string& settingsFile);

class MainPresenter {
  public:
    MainPresenter(Frontend& frontend, MainView& view, Session& session, Endpoints endpoints);
    ~MainPresenter();
    MainPresenter(const MainPresenter&) = delete;
    MainPresenter& operator=(const MainPresenter&) = delete;

    // Lifecycle.
    void Load();  // the load handler; runs once
    void Show();  // loads when needed, then shows the view
    void Expand();
    void ProcessCommands();
    // Closes mFTP, deletes the index file, ends the process (with `exitCode`).
    [[noreturn]] void Unload(int exitCode = 0);

    // User actions. A click that arrives while a workflow is running on mFTP
    // is ignored (the event pump keeps the window alive during workflows).
    void OnDownloadRun();  // "Download && Run"
    void OnRunPrevious();  // "Run Previous Ver"
    void OnLogin();        // "Login"
    void OnSaveQuit();     // "Save && Quit"
    void OnUpdate();       // "Update Me!"
    void OnInstall(Installer which);
    void OnSaveDefaultClick();  // "Save Config As Default" was clicked
    void OnClose();             // the window's close button

    bool Busy() const { return busy_; }
    bool CommandMode() const { return commandMode_; }
    bool Loaded() const { return loaded_; }
    MainView& View() { return view_; }

    // Window-level routines shared by the workflows.
    void SelectDefaultConfig();
    std::string StoredDefaultConfig() const;  // "" for none or "%prompt%"
    void SaveSettings();
    // `maxBytes` > 0: a larger download is aborted as a failure.
    bool DownloadFile(const std::string& url, const std::string& localPath,
                      long long maxBytes = 0);
    bool RefreshConfigList();
    void ListPreviousVersions();
    bool CheckForUpdate();
    void DownloadUpdatesIndex();
    void ApplyUpdate();
    void EnsureSevenZip();
    // True when this run's set brought the tool's settings (Config/Tekmo.ini)
    // into the tree; a file left by an earlier run does not count.
    bool SyncConfig(std::string user, std::string password, std::string zipPassword,
                    std::string configName);
    void FetchConfigArchives(const std::string& user, const std::string& password,
                             std::string& configName);
    void DownloadAndRun();  // the main job, also run unattended
    void RunPrevious();     // an earlier tool version from the list
    void InstallCompanion(Installer which);

    // Event handlers of mFTP and mobjDownload.
    void OnFileTransferProgress(long current, long total);
    void OnDownloadStarted();
    void OnDownloadProgress(long received, long total);
    [[noreturn]] void OnDownloadAborted(long errNumber, const std::string& errDescription);

    cFTP& Ftp() { return mFTP_; }
    const Endpoints& Hosts() const { return endpoints_; }

    // The 7-Zip program the extraction runs use: AppPath + "7z/7za" when present,
    // else a 7za, 7z or 7zz found on the search path (empty when none).
    std::string SevenZipProgram() const;
    // UnloadOtherForms: closes the splash and the status window.
    void UnloadOtherForms();

  private:
    class BusyScope;
    // One transfer through a fresh mobjDownload; an abort reported by it ends
    // the program once the object has returned (never from inside a transfer).
    void RunDownload(const std::string& url, const std::string& localPath,
                     long long maxBytes = 0);
    // Connects mFTP to the redistribution host with the built-in account.
    bool OpenRedist();
    // FTP download that never leaves a partial file behind.
    bool FetchWhole(const std::string& localPath, const std::string& remoteName);
    // The work files beside the program have fixed names; a second launcher
    // working in the same folder at once would delete or overwrite them. False
    // (after telling the user) when another launcher is at work there.
    bool ClaimProgramFolder(FolderLock& lock);
    // With a public key in the settings, a fetched file is used only when its
    // signature (same name plus ".minisig", same server) checks out; otherwise it
    // is deleted and the user told which file failed and why. Without a key,
    // true (and a log line saying the file was not verified).
    bool VerifyFtpDownload(const std::string& localPath, const std::string& remoteName);
    bool VerifyHttpDownload(const std::string& localPath, const std::string& url);
    bool SignatureRequired(const std::string& shownName) const;
    bool FetchSignatureFtp(const std::string& remoteName, std::string& signature);
    bool FetchSignatureHttp(const std::string& url, std::string& signature);
    bool AcceptSignedFile(const std::string& localPath, const std::string& shownName, bool fetched,
                          const std::string& signature);
    // Saves the chosen set as the default when asked to, then takes the program folder.
    bool RememberChoiceAndClaimFolder(const std::string& config, FolderLock& lock);
    // Fetches a tool package from /Redist of the redistribution host and checks its
    // signature; a failed download or check ends the program with its message. False
    // when the host cannot be reached.
    bool FetchPackage(const std::string& package, const std::string& remoteName,
                      const std::string& failureMessage);
    // Unpacks a tool package into the extraction folder; false after telling the
    // user which entry failed (the files in the tree keep their old contents).
    bool UnpackPackage(const std::string& package, const std::string& shownName);
    // Starts a program unpacked by the launcher, making it executable first.
    bool StartUnpacked(const std::string& program, const std::string& arguments);

    Frontend& frontend_;
    MainView& view_;
    Session& session_;
    Endpoints endpoints_;
    cFTP mFTP_;
    std::unique_ptr<Download> mobjDownload_;
    struct PendingAbort {
        long number = 0;
        std::string description;
    };
    std::optional<PendingAbort> pendingAbort_;
    bool commandMode_ = false;
    bool loaded_ = false;
    bool busy_ = false;
};

}  // namespace talvane::ui
