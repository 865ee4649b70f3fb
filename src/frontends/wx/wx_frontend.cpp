#include "frontends/wx/wx_frontend.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>
#include <wx/weakref.h>
// The generic dialog's header needs the one above first.
#include <wx/generic/msgdlgg.h>
// On Windows the toolkit's headers bring windows.h, whose MessageBox macro would
// rename the frontend's method.
#undef MessageBox

#include "common/log.h"
#include "common/open_file_check.h"
#include "platform/interrupt.h"
#include "platform/platform.h"

namespace talvane::frontends::wx {

namespace {

// Time between two looks at the event queue while work runs: often enough to
// feel live, rare enough that a fast transfer does not pay for it.
constexpr auto kPumpInterval = std::chrono::milliseconds(15);

class LauncherApp final : public wxApp {
  public:
    // The command line is the launcher's own ("sfx", "/setdefault"): not parsed here.
    bool OnInit() override { return true; }
};

long IconStyle(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Critical:
            return wxICON_ERROR;
        case MsgIcon::Exclamation:
            return wxICON_WARNING;
        case MsgIcon::Information:
            return wxICON_INFORMATION;
        case MsgIcon::None:
            break;
    }
    // No icon flag at all: the generic box draws wxICON_NONE as the error icon.
    return 0;
}

// Toolkit messages (an unreadable image, a failed call) belong in the debug
// log; a box of the toolkit's own would reach the technician.
class DebugLogTarget final : public wxLog {
  protected:
    void DoLogTextAtLevel(wxLogLevel, const wxString& text) override {
        DPrint("wx: " + ToUtf8(text));
    }
};

// The normal pointer while it lives, the busy one again after (wx's own
// suspender is not built for Windows).
class NormalPointer {
  public:
    NormalPointer() : wasBusy_(wxIsBusy()) {
        if (wasBusy_) wxEndBusyCursor();
    }
    ~NormalPointer() {
        if (wasBusy_) wxBeginBusyCursor();
    }
    NormalPointer(const NormalPointer&) = delete;
    NormalPointer& operator=(const NormalPointer&) = delete;

  private:
    bool wasBusy_;
};

// A failed toolkit check is a bug to log, not a dialog to put before a technician.
void LogAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
               const wxString& msg) {
    DPrint("wx assertion " + ToUtf8(cond) + " in " + ToUtf8(func) + " (" + ToUtf8(file) + ":" +
           std::to_string(line) + "): " + ToUtf8(msg));
}

}  // namespace

Toolkit::Toolkit(int& argc, char** argv) {
    // GTK aborts when it has no display to talk to; better not to start it at all.
    if (!platform::DisplayAvailable()) return;
    started_ = true;
    wxSetAssertHandler(LogAssert);
    // A display that cannot be opened is reported by the caller.
    // wx takes ownership of the target it is given and returns the one it held.
    std::unique_ptr<wxLog> replaced(
        wxLog::SetActiveTarget(std::make_unique<DebugLogTarget>().release()));
    wxApp::SetInstance(std::make_unique<LauncherApp>().release());  // owned by wx from here
    {
        wxLogNull quiet;
        ok_ = wxEntryStart(argc, argv);
    }
    ok_ = ok_ && wxTheApp->CallOnInit();
}

Toolkit::~Toolkit() {
    if (!started_) return;
    if (ok_) wxTheApp->OnExit();
    wxEntryCleanup();
}

WxFrontend::WxFrontend(WxOptions options)
    : options_(std::move(options)), splash_(*this), status_(*this) {}

WxFrontend::~WxFrontend() = default;

void WxFrontend::ShowMessageBox(const std::string& text, const std::string& title, MsgIcon icon) {
    messages_.push_back({text, title, icon});
    if (ended_) return;
    const NormalPointer pointer;  // a box is answered with the normal pointer
    // Once answered, the keys work where they did before the box.
    const wxWeakRef<wxWindow> focus = wxWindow::FindFocus();
    wxGenericMessageDialog box(ActiveWindow(), FromUtf8(text), FromUtf8(title),
                               wxOK | wxCENTRE | IconStyle(icon));
    TraceUi("box " + text.substr(0, text.find_first_of("\r\n")));
    box.ShowModal();
    if (focus && focus->IsEnabled()) focus->SetFocus();
    TraceUi("box answered, focus " + FocusName());
}

