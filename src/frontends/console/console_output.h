#pragma once
// Where the console frontend writes: window blocks and message boxes on one
// stream, progress and window notes on the other. A progress line rewrites
// itself with '\r' on a terminal; elsewhere it is a plain line, throttled.
#include <chrono>
#include <cstdio>
#include <string>

#include "app/progress_model.h"

namespace talvane::frontends::console {

// The frontends draw what the app layer decides: its views and presenters by their names.
using namespace talvane::app;

// One progress bar's memory of what it printed last.
struct ProgressMark {
    int percent = -1;
    long min = 0;
    long max = 0;
    std::chrono::steady_clock::time_point at{};
};

class ConsoleOutput {
  public:
    ConsoleOutput(std::FILE* out, std::FILE* err, bool errIsTerminal);

    // A block for standard output (ends with a line break).
    void Block(const std::string& text);
    // One line on standard error.
    void Note(const std::string& line);
    // Shows a bar as "label [#####-----]  50% (value/max)". Lines are kept to
    // a few per second; a bar that reaches its maximum is always shown.
    void Progress(ProgressMark& mark, const std::string& label, const ProgressModel& bar);
    // Ends a pending '\r' line and flushes both streams.
    void Flush();

    bool ErrIsTerminal() const { return errIsTerminal_; }

  private:
    void CloseProgressLine();

    std::FILE* out_;
    std::FILE* err_;
    bool errIsTerminal_;
    bool progressOpen_ = false;
};

// "[#####-----]" of `width` cells.
std::string ProgressBarText(int percent, int width = 20);

}  // namespace talvane::frontends::console
