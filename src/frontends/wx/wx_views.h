#pragma once
// The program's windows as wxWidgets widgets. Each view keeps the state the
// presenters ask for; the widgets are destroyed when the window closes.
#include <array>
#include <chrono>
#include <string>
#include <vector>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/listbox.h>
#include <wx/panel.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/views.h"

namespace talvane::ui::gui {

class WxFrontend;

wxString FromUtf8(const std::string& text);
std::string ToUtf8(const wxString& text);
// Twips to pixels: 15 twips a pixel at 96 dpi, scaled for the display by FromDIP.
wxSize TwipsToPixels(int widthTwips, int heightTwips, const wxWindow* window);

// A bar with minimum, maximum and value over a wxGauge of fixed range: the
// gauge is touched only when the drawn position changes, so a transfer that
// reports every few hundred bytes costs a handful of repaints.
class WxBar final : public ProgressBarView {
  public:
    static constexpr int kSteps = 1000;
    // `repaintAtOnce`: the splash is driven between sleeps, with no event loop.
    explicit WxBar(bool repaintAtOnce = false) : repaintAtOnce_(repaintAtOnce) {}
    void Attach(wxGauge* gauge);  // nullptr when the window goes away
    void SetMin(long value) override;
    void SetMax(long value) override;
    void SetValue(long value) override;
    long Min() const override { return min_; }
    long Max() const override { return max_; }
    long Value() const override { return value_; }
    void Reset();
    long GaugeUpdates() const { return gaugeUpdates_; }

  private:
    void Draw();
    wxGauge* gauge_ = nullptr;
    bool repaintAtOnce_;
    long min_ = 0, max_ = 100, value_ = 0;
    int drawn_ = -1;
    static constexpr std::chrono::milliseconds kRepaintInterval{100};
    std::chrono::steady_clock::time_point lastRepaint_{};
    long gaugeUpdates_ = 0;
};

class WxSplash final : public SplashView {
  public:
    WxSplash() : bar_(true) {}
    ~WxSplash() override;
    void Show() override;
    void Close() override;
    bool IsOpen() const override { return frame_ != nullptr; }
    ProgressBarView& Bar() override { return bar_; }
    int WidthTwips() const override { return width_; }
    int HeightTwips() const override { return height_; }
    wxFrame* Frame() const { return frame_; }

  private:
    wxFrame* frame_ = nullptr;
    WxBar bar_;
    int width_ = 4770, height_ = 650;
};

class WxStatus final : public StatusView {
  public:
    explicit WxStatus(WxFrontend& frontend) : frontend_(frontend) {}
    ~WxStatus() override;
    void SetCaption(const std::string& caption) override;
    void SetLabel(const std::string& text) override;
    void Show() override;
    void Close() override;
    bool IsOpen() const override { return frame_ != nullptr; }
    wxFrame* Frame() const { return frame_; }

  private:
    WxFrontend& frontend_;
    wxFrame* frame_ = nullptr;
    wxStaticText* label_ = nullptr;
    std::string caption_, text_;
};

// frmMain's widgets, laid out once at the full size: the compact window shows
// its top-left part, as the window grows it shows the rest.
class MainFrame final : public wxFrame {
  public:
    MainFrame();

    wxPanel* content;
    wxPanel* selectConfigGroup;
    wxChoice* configCombo;
    wxButton* layoutButton;
    wxCheckBox* saveDefaultCheck;
    wxCheckBox* deleteMeCheck;
    wxButton* downloadRunButton;
    wxPanel* updatePanel;
    wxButton* updateButton;
    wxTextCtrl* userText;
    wxButton* loginButton;
    wxTextCtrl* passwordText;
    wxTextCtrl* zipPasswordText;
    wxListBox* previousList;
    wxButton* runPreviousButton;
    wxCheckBox* silentInstallCheck;
    wxButton* installPellamButton;
    wxButton* installHarloButton;
    wxButton* installQuorraButton;
    wxButton* installSorvikButton;
    wxButton* installUmbrinButton;
    wxButton* saveQuitButton;
    wxGauge* progressGauge;

    // Content at its full size, the bar along the bottom edge.
    void PlaceChildren();
};

class WxMainView final : public MainView {
  public:
    explicit WxMainView(WxFrontend& frontend);
    ~WxMainView() override;
    WxMainView(const WxMainView&) = delete;
    WxMainView& operator=(const WxMainView&) = delete;

    void SetCaption(const std::string& caption) override;
    std::string Caption() const override;
    void SetSizeTwips(int width, int height) override;
    int WidthTwips() const override { return width_; }
    int HeightTwips() const override { return height_; }
    void SetLayoutButtonCaption(const std::string& caption) override;
    std::string LayoutButtonCaption() const override;

    void ClearConfigs() override;
    void AddConfig(const std::string& item) override;
    std::vector<std::string> Configs() const override;
    std::string ConfigText() const override;
    void SetConfigText(const std::string& text) override;

    void AddPreviousVersion(const std::string& item) override;
    std::vector<std::string> PreviousVersions() const override;
    std::string SelectedPreviousVersion() const override;
    void SelectPreviousVersion(int index) override;

    bool Checked(MainCheck box) const override;
    void SetChecked(MainCheck box, bool value) override;
    std::string Text(MainField field) const override;
    void SetText(MainField field, const std::string& text) override;
    void SetEnabled(MainControl control, bool enabled) override;
    bool Enabled(MainControl control) const override;
    void SetVisible(MainControl control, bool visible) override;
    bool Visible(MainControl control) const override;

    ProgressBarView& Bar() override { return bar_; }
    void Show() override;
    bool IsShown() const override;
    void Close() override;

    MainFrame* Frame() const { return frame_; }
    const WxBar& GaugeBar() const { return bar_; }

  private:
    wxCheckBox* Check(MainCheck box) const;
    wxTextCtrl* Field(MainField field) const;
    wxWindow* Control(MainControl control) const;
    void Bind();

    WxFrontend& frontend_;
    MainFrame* frame_;
    WxBar bar_;
    int width_ = 5145, height_ = 2220;
};

// frmGetDefault's widgets.
class DialogFrame final : public wxDialog {
  public:
    DialogFrame();

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
    void Show() override;
    void Close() override;

    DialogFrame* Frame() const { return frame_; }
    bool IsOpen() const { return frame_ != nullptr && frame_->IsShown(); }

  private:
    void Bind();
    WxFrontend& frontend_;
    DialogFrame* frame_;
};

}  // namespace talvane::ui::gui
