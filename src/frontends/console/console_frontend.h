#pragma once
// The console frontend: the program's windows as text. Windows and message
// boxes go to standard output, the splash, status window and transfer
// progress to standard error; the user's actions come from standard input,
// one command per line.
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/frontend.h"
#include "frontends/console/console_output.h"
#include "frontends/console/console_views.h"

namespace talvane::frontends::console {

// The frontends draw what the app layer decides: its views and presenters by their names.
using namespace talvane::app;

struct ConsoleOptions {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    int inputFd = 0;
    // False for the unattended run: nothing is read, input counts as ended.
    bool readInput = true;
    // Defaults to whether `err` is a terminal.
    std::optional<bool> errIsTerminal;
    // Called by EndProcess after flushing; when empty (or when it returns)
    // the process ends at once. Tests throw from here.
    std::function<void(int)> onEnd;
};

class ConsoleFrontend final : public Frontend {
  public:
    explicit ConsoleFrontend(ConsoleOptions options = {});
    ~ConsoleFrontend() override;
    ConsoleFrontend(const ConsoleFrontend&) = delete;
    ConsoleFrontend& operator=(const ConsoleFrontend&) = delete;

    SplashView& Splash() override { return splash_; }
    StatusView& Status() override { return status_; }
    void ShowMessageBox(const std::string& text, const std::string& title, MsgIcon icon) override;
    std::string OpenFileDialog(const std::string& title, const std::string& filter) override;
    std::unique_ptr<MainView> CreateMainView() override;
    std::unique_ptr<DefaultDialogView> CreateDefaultDialogView() override;
    int Run(MainPresenter* main, DefaultDialogPresenter* dialog) override;
    void EndProcess(int code) override;  // never returns
    void SetActivity(const std::string& text) override;

    // Reads what standard input has ready, without waiting, and carries out
    // every complete line that arrived while the current command runs (a
    // click in the middle of a workflow). Lines typed ahead of the command
    // wait until it has finished.
    void Pump() override;

    void SetInputEnabled(bool enabled) { readInput_ = enabled; }
    // The windows that take commands (Run attaches them itself).
    void Attach(MainPresenter* main, DefaultDialogPresenter* dialog) {
        main_ = main;
        dialog_ = dialog;
    }
    // Carries out one command line against the open window; false when the
    // line was not understood or could not be carried out.
    bool Execute(const std::string& line);
    // Prints the open window.
    void RenderWindow();
    ConsoleOutput& Output() { return output_; }

    static std::string MainHelp();
    static std::string DialogHelp();
    // The block that stands for a message box.
    static std::string FormatMessageBox(const std::string& text, const std::string& title,
                                        MsgIcon icon);

  private:
    enum class ReadResult { Line, Nothing, End };
    ReadResult TakeLine(std::string& line);
    void HoldTypedAhead();
    // The next line for a dialog that is open in the middle of a command; "" at the end.
    std::string NextDialogLine();
    void ReadAvailable(bool wait);
    struct Commands;  // the command tables
    bool Refuse(const std::string& what);

    ConsoleOptions options_;
    ConsoleOutput output_;
    ConsoleSplash splash_;
    ConsoleStatus status_;
    ConsoleMainView* mainView_ = nullptr;
    ConsoleDialogView* dialogView_ = nullptr;
    MainPresenter* main_ = nullptr;
    DefaultDialogPresenter* dialog_ = nullptr;
    bool readInput_;
    std::string pending_;  // bytes read but not yet a whole line
    // Lines typed ahead of the command that is running: they wait for it.
    std::deque<std::string> queued_;
    bool inputEnded_ = false;
    std::string nextOpenFile_;  // answer for the next open-file dialog
    bool haveOpenFile_ = false;
    long long lastPollNs_ = 0;
};

}  // namespace talvane::frontends::console
