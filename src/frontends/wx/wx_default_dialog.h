#pragma once
// The Default Config dialog (/setdefault): what an unattended run downloads,
// where it extracts, and the splash logo.
#include <string>
#include <vector>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/views.h"

namespace talvane::frontends::wx {

// The frontends draw what the app layer decides: its views and presenters by their names.
using namespace talvane::app;

class WxFrontend;

class DialogFrame final : public wxDialog {
  public:
    DialogFrame();

    wxStaticText* storedLine;
    wxRadioButton* promptOption;
    wxRadioButton* autoDownloadOption;
    wxChoice* configCombo;
    wxRadioButton* desktopOption;
    wxRadioButton* folderOption;
    wxTextCtrl* folderText;
    wxStaticText* logoLabel;
    wxButton* importButton;
    wxButton* testButton;
    wxButton* saveButton;
    wxButton* cancelButton;
};

class WxDialogView final : public DefaultDialogView {
  public:
    explicit WxDialogView(WxFrontend& frontend);
    ~WxDialogView() override;
    WxDialogView(const WxDialogView&) = delete;
    WxDialogView& operator=(const WxDialogView&) = delete;

    void ClearConfigs() override;
    void AddConfig(const std::string& item) override;
    std::vector<std::string> Configs() const override;
    std::string ConfigText() const override;
    void SetConfigText(const std::string& text) override;
    bool AutoDownloadSelected() const override;
    void SelectAutoDownload(bool selected) override;
    bool ExtractToFolderSelected() const override;
    void SelectExtractToFolder(bool selected) override;
    std::string FolderText() const override;
    void SetFolderText(const std::string& text) override;
    void SetLogoLabel(const std::string& text) override;
    std::string LogoLabel() const override;
    void SetStoredLine(const std::string& text) override;
    void Show() override;
    void Close() override;

    DialogFrame* Frame() const { return frame_; }
    bool IsOpen() const { return frame_ != nullptr && frame_->IsShown(); }

  private:
    void Bind();
    WxFrontend& frontend_;
    DialogFrame* frame_;
};

}  // namespace talvane::frontends::wx
