#pragma once
// View interfaces the window logic talks to. No GUI toolkit here: the
// wxWidgets frontend, the console frontend and the tests implement them.
#include <string>
#include <vector>

namespace talvane::ui {

enum class MsgIcon { None, Critical, Exclamation, Information };

// A bar with a minimum, a maximum and a value. Out-of-range settings are ignored.
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

// frmSplash: created when shown, discarded when closed.
class SplashView {
  public:
    virtual ~SplashView() = default;
    // Loads the logo (AppPath + Talvane.bmp) when present and sizes itself.
    virtual void Show() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual ProgressBarView& Bar() = 0;
    // Outer size in twips, as laid out at the last Show().
    virtual int WidthTwips() const = 0;
    virtual int HeightTwips() const = 0;
};

// frmStatusWin: caption and one label.
class StatusView {
  public:
    virtual ~StatusView() = default;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetLabel(const std::string& text) = 0;
    virtual void Show() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
};

enum class MainCheck { SaveDefault, DelMe, SilentInstall };
enum class MainField { User, Password, ZipPassword };
enum class MainControl { cmdDandR, cmdOptions, chkSaveDefault, chkDelMe, Frame4, picUpdate };

// frmMain's controls. The presenter owns the behaviour; the view only shows.
class MainView {
  public:
    virtual ~MainView() = default;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual std::string Caption() const = 0;
    virtual void SetSizeTwips(int width, int height) = 0;
    virtual int WidthTwips() const = 0;
    virtual int HeightTwips() const = 0;
    virtual void SetOptionsCaption(const std::string& caption) = 0;  // cmdOptions ">>" / "<<"
    virtual std::string OptionsCaption() const = 0;

    // comboConfigs (drop-down list, no free text; SetComboText selects a
    // matching entry, or sets the text when the entry is the placeholder).
    virtual void ComboClear() = 0;
    virtual void ComboAdd(const std::string& item) = 0;
    virtual std::vector<std::string> ComboItems() const = 0;
    virtual std::string ComboText() const = 0;
    virtual void SetComboText(const std::string& text) = 0;

    // List1 (previous versions).
    virtual void ListAdd(const std::string& item) = 0;
    virtual std::vector<std::string> ListItems() const = 0;
    virtual std::string ListText() const = 0;  // selected entry or ""
    virtual void ListSelect(int index) = 0;    // -1 for none

    virtual bool Checked(MainCheck box) const = 0;
    virtual void SetChecked(MainCheck box, bool value) = 0;
    virtual std::string Text(MainField field) const = 0;
    virtual void SetText(MainField field, const std::string& text) = 0;
    virtual void SetEnabled(MainControl control, bool enabled) = 0;
    virtual bool Enabled(MainControl control) const = 0;
    virtual void SetVisible(MainControl control, bool visible) = 0;
    virtual bool Visible(MainControl control) const = 0;

    virtual ProgressBarView& Bar() = 0;
    virtual void Show() = 0;  // shows the window (non-modal)
    virtual bool IsShown() const = 0;
    virtual void Close() = 0;  // the view goes away; the presenter has already unloaded
};

// frmGetDefault's controls.
class DefaultDialogView {
  public:
    virtual ~DefaultDialogView() = default;
    virtual void ComboClear() = 0;
    virtual void ComboAdd(const std::string& item) = 0;
    virtual std::vector<std::string> ComboItems() const = 0;
    virtual std::string ComboText() const = 0;
    virtual void SetComboText(const std::string& text) = 0;
    virtual bool Option2Selected() const = 0;  // else Option1 ("Prompt for Config")
    virtual void SelectOption2(bool selected) = 0;
    virtual bool Option4Selected() const = 0;  // else Option3 ("Extract to Desktop")
    virtual void SelectOption4(bool selected) = 0;
    virtual std::string FolderText() const = 0;  // Text1, initially "\Support"
    virtual void SetFolderText(const std::string& text) = 0;
    virtual void SetLogoLabel(const std::string& text) = 0;  // lblLogo
    virtual std::string LogoLabel() const = 0;
    virtual void Show() = 0;
    virtual void Close() = 0;
};

}  // namespace talvane::ui
