#include "common/app_paths.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <mutex>

#include "common/files.h"
#include "common/log.h"
#include "common/log_sites.h"
#include "common/names.h"
#include "common/strings.h"
#include "platform/platform.h"

namespace talvane {
namespace {

struct PathState {
    std::mutex mutex;
    std::string overrideExe;
};

PathState& State() {
    static PathState state;
    return state;
}

std::string ExecutablePath() {
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        if (!State().overrideExe.empty()) return State().overrideExe;
    }
    return platform::CurrentExecutablePath();
}

// "12/6/2026 7:11:06 AM": month/day/year, 12-hour clock without a leading zero.
std::string GeneralDateNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!platform::LocalTime(now, local)) return {};
    int hour12 = local.tm_hour % 12;
    if (hour12 == 0) hour12 = 12;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d/%d/%d %d:%02d:%02d %s", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900, hour12, local.tm_min, local.tm_sec,
                  local.tm_hour < 12 ? "AM" : "PM");
    return buf;
}

}  // namespace

std::string AppPath() {
    std::string exe = ExecutablePath();
    if (exe.empty()) {
        ReportFailure(logsite::kAppPath, ErrorMarker::Plain, 2,
                      "the program's own path could not be resolved");
        return {};
    }
    std::size_t slash = exe.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : exe.substr(0, slash);
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string AppExeName() {
    std::string name = StripPath(ExecutablePath());
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

std::string AppExePath() {
    return AppPath() + AppExeName() + names::kExeSuffix;
}

namespace {

// The program folder, or the per-user folder of an installed program (made when missing).
std::string FolderFor(platform::UserFolder kind) {
    std::string program = AppPath();
    std::string installed = platform::InstalledProgramFolder(program, kind);
    if (installed.empty()) return program;
    MakeSureDirExists(installed);
    return installed;
}

}  // namespace

std::string SettingsFolder() {
    return FolderFor(platform::UserFolder::Config);
}

std::string SettingsFilePath() {
    return SettingsFolder() + AppExeName() + ".ini";
}

std::string WorkPath() {
    return FolderFor(platform::UserFolder::Cache);
}

void WriteStartBanner() {
    try {
        DPrint("");
        DPrint(GeneralDateNow() + " - Starting " + VersionLabel("", ""));
        DPrint("----------------------------------------");
    } catch (const std::exception& e) {
        ReportFailure(logsite::kInitAppSettings, ErrorMarker::Plain, 7, e.what(),
                      {{"bSetAppINI", "True"}});
    }
}

void OverrideExecutablePath(const std::string& exePath) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().overrideExe = exePath;
}

}  // namespace talvane
