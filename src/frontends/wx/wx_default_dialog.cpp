#include "frontends/wx/wx_default_dialog.h"

#include <wx/sizer.h>
#include <wx/statbox.h>

#include "app/default_dialog_presenter.h"
#include "app/window_layout.h"
#include "frontends/wx/program_icon.h"
#include "frontends/wx/wx_frontend.h"
#include "frontends/wx/wx_helpers.h"

namespace talvane::frontends::wx {

DialogFrame::DialogFrame()
    : wxDialog(nullptr, wxID_ANY, kDefaultDialogCaption, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxFRAME_NO_TASKBAR) {
    SetIcons(ProgramIcons());
    // Esc closes through the presenter (without saving), not behind its back.
    SetEscapeId(wxID_NONE);
    const int gap = FromDIP(kGap), margin = FromDIP(kMargin);
    auto* top = new wxBoxSizer(wxVERTICAL);
    storedLine = new wxStaticText(this, wxID_ANY, "");
    top->Add(storedLine, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin);

    auto* configBox = MakeGroup(this, "");
    wxStaticBox* c = configBox->GetStaticBox();
    promptOption = new wxRadioButton(c, wxID_ANY, "Prompt for Config", wxDefaultPosition,
                                     wxDefaultSize, wxRB_GROUP);
    autoDownloadOption =
        new wxRadioButton(c, wxID_ANY, "Select Cloud Config to Automatically Download");
    configCombo = new wxChoice(c, wxID_ANY);
    configBox->Add(promptOption, 0, wxALL, gap);
    configBox->Add(autoDownloadOption, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
    configBox->Add(configCombo, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    top->Add(configBox, 0, wxEXPAND | wxALL, margin);

    auto* folderBox = MakeGroup(this, "");
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
    top->Add(folderBox, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, margin);

    auto* logoRow = new wxBoxSizer(wxHORIZONTAL);
    logoRow->Add(new wxStaticText(this, wxID_ANY, "Custom Logo:  "), 0, wxALIGN_CENTRE_VERTICAL);
    logoLabel = new wxStaticText(this, wxID_ANY, "---");
    logoRow->Add(logoLabel, 1, wxALIGN_CENTRE_VERTICAL);
    importButton = new wxButton(this, wxID_ANY, "&Import");
    testButton = new wxButton(this, wxID_ANY, "&Test");
    logoRow->Add(importButton, 0, wxLEFT, gap);
    logoRow->Add(testButton, 0, wxLEFT, gap);
    top->Add(logoRow, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, margin);

    saveButton = new wxButton(this, wxID_ANY, "&Save");
    cancelButton = new wxButton(this, wxID_ANY, "&Cancel");
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(saveButton, 0);
    buttons->Add(cancelButton, 0, wxLEFT, gap);
    top->Add(buttons, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, margin);
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
    click(f.cancelButton, [](DefaultDialogPresenter& p) { p.OnClose(); });
    f.configCombo->Bind(wxEVT_CHOICE, [&fe](wxCommandEvent&) {
        fe.DispatchDialog([](DefaultDialogPresenter& p) { p.OnComboChange(); });
    });
    f.folderText->Bind(wxEVT_TEXT, [&fe](wxCommandEvent&) {
        fe.DispatchDialog([](DefaultDialogPresenter& p) { p.OnFolderChange(); });
    });
    f.Bind(wxEVT_CLOSE_WINDOW, [&fe](wxCloseEvent&) {
        fe.DispatchDialog([](DefaultDialogPresenter& p) { p.OnClose(); });
    });
    f.Bind(wxEVT_CHAR_HOOK, [&fe](wxKeyEvent& event) {
        if (event.GetKeyCode() != WXK_ESCAPE) return event.Skip();
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

void WxDialogView::SetStoredLine(const std::string& text) {
    frame_->storedLine->SetLabel(FromUtf8(text));
    frame_->Layout();
    frame_->Fit();
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

}  // namespace talvane::frontends::wx
