#include "app/startup.h"

#include <cstdlib>

#include "common/app_paths.h"
#include "common/files.h"
#include "common/log.h"
#include "common/names.h"
#include "common/strings.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace talvane {
namespace {

std::string Env(const char* name) {
    return platform::FolderFromEnvironment(name);
}

std::string CollapseSlashes(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    return out;
}

// base + "/" + rest + "/tekmo", with no doubled or trailing separators in between.
std::string FolderWithTekmo(const std::string& base, const std::string& rest) {
    std::string path = base + "/" + rest;
    path = CollapseSlashes(path);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path == "/") return "/tekmo";
    return path + "/tekmo";
}

}  // namespace

std::string JoinCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) line += ' ';
        line += args[i];
    }
    return line;
}

const char* UsageText() {
    return "Usage: Talvane [sfx | /setdefault | -splash]\n"
           "  (none)       the main window: choose a configuration set, Download & Run\n"
           "  sfx          unattended: deploy the newest Tekmo with the default set and start it\n"
           "  /setdefault  the Default Config dialog: default set, tool folder, logo\n"
           "  -splash      show the splash for a moment, then end\n"
           "Exit codes:\n"
           "  0  done: Tekmo was started with its complete configuration (or the window\n"
           "     was closed, no run asked for in it having failed)\n"
           "  1  Tekmo was not started because something failed: a download, a refused\n"
           "     signature, the unpacking, the updates index or the redistribution server\n"
           "     could not be reached, the settings file could not be read; or sfx handed\n"
           "     the window to the user, who closed it without starting Tekmo\n"
           "  2  Tekmo was started without (part of) its configuration: the set could not\n"
           "     be deployed, 7-Zip could not be obtained, or a file of it was refused\n";
}

std::optional<std::string> UnreadableSettingsMessage(const std::string& settingsFile) {
    const std::optional<std::string> why = SettingsFileProblem(settingsFile);
    if (!why) return std::nullopt;
    return "The settings file " + settingsFile + " cannot be read: " + *why +
           ". Talvane stops so that it does not run without its settings.";
}

bool IsHelpRequest(std::string_view commandLine) {
    return commandLine == "--help" || commandLine == "-h" || commandLine == "/?";
}

bool IsSplashDemo(std::string_view commandLine) {
    return commandLine == "-splash";
}

StartWindow ChooseStartWindow(std::string_view commandLine, bool credentialsComplete) {
    if (IsSplashDemo(commandLine)) return StartWindow::SplashDemo;
    if (!credentialsComplete) return StartWindow::MainExpanded;
    if (ToLower(commandLine) == "/setdefault") return StartWindow::DefaultConfig;
    if (ContainsNoCase(commandLine, "sfx")) return StartWindow::MainUnattended;
    return StartWindow::MainCompact;
}

const char* StartWindowName(StartWindow w) {
    switch (w) {
        case StartWindow::SplashDemo:
            return "SplashDemo";
        case StartWindow::MainExpanded:
            return "MainExpanded";
        case StartWindow::DefaultConfig:
            return "DefaultConfig";
        case StartWindow::MainUnattended:
            return "MainUnattended";
        case StartWindow::MainCompact:
            return "MainCompact";
    }
    return "Unknown";
}

std::string CommonDesktopFolder() {
    if (std::string shell = platform::SharedDesktopFolder(); !shell.empty()) return shell;
    if (std::string pub = Env("PUBLIC"); !pub.empty()) return CollapseSlashes(pub + "/Desktop");
    if (std::string xdg = Env("XDG_DESKTOP_DIR"); !xdg.empty()) return xdg;
    return CollapseSlashes(Env("HOME") + "/Desktop");
}

std::string ResolveExtractFolder(std::string_view defaultPath) {
    if (EqualsNoCase(defaultPath, "%desktop%")) return FolderWithTekmo(CommonDesktopFolder(), "");
    std::string base = Env("SYSTEMDRIVE");
    if (base.empty()) base = Env("HOME");
    std::string rest(defaultPath);
    for (char& c : rest) {
        if (c == '\\') c = '/';
    }
    return FolderWithTekmo(base, rest);
}

namespace {
// An update cut off between its two renames leaves no program under its name:
// the unpacked new one is moved in, else the one set aside gets its name back.
// Also when the program set aside is the one started.
void RecoverInterruptedUpdate() {
    std::string base = AppExeName();
    const std::string_view suffix = names::kOldSuffix;
    if (base.size() > suffix.size() && base.ends_with(suffix))
        base.resize(base.size() - suffix.size());
    const std::string program = AppPath() + base + names::kExeSuffix;
    const std::string old = AppPath() + base + names::kOldSuffix + names::kExeSuffix;
    if (DoesFileExist(program) || !DoesFileExist(old)) return;
    const std::string staged =
        AppPath() + names::kUpdateStaging + "/" + names::kLauncherExe + names::kExeSuffix;
    if (DoesFileExist(staged) && RenameFile(staged, program)) {
        DPrint("completed the update cut off last time: " + program);
    } else if (platform::CopyFileReplacing(old, program) == 0) {
        DPrint("the update cut off last time is undone: " + program);
    }
}
}  // namespace

bool CleanUpOldExecutable() {
    RecoverInterruptedUpdate();
    // An update cut off before its program moved leaves its unpacked files;
    // they are nobody's unless another launcher is at work here.
    const std::string staging = AppPath() + names::kUpdateStaging;
    if (FolderLock lock; DoesDirExist(staging) && lock.TryLock(WorkPath()))
        platform::RemoveTree(staging);
    const std::string old = AppPath() + AppExeName() + names::kOldSuffix + names::kExeSuffix;
    if (!DoesFileExist(old)) return false;
    return DeleteFileQuiet(old);
}

}  // namespace talvane
