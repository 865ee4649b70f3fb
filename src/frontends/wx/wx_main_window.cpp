#include "frontends/wx/wx_main_window.h"

#include <algorithm>
#include <chrono>

#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include "app/main_presenter.h"
#include "common/log.h"
#include "frontends/wx/program_icon.h"
#include "frontends/wx/wx_frontend.h"
#include "frontends/wx/wx_helpers.h"

namespace talvane::frontends::wx {

namespace {

// The progress bar along the bottom edge, in device-independent pixels.
constexpr int kMainBarDip = 18;

}  // namespace

MainFrame::MainFrame()
    : wxFrame(nullptr, wxID_ANY, kMainFirstCaption, wxDefaultPosition, wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER) {
    SetIcons(ProgramIcons());
    content = new wxPanel(this, wxID_ANY);
    // The windows grow past their designed sizes whenever a theme or font scale needs it.
    const int gap = FromDIP(kGap), margin = FromDIP(kMargin);

    // "Select Config" (or the update panel in its place) fills the compact window;
    // the panels below and beside it are shown only in the full layout, so their
    // controls are out of the Tab order and out of reach when compact.
    leftColumn_ = new wxBoxSizer(wxVERTICAL);
    leftColumn_->Add(BuildSelectConfig(), 1, wxEXPAND);
    leftColumn_->Add(BuildUpdatePanel(), 1, wxEXPAND);
    lowerPanel = new wxPanel(content, wxID_ANY);
    auto* lower = new wxBoxSizer(wxHORIZONTAL);
    lower->Add(BuildCredentials(), 1, wxEXPAND | wxRIGHT, margin);
    lower->Add(BuildPreviousVersions(), 0, wxEXPAND);
    lowerPanel->SetSizer(lower);
    leftColumn_->Add(lowerPanel, 0, wxEXPAND | wxTOP, margin);

    rightPanel = new wxPanel(content, wxID_ANY);
    auto* right = new wxBoxSizer(wxVERTICAL);
    right->Add(BuildKitworks(), 0, wxEXPAND);
    right->AddStretchSpacer();
    saveQuitButton = new wxButton(rightPanel, wxID_ANY, "Save && &Quit");
    right->Add(saveQuitButton, 0, wxEXPAND | wxTOP, gap);
    rightPanel->SetSizer(right);

    auto* columns = new wxBoxSizer(wxHORIZONTAL);
    columns->Add(leftColumn_, 1, wxEXPAND);
    columns->Add(rightPanel, 0, wxEXPAND | wxLEFT, margin);
    activityLabel = new wxStaticText(content, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                     wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    progressGauge = new wxGauge(content, wxID_ANY, WxBar::kSteps);
    progressGauge->SetMinSize(wxSize(-1, FromDIP(kMainBarDip)));
    auto* whole = new wxBoxSizer(wxVERTICAL);
    whole->Add(columns, 1, wxEXPAND | wxALL, margin);
    whole->Add(activityLabel, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, margin);
    whole->Add(progressGauge, 0, wxEXPAND);
    content->SetSizer(whole);
    auto* frameSizer = new wxBoxSizer(wxVERTICAL);
    frameSizer->Add(content, 1, wxEXPAND);
    SetSizer(frameSizer);

    downloadRunButton->SetDefault();
    // A title bar or border learnt only once shown may leave less room than laid
    // out for: the window then grows to fit again.
    // (Laying the controls out in too little room first would squeeze some to nothing.)
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        if (FitsContent()) return event.Skip();
        CallAfter([this] { ApplyLayout(full_, designed_); });
    });
}

void MainFrame::ApplyLayout(bool full, const wxSize& designed) {
    full_ = full;
    designed_ = designed;
    lowerPanel->Show(full);
    rightPanel->Show(full);
    // Compact, "Select Config" takes the whole height; full, it keeps its own.
    leftColumn_->GetItem(selectConfigGroup)->SetProportion(full ? 0 : 1);
    leftColumn_->GetItem(updatePanel)->SetProportion(full ? 0 : 1);
    wxSize size = designed;
    size.IncTo(ClientToWindowSize(content->GetSizer()->GetMinSize()));
    // A fixed size the user cannot drag; the layout button changes it.
    // (GTK does not grow a window made non-resizable, so the hints do the fixing.)
    SetSizeHints(wxDefaultSize, wxDefaultSize);
    SetSize(size);
    SetSizeHints(size, size);
    Layout();
}

