#include "frontends/console/console_frontend.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "common/open_file_check.h"
#include "common/strings.h"
#include "platform/platform.h"
#include "app/default_dialog_presenter.h"
#include "app/main_presenter.h"

namespace talvane::ui::console {

namespace {

constexpr std::size_t kBoxWidth = 60;
// Workflows pump after every transfer chunk; looking at the input more often
// than this buys nothing.
constexpr long long kPollIntervalNs = 10'000'000;

long long NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char* IconWord(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Critical:
            return "critical";
        case MsgIcon::Exclamation:
            return "exclamation";
        case MsgIcon::Information:
            return "information";
        case MsgIcon::None:
            break;
    }
    return nullptr;
}

struct Command {
    std::string word;  // lower case
    std::string rest;  // everything after the first blank, as typed
};

Command Split(const std::string& line) {
    std::size_t start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
    std::size_t end = start;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    Command c{ToLower(line.substr(start, end - start)), {}};
    if (end < line.size()) c.rest = line.substr(end + 1);
    return c;
}

// What the user typed, quoted back in a note: control bytes (binary junk, a
// terminal escape) become '?', and a very long line is cut.
std::string Echo(const std::string& typed) {
    constexpr std::size_t kMaxEcho = 60;
    std::string out;
    for (std::size_t i = 0; i < typed.size() && i < kMaxEcho; ++i) {
        const auto byte = static_cast<unsigned char>(typed[i]);
        out += byte < 0x20 || byte == 0x7f ? '?' : typed[i];
    }
    if (typed.size() > kMaxEcho) out += "...";
    return "\"" + out + "\"";
}

bool ParseInstaller(const std::string& name, Installer& which) {
    static const std::pair<const char*, Installer> kApps[] = {{"pellam", Installer::Pellam},
                                                              {"harlo", Installer::Harlo},
                                                              {"quorra", Installer::Quorra},
                                                              {"sorvik", Installer::Sorvik},
                                                              {"umbrin", Installer::Umbrin}};
    for (const auto& [word, app] : kApps) {
        if (EqualsNoCase(name, word)) {
            which = app;
            return true;
        }
    }
    return false;
}

// A file dialog answers with a full path; a typed one may be relative to the
// working folder or start with "~/".
std::string FullPathOf(const std::string& typed) {
    if (typed.empty() || typed.front() == '/') return typed;
    if (typed.rfind("~/", 0) == 0) {
        if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
            return std::string(home) + typed.substr(1);
        }
        return typed;
    }
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(typed, ec);
    return ec ? typed : full.lexically_normal().string();
}

}  // namespace

ConsoleFrontend::ConsoleFrontend(ConsoleOptions options)
    : options_(std::move(options)),
      output_(options_.out, options_.err,
              options_.errIsTerminal.value_or(platform::IsTerminal(options_.err))),
      splash_(output_),
      status_(output_),
      readInput_(options_.readInput) {}

ConsoleFrontend::~ConsoleFrontend() {
    output_.Flush();
}

std::string ConsoleFrontend::FormatMessageBox(const std::string& text, const std::string& title,
                                              MsgIcon icon) {
    std::string head = "+-- " + title;
    if (const char* word = IconWord(icon)) head += std::string(" (") + word + ")";
    head += " ";
    if (head.size() < kBoxWidth) head.append(kBoxWidth - head.size(), '-');
    std::string out = head + "\n";
    // CR LF, LF and CR all break a line, as they do in a message box.
    std::string line;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
            out += line.empty() ? "|\n" : "| " + line + "\n";
            line.clear();
            if (i < text.size() && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += text[i];
        }
    }
    out += "+" + std::string(kBoxWidth - 1, '-') + "\n";
    return out;
}

void ConsoleFrontend::MessageBox(const std::string& text, const std::string& title, MsgIcon icon) {
    output_.Block(FormatMessageBox(text, title, icon));
}

