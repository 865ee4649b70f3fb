#include "frontends/wx/wx_views.h"

#include <algorithm>

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/evtloop.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>

#include "common/app_paths.h"
#include "common/log.h"
#include "common/names.h"
#include "common/strings.h"
#include "app/default_dialog_presenter.h"
#include "app/main_presenter.h"
#include "app/splash_logic.h"
#include "frontends/wx/program_icon.h"
#include "frontends/wx/wx_frontend.h"

namespace talvane::ui::gui {

namespace {

constexpr int kTwipsPerDip = 15;
constexpr int kMainBarDip = 18;
constexpr int kCompactWidthTwips = 5145;
constexpr int kCompactHeightTwips = 2220;
constexpr int kGap = 4;

// Paints what changed, without taking clicks: the splash is driven between
// sleeps, before or outside any event loop.
void RepaintNow() {
    if (!wxTheApp) return;
    wxEventLoopGuarantor loopExists;
    wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_UI);
}

int TwipsToDip(int twips) {
    return (twips + kTwipsPerDip / 2) / kTwipsPerDip;
}

int FindNoCase(const wxItemContainerImmutable& items, const std::string& text) {
    for (unsigned i = 0; i < items.GetCount(); ++i) {
        if (EqualsNoCase(ToUtf8(items.GetString(i)), text)) return static_cast<int>(i);
    }
    return wxNOT_FOUND;
}

std::vector<std::string> Entries(const wxItemContainerImmutable& items) {
    std::vector<std::string> out;
    for (unsigned i = 0; i < items.GetCount(); ++i) out.push_back(ToUtf8(items.GetString(i)));
    return out;
}

std::string Selected(const wxItemContainerImmutable& items) {
    const int index = items.GetSelection();
    return index == wxNOT_FOUND ? std::string() : ToUtf8(items.GetString(static_cast<unsigned>(index)));
}

}  // namespace

wxString FromUtf8(const std::string& text) {
    return wxString::FromUTF8(text.data(), text.size());
}

std::string ToUtf8(const wxString& text) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    return std::string(utf8.data(), utf8.length());
}

wxSize TwipsToPixels(int widthTwips, int heightTwips, const wxWindow* window) {
    return wxWindow::FromDIP(wxSize(TwipsToDip(widthTwips), TwipsToDip(heightTwips)), window);
}

// ---------------------------------------------------------------- bar

void WxBar::Attach(wxGauge* gauge) {
    gauge_ = gauge;
    drawn_ = -1;
    if (gauge_) Draw();
}

void WxBar::Reset() {
    min_ = 0;
    max_ = 100;
    value_ = 0;
    drawn_ = -1;
}

void WxBar::SetMin(long value) {
    if (value > max_) return;  // an unusable range is ignored, as the bar control does
    min_ = value;
    value_ = std::max(value_, min_);
    Draw();
}

void WxBar::SetMax(long value) {
    if (value < min_) return;
    max_ = value;
    value_ = std::min(value_, max_);
    Draw();
}

void WxBar::SetValue(long value) {
    if (value < min_ || value > max_) return;
    value_ = value;
    Draw();
}

void WxBar::Draw() {
    if (!gauge_) return;
    const long span = max_ - min_;
    const int step = span <= 0 ? 0
                               : static_cast<int>(static_cast<long long>(value_ - min_) * kSteps /
                                                  span);
    if (step == drawn_) return;
    drawn_ = step;
    ++gaugeUpdates_;
    gauge_->SetValue(step);
    // A repaint on the spot costs a round of the toolkit's loop; the pumps every 15 ms
    // repaint the bar anyway, so ten a second cover work that does not pump. The last
    // step is always shown.
    const auto now = std::chrono::steady_clock::now();
    if (repaintAtOnce_ && (step == kSteps || now - lastRepaint_ >= kRepaintInterval)) {
        lastRepaint_ = now;
        gauge_->Refresh();
        gauge_->Update();
        RepaintNow();
    }
}

// ---------------------------------------------------------------- splash

