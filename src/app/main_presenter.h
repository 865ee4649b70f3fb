#pragma once
// The main window's logic: load, layouts, the unattended run and the user's
// actions. Each action hands its work to a workflow and ends the program when
// the workflow's outcome says so; this is the one place the program ends.
#include <string>

#include "app/download_run.h"
#include "app/frontend.h"
#include "app/installers.h"
#include "app/outcome.h"
#include "app/signatures.h"
#include "app/transfer_progress.h"
#include "app/transfers.h"
#include "app/views.h"
#include "app/workflow_context.h"
#include "settings/endpoints.h"
#include "settings/session.h"

namespace talvane::app {

class MainPresenter {
  public:
    MainPresenter(Frontend& frontend, MainView& view, Session& session, Endpoints endpoints);
    MainPresenter(const MainPresenter&) = delete;
    MainPresenter& operator=(const MainPresenter&) = delete;

    // Lifecycle.
    void Load();  // runs once: update check, credentials, lists
    // Shows the view (in the full layout when `expanded`). Not loaded yet, the
    // window comes first, closing the splash, and is loaded while it shows, busy.
    void Show(bool expanded = false);
    void Expand();
    // The unattended run ("sfx"): loads, then runs Download && Run with the
    // preselected set; without one, or when the run cannot start, the window
    // is handed to the user (closing it then ends with ExitCode::Failed).
    void RunUnattended();

    // User actions. A click that arrives while a workflow is running is
    // ignored (the event pump keeps the window alive during workflows).
    void OnDownloadRun();  // "Download && Run"
    void OnRunPrevious();  // "Run Previous Ver"
    void OnLogin();        // "Login"
    void OnSaveQuit();     // "Save && Quit"
    void OnUpdate();       // "Update Me!"
    void OnInstall(Installer which);
    void OnSaveDefaultClick();  // "Save Config As Default" was clicked
    void OnClose();             // the window's close button

    bool Busy() const { return busy_; }
    bool CommandMode() const { return context_.unattended; }
    bool Loaded() const { return loaded_; }
    bool Ended() const { return ended_; }
    MainView& View() { return view_; }

    void SelectDefaultConfig();
    // False, with a message and nothing written, when a typed value is too long
    // for the settings file.
    bool SaveSettings();

  private:
    class BusyScope;
    bool IgnoredWhileBusy(const char* what) const;
    // Ends the program when `outcome` says so: the connection closed, the
    // index file deleted, the window closed, then the frontend ends the process.
    void Finish(Outcome outcome);
    // Finish for the tool runs, which also decide what closing the window ends with.
    void NoteToolRun(Outcome outcome);
    void Prepare();  // what the window needs before it is seen; runs once
    void Fill();     // what needs the servers; runs once
    bool CheckForUpdate();
    // Signed in with the typed credentials, lists the sets; `signOut`: closes the
    // connection afterwards (otherwise the next sign-in closes or reuses it).
    bool RefreshConfigList(bool signOut = true);
    void ListPreviousVersions();
    // Why the last sign-in to the repository failed, in a line for the status line.
    bool SignInRefused() const;
    std::string SignInFailure() const;
    Credentials TypedCredentials() const;
    RunRequest Request() const;
    void ShowProgress(long current, long total);

    Frontend& frontend_;
    MainView& view_;
    Session& session_;
    Transfers transfers_;
    SignatureCheck signatures_;
    WorkflowContext context_;
    ExitCode closingCode_ = ExitCode::Ok;  // what closing the window ends with
    std::string lastFailure_;              // shown on the status line until the next action
    bool unattendedStart_ = false;
    bool prepared_ = false;
    bool loaded_ = false;
    bool versionsListed_ = false;  // the list is filled once per window
    bool updateOffered_ = false;   // the credentials were not filled from the settings
    bool busy_ = false;
    bool ended_ = false;
    TransferProgress progress_;
};

}  // namespace talvane::app