bool MainFrame::FitsContent() const {
    const wxSize client = GetClientSize(), needed = content->GetSizer()->GetMinSize();
    return client.x >= needed.x && client.y >= needed.y;
}

wxPanel* MainFrame::BuildSelectConfig() {
    const int gap = FromDIP(kGap);
    selectConfigGroup = new wxPanel(content, wxID_ANY);
    auto* box = MakeGroup(selectConfigGroup, "Select Config");
    wxStaticBox* sb = box->GetStaticBox();
    configCombo = new wxChoice(sb, wxID_ANY);
    configCombo->SetName("configCombo");
    layoutButton =
        new wxButton(sb, wxID_ANY, kExpandCaption, wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    StandardHeight(layoutButton);
    auto* comboRow = new wxBoxSizer(wxHORIZONTAL);
    comboRow->Add(configCombo, 1, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    comboRow->Add(layoutButton, 0, wxALIGN_CENTRE_VERTICAL);
    saveDefaultCheck = new wxCheckBox(sb, wxID_ANY, "Save Config As Default");
    deleteMeCheck = new wxCheckBox(sb, wxID_ANY, "Delete Me After Download");
    saveDefaultCheck->SetToolTip("Select this configuration set at the next start");
    deleteMeCheck->SetToolTip("Remove this launcher once the tool is started");
    downloadRunButton = new wxButton(sb, wxID_ANY, "&Download && Run");
    auto* checks = new wxBoxSizer(wxVERTICAL);
    checks->Add(saveDefaultCheck);
    checks->Add(deleteMeCheck, 0, wxTOP, gap / 2);
    auto* actionRow = new wxBoxSizer(wxHORIZONTAL);
    actionRow->Add(checks, 0, wxALIGN_CENTRE_VERTICAL);
    actionRow->AddStretchSpacer();
    actionRow->Add(downloadRunButton, 0, wxALIGN_CENTRE_VERTICAL);
    box->Add(comboRow, 0, wxEXPAND | wxALL, gap);
    box->AddStretchSpacer();
    box->Add(actionRow, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    selectConfigGroup->SetSizer(box);
    return selectConfigGroup;
}

wxPanel* MainFrame::BuildUpdatePanel() {
    updatePanel = new wxPanel(content, wxID_ANY);
    updateButton = new wxButton(updatePanel, wxID_ANY, "&Update Me!");
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->AddStretchSpacer();
    sizer->Add(updateButton, 0, wxALIGN_CENTRE);
    sizer->AddStretchSpacer();
    updatePanel->SetSizer(sizer);
    updatePanel->Hide();  // shown only when an update is offered
    return updatePanel;
}

wxSizer* MainFrame::BuildCredentials() {
    const int gap = FromDIP(kGap);
    auto* box = MakeGroup(lowerPanel, "Nimbara Credentials");
    wxStaticBox* cb = box->GetStaticBox();
    auto* grid = new wxFlexGridSizer(3, gap, gap);
    grid->AddGrowableCol(1);
    const auto label = [&](const char* text) {
        grid->Add(new wxStaticText(cb, wxID_ANY, text), 0, wxALIGN_CENTRE_VERTICAL);
    };
    const wxSize fieldSize(FromDIP(100), -1);
    label("Username:");
    userText = new wxTextCtrl(cb, wxID_ANY, "", wxDefaultPosition, fieldSize, wxTE_PROCESS_ENTER);
    grid->Add(userText, 1, wxEXPAND);
    loginButton =
        new wxButton(cb, wxID_ANY, "&Login", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    StandardHeight(loginButton);
    grid->Add(loginButton);
    label("Password:");
    passwordText = new wxTextCtrl(cb, wxID_ANY, "", wxDefaultPosition, fieldSize,
                                  wxTE_PASSWORD | wxTE_PROCESS_ENTER);
    grid->Add(passwordText, 1, wxEXPAND);
    grid->AddSpacer(0);
    label("Encryption Password:");
    zipPasswordText = new wxTextCtrl(cb, wxID_ANY, "", wxDefaultPosition, fieldSize,
                                     wxTE_PASSWORD | wxTE_PROCESS_ENTER);
    grid->Add(zipPasswordText, 1, wxEXPAND);
    grid->AddSpacer(0);
    box->Add(grid, 1, wxEXPAND | wxALL, gap);
    return box;
}

wxSizer* MainFrame::BuildPreviousVersions() {
    const int gap = FromDIP(kGap);
    auto* box = MakeGroup(lowerPanel, "Previous tekmo Versions");
    wxStaticBox* pb = box->GetStaticBox();
    previousList = new wxListBox(pb, wxID_ANY);
    runPreviousButton = new wxButton(pb, wxID_ANY, "&Run Previous Ver");
    box->Add(previousList, 1, wxEXPAND | wxALL, gap);
    box->Add(runPreviousButton, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    return box;
}

wxSizer* MainFrame::BuildKitworks() {
    const int gap = FromDIP(kGap);
    auto* box = MakeGroup(rightPanel, "Kitworks Installation");
    wxStaticBox* kb = box->GetStaticBox();
    silentInstallCheck = new wxCheckBox(kb, wxID_ANY, "Silent Install");
    silentInstallCheck->SetValue(true);
    silentInstallCheck->SetToolTip("Install without the setup's questions");
    box->Add(silentInstallCheck, 0, wxALL, gap);
    auto* apps = new wxFlexGridSizer(2, gap / 2, gap);
    apps->AddGrowableCol(0);
    const auto installer = [&](const char* name) {
        apps->Add(new wxStaticText(kb, wxID_ANY, name), 0, wxALIGN_CENTRE_VERTICAL);
        auto* button =
            new wxButton(kb, wxID_ANY, ">", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
        StandardHeight(button);
        button->SetName(wxString("install") + name);
        button->SetToolTip(wxString("Install ") + name);
        apps->Add(button);
        return button;
    };
    installPellamButton = installer("Pellam");
    installHarloButton = installer("Harlo");
    installQuorraButton = installer("Quorra");
    installSorvikButton = installer("Sorvik");
    installUmbrinButton = installer("Umbrin");
    box->Add(apps, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    return box;
}

WxMainView::WxMainView(WxFrontend& frontend) : frontend_(frontend), frame_(new MainFrame) {
    bar_.Attach(frame_->progressGauge);
    SetSizeTwips(width_, height_);
    Bind();
}

WxMainView::~WxMainView() {
    frontend_.Forget(this);
    bar_.Attach(nullptr);
    frame_->Destroy();
}

void WxMainView::Bind() {
    MainFrame& f = *frame_;
    WxFrontend& fe = frontend_;
    const auto click = [&fe](wxWindow* control, auto action) {
        control->Bind(wxEVT_BUTTON, [&fe, action](wxCommandEvent&) { fe.DispatchMain(action); });
    };
    click(f.downloadRunButton, [](MainPresenter& p) { p.OnDownloadRun(); });
    click(f.runPreviousButton, [](MainPresenter& p) { p.OnRunPrevious(); });
    click(f.loginButton, [](MainPresenter& p) { p.OnLogin(); });
    // Enter in a credential field tests the login, not the window's default button.
    for (wxTextCtrl* field : {f.userText, f.passwordText, f.zipPasswordText}) {
        field->Bind(wxEVT_TEXT_ENTER, [&fe](wxCommandEvent&) {
            fe.DispatchMain([](MainPresenter& p) { p.OnLogin(); });
        });
    }
    click(f.saveQuitButton, [](MainPresenter& p) { p.OnSaveQuit(); });
    click(f.updateButton, [](MainPresenter& p) { p.OnUpdate(); });
    click(f.layoutButton, [](MainPresenter& p) { p.Expand(); });
    click(f.installPellamButton, [](MainPresenter& p) { p.OnInstall(Installer::Pellam); });
    click(f.installHarloButton, [](MainPresenter& p) { p.OnInstall(Installer::Harlo); });
    click(f.installQuorraButton, [](MainPresenter& p) { p.OnInstall(Installer::Quorra); });
    click(f.installSorvikButton, [](MainPresenter& p) { p.OnInstall(Installer::Sorvik); });
    click(f.installUmbrinButton, [](MainPresenter& p) { p.OnInstall(Installer::Umbrin); });
    f.saveDefaultCheck->Bind(wxEVT_CHECKBOX, [&fe](wxCommandEvent&) {
        fe.DispatchMain([](MainPresenter& p) { p.OnSaveDefaultClick(); });
    });
    // Where the keys are, each time it changes, once the toolkit has settled.
    f.Bind(wxEVT_IDLE, [last = std::string("-")](wxIdleEvent& event) mutable {
        event.Skip();
        if (const std::string name = FocusName(); name != last) TraceUi("focus " + (last = name));
    });
    // The close button unloads the window, which ends the program; the
    // presenter decides, so the frame is never destroyed behind its back.
    f.Bind(wxEVT_CLOSE_WINDOW,
           [&fe](wxCloseEvent&) { fe.DispatchMain([](MainPresenter& p) { p.OnClose(); }); });
}

void WxMainView::SetCaption(const std::string& caption) {
    frame_->SetTitle(FromUtf8(caption));
}

std::string WxMainView::Caption() const {
    return ToUtf8(frame_->GetTitle());
}

void WxMainView::SetSizeTwips(int width, int height) {
    // The size the window is already laid out for (the presenter's first call
    // repeats the view's own) would only lay it out again.
    if (laidOut_ && width == width_ && height == height_) return;
    laidOut_ = true;
    width_ = width;
    height_ = height;
    frame_->ApplyLayout(width >= kMainFullSize.width, TwipsToPixels(width, height, frame_));
}

void WxMainView::SetLayoutButtonCaption(const std::string& caption) {
    frame_->layoutButton->SetLabel(FromUtf8(caption));
    frame_->layoutButton->SetToolTip(caption == kExpandCaption
                                         ? "Show the credentials, previous versions and installers"
                                         : "Show only the configuration list");
}

std::string WxMainView::LayoutButtonCaption() const {
    return ToUtf8(frame_->layoutButton->GetLabel());
}

void WxMainView::ClearConfigs() {
    frame_->configCombo->Clear();
}

void WxMainView::AddConfig(const std::string& item) {
    wxChoice& list = *frame_->configCombo;
    list.Append(FromUtf8(item));
    // The list is what the user came for: once it has entries, the keys work on it, unless
    // the user is already in another field.
    const wxWindow* focus = wxWindow::FindFocus();
    if (list.GetCount() == 1 &&
        (!focus || focus == frame_ || focus == frame_->layoutButton || !focus->IsEnabled()))
        list.SetFocus();
}

std::vector<std::string> WxMainView::Configs() const {
    return Entries(*frame_->configCombo);
}

std::string WxMainView::ConfigText() const {
    return Selected(*frame_->configCombo);
}

void WxMainView::SetConfigText(const std::string& text) {
    // A drop-down list takes only its own entries (found without regard to case).
    const int index = FindNoCase(*frame_->configCombo, text);
    if (index != wxNOT_FOUND) frame_->configCombo->SetSelection(index);
}

void WxMainView::AddPreviousVersion(const std::string& item) {
    frame_->previousList->Append(FromUtf8(item));
}

std::vector<std::string> WxMainView::PreviousVersions() const {
    return Entries(*frame_->previousList);
}

std::string WxMainView::SelectedPreviousVersion() const {
    return Selected(*frame_->previousList);
}

void WxMainView::SelectPreviousVersion(int index) {
    wxListBox& list = *frame_->previousList;
    if (index < -1 || index >= static_cast<int>(list.GetCount())) return;
    list.SetSelection(index);
}

wxCheckBox* WxMainView::Check(MainCheck box) const {
    switch (box) {
        case MainCheck::SaveDefault:
            return frame_->saveDefaultCheck;
        case MainCheck::DeleteMe:
            return frame_->deleteMeCheck;
        case MainCheck::SilentInstall:
            break;
    }
    return frame_->silentInstallCheck;
}

wxTextCtrl* WxMainView::Field(MainField field) const {
    switch (field) {
        case MainField::User:
            return frame_->userText;
        case MainField::Password:
            return frame_->passwordText;
        case MainField::ZipPassword:
            break;
    }
    return frame_->zipPasswordText;
}

wxWindow* WxMainView::Control(MainControl control) const {
    switch (control) {
        case MainControl::DownloadRunButton:
            return frame_->downloadRunButton;
        case MainControl::LayoutButton:
            return frame_->layoutButton;
        case MainControl::SaveDefaultCheck:
            return frame_->saveDefaultCheck;
        case MainControl::DeleteMeCheck:
            return frame_->deleteMeCheck;
        case MainControl::SelectConfigGroup:
            return frame_->selectConfigGroup;
        case MainControl::UpdatePanel:
            break;
    }
    return frame_->updatePanel;
}

bool WxMainView::Checked(MainCheck box) const {
    return Check(box)->GetValue();
}

void WxMainView::SetChecked(MainCheck box, bool value) {
    Check(box)->SetValue(value);
}

std::string WxMainView::Text(MainField field) const {
    return ToUtf8(Field(field)->GetValue());
}

void WxMainView::SetText(MainField field, const std::string& text) {
    Field(field)->ChangeValue(FromUtf8(text));
}

void WxMainView::SetEnabled(MainControl control, bool enabled) {
    if (control == MainControl::DownloadRunButton) {
        downloadRunAllowed_ = enabled;
        enabled = enabled && !busyCursor_;
    }
    Control(control)->Enable(enabled);
}

bool WxMainView::Enabled(MainControl control) const {
    if (control == MainControl::DownloadRunButton) return downloadRunAllowed_;
    return Control(control)->IsThisEnabled();
}

void WxMainView::SetActivity(const std::string& text) {
    if (text.rfind("Downloading ", 0) == 0) {
        lastTransferLine_ = text;
        lastTransferGauge_ = frame_->progressGauge->GetValue();
        TraceUi("progress " + std::to_string(lastTransferGauge_) + " " + text);
    }
    frame_->activityLabel->SetLabel(FromUtf8(text));
    // A reason longer than the window is cut on the line; the tooltip holds it whole.
    frame_->activityLabel->SetToolTip(FromUtf8(text));
}

void WxMainView::SetBusy(bool busy) {
    if (busy == static_cast<bool>(busyCursor_)) return;
    busyCursor_ = busy ? std::make_unique<wxBusyCursor>() : nullptr;
    MainFrame& f = *frame_;
    // The button that started the work goes grey and loses the focus: it gets it back.
    if (busy) focusBeforeBusy_ = wxWindow::FindFocus();
    for (wxButton* action : {f.loginButton, f.runPreviousButton, f.saveQuitButton, f.updateButton,
                             f.installPellamButton, f.installHarloButton, f.installQuorraButton,
                             f.installSorvikButton, f.installUmbrinButton})
        action->Enable(!busy);
    f.downloadRunButton->Enable(downloadRunAllowed_ && !busy);
    if (!busy && focusBeforeBusy_ && focusBeforeBusy_->IsEnabled() &&
        focusBeforeBusy_->IsShownOnScreen())
        focusBeforeBusy_->SetFocus();
}

void WxMainView::SetVisible(MainControl control, bool visible) {
    Control(control)->Show(visible);
    frame_->ApplyLayout(width_ >= kMainFullSize.width, TwipsToPixels(width_, height_, frame_));
}

bool WxMainView::Visible(MainControl control) const {
    return Control(control)->IsShown();
}

void WxMainView::Show() {
    // The start-up benchmarks time the program's launch to this line.
    if (!*drawn_) {
        // The frame outlives the view by a moment (it goes at the next idle time): the
        // handler keeps its own flag.
        frame_->content->Bind(wxEVT_PAINT, [drawn = drawn_](wxPaintEvent& event) {
            event.Skip();
            if (*drawn) return;
            *drawn = true;
            DPrint("main window drawn");
            NoteFirstPaint();
        });
    }
    frame_->Show();
    frame_->Raise();
}

void WxMainView::WaitUntilDrawn() {
    // A display that never exposes the window must not hold the start for long.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!*drawn_ && frame_->IsShown() && std::chrono::steady_clock::now() < until) {
        RepaintNow();
        if (!*drawn_) wxMilliSleep(1);
    }
}

bool WxMainView::IsShown() const {
    return frame_->IsShown();
}

void WxMainView::Close() {
    frame_->Hide();
    frontend_.WindowGone();
}

}  // namespace talvane::frontends::wx
