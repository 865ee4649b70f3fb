#pragma once
// A recording frontend; the open-file dialog answers from a queue.
#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/frontend.h"
#include "app/progress_model.h"
#include "app/views.h"
#include "app/window_layout.h"
#include "common/strings.h"

namespace talvane::testing {

struct RecordedMessage {
    std::string text, title;
    app::MsgIcon icon = app::MsgIcon::None;
};

// The frontends' bar rules: a refused value never shows, so it is not recorded.
class FakeProgressBar : public app::ProgressBarView {
  public:
    void SetMin(long value) override { model_.SetMin(value); }
    void SetMax(long value) override { model_.SetMax(value); }
    void SetValue(long value) override {
        if (model_.SetValue(value)) values.push_back(value);
    }
    long Min() const override { return model_.Min(); }
    long Max() const override { return model_.Max(); }
    long Value() const override { return model_.Value(); }
    void Reset() { model_.Reset(); }  // a new window's bar; the record stays
    std::vector<long> values;         // every value the bar took, in order

  private:
    app::ProgressModel model_;
};

class FakeSplash : public app::SplashView {
  public:
    void Show() override {
        if (!open_) bar.Reset();  // as the frontends do: each showing is a new window
        open_ = true;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    app::ProgressBarView& Bar() override { return bar; }
    void SetActivity(const std::string& text) override {
        if (open_) lines.push_back(text);
    }
    int WidthTwips() const override { return app::kSplashBarOnlySize.width; }
    int HeightTwips() const override { return app::kSplashBarOnlySize.height; }
    FakeProgressBar bar;
    std::vector<std::string> lines;  // its status line, while open

  private:
    bool open_ = false;
};

class FakeStatus : public app::StatusView {
  public:
    void SetCaption(const std::string&) override {}
    void SetLabel(const std::string& text) override { labels.push_back(text); }
    void Show() override { open_ = true; }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    std::vector<std::string> labels;

  private:
    bool open_ = false;
};

// A drop-down list: SetConfigText selects the entry that matches without regard to case.
template <class View>
class FakeConfigList : public View {
  public:
    void ClearConfigs() override { combo_.clear(), comboText_.clear(); }
    void AddConfig(const std::string& item) override { combo_.push_back(item); }
    std::vector<std::string> Configs() const override { return combo_; }
    std::string ConfigText() const override { return comboText_; }
    void SetConfigText(const std::string& text) override {
        for (const std::string& item : combo_)
            if (ToLower(item) == ToLower(text)) comboText_ = item;
    }

  private:
    std::vector<std::string> combo_;
    std::string comboText_;
};

class FakeMainView : public FakeConfigList<app::MainView> {
  public:
    void SetCaption(const std::string& caption) override { caption_ = caption; }
    std::string Caption() const override { return caption_; }
    void SetSizeTwips(int width, int height) override { width_ = width, height_ = height; }
    int WidthTwips() const override { return width_; }
    int HeightTwips() const override { return height_; }
    void SetLayoutButtonCaption(const std::string& caption) override { layoutCaption_ = caption; }
    std::string LayoutButtonCaption() const override { return layoutCaption_; }
    void SetActivity(const std::string& text) override { statusLines.push_back(status = text); }
    std::string status;                    // the status line
    std::vector<std::string> statusLines;  // every line it showed, in order

    void AddPreviousVersion(const std::string& item) override { list_.push_back(item); }
    std::vector<std::string> PreviousVersions() const override { return list_; }
    std::string SelectedPreviousVersion() const override {
        return listIndex_ >= 0 && listIndex_ < static_cast<int>(list_.size()) ? list_[listIndex_]
                                                                              : "";
    }
    void SelectPreviousVersion(int index) override { listIndex_ = index; }
    // Test helper: selects a previous version by its text.
    bool SelectVersion(const std::string& text) {
        const auto it = std::find(list_.begin(), list_.end(), text);
        listIndex_ = it == list_.end() ? listIndex_ : static_cast<int>(it - list_.begin());
        return it != list_.end();
    }

    bool Checked(app::MainCheck box) const override { return Get(checks_, box, false); }
    void SetChecked(app::MainCheck box, bool value) override { checks_[box] = value; }
    std::string Text(app::MainField field) const override { return Get(texts_, field, {}); }
    void SetText(app::MainField field, const std::string& text) override { texts_[field] = text; }
    void SetEnabled(app::MainControl control, bool enabled) override {
        enabled_[control] = enabled;
    }
    bool Enabled(app::MainControl control) const override { return Get(enabled_, control, true); }
    void SetVisible(app::MainControl control, bool visible) override {
        visible_[control] = visible;
    }
    bool Visible(app::MainControl control) const override { return Get(visible_, control, true); }