std::string ConsoleFrontend::OpenFileDialog(const std::string& title, const std::string& filter) {
    std::string answer;
    if (haveOpenFile_) answer = std::exchange(nextOpenFile_, {});
    haveOpenFile_ = false;
    for (;;) {
        output_.Note("[open file] " + title + " (" + filter +
                     "): " + (answer.empty() ? std::string("cancelled") : answer));
        if (answer.empty()) return answer;
        const std::string problem = OpenFileProblem(answer);
        if (problem.empty()) return answer;
        // As the window's dialog does: the name is refused and the dialog stays
        // open, so the next line is its new answer.
        MessageBox(problem, title, MsgIcon::Exclamation);
        output_.Note("[open file] still open: type a path (an empty line cancels)");
        answer = FullPathOf(Trim(NextDialogLine()));
    }
}

std::string ConsoleFrontend::NextDialogLine() {
    std::string line;
    if (!queued_.empty()) {
        line = std::move(queued_.front());
        queued_.pop_front();
        return line;
    }
    for (;;) {
        const ReadResult result = TakeLine(line);
        if (result == ReadResult::Line) return line;
        if (result == ReadResult::End) return {};
        ReadAvailable(true);
    }
}

std::unique_ptr<MainView> ConsoleFrontend::CreateMainView() {
    auto view = std::make_unique<ConsoleMainView>(output_, [this] { mainView_ = nullptr; });
    mainView_ = view.get();
    return view;
}

std::unique_ptr<DefaultDialogView> ConsoleFrontend::CreateDefaultDialogView() {
    auto view = std::make_unique<ConsoleDialogView>(nullptr, [this] { dialogView_ = nullptr; });
    dialogView_ = view.get();
    return view;
}

void ConsoleFrontend::EndProcess(int code) {
    output_.Flush();
    if (options_.onEnd) options_.onEnd(code);
    std::_Exit(code);
}

void ConsoleFrontend::RenderWindow() {
    if (mainView_ && mainView_->IsShown()) {
        output_.Block(mainView_->Render());
    } else if (dialogView_ && dialogView_->IsShown() && !dialogView_->IsClosed()) {
        output_.Block(dialogView_->Render());
    }
}

// ---------------------------------------------------------------- input

void ConsoleFrontend::ReadAvailable(bool wait) {
    if (!readInput_) {
        inputEnded_ = true;
        return;
    }
    if (inputEnded_) return;
    if (platform::ReadInput(options_.inputFd, wait, pending_) == platform::InputState::Ended)
        inputEnded_ = true;
}

ConsoleFrontend::ReadResult ConsoleFrontend::TakeLine(std::string& line) {
    const std::size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
        line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return ReadResult::Line;
    }
    if (inputEnded_) {
        if (pending_.empty()) return ReadResult::End;
        line = std::exchange(pending_, {});  // a last line without its line break
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return ReadResult::Line;
    }
    return ReadResult::Nothing;
}

void ConsoleFrontend::Pump() {
    if (!main_ && !dialog_) return;  // no window takes input yet
    const long long now = NowNs();
    if (pending_.find('\n') == std::string::npos) {
        if (now - lastPollNs_ < kPollIntervalNs) return;
        lastPollNs_ = now;
        ReadAvailable(false);
    }
    std::string line;
    // End of input is left for the window loop: closing in the middle of a
    // workflow would cut short what the user started.
    while (pending_.find('\n') != std::string::npos && TakeLine(line) == ReadResult::Line) {
        Execute(line);
    }
}

void ConsoleFrontend::HoldTypedAhead() {
    // Everything the user had already sent counts as typed ahead.
    for (std::size_t before = pending_.size() + 1; !inputEnded_ && pending_.size() != before;) {
        before = pending_.size();
        ReadAvailable(false);
    }
    std::string line;
    while (TakeLine(line) == ReadResult::Line) queued_.push_back(std::move(line));
}

