#pragma once
// View interfaces the window logic talks to. No GUI toolkit here: the
// wxWidgets frontend, the console frontend and the tests implement them.
#include <string>
#include <vector>

namespace talvane::app {

enum class MsgIcon { None, Critical, Exclamation, Information };

// A bar with a minimum, a maximum and a value, following ProgressModel's rules
// (app/progress_model.h): out-of-range settings are ignored.
class ProgressBarView {
  public:
    virtual ~ProgressBarView() = default;
    virtual void SetMin(long value) = 0;
    virtual void SetMax(long value) = 0;
    virtual void SetValue(long value) = 0;
    virtual long Min() const = 0;
    virtual long Max() const = 0;
    virtual long Value() const = 0;
};

// The splash window: created when shown, discarded when closed.
class SplashView {
  public:
    virtual ~SplashView() = default;
    // Loads the logo (AppPath + Talvane.bmp) when present and sizes itself.
    virtual void Show() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual ProgressBarView& Bar() = 0;
    // The status line by the bar ("" clears it); a splash without one ignores it.
    virtual void SetActivity(const std::string& /*text*/) {}
    // Outer size in twips, as laid out at the last Show().
    virtual int WidthTwips() const = 0;
    virtual int HeightTwips() const = 0;
};

// The status window: caption and one label.
class StatusView {
  public:
    virtual ~StatusView() = default;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetLabel(const std::string& text) = 0;
    virtual void Show() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
};

enum class MainCheck { SaveDefault, DeleteMe, SilentInstall };
enum class MainField { User, Password, ZipPassword };
enum class MainControl {
    DownloadRunButton,
    LayoutButton,
    SaveDefaultCheck,
    DeleteMeCheck,
    SelectConfigGroup,
    UpdatePanel
};

// The list of configuration sets both windows carry (a drop-down list, no free
// text; SetConfigText selects a matching entry, or sets the text when the entry
// is the placeholder).
class ConfigListView {
  public:
    virtual ~ConfigListView() = default;
    virtual void ClearConfigs() = 0;
    virtual void AddConfig(const std::string& item) = 0;
    virtual std::vector<std::string> Configs() const = 0;
    virtual std::string ConfigText() const = 0;
    virtual void SetConfigText(const std::string& text) = 0;
};

// The main window's controls. The presenter owns the behaviour; the view only shows.
class MainView : public ConfigListView {
  public:
    virtual void SetCaption(const std::string& caption) = 0;
    virtual std::string Caption() const = 0;
    virtual void SetSizeTwips(int width, int height) = 0;
    virtual int WidthTwips() const = 0;
    virtual int HeightTwips() const = 0;
    virtual void SetLayoutButtonCaption(const std::string& caption) = 0;  // ">>" / "<<"
    virtual std::string LayoutButtonCaption() const = 0;

    // The previous-versions list.
    virtual void AddPreviousVersion(const std::string& item) = 0;
    virtual std::vector<std::string> PreviousVersions() const = 0;
    virtual std::string SelectedPreviousVersion() const = 0;  // selected entry or ""
    virtual void SelectPreviousVersion(int index) = 0;        // -1 for none

    virtual bool Checked(MainCheck box) const = 0;
    virtual void SetChecked(MainCheck box, bool value) = 0;
    virtual std::string Text(MainField field) const = 0;
    virtual void SetText(MainField field, const std::string& text) = 0;
    virtual void SetEnabled(MainControl control, bool enabled) = 0;
    virtual bool Enabled(MainControl control) const = 0;
    virtual void SetVisible(MainControl control, bool visible) = 0;
    virtual bool Visible(MainControl control) const = 0;

    virtual ProgressBarView& Bar() = 0;
    // One line on what is happening ("" when idle); windows without one ignore it.
    virtual void SetActivity(const std::string& /*text*/) {}
    // A workflow runs: its buttons look disabled and the cursor is busy (the
    // layout button and the check boxes stay live).
    virtual void SetBusy(bool /*busy*/) {}
    virtual void Show() = 0;  // shows the window (non-modal)
    // Returns once the shown window has been drawn (at once where nothing is drawn).
    virtual void WaitUntilDrawn() {}
    virtual bool IsShown() const = 0;
    virtual void Close() = 0;  // the view goes away; the presenter has already unloaded
};

// The Default Config dialog's controls.
class DefaultDialogView : public ConfigListView {
  public:
    virtual bool AutoDownloadSelected() const = 0;  // else "Prompt for Config"
    virtual void SelectAutoDownload(bool selected) = 0;
    virtual bool ExtractToFolderSelected() const = 0;  // else "Extract to Desktop"
    virtual void SelectExtractToFolder(bool selected) = 0;
    virtual std::string FolderText() const = 0;  // initially "\Support"
    virtual void SetFolderText(const std::string& text) = 0;
    virtual void SetLogoLabel(const std::string& text) = 0;  // "---" or "Found!"
    // What the settings hold now ("Stored now: Field Team, \Tools"): the
    // options start on Prompt / Desktop whatever is stored.
    virtual void SetStoredLine(const std::string& text) = 0;
    virtual std::string LogoLabel() const = 0;
    virtual void Show() = 0;
    virtual void Close() = 0;
};

}  // namespace talvane::app
