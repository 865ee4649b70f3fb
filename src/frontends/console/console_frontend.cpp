#include "frontends/console/console_frontend.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <span>
#include <system_error>
#include <utility>

#include "app/default_dialog_presenter.h"
#include "app/main_presenter.h"
#include "app/window_layout.h"
#include "common/open_file_check.h"
#include "common/strings.h"
#include "platform/platform.h"

namespace talvane::frontends::console {

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
    return platform::AbsolutePath(typed);
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

void ConsoleFrontend::ShowMessageBox(const std::string& text, const std::string& title,
                                     MsgIcon icon) {
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

void ConsoleFrontend::SetActivity(const std::string& text) {
    if (splash_.IsOpen()) {
        splash_.SetActivity(text);
    } else if (!text.empty()) {
        output_.Note("[step] " + text);
    }
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

// The commands each window takes. One table per window drives both the
// parsing and `help`, so a word cannot be taken without being listed.
struct ConsoleFrontend::Commands {
    // One typed command on its way to the open window.
    struct Call {
        ConsoleFrontend& console;
        const std::string& word;  // lower case
        const std::string& arg;   // as typed
        std::string name;         // the argument without surrounding blanks

        MainPresenter& Main() const { return *console.main_; }
        ConsoleMainView& MainView() const { return *console.mainView_; }
        DefaultDialogPresenter& Dialog() const { return *console.dialog_; }
        ConsoleDialogView& DialogView() const { return *console.dialogView_; }
        bool Refuse(const std::string& what) const { return console.Refuse(what); }
        // A workflow button: the presenter ignores it while one runs; say so here.
        template <class Click>
        bool Workflow(Click click) const {
            if (Main().Busy())
                console.output_.Note("[busy] " + word +
                                     " ignored: an operation is already running");
            click(Main());
            return true;
        }
    };
    struct Row {
        const char* word;
        const char* argument;  // as the help writes it; "" for none
        const char* help;      // "" when the word and argument say it all
        bool (*run)(const Call&);
        // Taken with or without a window, and never prints it again.
        bool anyWindow = false;
    };

    static std::span<const Row> Main();
    static std::span<const Row> Dialog();
    static const Row* Find(std::span<const Row> rows, const std::string& word);
    static std::string Help(const std::string& window, std::span<const Row> rows);

    static bool ShowWindow(const Call& c) {
        c.console.RenderWindow();
        return true;
    }
    static bool ShowHelp(const Call& c) {
        c.console.output_.Block(c.console.main_ ? MainHelp() : DialogHelp());
        return true;
    }
    static bool Select(const Call& c);
    static bool ChooseVersion(const Call& c);
    static bool Toggle(const Call& c);
    static bool DownloadRun(const Call& c);
    static bool Install(const Call& c);
    static bool AutoDownload(const Call& c);
};

std::span<const ConsoleFrontend::Commands::Row> ConsoleFrontend::Commands::Main() {
    static const Row rows[] = {
        {"select", "<name|number>", "choose a configuration set", Select},
        {"user", "<text>", "Nimbara user name",
         [](const Call& c) { return c.MainView().SetText(MainField::User, c.arg), true; }},
        {"password", "<text>", "Nimbara password",
         [](const Call& c) { return c.MainView().SetText(MainField::Password, c.arg), true; }},
        {"zip-password", "<text>", "password of the configuration archives",
         [](const Call& c) { return c.MainView().SetText(MainField::ZipPassword, c.arg), true; }},
        {"version", "<name|number>", "choose a previous tekmo version", ChooseVersion},
        {"toggle", "save-default|delete-me|silent", "", Toggle},
        {"download-run", "", "Download & Run", DownloadRun},
        {"run-previous", "", "Run Previous Ver",
         [](const Call& c) { return c.Workflow([](MainPresenter& p) { p.OnRunPrevious(); }); }},
        {"login", "", "test the login and refresh the list",
         [](const Call& c) { return c.Workflow([](MainPresenter& p) { p.OnLogin(); }); }},
        {"save-quit", "", "Save & Quit",
         [](const Call& c) { return c.Workflow([](MainPresenter& p) { p.OnSaveQuit(); }); }},
        {"update", "", "Update Me!",
         [](const Call& c) {
             if (!c.MainView().Visible(MainControl::UpdatePanel))
                 return c.Refuse("no update is offered");
             return c.Workflow([](MainPresenter& p) { p.OnUpdate(); });
         }},
        {"expand", "", ">> / << (switch the layout)",
         [](const Call& c) {
             if (!c.MainView().Enabled(MainControl::LayoutButton))
                 return c.Refuse("the layout button is disabled");
             c.Main().Expand();
             return true;
         }},
        {"install", "Pellam|Harlo|Quorra|Sorvik|Umbrin", "", Install},
        {"show", "", "print the window again", ShowWindow, true},
        {"close", "", "close the window", [](const Call& c) { return c.Main().OnClose(), true; }},
        {"help", "", "this list", ShowHelp, true},
    };
    return rows;
}

std::span<const ConsoleFrontend::Commands::Row> ConsoleFrontend::Commands::Dialog() {
    static const Row rows[] = {
        {"prompt", "", "Prompt for Config",
         [](const Call& c) { return c.DialogView().SelectAutoDownload(false), true; }},
        {"auto", "<name|number>", "Select Cloud Config to Automatically Download", AutoDownload},
        {"desktop", "", "Extract to Desktop",
         [](const Call& c) { return c.DialogView().SelectExtractToFolder(false), true; }},
        {"folder", "<text>", "Extract to folder below: <text>",
         [](const Call& c) {
             c.DialogView().SetFolderText(c.arg);
             c.DialogView().SelectExtractToFolder(true);
             return true;
         }},
        {"import", "<path>", "Import a logo (.bmp)",
         [](const Call& c) {
             c.console.nextOpenFile_ = FullPathOf(c.name);
             c.console.haveOpenFile_ = !c.name.empty();
             c.Dialog().OnImport();
             return true;
         }},
        {"test", "", "preview the splash window",
         [](const Call& c) { return c.Dialog().OnTest(), true; }},
        {"save", "", "Save (and close)", [](const Call& c) { return c.Dialog().OnSave(), true; }},
        {"cancel", "", "Cancel: close without saving",
         [](const Call& c) { return c.Dialog().OnClose(), true; }},
        {"close", "", "close without saving",
         [](const Call& c) { return c.Dialog().OnClose(), true; }},
        {"show", "", "print the window again", ShowWindow, true},
        {"help", "", "this list", ShowHelp, true},
    };
    return rows;
}

const ConsoleFrontend::Commands::Row* ConsoleFrontend::Commands::Find(std::span<const Row> rows,
                                                                      const std::string& word) {
    for (const Row& row : rows) {
        if (word == row.word) return &row;
    }
    return nullptr;
}

std::string ConsoleFrontend::Commands::Help(const std::string& window, std::span<const Row> rows) {
    constexpr std::size_t kHelpColumn = 27;  // after the two blanks of the indent
    std::string out = "Commands of the " + window + ":\n";
    for (const Row& row : rows) {
        std::string line = row.word;
        if (*row.argument) line += std::string(" ") + row.argument;
        if (*row.help) line.append(std::max(kHelpColumn, line.size() + 1) - line.size(), ' ');
        out += "  " + line + row.help + "\n";
    }
    return out;
}

bool ConsoleFrontend::Commands::Select(const Call& c) {
    ConsoleMainView& v = c.MainView();
    if (!v.Visible(MainControl::SelectConfigGroup) || !v.Enabled(MainControl::SelectConfigGroup)) {
        return c.Refuse("the configuration list is not available");
    }
    const auto items = v.Configs();
    const int index = FindEntry(items, c.name);
    if (index < 0) return c.Refuse("no configuration set " + Echo(c.name));
    v.SetConfigText(items[static_cast<std::size_t>(index)]);
    return true;
}

bool ConsoleFrontend::Commands::ChooseVersion(const Call& c) {
    const int index = FindEntry(c.MainView().PreviousVersions(), c.name);
    if (index < 0) return c.Refuse("no previous version " + Echo(c.name));
    c.MainView().SelectPreviousVersion(index);
    return true;
}

bool ConsoleFrontend::Commands::Toggle(const Call& c) {
    ConsoleMainView& v = c.MainView();
    const std::string box = ToLower(c.name);
    if (box == "save-default") {
        if (!v.Enabled(MainControl::SaveDefaultCheck))
            return c.Refuse("Save Config As Default is disabled");
        v.SetChecked(MainCheck::SaveDefault, !v.Checked(MainCheck::SaveDefault));
        c.Main().OnSaveDefaultClick();
        return true;
    }
    if (box == "delete-me") {
        if (!v.Enabled(MainControl::DeleteMeCheck))
            return c.Refuse("Delete Me After Download is disabled");
        v.SetChecked(MainCheck::DeleteMe, !v.Checked(MainCheck::DeleteMe));
        return true;
    }
    if (box == "silent") {
        v.SetChecked(MainCheck::SilentInstall, !v.Checked(MainCheck::SilentInstall));
        return true;
    }
    return c.Refuse("toggle what? save-default, delete-me or silent");
}

bool ConsoleFrontend::Commands::DownloadRun(const Call& c) {
    const ConsoleMainView& v = c.MainView();
    if (!v.Visible(MainControl::SelectConfigGroup) || !v.Enabled(MainControl::SelectConfigGroup) ||
        !v.Enabled(MainControl::DownloadRunButton)) {
        return c.Refuse("Download & Run is not available");
    }
    return c.Workflow([](MainPresenter& p) { p.OnDownloadRun(); });
}

bool ConsoleFrontend::Commands::Install(const Call& c) {
    Installer which{};
    if (!ParseInstaller(c.name, which)) {
        return c.Refuse("install what? Pellam, Harlo, Quorra, Sorvik or Umbrin");
    }
    return c.Workflow([which](MainPresenter& p) { p.OnInstall(which); });
}

bool ConsoleFrontend::Commands::AutoDownload(const Call& c) {
    ConsoleDialogView& v = c.DialogView();
    if (!c.name.empty()) {
        const auto items = v.Configs();
        const int index = FindEntry(items, c.name);
        if (index < 0) return c.Refuse("no configuration set " + Echo(c.name));
        v.SetConfigText(items[static_cast<std::size_t>(index)]);
        c.Dialog().OnComboChange();
    }
    v.SelectAutoDownload(true);
    return true;
}

std::string ConsoleFrontend::MainHelp() {
    return Commands::Help("main window", Commands::Main());
}

std::string ConsoleFrontend::DialogHelp() {
    return Commands::Help(std::string(kDefaultDialogCaption) + " dialog", Commands::Dialog());
}

bool ConsoleFrontend::Refuse(const std::string& what) {
    output_.Note("[console] " + what);
    return false;
}

bool ConsoleFrontend::Execute(const std::string& line) {
    const Command typed = Split(line);
    if (typed.word.empty() || typed.word[0] == '#') return true;  // blank lines and comments
    const Commands::Call call{*this, typed.word, typed.rest, Trim(typed.rest)};
    const Commands::Row* row =
        Commands::Find(main_ ? Commands::Main() : Commands::Dialog(), typed.word);
    if (row && row->anyWindow) return row->run(call);
    if (main_ && mainView_) {
        row = Commands::Find(Commands::Main(), typed.word);
    } else if (dialog_ && dialogView_) {
        row = Commands::Find(Commands::Dialog(), typed.word);
    } else {
        return Refuse("no window is open");
    }
    if (!row) return Refuse("unknown command " + Echo(typed.word) + " (try help)");
    const bool done = row->run(call);
    if (done) RenderWindow();
    return done;
}

}  // namespace talvane::frontends::console