int ConsoleFrontend::Run(MainPresenter* main, DefaultDialogPresenter* dialog) {
    Attach(main, dialog);
    if (!main_ && !dialog_) return 0;
    // An unattended run that found no configuration set to download hands the
    // shown window to the user, who then types as in any other start.
    if (!readInput_ && mainView_ && mainView_->IsShown()) {
        readInput_ = true;
        inputEnded_ = false;  // only ever "ended" because nothing was read
    }
    RenderWindow();
    for (;;) {
        if (dialog_ && dialog_->Closed()) return 0;
        std::string line;
        ReadResult result = ReadResult::Line;
        if (!queued_.empty()) {
            line = std::move(queued_.front());
            queued_.pop_front();
        } else {
            result = TakeLine(line);
            while (result == ReadResult::Nothing) {
                ReadAvailable(true);
                result = TakeLine(line);
            }
        }
        if (result == ReadResult::End) {
            // End of input is the window's close button.
            if (main_) {
                main_->OnClose();
            } else if (dialog_) {
                dialog_->OnClose();
            }
            return 0;
        }
        HoldTypedAhead();
        Execute(line);
    }
}

// ---------------------------------------------------------------- commands

std::string ConsoleFrontend::MainHelp() {
    return "Commands of the main window:\n"
           "  select <name|number>       choose a configuration set\n"
           "  user <text>                Nimbara user name\n"
           "  password <text>            Nimbara password\n"
           "  zip-password <text>        password of the configuration archives\n"
           "  version <name|number>      choose a previous tekmo version\n"
           "  toggle save-default|delete-me|silent\n"
           "  download-run               Download & Run\n"
           "  run-previous               Run Previous Ver\n"
           "  login                      test the login and refresh the list\n"
           "  save-quit                  Save & Quit\n"
           "  update                     Update Me!\n"
           "  expand                     >> / << (switch the layout)\n"
           "  install Pellam|Harlo|Quorra|Sorvik|Umbrin\n"
           "  show                       print the window again\n"
           "  close                      close the window\n"
           "  help                       this list\n";
}

std::string ConsoleFrontend::DialogHelp() {
    return "Commands of the Default Config dialog:\n"
           "  prompt                     Prompt for Config\n"
           "  auto <name|number>         Select Cloud Config to Automatically Download\n"
           "  desktop                    Extract to Desktop\n"
           "  folder <text>              Extract to folder below: <text>\n"
           "  import <path>              Import a logo (.bmp)\n"
           "  test                       preview the splash window\n"
           "  save                       Save (and close)\n"
           "  close                      close without saving\n"
           "  show                       print the window again\n"
           "  help                       this list\n";
}

bool ConsoleFrontend::Refuse(const std::string& what) {
    output_.Note("[console] " + what);
    return false;
}

bool ConsoleFrontend::Execute(const std::string& line) {
    const Command c = Split(line);
    if (c.word.empty() || c.word[0] == '#') return true;  // blank lines and comments
    if (c.word == "help") {
        output_.Block(main_ ? MainHelp() : DialogHelp());
        return true;
    }
    if (c.word == "show") {
        RenderWindow();
        return true;
    }
    bool done = false;
    if (main_ && mainView_) {
        done = ExecuteMain(c.word, c.rest);
    } else if (dialog_ && dialogView_) {
        done = ExecuteDialog(c.word, c.rest);
    } else {
        return Refuse("no window is open");
    }
    if (done) RenderWindow();
    return done;
}

