#include "frontends/console/console_output.h"

#include "common/strings.h"

namespace talvane::frontends::console {

namespace {
using Clock = std::chrono::steady_clock;
// Plain lines go to logs and pipes: a few per second is plenty. A terminal
// line is rewritten in place, so it may move more often.
constexpr auto kPlainInterval = std::chrono::milliseconds(200);
constexpr auto kTerminalInterval = std::chrono::milliseconds(100);
}  // namespace

ConsoleOutput::ConsoleOutput(std::FILE* out, std::FILE* err, bool errIsTerminal)
    : out_(out), err_(err), errIsTerminal_(errIsTerminal) {}

void ConsoleOutput::CloseProgressLine() {
    if (progressOpen_) {
        std::fputc('\n', err_);
        progressOpen_ = false;
    }
}

void ConsoleOutput::Block(const std::string& text) {
    CloseProgressLine();
    std::fflush(err_);
    std::fputs(EscapeControls(text, true).c_str(), out_);
    if (text.empty() || text.back() != '\n') std::fputc('\n', out_);
    std::fflush(out_);
}

void ConsoleOutput::Note(const std::string& line) {
    CloseProgressLine();
    std::fflush(out_);
    std::fputs(EscapeControls(line, true).c_str(), err_);
    std::fputc('\n', err_);
    std::fflush(err_);
}

std::string ProgressBarText(int percent, int width) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    const int filled = percent * width / 100;
    std::string text = "[";
    text.append(static_cast<std::size_t>(filled), '#');
    text.append(static_cast<std::size_t>(width - filled), '-');
    text += "]";
    return text;
}

void ConsoleOutput::Progress(ProgressMark& mark, const std::string& label,
                             const ProgressModel& bar) {
    const long min = bar.Min(), max = bar.Max(), value = bar.Value();
    if (max <= min) return;  // no usable range: nothing to show
    const int percent = bar.Position(100);
    const auto now = Clock::now();
    const bool complete = percent == 100;
    // A new range, or a bar that went back, is a new transfer.
    const bool restarted = percent < mark.percent || max != mark.max || min != mark.min;
    if (!restarted && percent == mark.percent) return;
    const auto interval = errIsTerminal_ ? kTerminalInterval : kPlainInterval;
    if (!complete && !restarted && mark.percent >= 0 && now - mark.at < interval) return;
    mark.percent = percent;
    mark.min = min;
    mark.max = max;
    mark.at = now;

    char numbers[96];
    std::snprintf(numbers, sizeof numbers, " %3d%% (%ld/%ld)", percent, value, max);
    const std::string line = label + " " + ProgressBarText(percent) + numbers;
    std::fflush(out_);
    if (errIsTerminal_) {
        std::fputs(("\r" + line + "\x1b[K").c_str(), err_);
        progressOpen_ = true;
        if (complete) CloseProgressLine();
    } else {
        std::fputs((line + "\n").c_str(), err_);
    }
    std::fflush(err_);
}

void ConsoleOutput::Flush() {
    CloseProgressLine();
    std::fflush(out_);
    std::fflush(err_);
}

}  // namespace talvane::frontends::console
