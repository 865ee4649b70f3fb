#pragma once
// frmMain's logic: load, layouts, the unattended run, the handlers and the
// window-level routines the workflows share. The workflows themselves are
// member functions defined beside their subject (cloud/, transfer/).
#include <memory>
#include <string>

#include "cloud/ftp.h"
#include "startup/endpoints.h"
#include "transfer/download.h"
#include "ui/frontend.h"
#include "ui/views.h"

namespace talvane::ui {

enum class Installer { Pellam, Harlo, Quorra, Sorvik, Umbrin };

class MainPresenter {
public:
    MainPresenter(Frontend& frontend, MainView& view, Endpoints endpoints);
    ~MainPresenter();
    MainPresenter(const MainPresenter&) = delete;
    MainPresenter& operator=(const MainPresenter&) = delete;

    // Lifecycle.
    void Load();  // the load handler; runs once
    void Show();  // loads when needed, then shows the view
    void Expand();
    void ProcessCommands();
    [[noreturn]] void Unload();  // closes mFTP, deletes the index file, ends the process

    // User actions. A click that arrives while a workflow is running on mFTP
    // is ignored (the event pump keeps the window alive during workflows).
    void OnDownloadRun();   // cmdDandR
    void OnRunPrevious();   // Command5
    void OnLogin();         // Command2
    void OnSaveQuit();      // cmdSaveClose
    void OnUpdate();        // Command1 ("Update Me!")
    void OnInstall(Installer which);
    void OnSaveDefaultClick();  // chkSaveDefault was clicked
    void OnClose();             // the window's close button

    bool Busy() const { return busy_; }
    bool CommandMode() const { return commandMode_; }
    bool Loaded() const { return loaded_; }
    MainView& View() { return view_; }

    // Window-level routines shared by the workflows.
    void SelectDefaultConfig();
    void SaveSettings();
    bool DownloadFile(const std::string& url, const std::string& localPath);
    bool RefreshConfigList();
    void FillConfigCombo();
    void ListPreviousVersions();
    bool CheckForUpdate();
    void DownloadUpdatesIndex();
    void ApplyUpdate();
    void EnsureSevenZip();
    void SyncConfig(std::string user, std::string password, std::string zipPassword,
                    std::string configName);
    void FetchConfigArchives(const std::string& user, const std::string& password,
                             std::string& configName);
    void DownloadAndRun();  // cmdDandR_Click's body
    void RunPrevious();     // Command5_Click's body
    void InstallCompanion(Installer which);

    // Event handlers of mFTP and mobjDownload.
    void OnFileTransferProgress(long current, long total);
    void OnDownloadStarted();
    void OnDownloadProgress(long received, long total);
    [[noreturn]] void OnDownloadAborted(long errNumber, const std::string& errDescription);

    cFTP& Ftp() { return mFTP_; }
    const Endpoints& Hosts() const { return endpoints_; }

private:
    class BusyScope;

    Frontend& frontend_;
    MainView& view_;
    Endpoints endpoints_;
    cFTP mFTP_;
    std::unique_ptr<Download> mobjDownload_;
    bool commandMode_ = false;
    bool loaded_ = false;
    bool busy_ = false;
};

}  // namespace talvane::ui