bool ConsoleFrontend::ExecuteMain(const std::string& word, const std::string& arg) {
    MainPresenter& p = *main_;
    ConsoleMainView& v = *mainView_;
    const std::string name = Trim(arg);
    // Buttons of a workflow: the presenter ignores them while one runs; say so here.
    const auto workflow = [&](const char* label, auto&& click) {
        if (p.Busy())
            output_.Note(std::string("[busy] ") + label +
                         " ignored: an operation is already running");
        click();
        return true;
    };

    if (word == "select") {
        if (!v.Visible(MainControl::SelectConfigGroup) || !v.Enabled(MainControl::SelectConfigGroup)) {
            return Refuse("the configuration list is not available");
        }
        const auto items = v.Configs();
        const int index = FindEntry(items, name);
        if (index < 0) return Refuse("no configuration set " + Echo(name));
        v.SetConfigText(items[static_cast<std::size_t>(index)]);
        return true;
    }
    if (word == "user" || word == "password" || word == "zip-password") {
        const MainField field = word == "user"       ? MainField::User
                                : word == "password" ? MainField::Password
                                                     : MainField::ZipPassword;
        v.SetText(field, arg);
        return true;
    }
    if (word == "version") {
        const auto items = v.PreviousVersions();
        const int index = FindEntry(items, name);
        if (index < 0) return Refuse("no previous version " + Echo(name));
        v.SelectPreviousVersion(index);
        return true;
    }
    if (word == "toggle") {
        const std::string box = ToLower(name);
        if (box == "save-default") {
            if (!v.Enabled(MainControl::SaveDefaultCheck))
                return Refuse("Save Config As Default is disabled");
            v.SetChecked(MainCheck::SaveDefault, !v.Checked(MainCheck::SaveDefault));
            p.OnSaveDefaultClick();
            return true;
        }
        if (box == "delete-me") {
            if (!v.Enabled(MainControl::DeleteMeCheck))
                return Refuse("Delete Me After Download is disabled");
            v.SetChecked(MainCheck::DeleteMe, !v.Checked(MainCheck::DeleteMe));
            return true;
        }
        if (box == "silent") {
            v.SetChecked(MainCheck::SilentInstall, !v.Checked(MainCheck::SilentInstall));
            return true;
        }
        return Refuse("toggle what? save-default, delete-me or silent");
    }
    if (word == "download-run") {
        if (!v.Visible(MainControl::SelectConfigGroup) || !v.Enabled(MainControl::SelectConfigGroup) ||
            !v.Enabled(MainControl::DownloadRunButton)) {
            return Refuse("Download & Run is not available");
        }
        return workflow("download-run", [&] { p.OnDownloadRun(); });
    }
    if (word == "run-previous") return workflow("run-previous", [&] { p.OnRunPrevious(); });
    if (word == "login") return workflow("login", [&] { p.OnLogin(); });
    if (word == "save-quit") return workflow("save-quit", [&] { p.OnSaveQuit(); });
    if (word == "update") {
        if (!v.Visible(MainControl::UpdatePanel)) return Refuse("no update is offered");
        return workflow("update", [&] { p.OnUpdate(); });
    }
    if (word == "install") {
        Installer which{};
        if (!ParseInstaller(name, which)) {
            return Refuse("install what? Pellam, Harlo, Quorra, Sorvik or Umbrin");
        }
        return workflow("install", [&] { p.OnInstall(which); });
    }
    if (word == "expand") {
        if (!v.Enabled(MainControl::LayoutButton)) return Refuse("the layout button is disabled");
        p.Expand();
        return true;
    }
    if (word == "close") {
        p.OnClose();
        return true;
    }
    return Refuse("unknown command " + Echo(word) + " (try help)");
}

bool ConsoleFrontend::ExecuteDialog(const std::string& word, const std::string& arg) {
    DefaultDialogPresenter& p = *dialog_;
    ConsoleDialogView& v = *dialogView_;
    const std::string name = Trim(arg);
    if (word == "prompt") {
        v.SelectAutoDownload(false);
        return true;
    }
    if (word == "auto") {
        if (!name.empty()) {
            const auto items = v.Configs();
            const int index = FindEntry(items, name);
            if (index < 0) return Refuse("no configuration set " + Echo(name));
            v.SetConfigText(items[static_cast<std::size_t>(index)]);
            p.OnComboChange();
        }
        v.SelectAutoDownload(true);
        return true;
    }
    if (word == "desktop") {
        v.SelectExtractToFolder(false);
        return true;
    }
    if (word == "folder") {
        v.SetFolderText(arg);
        v.SelectExtractToFolder(true);
        return true;
    }
    if (word == "import") {
        nextOpenFile_ = FullPathOf(name);
        haveOpenFile_ = !name.empty();
        p.OnImport();
        return true;
    }
    if (word == "test") {
        p.OnTest();
        return true;
    }
    if (word == "save") {
        p.OnSave();
        return true;
    }
    if (word == "close") {
        p.OnClose();
        return true;
    }
    return Refuse("unknown command " + Echo(word) + " (try help)");
}

}  // namespace talvane::ui::console