WxSplash::~WxSplash() {
    Close();
}

void WxSplash::Show() {
    if (frame_) return;
    // A new showing is a new window: fresh bar, logo read again.
    bar_.Reset();
    const SplashLayout layout = ComputeSplashLayout(AppPath() + names::kLogoFile);
    width_ = layout.widthTwips;
    height_ = layout.heightTwips;
    frame_ = new wxFrame(nullptr, wxID_ANY, "Talvane", wxDefaultPosition, wxDefaultSize,
                         wxBORDER_NONE | wxFRAME_NO_TASKBAR | wxSTAY_ON_TOP);
    const wxSize size = TwipsToPixels(width_, height_, frame_);
    const int barHeight = TwipsToPixels(0, layout.barHeightTwips, frame_).y;
    if (layout.logoShown) {
        wxBitmap logo(FromUtf8(AppPath() + names::kLogoFile), wxBITMAP_TYPE_BMP);
        auto* picture = new wxStaticBitmap(frame_, wxID_ANY, logo.IsOk() ? logo : wxNullBitmap,
                                           wxPoint(0, 0), wxSize(size.x, size.y - barHeight));
        picture->SetName("logoPicture");
    }
    auto* gauge = new wxGauge(frame_, wxID_ANY, WxBar::kSteps, wxPoint(0, size.y - barHeight),
                              wxSize(size.x, barHeight));
    frame_->SetSize(size);
    frame_->Centre();
    bar_.Attach(gauge);
    frame_->Show();
    frame_->Update();
    RepaintNow();
}

void WxSplash::Close() {
    if (!frame_) return;
    bar_.Attach(nullptr);
    frame_->Destroy();
    frame_ = nullptr;
}

// ---------------------------------------------------------------- status

WxStatus::~WxStatus() {
    Close();
}

void WxStatus::SetCaption(const std::string& caption) {
    caption_ = caption;
    if (frame_) frame_->SetTitle(FromUtf8(caption));
}

void WxStatus::SetLabel(const std::string& text) {
    text_ = text;
    if (!frame_) return;
    label_->SetLabel(FromUtf8(text));
    frame_->Layout();
    label_->Update();
    RepaintNow();
}

