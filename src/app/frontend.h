#pragma once
// The frontend: the windows and services the presenters and workflows ask for.
// Its owner (the entry point, or a test) passes it to them and installs it as
// the event pump for the program's long waits.
#include <memory>
#include <string>

#include "app/views.h"
#include "common/event_pump.h"

namespace talvane::app {

class MainPresenter;
class DefaultDialogPresenter;

class Frontend : public EventPump {
  public:
    ~Frontend() override = default;

    virtual SplashView& Splash() = 0;
    virtual StatusView& Status() = 0;
    // OK-only box. `title` is the window title (AppTitle() for most boxes).
    void MessageBox(const std::string& text, const std::string& title, MsgIcon icon) {
        ++boxesShown_;
        lastBox_ = text;
        ShowMessageBox(text, title, icon);
    }
    // How many boxes were shown so far, and what the last one said: the window's status
    // line keeps the outcome a box reported once the box is gone.
    int BoxesShown() const { return boxesShown_; }
    const std::string& LastBox() const { return lastBox_; }
    // Open-file dialog: returns the chosen full path, or "" when cancelled.
    virtual std::string OpenFileDialog(const std::string& title, const std::string& filter) = 0;

    virtual std::unique_ptr<MainView> CreateMainView() = 0;
    virtual std::unique_ptr<DefaultDialogView> CreateDefaultDialogView() = 0;

    // Runs the window loop until the last window is gone. For the main window
    // the presenter receives the user's actions from here.
    virtual int Run(MainPresenter* main, DefaultDialogPresenter* dialog) = 0;
    // The main window's actions go to `main` already before Run: the window shows
    // while it is filled, and can be closed meanwhile. Frontends that take input
    // only in Run ignore it.
    virtual void TakeActionsFrom(MainPresenter& /*main*/) {}

    // Ends the process with `code`, at once. Only the main window's presenter
    // calls it, once its workflow has returned. A test frontend records the
    // code and returns.
    virtual void EndProcess(int code) = 0;

    // A step the user would otherwise see nothing of ("Checking signature"): the
    // status line of the main window, and of the splash while it is shown.
    virtual void SetActivity(const std::string& /*text*/) {}

  protected:
    virtual void ShowMessageBox(const std::string& text, const std::string& title,
                                MsgIcon icon) = 0;

  private:
    int boxesShown_ = 0;
    std::string lastBox_;
};

// "Talvane": the title every message box carries.
const char* AppTitle();

}  // namespace talvane::app
