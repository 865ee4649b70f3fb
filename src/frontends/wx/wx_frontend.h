#pragma once
// The window frontend: the program's windows as wxWidgets widgets on the one
// GUI thread. Workflows run inside a click and keep the windows alive through
// Pump(); the presenters receive the clicks through Dispatch*.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/frontend.h"
#include "frontends/wx/wx_default_dialog.h"
#include "frontends/wx/wx_helpers.h"
#include "frontends/wx/wx_main_window.h"
#include "frontends/wx/wx_splash.h"
#include "frontends/wx/wx_status.h"

class wxEventLoopBase;

namespace talvane::frontends::wx {

// The frontends draw what the app layer decides: its views and presenters by their names.
using namespace talvane::app;

// Starts the toolkit for a program without a wxApp of its own, stops it on
// destruction. ok() is false when there is no display to open.
class Toolkit {
  public:
    Toolkit(int& argc, char** argv);
    ~Toolkit();
    Toolkit(const Toolkit&) = delete;
    Toolkit& operator=(const Toolkit&) = delete;
    bool ok() const { return ok_; }

  private:
    bool started_ = false;
    bool ok_ = false;
};

struct ShownMessage {
    std::string text;
    std::string title;
    MsgIcon icon = MsgIcon::None;
};

struct WxOptions {
    // Called by EndProcess before the process ends; tests throw from here and
    // the event handler that led to it stops the exception.
    std::function<void(int)> onEnd;
    // Chooses a file in place of the native dialog: (title, wildcard, the
    // answer the check refused or "") -> full path, "" for cancel.
    std::function<std::string(const std::string&, const std::string&, const std::string&)> pickFile;
};

class WxFrontend final : public Frontend {
  public:
    explicit WxFrontend(WxOptions options = {});
    ~WxFrontend() override;
    WxFrontend(const WxFrontend&) = delete;
    WxFrontend& operator=(const WxFrontend&) = delete;

    SplashView& Splash() override { return splash_; }
    StatusView& Status() override { return status_; }
    void ShowMessageBox(const std::string& text, const std::string& title, MsgIcon icon) override;
    // The native dialog; a chosen name that is missing or a folder is refused
    // with an exclamation box and the dialog comes back.
    std::string OpenFileDialog(const std::string& title, const std::string& filter) override;
    std::unique_ptr<MainView> CreateMainView() override;
    std::unique_ptr<DefaultDialogView> CreateDefaultDialogView() override;
    int Run(MainPresenter* main, DefaultDialogPresenter* dialog) override;
    void TakeActionsFrom(MainPresenter& main) override { main_ = &main; }
    void EndProcess(int code) override;  // never returns
    void SetActivity(const std::string& text) override;
    // Lets the windows repaint and take clicks, at most every few milliseconds:
    // transfers call this after every chunk.
    void Pump() override;

    void Attach(MainPresenter* main, DefaultDialogPresenter* dialog) {
        main_ = main;
        dialog_ = dialog;
    }
    void DispatchMain(const std::function<void(MainPresenter&)>& action);
    void DispatchDialog(const std::function<void(DefaultDialogPresenter&)>& action);
    // A window was hidden by its presenter: the loop ends with the last one.
    void WindowGone();
    void Forget(const WxMainView* view);
    void Forget(const WxDialogView* view);
    // The window message boxes and the status window belong to.
    wxWindow* ActiveWindow() const;

    WxMainView* MainWindow() const { return mainView_; }
    WxDialogView* DialogWindow() const { return dialogView_; }
    WxSplash& SplashWindow() { return splash_; }
    WxStatus& StatusWindow() { return status_; }
    const std::vector<ShownMessage>& Messages() const { return messages_; }
    bool Ended() const { return ended_; }
    int EndCode() const { return endCode_; }

  private:
    bool WindowsOpen() const;
    std::string PickFile(const std::string& title, const std::string& wildcard,
                         const std::string& previous);
    template <class Presenter>
    void Dispatch(Presenter* presenter, const std::function<void(Presenter&)>& action);

    WxOptions options_;
    WxSplash splash_;
    WxStatus status_;
    WxMainView* mainView_ = nullptr;
    WxDialogView* dialogView_ = nullptr;
    MainPresenter* main_ = nullptr;
    DefaultDialogPresenter* dialog_ = nullptr;
    wxEventLoopBase* loop_ = nullptr;
    std::vector<ShownMessage> messages_;
    std::chrono::steady_clock::time_point lastPump_{};
    bool ended_ = false;
    int endCode_ = 0;
};

}  // namespace talvane::frontends::wx
