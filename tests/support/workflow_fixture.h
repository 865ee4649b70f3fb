#pragma once
// A program folder, a tool folder, the local cloud with the demo content, the recording
// frontend and a main-window presenter wired to all of it.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/main_presenter.h"
#include "common/names.h"
#include "settings/endpoints.h"
#include "settings/session.h"
#include "settings/settings.h"
#include "support/cloud_server.h"
#include "support/fake_frontend.h"
#include "support/file_util.h"
#include "support/log_capture.h"

namespace talvane::testing {

// What make_content.py puts into the cloud.
inline constexpr const char* kSubscriber = "tech1";
inline constexpr const char* kSubscriberPassword = "Cl0ud-tech1";
inline constexpr const char* kZipPassword = "kit 7749 blue";

// A program's file name here: "Tekmo", or "Tekmo.exe" on Windows.
inline std::string Exe(const std::string& name) {
    return name + names::kExeSuffix;
}
// A program appending "<label> started with arguments: [ARGS]" to $TEKMO_RUN_LOG; with `hold`
// it creates hold + ".started" and waits (up to 30 s) for `hold`.
bool WriteStandIn(const std::string& path, const std::string& label, const std::string& hold = {});
// /usr/bin/python3 tools/demo/make_content.py <args...>; true on exit status 0.
bool RunContentTool(const std::vector<std::string>& args);
// Polls (bounded) until `path` contains `needle`.
bool WaitForText(const std::string& path, const std::string& needle, int timeoutMs = 15000);
// Rewrites a zip archive as a Windows tool makes it: no Unix permission bits.
bool RezipWithoutUnixPermissions(const std::string& zip);
// Writes a zip archive of (name, content) entries, each marked as made on Unix with mode 0755.
bool WriteExecutableZip(const std::string& zip,
                        const std::vector<std::pair<std::string, std::string>>& entries);

class WorkflowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A new presenter over the fake view, loaded: a new run of the program.
    app::MainPresenter& LoadedPresenter();
    // Runs `action`; true when it ended the process (Unload).
    bool EndsProcess(const std::function<void()>& action) {
        frontend_.endedWith.reset();
        action();
        return frontend_.endedWith.has_value();
    }
    // Loads, picks `set`, clicks Download && Run: the exit code, -1 if the process did not end.
    int DownloadAndRunSet(const std::string& set = "Office") {
        LoadedPresenter();
        view_.SetConfigText(set);
        presenter_->OnDownloadRun();
        return frontend_.endedWith.value_or(-1);
    }

    std::string Setting(const std::string& key) const {
        return ReadIniValue(session_.SettingsFile, names::kSettingsSection, key);
    }
    void WriteSetting(const std::string& key, const std::string& value) const {
        WriteIniValue(session_.SettingsFile, names::kSettingsSection, key, value);
    }
    // Replaces the configuration set `name` on the repository with a variant.
    bool MakeSet(const std::string& name, const std::string& password, const char* flag) const {
        return RunContentTool(
            {"make-set", "--out", SetPath(name), "--name", name, "--password", password, flag});
    }
    std::string SetPath(const std::string& name) const {  // ConfigSets/<name>.7z of tech1
        return SubscriberHome() + "/Tekmo/ConfigSets/" + name + ".7z";
    }
    // An updates index offering `version` at `url`, with a package made from `packageFrom`.
    bool PublishIndex(const std::string& version, const std::string& url,
                      const std::string& packageFrom = {}) const {
        std::vector<std::string> args{"update-index", "--web", web_, "--version",
                                      version,        "--url", url};
        if (!packageFrom.empty()) args.insert(args.end(), {"--package-from", packageFrom});
        return RunContentTool(args);
    }
    std::string PackageUrl() const { return cloud_->httpBase() + "/Talvane.zip"; }
    std::string RunLog() const { return ReadFile(runLog_); }
    std::string SubscriberHome() const { return repo_ + "/subscribers/" + kSubscriber; }
    bool LogHas(const std::string& text) const { return log_.contains(text); }

    TempDir tmp_;
    LogCapture log_;
    FakeClock clock_;  // waits between attempts and polls cost no real time
    FakeFrontend frontend_;
    FakeMainView view_;
    std::string content_, repo_, redist_, web_, prog_, extract_, runLog_, exe_;
    std::unique_ptr<CloudServer> cloud_;
    Session session_;
    Endpoints endpoints_;
    std::unique_ptr<app::MainPresenter> presenter_;
};

}  // namespace talvane::testing