    app::ProgressBarView& Bar() override { return bar; }
    void Show() override { shown_ = true, ++shows; }
    bool IsShown() const override { return shown_; }
    void Close() override { shown_ = false, closed = true; }

    FakeProgressBar bar;
    int shows = 0;
    bool closed = false;

  private:
    template <class K, class V>
    static V Get(const std::map<K, V>& map, K key, V otherwise) {
        const auto it = map.find(key);
        return it == map.end() ? otherwise : it->second;
    }

    std::string caption_ = app::kMainFirstCaption, layoutCaption_ = app::kExpandCaption;
    int width_ = app::kMainCompactSize.width, height_ = app::kMainCompactSize.height;
    int listIndex_ = -1;
    std::vector<std::string> list_;
    std::map<app::MainCheck, bool> checks_{{app::MainCheck::SilentInstall, true}};
    std::map<app::MainField, std::string> texts_;
    std::map<app::MainControl, bool> enabled_;
    std::map<app::MainControl, bool> visible_{{app::MainControl::UpdatePanel, false}};
    bool shown_ = false;
};

class FakeDialogView : public FakeConfigList<app::DefaultDialogView> {
  public:
    bool AutoDownloadSelected() const override { return autoDownload_; }
    void SelectAutoDownload(bool selected) override { autoDownload_ = selected; }
    bool ExtractToFolderSelected() const override { return toFolder_; }
    void SelectExtractToFolder(bool selected) override { toFolder_ = selected; }
    std::string FolderText() const override { return folder_; }
    void SetFolderText(const std::string& text) override { folder_ = text; }
    void SetLogoLabel(const std::string& text) override { logo_ = text; }
    void SetStoredLine(const std::string& text) override { stored = text; }
    std::string stored;
    std::string LogoLabel() const override { return logo_; }
    void Show() override {}
    void Close() override { closed = true; }
    bool closed = false;

  private:
    bool autoDownload_ = false, toFolder_ = false;
    std::string folder_ = "\\Support", logo_ = "---";
};

class FakeFrontend : public app::Frontend {
  public:
    FakeFrontend() { SetEventPump(this); }
    ~FakeFrontend() override {
        if (GetEventPump() == this) SetEventPump(nullptr);
    }
    FakeFrontend(const FakeFrontend&) = delete;
    FakeFrontend& operator=(const FakeFrontend&) = delete;

    // EventPump: runs the hook (a click arriving mid-workflow).
    void Pump() override {
        if (onPump) onPump();
    }
    app::SplashView& Splash() override { return splash; }
    app::StatusView& Status() override { return status; }
    void ShowMessageBox(const std::string& text, const std::string& title,
                        app::MsgIcon icon) override {
        messages.push_back({text, title, icon});
    }
    std::string OpenFileDialog(const std::string&, const std::string&) override {
        if (fileDialogAnswers.empty()) return {};  // a cancel
        std::string answer = fileDialogAnswers.front();
        fileDialogAnswers.pop_front();
        return answer;
    }
    std::unique_ptr<app::MainView> CreateMainView() override {
        return std::make_unique<FakeMainView>();
    }
    std::unique_ptr<app::DefaultDialogView> CreateDefaultDialogView() override {
        return std::make_unique<FakeDialogView>();
    }
    int Run(app::MainPresenter*, app::DefaultDialogPresenter*) override { return 0; }
    void EndProcess(int code) override {
        EXPECT_FALSE(endedWith) << "the process was ended twice";
        endedWith = code;
    }
    void SetActivity(const std::string& text) override { activities.push_back(text); }

    std::vector<std::string> MessageTexts() const {  // in order
        std::vector<std::string> texts;
        for (const RecordedMessage& m : messages) texts.push_back(m.text);
        return texts;
    }

    FakeSplash splash;
    FakeStatus status;
    std::vector<RecordedMessage> messages;
    std::vector<std::string> activities;  // the steps the status line was told, in order
    std::deque<std::string> fileDialogAnswers;
    std::function<void()> onPump;
    std::optional<int> endedWith;  // the exit code, once the process was ended
};

}  // namespace talvane::testing
