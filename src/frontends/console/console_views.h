#pragma once
// Text versions of the program's windows. They keep the controls' state and
// render it as a block; the frontend decides when to print.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/progress_model.h"
#include "app/views.h"
#include "app/window_layout.h"
#include "frontends/console/console_output.h"

namespace talvane::frontends::console {

// The frontends draw what the app layer decides: its views and presenters by their names.
using namespace talvane::app;

class ConsoleBar final : public ProgressBarView {
  public:
    // `label` names the bar in progress lines ("splash", "transfer").
    ConsoleBar(ConsoleOutput& output, std::string label);
    void SetMin(long value) override { model_.SetMin(value); }
    void SetMax(long value) override { model_.SetMax(value); }
    void SetValue(long value) override;
    long Min() const override { return model_.Min(); }
    long Max() const override { return model_.Max(); }
    long Value() const override { return model_.Value(); }
    // Progress lines only while the owning window is up.
    void SetActive(bool active) { active_ = active; }
    void Reset() {
        model_.Reset();
        mark_ = {};
    }

  private:
    ConsoleOutput& output_;
    std::string label_;
    ProgressModel model_;
    bool active_ = true;
    ProgressMark mark_;
};

class ConsoleSplash final : public SplashView {
  public:
    explicit ConsoleSplash(ConsoleOutput& output);
    void Show() override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    ProgressBarView& Bar() override { return bar_; }
    void SetActivity(const std::string& text) override;  // a "[splash] line: ..." note
    int WidthTwips() const override { return width_; }
    int HeightTwips() const override { return height_; }

  private:
    ConsoleOutput& output_;
    ConsoleBar bar_;
    std::string line_;
    bool open_ = false;
    int width_ = kSplashBarOnlySize.width;
    int height_ = kSplashBarOnlySize.height;
};

class ConsoleStatus final : public StatusView {
  public:
    explicit ConsoleStatus(ConsoleOutput& output);
    void SetCaption(const std::string& caption) override;
    void SetLabel(const std::string& text) override;
    void Show() override;
    void Close() override;
    bool IsOpen() const override { return open_; }

  private:
    ConsoleOutput& output_;
    std::string caption_;
    std::string label_;
    bool open_ = false;
};

class ConsoleMainView final : public MainView {
  public:
    // `onGone` runs when the view is destroyed (the frontend forgets it).
    ConsoleMainView(ConsoleOutput& output, std::function<void()> onGone);
    ~ConsoleMainView() override;
    ConsoleMainView(const ConsoleMainView&) = delete;
    ConsoleMainView& operator=(const ConsoleMainView&) = delete;

    void SetCaption(const std::string& caption) override { caption_ = caption; }
    std::string Caption() const override { return caption_; }
    void SetSizeTwips(int width, int height) override;
    int WidthTwips() const override { return width_; }
    int HeightTwips() const override { return height_; }
    void SetLayoutButtonCaption(const std::string& caption) override { layoutCaption_ = caption; }
    std::string LayoutButtonCaption() const override { return layoutCaption_; }

    void ClearConfigs() override;
    void AddConfig(const std::string& item) override { combo_.push_back(item); }
    std::vector<std::string> Configs() const override { return combo_; }
    std::string ConfigText() const override;
    void SetConfigText(const std::string& text) override;

    void AddPreviousVersion(const std::string& item) override { list_.push_back(item); }
    std::vector<std::string> PreviousVersions() const override { return list_; }
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
    void SetActivity(const std::string& text) override { status_ = text; }
    void Show() override;
    bool IsShown() const override { return shown_; }
    void Close() override;

    // The full layout is anything wider than the compact window.
    bool FullLayout() const;
    int ComboIndex() const { return comboIndex_; }
    int ListIndex() const { return listIndex_; }
    std::string Render() const;

  private:
    std::function<void()> onGone_;
    std::string caption_ = kMainFirstCaption;
    std::string status_;  // the status line; "Ready" is not printed
    int width_ = kMainCompactSize.width;
    int height_ = kMainCompactSize.height;
    std::string layoutCaption_ = kExpandCaption;
    std::vector<std::string> combo_;
    int comboIndex_ = -1;
    std::string comboText_;  // text of the selected entry
    std::vector<std::string> list_;
    int listIndex_ = -1;
    std::array<bool, 3> checks_{false, false, true};  // "Silent Install" starts ticked
    std::array<std::string, 3> texts_;
    std::array<bool, 6> enabled_{true, true, true, true, true, true};
    std::array<bool, 6> visible_{true, true, true, true, true, false};  // the update panel hidden
    ConsoleBar bar_;
    bool shown_ = false;
};

class ConsoleDialogView final : public DefaultDialogView {
  public:
    ConsoleDialogView(std::function<void()> onShow, std::function<void()> onGone);
    ~ConsoleDialogView() override;
    ConsoleDialogView(const ConsoleDialogView&) = delete;
    ConsoleDialogView& operator=(const ConsoleDialogView&) = delete;

    void ClearConfigs() override;
    void AddConfig(const std::string& item) override { combo_.push_back(item); }
    std::vector<std::string> Configs() const override { return combo_; }
    std::string ConfigText() const override;
    void SetConfigText(const std::string& text) override;
    bool AutoDownloadSelected() const override { return autoDownload_; }
    void SelectAutoDownload(bool selected) override { autoDownload_ = selected; }
    bool ExtractToFolderSelected() const override { return toFolder_; }
    void SelectExtractToFolder(bool selected) override { toFolder_ = selected; }
    std::string FolderText() const override { return folder_; }
    void SetFolderText(const std::string& text) override { folder_ = text; }
    void SetLogoLabel(const std::string& text) override { logo_ = text; }
    void SetStoredLine(const std::string& text) override { stored_ = text; }
    std::string LogoLabel() const override { return logo_; }
    void Show() override;
    void Close() override;

    bool IsShown() const { return shown_; }
    bool IsClosed() const { return closed_; }
    std::string Render() const;

  private:
    std::function<void()> onShow_;
    std::function<void()> onGone_;
    std::vector<std::string> combo_;
    int comboIndex_ = -1;
    std::string comboText_;
    bool autoDownload_ = false;
    bool toFolder_ = false;
    std::string folder_ = "\\Support";
    std::string logo_ = "---";
    std::string stored_;
    bool shown_ = false;
    bool closed_ = false;
};

// One '*' per character (a UTF-8 sequence counts once).
std::string MaskText(const std::string& text);
// Index of `wanted` in `items`: exact name without regard to case first,
// then a 1-based number. -1 when neither fits.
int FindEntry(const std::vector<std::string>& items, const std::string& wanted);

}  // namespace talvane::frontends::console
