#include "app/main_presenter.h"

#include <chrono>
#include <utility>

#include "app/catalogue.h"
#include "app/messages.h"
#include "app/previous_versions.h"
#include "app/self_update.h"
#include "app/window_layout.h"
#include "common/app_paths.h"
#include "common/event_pump.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "common/strings.h"
#include "settings/settings.h"
#include "settings/stored_settings.h"

namespace talvane::app {

// Marks a workflow as running; restores the previous state on every way out.
class MainPresenter::BusyScope {
  public:
    explicit BusyScope(MainPresenter& owner)
        : owner_(owner), previous_(owner.busy_), boxes_(owner.frontend_.BoxesShown()) {
        owner_.busy_ = true;
        if (previous_) return;
        owner_.view_.SetBusy(true);
        owner_.lastFailure_.clear();  // kept until the next action
    }
    ~BusyScope() {
        owner_.busy_ = previous_;
        if (previous_) return;
        // Idle, the bar is empty and the window says what went wrong last (or what the
        // last box said), or that nothing is happening.
        const Frontend& frontend = owner_.frontend_;
        if (owner_.lastFailure_.empty() && frontend.BoxesShown() != boxes_)
            owner_.lastFailure_ = FirstLine(frontend.LastBox());
        owner_.view_.SetBusy(false);
        owner_.view_.Bar().SetValue(owner_.view_.Bar().Min());
        owner_.view_.SetActivity(owner_.lastFailure_.empty() ? "Ready" : owner_.lastFailure_);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    static std::string FirstLine(const std::string& text) {
        return text.substr(0, text.find_first_of("\r\n"));
    }

    MainPresenter& owner_;
    bool previous_;
    int boxes_;
};

MainPresenter::MainPresenter(Frontend& frontend, MainView& view, Session& session,
                             Endpoints endpoints)
    : frontend_(frontend),
      view_(view),
      session_(session),
      transfers_(std::move(endpoints)),
      signatures_(frontend, transfers_, session.PublicKey),
      context_{frontend, session, transfers_, signatures_, false} {
    transfers_.onProgress = [this](long current, long total) { ShowProgress(current, total); };
    transfers_.onStarted = [this] {
        view_.Bar().SetValue(0);
        DoEvents();
    };
}

void MainPresenter::Load() {
    Prepare();
    Fill();
}

void MainPresenter::Prepare() {
    if (prepared_) return;
    prepared_ = true;
    // Downloads and settings writes of a launcher that was killed left parts here.
    RemoveStaleParts(WorkPath(), false);
    view_.SetSizeTwips(kMainCompactSize.width, kMainCompactSize.height);
    frontend_.Splash().Bar().SetValue(20);
}

void MainPresenter::Fill() {
    if (loaded_) return;
    loaded_ = true;
    BusyScope busy(*this);

    // An offered update replaces the normal preparation: no credentials, no lists.
    if (CheckForUpdate() || ended_) return;

    view_.SetText(MainField::User, session_.UserName);
    view_.SetText(MainField::Password, session_.Password);
    view_.SetText(MainField::ZipPassword, session_.ZipPassword);
    // Still signed in, the versions listing uses the same session when it can.
    // An empty list says why where the user looks (with no account stored there is
    // nothing to explain: the user is about to type one).
    if (!RefreshConfigList(false) && !session_.UserName.empty()) {
        lastFailure_ = SignInFailure();
        DPrint("configuration list not filled: " + lastFailure_);
    }
    frontend_.Splash().Bar().SetValue(80);
    // An unattended run needs no versions unless it ends up showing the window.
    if (unattendedStart_)
        transfers_.Close();
    else
        ListPreviousVersions();
    frontend_.Splash().Bar().SetValue(100);
    frontend_.Splash().Close();
}

bool MainPresenter::CheckForUpdate() {
    SelfUpdate update(context_);
    switch (update.Fetch()) {
        case SelfUpdate::Check::Offered:
            updateOffered_ = true;
            view_.SetVisible(MainControl::UpdatePanel, true);
            view_.SetVisible(MainControl::SelectConfigGroup, false);
            view_.SetEnabled(MainControl::SelectConfigGroup, false);
            return true;
        case SelfUpdate::Check::Aborted:
            ReportDownloadAborted(frontend_, *update.Abort());
            Finish(Outcome::End(ExitCode::Failed));
            return false;
        case SelfUpdate::Check::Refused:
            // A calling script must learn that this run was tampered with.
            if (unattendedStart_) Finish(Outcome::End(ExitCode::Failed));
            return false;
        case SelfUpdate::Check::NotOffered:
            break;
    }
    return false;
}

void MainPresenter::Show(bool expanded) {
    Prepare();
    if (expanded) Expand();
    if (loaded_) {
        if (!ended_) view_.Show();
        return;
    }
    // The window first, drawn at once and busy; the servers fill it afterwards.
    BusyScope busy(*this);
    frontend_.TakeActionsFrom(*this);
    view_.Show();
    frontend_.Splash().Close();
    view_.WaitUntilDrawn();
    Fill();
}

void MainPresenter::Expand() {
    if (view_.WidthTwips() == kMainCompactSize.width) {
        view_.SetSizeTwips(kMainFullSize.width, kMainFullSize.height);
        view_.SetLayoutButtonCaption(kCollapseCaption);
        view_.SetCaption(VersionLabel());
    } else {
        view_.SetSizeTwips(kMainCompactSize.width, kMainCompactSize.height);
        view_.SetLayoutButtonCaption(kExpandCaption);
        view_.SetCaption(kMainCompactCaption);
    }
}

void MainPresenter::RunUnattended() {
    unattendedStart_ = true;
    // Launchers of a whole team start at once: a busy server is waited for, not given up on.
    transfers_.RetryWhenBusy([this](int attempt, std::chrono::milliseconds next) {
        const std::string line = "Waiting for the download server (attempt " +
                                 std::to_string(attempt) + ", next in " +
                                 std::to_string((next.count() + 999) / 1000) + " s)";
        DPrint(line);
        frontend_.Splash().SetActivity(line);
        view_.SetActivity(line);
        DoEvents();
    });
    if (!loaded_) Load();
    if (ended_) return;
    view_.SetChecked(MainCheck::DeleteMe, true);
    if (view_.ConfigText().empty()) {
        // Nothing to run (no set listed or preselected, an update offered): the
        // user takes over, and a calling script learns the tool was not started
        // unless the user starts it.
        DPrint("unattended run has no set to run; showing the main window");
        closingCode_ = ExitCode::Failed;
        transfers_.RetryWhenBusy({});  // the user is there now
        const std::string stored = StoredDefaultConfig(session_);
        if (lastFailure_.empty() && !stored.empty() && !updateOffered_) {
            lastFailure_ = "The default configuration set \"" + stored + "\" is not on the server";
            view_.SetActivity(lastFailure_);
        }
        ListPreviousVersions();
        view_.Show();
        return;
    }
    view_.SetEnabled(MainControl::DownloadRunButton, false);
    view_.SetEnabled(MainControl::LayoutButton, false);
    view_.SetEnabled(MainControl::SaveDefaultCheck, false);
    view_.SetEnabled(MainControl::DeleteMeCheck, false);
    context_.unattended = true;
    frontend_.Splash().Show();
    Outcome outcome = Outcome::Stay();
    {
        BusyScope busy(*this);
        outcome = DownloadAndRun(context_, Request()).Run();
    }
    if (outcome.Ends()) return Finish(outcome);
    // The run could not even start (no package at all). A hidden window with no
    // way to close it would linger, so hand over to the user; the caller still
    // learns that the tool was not started.
    DPrint("unattended run could not start the tool; showing the main window");
    closingCode_ = ExitCode::Failed;
    transfers_.RetryWhenBusy({});
    frontend_.Splash().Close();
    ListPreviousVersions();
    view_.Show();
}

void MainPresenter::Finish(Outcome outcome) {
    if (!outcome.Ends() || ended_) return;
    ended_ = true;
    transfers_.Close();
    DeleteFileQuiet(WorkPath() + names::kUpdatesIni);
    view_.Close();
    frontend_.EndProcess(static_cast<int>(outcome.Code()));
}

// ---- user actions -------------------------------------------------------

bool MainPresenter::IgnoredWhileBusy(const char* what) const {
    if (busy_ || ended_) DPrint(std::string("ignored while a workflow runs: ") + what);
    return busy_ || ended_;
}

void MainPresenter::OnDownloadRun() {
    if (IgnoredWhileBusy("Download && Run")) return;
    Outcome outcome = Outcome::Stay();
    {
        BusyScope busy(*this);
        outcome = DownloadAndRun(context_, Request()).Run();
    }
    NoteToolRun(outcome);
}

void MainPresenter::OnRunPrevious() {
    if (IgnoredWhileBusy("Run Previous Ver")) return;
    Outcome outcome = Outcome::Stay();
    {
        BusyScope busy(*this);
        outcome = PreviousVersions(context_).Run(Request(), view_.SelectedPreviousVersion());
    }
    NoteToolRun(outcome);
}

void MainPresenter::NoteToolRun(Outcome outcome) {
    // A run asked for that could not start the tool: closing the window now says so.
    if (!outcome.Ends()) closingCode_ = ExitCode::Failed;
    Finish(outcome);
}

void MainPresenter::OnLogin() {
    if (IgnoredWhileBusy("Login")) return;
    BusyScope busy(*this);
    if (RefreshConfigList()) {
        frontend_.MessageBox(
            std::string("Test Login Success!") + kLineBreak + "Config list has been refreshed!",
            AppTitle(), MsgIcon::None);
        return;
    }
    // Without a word the user could not tell a wrong password from a dead server.
    const std::string reason = transfers_.LastError(
        "The server " + transfers_.Hosts().RepositoryHost + " did not answer.");
    const char* advice = SignInRefused()
                             ? "Check the user name and password, then try again."
                             : "Check the network connection and the server's address, then "
                               "try again.";
    lastFailure_ = SignInFailure();
    frontend_.MessageBox(
        std::string("Test Login Failed!") + kLineBreak + reason + kLineBreak + advice, AppTitle(),
        MsgIcon::Exclamation);
}

bool MainPresenter::SignInRefused() const {
    // A 530 reply refuses the name or password; anything else is the way to the server.
    const Error failure = transfers_.LastFailure();
    return failure.cause == Cause::ServerRefused && failure.reply == 530;
}

std::string MainPresenter::SignInFailure() const {
    const std::string& host = transfers_.Hosts().RepositoryHost;
    std::string reason = transfers_.LastError("");
    if (reason.empty()) return "No answer from " + host;
    // The status line has room for the words, not the error number before them.
    if (const std::size_t words = reason.find("Message: "); words != std::string::npos)
        reason.erase(0, words + 9);
    return (SignInRefused() ? "Sign-in refused by " : "Could not sign in to ") + host + ": " +
           reason;
}

void MainPresenter::OnSaveQuit() {
    if (IgnoredWhileBusy("Save && Quit")) return;
    // A refused value stays in the window for the user to shorten.
    if (!SaveSettings()) return;
    Finish(Outcome::End(closingCode_));
}

void MainPresenter::OnUpdate() {
    if (IgnoredWhileBusy("Update Me!")) return;
    Outcome outcome = Outcome::Stay();
    {
        BusyScope busy(*this);
        outcome = SelfUpdate(context_).Apply();
    }
    Finish(outcome);
}

void MainPresenter::OnInstall(Installer which) {
    if (IgnoredWhileBusy("Kitworks installer")) return;
    Outcome outcome = Outcome::Stay();
    {
        BusyScope busy(*this);
        outcome = CompanionInstaller(context_).Install(which, view_.Text(MainField::User),
                                                       view_.Checked(MainCheck::SilentInstall));
    }
    Finish(outcome);
}

void MainPresenter::OnSaveDefaultClick() {
    view_.SetChecked(MainCheck::DeleteMe, false);
}

void MainPresenter::OnClose() {
    Finish(Outcome::End(closingCode_));
}

// ---- what the window holds ----------------------------------------------

Credentials MainPresenter::TypedCredentials() const {
    return {view_.Text(MainField::User), view_.Text(MainField::Password),
            view_.Text(MainField::ZipPassword)};
}

RunRequest MainPresenter::Request() const {
    return {view_.ConfigText(), TypedCredentials(), view_.Checked(MainCheck::SaveDefault),
            view_.Checked(MainCheck::DeleteMe)};
}

void MainPresenter::SelectDefaultConfig() {
    SelectListedConfig(view_, StoredDefaultConfig(session_));
}

bool MainPresenter::SaveSettings() {
    const std::string& ini = session_.SettingsFile;
    const Credentials typed = TypedCredentials();
    const struct {
        const char* field;
        const std::string& value;
        StoredKey key;
    } typedValues[] = {{"user name", typed.user, StoredKey::UserName},
                       {"password", typed.password, StoredKey::Password},
                       {"zip password", typed.zipPassword, StoredKey::ZipPassword}};
    for (const auto& [field, value, key] : typedValues) {
        const std::size_t limit = RuleOf(key).maxLength;
        if (value.size() <= limit) continue;
        DPrint(std::string("settings not saved: the ") + field + " is too long");
        frontend_.MessageBox(std::string("The ") + field + " is longer than " +
                                 std::to_string(limit) + " characters." + kLineBreak +
                                 "Nothing was saved.",
                             AppTitle(), MsgIcon::Exclamation);
        return false;
    }
    bool saved = true;
    if (view_.Checked(MainCheck::SaveDefault)) {
        saved = SaveDefaultConfig(session_, view_.ConfigText()) && saved;
    }
    // With an update offered the fields were never filled from the settings:
    // left empty, they keep what is stored (the archive password may be known to nobody here).
    // The session follows what is stored, so that nothing later works with the old values.
    const auto save = [&](StoredKey key, const std::string& value, std::string& held) {
        if (updateOffered_ && value.empty()) return true;
        if (!WriteStored(ini, key, value)) return false;
        held = value;
        return true;
    };
    saved = save(StoredKey::UserName, typed.user, session_.UserName) && saved;
    saved = save(StoredKey::Password, typed.password, session_.Password) && saved;
    saved = save(StoredKey::ZipPassword, typed.zipPassword, session_.ZipPassword) && saved;
    // The user quits believing the settings are kept; say so when they are not
    // (a read-only program folder or settings file).
    if (!saved) ReportSettingsNotSaved(frontend_, session_.SettingsFile);
    return true;
}

bool MainPresenter::RefreshConfigList(bool signOut) {
    const Credentials typed = TypedCredentials();
    if (!transfers_.OpenRepository(typed.user, typed.password)) return false;
    // Without the folder the login folder is listed instead (accounts from
    // before configuration sets keep theirs there).
    transfers_.Ftp().ChangeFolder("/Tekmo/ConfigSets");
    FillConfigList(transfers_.Ftp(), view_, StoredDefaultConfig(session_));
    if (signOut) transfers_.Close();
    return true;
}

void MainPresenter::ListPreviousVersions() {
    if (versionsListed_) return;
    versionsListed_ = true;
    for (const std::string& version : PreviousVersions(context_).List())
        view_.AddPreviousVersion(version);
}

void MainPresenter::ShowProgress(long current, long total) {
    const auto frame =
        progress_.Next(transfers_.Transferring(), current, total, TransferProgress::Clock::now());
    if (!frame) return;
    // The unattended run shows its progress on the splash; bar and line change together.
    ProgressBarView& bar = context_.unattended ? frontend_.Splash().Bar() : view_.Bar();
    if (frame->sized) {
        bar.SetMax(frame->barMax);
        bar.SetMin(0);
        bar.SetValue(frame->barValue);
    }
    if (context_.unattended)
        frontend_.Splash().SetActivity(frame->line);
    else
        view_.SetActivity(frame->line);
    DoEvents();
}

}  // namespace talvane::app