std::string WxFrontend::PickFile(const std::string& title, const std::string& wildcard,
                                 const std::string& previous) {
    if (options_.pickFile) return options_.pickFile(title, wildcard, previous);
    const NormalPointer pointer;
    wxFileDialog dialog(ActiveWindow(), FromUtf8(title), wxEmptyString, wxEmptyString,
                        FromUtf8(wildcard), wxFD_OPEN);
    if (!previous.empty()) dialog.SetPath(FromUtf8(previous));
    if (dialog.ShowModal() != wxID_OK) return {};
    return ToUtf8(dialog.GetPath());
}

std::string WxFrontend::OpenFileDialog(const std::string& title, const std::string& filter) {
    // A colon separates like a bar does.
    std::string wildcard = filter;
    std::replace(wildcard.begin(), wildcard.end(), ':', '|');
    wildcard = CaseBlindWildcard(wildcard);
    std::string previous;
    for (;;) {
        std::string chosen = PickFile(title, wildcard, previous);
        if (chosen.empty()) return {};
        const std::string problem = OpenFileProblem(chosen);
        if (problem.empty()) return chosen;
        MessageBox(problem, title, MsgIcon::Exclamation);
        if (ended_) return {};
        previous = chosen;
    }
}

std::unique_ptr<MainView> WxFrontend::CreateMainView() {
    auto view = std::make_unique<WxMainView>(*this);
    mainView_ = view.get();
    return view;
}

std::unique_ptr<DefaultDialogView> WxFrontend::CreateDefaultDialogView() {
    auto view = std::make_unique<WxDialogView>(*this);
    dialogView_ = view.get();
    return view;
}

void WxFrontend::Forget(const WxMainView* view) {
    if (mainView_ == view) mainView_ = nullptr;
}

void WxFrontend::Forget(const WxDialogView* view) {
    if (dialogView_ == view) dialogView_ = nullptr;
}

wxWindow* WxFrontend::ActiveWindow() const {
    if (dialogView_ && dialogView_->IsOpen()) return dialogView_->Frame();
    if (mainView_ && mainView_->IsShown()) return mainView_->Frame();
    return splash_.Frame();
}

bool WxFrontend::WindowsOpen() const {
    return (mainView_ && mainView_->IsShown()) || (dialogView_ && dialogView_->IsOpen());
}

int WxFrontend::Run(MainPresenter* main, DefaultDialogPresenter* dialog) {
    Attach(main, dialog);
    if (!WindowsOpen() || ended_) return 0;
    wxGUIEventLoop loop;
    loop_ = &loop;
    const int code = loop.Run();
    loop_ = nullptr;
    return code;
}

void WxFrontend::WindowGone() {
    if (loop_ && !WindowsOpen()) loop_->ScheduleExit(0);
}

void WxFrontend::EndProcess(int code) {
    ended_ = true;
    endCode_ = code;
    if (options_.onEnd) options_.onEnd(code);
    // Closing the window in the middle of a transfer must not leave its part behind.
    RemoveTemporaryPartsNow();
    std::fflush(nullptr);
    std::_Exit(code);
}

void WxFrontend::SetActivity(const std::string& text) {
    if (mainView_) mainView_->SetActivity(text);
    splash_.SetActivity(text);
}

void WxFrontend::Pump() {
    if (!wxTheApp || ended_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ < kPumpInterval) return;
    lastPump_ = now;
    wxTheApp->Yield(true);
}

template <class Presenter>
void WxFrontend::Dispatch(Presenter* presenter, const std::function<void(Presenter&)>& action) {
    if (!presenter || ended_) return;
    try {
        action(*presenter);
    } catch (...) {
        // Only the end of the process may stop here (a test's EndProcess throws);
        // anything else is a bug that must not be hidden.
        if (!ended_) throw;
    }
}

void WxFrontend::DispatchMain(const std::function<void(MainPresenter&)>& action) {
    Dispatch(main_, action);
}

void WxFrontend::DispatchDialog(const std::function<void(DefaultDialogPresenter&)>& action) {
    Dispatch(dialog_, action);
}

}  // namespace talvane::frontends::wx
