#include "support/workflow_fixture.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/app_paths.h"
#include "common/names.h"
#include "settings/session.h"
#include "settings/settings.h"

namespace talvane::testing {

namespace fs = std::filesystem;

bool RunContentTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/python3",
                                  std::string(TALVANE_SOURCE_DIR) + "/tools/demo/make_content.py"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv) == 0;
}

bool WriteStandIn(const std::string& path, const std::string& label, const std::string& hold) {
#ifdef _WIN32
    return WriteFile(
        path, ReadFile(TALVANE_WIN_STANDIN) + "\n#hold:" + hold + "\n#standin:" + label + "\n");
#else
    const std::string wait = "touch '" + hold + ".started'\nfor i in $(seq 600); do [ -e '" + hold +
                             "' ] && break; sleep 0.05; done\n";
    return WriteText(path,
                     "#!/bin/sh\n" + (hold.empty() ? "" : wait) + "echo \"" + label +
                         " started with arguments: [$*]\" >> \"$TEKMO_RUN_LOG\"\n",
                     0755);
#endif
}

bool RezipWithoutUnixPermissions(const std::string& zip) {
    static const char* const kScript = R"(
import sys, zipfile
path = sys.argv[1]
with zipfile.ZipFile(path) as z:
    items = [(i, z.read(i)) for i in z.infolist()]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for old, data in items:
        info = zipfile.ZipInfo(old.filename, old.date_time)
        info.create_system = 0
        info.external_attr = 0x10 if old.filename.endswith("/") else 0x20
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, data)
)";
    return RunProgram({"/usr/bin/python3", "-c", kScript, zip}) == 0;
}

bool WriteExecutableZip(const std::string& zip,
                        const std::vector<std::pair<std::string, std::string>>& entries) {
    static const char* const kScript = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    args = sys.argv[2:]
    for name, data in zip(args[0::2], args[1::2]):
        info = zipfile.ZipInfo(name)
        info.create_system = 3
        info.external_attr = 0o100755 << 16
        z.writestr(info, data.encode("latin-1"))
)";
    std::vector<std::string> argv{"/usr/bin/python3", "-c", kScript, zip};
    for (const auto& [name, content] : entries) {
        argv.push_back(name);
        argv.push_back(content);
    }
    return RunProgram(argv) == 0;
}

bool WaitForText(const std::string& path, const std::string& needle, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (ReadFile(path).find(needle) != std::string::npos) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void WorkflowTest::SetUp() {
    content_ = tmp_.file("cloud");
    repo_ = content_ + "/repo";
    redist_ = content_ + "/redist";
    web_ = content_ + "/web";
    prog_ = tmp_.file("program files/Talvane");  // a blank on purpose
    extract_ = tmp_.file("drive/Tools/tekmo");
    runLog_ = tmp_.file("run.log");
    exe_ = prog_ + "/" + names::kLauncherExe + names::kExeSuffix;

#ifdef _WIN32
    ASSERT_TRUE(RunContentTool(
        {"--out", content_, "--windows", TALVANE_WIN_STANDIN, TALVANE_WIN_SEVENZIP}));
#else
    ASSERT_TRUE(RunContentTool({"--out", content_}));
#endif
    ASSERT_TRUE(WriteText(exe_, "#!/bin/sh\nexit 0\n", 0755));
    OverrideExecutablePath(exe_);
    WriteStartBanner();
    SetEnv("TEKMO_RUN_LOG", runLog_.c_str());

    Session& app = session_;
    app.SettingsFile = SettingsFilePath();
    app.ExtractFolder = extract_;
    app.UserName = kSubscriber;
    app.Password = kSubscriberPassword;
    app.ZipPassword = kZipPassword;

    CloudOptions options{repo_, redist_, web_, {}};
    for (const char* account : {kSubscriber, "edge1", "empty1", "legacy1"}) {
        options.subscribers.push_back(
            {account, kSubscriberPassword, repo_ + "/subscribers/" + account});
    }
    cloud_ = std::make_unique<CloudServer>(options);
    ASSERT_TRUE(cloud_->ok());
    endpoints_.RepositoryHost = cloud_->repositoryHost();
    endpoints_.RedistHost = cloud_->redistHost();
    endpoints_.UpdatesURL = cloud_->httpBase() + "/VelmoraUpdates.zip";
    endpoints_.SubscriberURL = cloud_->httpBase() + "/Subscribers/";
    endpoints_.SevenZipMirrorURL.clear();
}

void WorkflowTest::TearDown() {
    presenter_.reset();
    cloud_.reset();
    SetEnv("TEKMO_RUN_LOG", nullptr);
}

ui::MainPresenter& WorkflowTest::MakePresenter() {
    presenter_.reset();
    frontend_.endedWith.reset();  // a new presenter stands for a new run of the program
    presenter_ = std::make_unique<ui::MainPresenter>(frontend_, view_, session_, endpoints_);
    return *presenter_;
}

int WorkflowTest::DownloadAndRunSet(const std::string& set) {
    LoadedPresenter();
    view_.SetConfigText(set);
    presenter_->OnDownloadRun();
    return frontend_.endedWith.value_or(-1);
}

bool WorkflowTest::EndsProcess(const std::function<void()>& action) {
    frontend_.endedWith.reset();
    action();
    return frontend_.endedWith.has_value();
}

ui::MainPresenter& WorkflowTest::LoadedPresenter() {
    ui::MainPresenter& p = MakePresenter();
    p.Load();
    return p;
}

std::string WorkflowTest::Setting(const std::string& key) const {
    return ReadIniValue(session_.SettingsFile, names::kSettingsSection, key);
}

void WorkflowTest::WriteSetting(const std::string& key, const std::string& value) const {
    WriteIniValue(session_.SettingsFile, names::kSettingsSection, key, value);
}

bool WorkflowTest::MakeSet(const std::string& file, const std::string& name,
                           const std::string& password, std::vector<std::string> extraFlags) const {
    std::vector<std::string> args{"make-set", "--out", file, "--name", name};
    if (!password.empty()) {
        args.push_back("--password");
        args.push_back(password);
    }
    args.insert(args.end(), extraFlags.begin(), extraFlags.end());
    return RunContentTool(args);
}

std::string WorkflowTest::SetPath(const std::string& name) const {
    return SubscriberHome() + "/Tekmo/ConfigSets/" + name + ".7z";
}

}  // namespace talvane::testing
