#pragma once
// A recording frontend for the window logic: every view the presenters talk
// to, message boxes and status/splash calls recorded, the open-file dialog
// answered from a queue, and EndProcess turned into an exception.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/frontend.h"
#include "ui/views.h"

namespace talvane::testing {

// Thrown by FakeFrontend::EndProcess. Deliberately not a std::exception, so
// no handler for standard exceptions can swallow the end of the process.
struct ProcessEnded {
    int code = 0;
};

struct RecordedMessage {
    std::string text;
    std::string title;
    ui::MsgIcon icon = ui::MsgIcon::None;
};

class FakeProgressBar : public ui::ProgressBarView {
  public:
    void SetMin(long value) override { min_ = value; }
    void SetMax(long value) override { max_ = value; }
    void SetValue(long value) override {
        value_ = value;
        values.push_back(value);
    }
    long Min() const override { return min_; }
    long Max() const override { return max_; }
    long Value() const override { return value_; }

    std::vector<long> values;  // every value set, in order

  private:
    long min_ = 0;
    long max_ = 100;
    long value_ = 0;
};

class FakeSplash : public ui::SplashView {
  public:
    void Show() override {
        open_ = true;
        ++shows;
    }
    void Close() override {
        open_ = false;
        ++closes;
    }
    bool IsOpen() const override { return open_; }
    ui::ProgressBarView& Bar() override { return bar; }
    int WidthTwips() const override { return 4770; }
    int HeightTwips() const override { return 650; }

    FakeProgressBar bar;
    int shows = 0;
    int closes = 0;

  private:
    bool open_ = false;
};

class FakeStatus : public ui::StatusView {
  public:
    void SetCaption(const std::string& caption) override { captions.push_back(caption); }
    void SetLabel(const std::string& text) override { labels.push_back(text); }
    void Show() override {
        open_ = true;
        ++shows;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }

    std::vector<std::string> captions;
    std::vector<std::string> labels;
    int shows = 0;

  private:
    bool open_ = false;
};

class FakeMainView : public ui::MainView {
  public:
    FakeMainView();

    void SetCaption(const std::string& caption) override { caption_ = caption; }
    std::string Caption() const override { return caption_; }
    void SetSizeTwips(int width, int height) override {
        width_ = width;
        height_ = height;
    }
    int WidthTwips() const override { return width_; }
    int HeightTwips() const override { return height_; }
    void SetOptionsCaption(const std::string& caption) override { options_ = caption; }
    std::string OptionsCaption() const override { return options_; }

    void ComboClear() override;
    void ComboAdd(const std::string& item) override { combo_.push_back(item); }
    std::vector<std::string> ComboItems() const override { return combo_; }
    std::string ComboText() const override { return comboText_; }
    // A drop-down list: selects the entry that matches without regard to case.
    void SetComboText(const std::string& text) override;

    void ListAdd(const std::string& item) override { list_.push_back(item); }
    std::vector<std::string> ListItems() const override { return list_; }
    std::string ListText() const override;
    void ListSelect(int index) override { listIndex_ = index; }

    bool Checked(ui::MainCheck box) const override;
    void SetChecked(ui::MainCheck box, bool value) override { checks_[box] = value; }
    std::string Text(ui::MainField field) const override;
    void SetText(ui::MainField field, const std::string& text) override { texts_[field] = text; }
    void SetEnabled(ui::MainControl control, bool enabled) override { enabled_[control] = enabled; }
    bool Enabled(ui::MainControl control) const override;
    void SetVisible(ui::MainControl control, bool visible) override { visible_[control] = visible; }
    bool Visible(ui::MainControl control) const override;

    ui::ProgressBarView& Bar() override { return bar; }
    void Show() override {
        shown_ = true;
        ++shows;
    }
    bool IsShown() const override { return shown_; }
    void Close() override {
        shown_ = false;
        closed = true;
    }

    // Test helper: selects a previous version by its text.
    bool SelectVersion(const std::string& text);

    FakeProgressBar bar;
    int shows = 0;
    bool closed = false;

  private:
    std::string caption_ = "Download and Run tekmo Now?";
    int width_ = 5145;
    int height_ = 2220;
    std::string options_ = ">>";
    std::vector<std::string> combo_;
    std::string comboText_;
    std::vector<std::string> list_;
    int listIndex_ = -1;
    std::map<ui::MainCheck, bool> checks_;
    std::map<ui::MainField, std::string> texts_;
    std::map<ui::MainControl, bool> enabled_;
    std::map<ui::MainControl, bool> visible_;
    bool shown_ = false;
};

class FakeDialogView : public ui::DefaultDialogView {
  public:
    void ComboClear() override {
        combo_.clear();
        comboText_.clear();
    }
    void ComboAdd(const std::string& item) override { combo_.push_back(item); }
    std::vector<std::string> ComboItems() const override { return combo_; }
    std::string ComboText() const override { return comboText_; }
    void SetComboText(const std::string& text) override;
    bool Option2Selected() const override { return option2_; }
    void SelectOption2(bool selected) override { option2_ = selected; }
    bool Option4Selected() const override { return option4_; }
    void SelectOption4(bool selected) override { option4_ = selected; }
    std::string FolderText() const override { return folder_; }
    void SetFolderText(const std::string& text) override { folder_ = text; }
    void SetLogoLabel(const std::string& text) override { logo_ = text; }
    std::string LogoLabel() const override { return logo_; }
    void Show() override { shown = true; }
    void Close() override {
        shown = false;
        closed = true;
    }

    bool shown = false;
    bool closed = false;

  private:
    std::vector<std::string> combo_;
    std::string comboText_;
    bool option2_ = false;
    bool option4_ = false;
    std::string folder_ = "\\Support";
    std::string logo_ = "---";
};

class FakeFrontend : public ui::Frontend {
  public:
    FakeFrontend();
    ~FakeFrontend() override;
    FakeFrontend(const FakeFrontend&) = delete;
    FakeFrontend& operator=(const FakeFrontend&) = delete;

    // EventPump: counts, then runs the hook (a click arriving mid-workflow).
    void Pump() override;

    ui::SplashView& Splash() override { return splash; }
    ui::StatusView& Status() override { return status; }
    void MessageBox(const std::string& text, const std::string& title, ui::MsgIcon icon) override {
        messages.push_back({text, title, icon});
    }
    std::string OpenFileDialog(const std::string& title, const std::string& filter) override;
    std::unique_ptr<ui::MainView> CreateMainView() override;
    std::unique_ptr<ui::DefaultDialogView> CreateDefaultDialogView() override;
    int Run(ui::MainPresenter*, ui::DefaultDialogPresenter*) override { return 0; }
    [[noreturn]] void EndProcess(int code) override;

    // Texts of every message box, in order.
    std::vector<std::string> MessageTexts() const;
    bool HasMessage(const std::string& text) const;

    FakeSplash splash;
    FakeStatus status;
    std::vector<RecordedMessage> messages;
    std::deque<std::string> fileDialogAnswers;  // "" answers as a cancel
    std::vector<std::string> fileDialogTitles;
    std::vector<std::string> fileDialogFilters;
    std::function<void()> onPump;
    long pumps = 0;
    int endCount = 0;

  private:
    bool inHook_ = false;
};

}  // namespace talvane::testing
