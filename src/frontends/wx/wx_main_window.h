#pragma once
// The main window: the configuration list and Download & Run in the compact
// layout, the credentials, previous versions and installers in the full one.
#include <memory>
#include <string>
#include <vector>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/listbox.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>
#include <wx/weakref.h>

#include "app/views.h"
#include "app/window_layout.h"
#include "frontends/wx/wx_bar.h"

namespace talvane::frontends::wx {

// The frontends draw what the app layer decides: its views and presenters by their names.
using namespace talvane::app;

class WxFrontend;

// The widgets in sizers: the compact layout shows "Select Config" (or the
// update panel) over the bar, the full one adds the panels below and beside it.
class MainFrame final : public wxFrame {
  public:
    MainFrame();

    wxPanel* content;
    wxPanel* selectConfigGroup;
    wxPanel* lowerPanel;  // credentials and previous versions
    wxPanel* rightPanel;  // installers and Save && Quit
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
    wxStaticText* activityLabel;  // what is happening, over the bar
    wxGauge* progressGauge;

    // Shows the layout's panels and sizes the window: the designed outer size,
    // grown to whatever its content needs.
    void ApplyLayout(bool full, const wxSize& designed);
    bool FitsContent() const;

  private:
    // One builder per group, called in tab order: each creates its controls
    // and returns what the columns hold.
    wxPanel* BuildSelectConfig();
    wxPanel* BuildUpdatePanel();
    wxSizer* BuildCredentials();
    wxSizer* BuildPreviousVersions();
    wxSizer* BuildKitworks();

    wxBoxSizer* leftColumn_ = nullptr;
    bool full_ = false;
    wxSize designed_;
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
    void SetActivity(const std::string& text) override;
    void SetBusy(bool busy) override;
    void Show() override;
    void WaitUntilDrawn() override;
    bool IsShown() const override;
    void Close() override;

    MainFrame* Frame() const { return frame_; }
    const WxBar& GaugeBar() const { return bar_; }
    // The last transfer line the status line showed ("Downloading ..."), however briefly,
    // and where the gauge stood when it did.
    const std::string& LastTransferLine() const { return lastTransferLine_; }
    int LastTransferGauge() const { return lastTransferGauge_; }

  private:
    wxCheckBox* Check(MainCheck box) const;
    wxTextCtrl* Field(MainField field) const;
    wxWindow* Control(MainControl control) const;
    void Bind();

    WxFrontend& frontend_;
    MainFrame* frame_;
    WxBar bar_;
    std::string lastTransferLine_;
    int lastTransferGauge_ = 0;
    wxWeakRef<wxWindow> focusBeforeBusy_;
    std::unique_ptr<wxBusyCursor> busyCursor_;
    std::shared_ptr<bool> drawn_ = std::make_shared<bool>(false);  // the first paint happened
    bool laidOut_ = false;                                         // for width_ x height_
    bool downloadRunAllowed_ = true;  // as the presenter set it, whatever the busy state
    int width_ = kMainCompactSize.width, height_ = kMainCompactSize.height;
};

}  // namespace talvane::frontends::wx