void WxStatus::Show() {
    if (!frame_) {
        wxWindow* owner = frontend_.ActiveWindow();
        frame_ = new wxFrame(owner, wxID_ANY, FromUtf8(caption_), wxDefaultPosition,
                             wxDefaultSize,
                             wxCAPTION | wxFRAME_TOOL_WINDOW | wxFRAME_NO_TASKBAR |
                                 (owner ? wxFRAME_FLOAT_ON_PARENT : 0));
        auto* panel = new wxPanel(frame_);
        label_ = new wxStaticText(panel, wxID_ANY, FromUtf8(text_), wxDefaultPosition,
                                  wxDefaultSize, wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->AddStretchSpacer();
        sizer->Add(label_, 0, wxEXPAND | wxALL, panel->FromDIP(8));
        sizer->AddStretchSpacer();
        panel->SetSizer(sizer);
        frame_->SetClientSize(frame_->FromDIP(wxSize(300, 60)));
        if (owner) {
            frame_->CentreOnParent();
        } else {
            frame_->Centre();
        }
    }
    frame_->Show();
    frame_->Update();
    RepaintNow();
}

void WxStatus::Close() {
    if (!frame_) return;
    frame_->Destroy();
    frame_ = nullptr;
    label_ = nullptr;
}

// ---------------------------------------------------------------- main window

MainFrame::MainFrame()
    : wxFrame(nullptr, wxID_ANY, "Download and Run tekmo Now?", wxDefaultPosition, wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER) {
    SetIcons(ProgramIcons());
    content = new wxPanel(this, wxID_ANY);
    // The window sizes are fixed in twips; a slightly smaller font lets the
    // controls of every toolkit theme fit them.
    content->SetFont(GetFont().Smaller());
    const int gap = FromDIP(kGap);
    auto* columns = new wxBoxSizer(wxHORIZONTAL);
    auto* left = new wxBoxSizer(wxVERTICAL);

    // "Select Config": what the compact window shows, sized to fill it.
    selectConfigGroup = new wxPanel(content, wxID_ANY);
    auto* selectBox = new wxStaticBoxSizer(wxVERTICAL, selectConfigGroup, "Select Config");
    wxStaticBox* sb = selectBox->GetStaticBox();
    configCombo = new wxChoice(sb, wxID_ANY);
    layoutButton = new wxButton(sb, wxID_ANY, ">>", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    auto* comboRow = new wxBoxSizer(wxHORIZONTAL);
    comboRow->Add(configCombo, 1, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    comboRow->Add(layoutButton, 0, wxALIGN_CENTRE_VERTICAL);
    saveDefaultCheck = new wxCheckBox(sb, wxID_ANY, "Save Config As Default");
    deleteMeCheck = new wxCheckBox(sb, wxID_ANY, "Delete Me After Download");
    downloadRunButton = new wxButton(sb, wxID_ANY, "Download && Run");
    auto* checks = new wxBoxSizer(wxVERTICAL);
    checks->Add(saveDefaultCheck);
    checks->Add(deleteMeCheck, 0, wxTOP, gap / 2);
    auto* actionRow = new wxBoxSizer(wxHORIZONTAL);
    actionRow->Add(checks, 0, wxALIGN_CENTRE_VERTICAL);
    actionRow->AddStretchSpacer();
    actionRow->Add(downloadRunButton, 0, wxALIGN_CENTRE_VERTICAL);
    selectBox->Add(comboRow, 0, wxEXPAND | wxALL, gap);
    selectBox->Add(actionRow, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    selectConfigGroup->SetSizer(selectBox);
    const wxSize compact = FromDIP(wxSize(TwipsToDip(kCompactWidthTwips), TwipsToDip(kCompactHeightTwips)));
    const wxSize selectSize(compact.x - 2 * gap, compact.y - FromDIP(kMainBarDip) - 2 * gap);
    selectConfigGroup->SetMinSize(selectSize);
    selectConfigGroup->SetMaxSize(selectSize);

    // The update panel takes the place of "Select Config" when an update is offered.
    updatePanel = new wxPanel(content, wxID_ANY);
    updateButton = new wxButton(updatePanel, wxID_ANY, "Update Me!");
    auto* updateSizer = new wxBoxSizer(wxVERTICAL);
    updateSizer->AddStretchSpacer();
    updateSizer->Add(updateButton, 0, wxALIGN_CENTRE);
    updateSizer->AddStretchSpacer();
    updatePanel->SetSizer(updateSizer);
    updatePanel->SetMinSize(selectSize);
    updatePanel->Hide();
    left->Add(selectConfigGroup);
    left->Add(updatePanel);

    auto* credentials = new wxStaticBoxSizer(wxVERTICAL, content, "Nimbara Credentials");
    wxStaticBox* cb = credentials->GetStaticBox();
    auto* grid = new wxFlexGridSizer(3, gap, gap);
    grid->AddGrowableCol(1);
    const auto label = [&](const char* text) {
        grid->Add(new wxStaticText(cb, wxID_ANY, text), 0, wxALIGN_CENTRE_VERTICAL);
    };
    const wxSize fieldSize(FromDIP(70), -1);
    label("Username:");
    userText = new wxTextCtrl(cb, wxID_ANY, "", wxDefaultPosition, fieldSize);
    grid->Add(userText, 1, wxEXPAND);
    loginButton = new wxButton(cb, wxID_ANY, "Login", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    grid->Add(loginButton);
    label("Password:");
    passwordText = new wxTextCtrl(cb, wxID_ANY, "", wxDefaultPosition, fieldSize, wxTE_PASSWORD);
    grid->Add(passwordText, 1, wxEXPAND);
    grid->AddSpacer(0);
    label("Encryption Password:");
    zipPasswordText = new wxTextCtrl(cb, wxID_ANY, "", wxDefaultPosition, fieldSize, wxTE_PASSWORD);
    grid->Add(zipPasswordText, 1, wxEXPAND);
    grid->AddSpacer(0);
    credentials->Add(grid, 1, wxEXPAND | wxALL, gap);

    auto* previous = new wxStaticBoxSizer(wxVERTICAL, content, "Previous tekmo Versions");
    wxStaticBox* pb = previous->GetStaticBox();
    previousList = new wxListBox(pb, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(70, 40)));
    runPreviousButton = new wxButton(pb, wxID_ANY, "Run Previous Ver", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    previous->Add(previousList, 1, wxEXPAND | wxALL, gap);
    previous->Add(runPreviousButton, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

    auto* lower = new wxBoxSizer(wxHORIZONTAL);
    lower->Add(credentials, 1, wxEXPAND | wxRIGHT, gap);
    lower->Add(previous, 0, wxEXPAND);
    left->Add(lower, 0, wxEXPAND | wxTOP, gap);

    auto* kitworks = new wxStaticBoxSizer(wxVERTICAL, content, "Kitworks Installation");
    wxStaticBox* kb = kitworks->GetStaticBox();
    silentInstallCheck = new wxCheckBox(kb, wxID_ANY, "Silent Install");
    silentInstallCheck->SetValue(true);
    kitworks->Add(silentInstallCheck, 0, wxALL, gap);
    auto* apps = new wxFlexGridSizer(2, gap / 2, gap);
    apps->AddGrowableCol(0);
    const auto installer = [&](const char* name) {
        apps->Add(new wxStaticText(kb, wxID_ANY, name), 0, wxALIGN_CENTRE_VERTICAL);
        auto* button = new wxButton(kb, wxID_ANY, ">", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
        button->SetName(wxString("install") + name);
        apps->Add(button);
        return button;
    };
    installPellamButton = installer("Pellam");
    installHarloButton = installer("Harlo");
    installQuorraButton = installer("Quorra");
    installSorvikButton = installer("Sorvik");
    installUmbrinButton = installer("Umbrin");
    kitworks->Add(apps, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    saveQuitButton = new wxButton(content, wxID_ANY, "Save && Quit");
    auto* right = new wxBoxSizer(wxVERTICAL);
    right->Add(kitworks, 0, wxEXPAND);
    right->Add(saveQuitButton, 0, wxEXPAND | wxTOP, gap);

    columns->Add(left, 0, wxALL, gap);
    columns->Add(right, 1, wxTOP | wxBOTTOM | wxRIGHT, gap);
    content->SetSizer(columns);

    progressGauge = new wxGauge(this, wxID_ANY, WxBar::kSteps);
    downloadRunButton->SetDefault();
    Bind(wxEVT_SIZE, [this](wxSizeEvent&) { PlaceChildren(); });
}

void MainFrame::PlaceChildren() {
    const wxSize client = GetClientSize();
    const int barHeight = FromDIP(kMainBarDip);
    progressGauge->SetSize(0, std::max(client.y - barHeight, 0), client.x, barHeight);
    const wxSize full = content->GetSizer()->GetMinSize();
    content->SetSize(0, 0, std::max(full.x, client.x), std::max(client.y - barHeight, 0));
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
        control->Bind(wxEVT_BUTTON, [&fe, action](wxCommandEvent&) {
            fe.DispatchMain(action);
        });
    };
    click(f.downloadRunButton, [](MainPresenter& p) { p.OnDownloadRun(); });
    click(f.runPreviousButton, [](MainPresenter& p) { p.OnRunPrevious(); });
    click(f.loginButton, [](MainPresenter& p) { p.OnLogin(); });
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
    // The close button unloads the window, which ends the program; the
    // presenter decides, so the frame is never destroyed behind its back.
    f.Bind(wxEVT_CLOSE_WINDOW, [&fe](wxCloseEvent&) {
        fe.DispatchMain([](MainPresenter& p) { p.OnClose(); });
    });
}

void WxMainView::SetCaption(const std::string& caption) {
    frame_->SetTitle(FromUtf8(caption));
}

std::string WxMainView::Caption() const {
    return ToUtf8(frame_->GetTitle());
}

void WxMainView::SetSizeTwips(int width, int height) {
    width_ = width;
    height_ = height;
    // A fixed size: the user cannot drag it, the layout button changes it.
    // (GTK does not grow a window made non-resizable, so the hints do the fixing.)
    const wxSize size = TwipsToPixels(width, height, frame_);
    frame_->SetSizeHints(wxDefaultSize, wxDefaultSize);
    frame_->SetSize(size);
    frame_->SetSizeHints(size, size);
    frame_->PlaceChildren();
}

void WxMainView::SetLayoutButtonCaption(const std::string& caption) {
    frame_->layoutButton->SetLabel(FromUtf8(caption));
}

std::string WxMainView::LayoutButtonCaption() const {
    return ToUtf8(frame_->layoutButton->GetLabel());
}

void WxMainView::ClearConfigs() {
    frame_->configCombo->Clear();
}

void WxMainView::AddConfig(const std::string& item) {
    frame_->configCombo->Append(FromUtf8(item));
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
    Control(control)->Enable(enabled);
}

bool WxMainView::Enabled(MainControl control) const {
    return Control(control)->IsThisEnabled();
}

void WxMainView::SetVisible(MainControl control, bool visible) {
    Control(control)->Show(visible);
    frame_->content->Layout();
}

bool WxMainView::Visible(MainControl control) const {
    return Control(control)->IsShown();
}

void WxMainView::Show() {
    // The start-up benchmark times the program's launch to this line.
    static bool drawn = false;
    if (!drawn) {
        frame_->content->Bind(wxEVT_PAINT, [](wxPaintEvent& event) {
            event.Skip();
            if (drawn) return;
            drawn = true;
            DPrint("main window drawn");
        });
    }
    frame_->Show();
    frame_->Raise();
}

bool WxMainView::IsShown() const {
    return frame_->IsShown();
}

void WxMainView::Close() {
    frame_->Hide();
    frontend_.WindowGone();
}

// ---------------------------------------------------------------- dialog

DialogFrame::DialogFrame()
    : wxDialog(nullptr, wxID_ANY, "Default Config", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetIcons(ProgramIcons());
    // Esc does not close the dialog behind the presenter's back.
    SetEscapeId(wxID_NONE);
    const int gap = FromDIP(kGap);
    auto* top = new wxBoxSizer(wxVERTICAL);

    auto* configBox = new wxStaticBoxSizer(wxVERTICAL, this, "");
    wxStaticBox* c = configBox->GetStaticBox();
    promptOption = new wxRadioButton(c, wxID_ANY, "Prompt for Config", wxDefaultPosition,
                                     wxDefaultSize, wxRB_GROUP);
    autoDownloadOption = new wxRadioButton(c, wxID_ANY, "Select Cloud Config to Automatically Download");
    configCombo = new wxChoice(c, wxID_ANY);
    configBox->Add(promptOption, 0, wxALL, gap);
    configBox->Add(autoDownloadOption, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
    configBox->Add(configCombo, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    top->Add(configBox, 0, wxEXPAND | wxALL, gap);

    auto* folderBox = new wxStaticBoxSizer(wxVERTICAL, this, "");
    wxStaticBox* d = folderBox->GetStaticBox();
    desktopOption = new wxRadioButton(d, wxID_ANY, "Extract to Desktop", wxDefaultPosition,
                                      wxDefaultSize, wxRB_GROUP);
    folderOption = new wxRadioButton(d, wxID_ANY, "Extract to folder below:");
    folderText = new wxTextCtrl(d, wxID_ANY, "\\Support");
    folderBox->Add(desktopOption, 0, wxALL, gap);
    folderBox->Add(folderOption, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
    folderBox->Add(folderText, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    folderBox->Add(new wxStaticText(d, wxID_ANY, "Do NOT specify a drive letter!"), 0,
                   wxLEFT | wxRIGHT | wxBOTTOM, gap);
    top->Add(folderBox, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

    auto* logoRow = new wxBoxSizer(wxHORIZONTAL);
    logoRow->Add(new wxStaticText(this, wxID_ANY, "Custom Logo:  "), 0, wxALIGN_CENTRE_VERTICAL);
    logoLabel = new wxStaticText(this, wxID_ANY, "---");
    logoRow->Add(logoLabel, 1, wxALIGN_CENTRE_VERTICAL);
    importButton = new wxButton(this, wxID_ANY, "Import");
    testButton = new wxButton(this, wxID_ANY, "Test");
    logoRow->Add(importButton, 0, wxLEFT, gap);
    logoRow->Add(testButton, 0, wxLEFT, gap);
    top->Add(logoRow, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

    saveButton = new wxButton(this, wxID_ANY, "Save");
    top->Add(saveButton, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    saveButton->SetDefault();
    SetSizerAndFit(top);
}

WxDialogView::WxDialogView(WxFrontend& frontend) : frontend_(frontend), frame_(new DialogFrame) {
    Bind();
}

WxDialogView::~WxDialogView() {
    frontend_.Forget(this);
    frame_->Destroy();
}

void WxDialogView::Bind() {
    DialogFrame& f = *frame_;
    WxFrontend& fe = frontend_;
    const auto click = [&fe](wxButton* button, auto action) {
        button->Bind(wxEVT_BUTTON, [&fe, action](wxCommandEvent&) { fe.DispatchDialog(action); });
    };
    click(f.saveButton, [](DefaultDialogPresenter& p) { p.OnSave(); });
    click(f.importButton, [](DefaultDialogPresenter& p) { p.OnImport(); });
    click(f.testButton, [](DefaultDialogPresenter& p) { p.OnTest(); });
    f.configCombo->Bind(wxEVT_CHOICE, [&fe](wxCommandEvent&) {
        fe.DispatchDialog([](DefaultDialogPresenter& p) { p.OnComboChange(); });
    });
    f.Bind(wxEVT_CLOSE_WINDOW, [&fe](wxCloseEvent&) {
        fe.DispatchDialog([](DefaultDialogPresenter& p) { p.OnClose(); });
    });
}

void WxDialogView::ClearConfigs() {
    frame_->configCombo->Clear();
}

void WxDialogView::AddConfig(const std::string& item) {
    frame_->configCombo->Append(FromUtf8(item));
}

std::vector<std::string> WxDialogView::Configs() const {
    return Entries(*frame_->configCombo);
}

std::string WxDialogView::ConfigText() const {
    return Selected(*frame_->configCombo);
}

void WxDialogView::SetConfigText(const std::string& text) {
    const int index = FindNoCase(*frame_->configCombo, text);
    if (index != wxNOT_FOUND) frame_->configCombo->SetSelection(index);
}

bool WxDialogView::AutoDownloadSelected() const {
    return frame_->autoDownloadOption->GetValue();
}

void WxDialogView::SelectAutoDownload(bool selected) {
    (selected ? frame_->autoDownloadOption : frame_->promptOption)->SetValue(true);
}

bool WxDialogView::ExtractToFolderSelected() const {
    return frame_->folderOption->GetValue();
}

void WxDialogView::SelectExtractToFolder(bool selected) {
    (selected ? frame_->folderOption : frame_->desktopOption)->SetValue(true);
}

std::string WxDialogView::FolderText() const {
    return ToUtf8(frame_->folderText->GetValue());
}

void WxDialogView::SetFolderText(const std::string& text) {
    frame_->folderText->ChangeValue(FromUtf8(text));
}

void WxDialogView::SetLogoLabel(const std::string& text) {
    frame_->logoLabel->SetLabel(FromUtf8(text));
}

std::string WxDialogView::LogoLabel() const {
    return ToUtf8(frame_->logoLabel->GetLabel());
}

void WxDialogView::Show() {
    frame_->Centre();
    frame_->Show();
    frame_->Raise();
}

void WxDialogView::Close() {
    frame_->Hide();
    frontend_.WindowGone();
}

}  // namespace talvane::ui::gui
