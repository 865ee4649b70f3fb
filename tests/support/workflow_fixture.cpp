#include "support/workflow_fixture.h"

#include <chrono>
#include <thread>

#include "common/app_paths.h"
#include "common/names.h"
#include "settings/session.h"
#include "settings/settings.h"

namespace talvane::testing {

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
    return WriteFile(path,
                     "#!/bin/sh\n" + (hold.empty() ? "" : wait) + "echo \"" + label +
                         " started with arguments: [$*]\" >> \"$TEKMO_RUN_LOG\"\n",
                     0755);
#endif
}

// "unix": (name, content) as stored entries of mode 0755; "dos": rezipped without Unix bits.
static const char* const kZipScript = R"(
import sys, zipfile
path, unix, args = sys.argv[1], sys.argv[2] == "unix", sys.argv[3:]
if unix:
    items = [(zipfile.ZipInfo(n), d.encode("latin-1")) for n, d in zip(args[0::2], args[1::2])]
else:
    with zipfile.ZipFile(path) as z:
        items = [(zipfile.ZipInfo(i.filename, i.date_time), z.read(i)) for i in z.infolist()]
with zipfile.ZipFile(path, "w") as z:
    for info, data in items:
        info.create_system = 3 if unix else 0
        info.external_attr = (0o100755 << 16 if unix else
                              0x10 if info.filename.endswith("/") else 0x20)
        info.compress_type = zipfile.ZIP_STORED if unix else zipfile.ZIP_DEFLATED
        z.writestr(info, data)
)";

bool RezipWithoutUnixPermissions(const std::string& zip) {
    return RunProgram({"/usr/bin/python3", "-c", kZipScript, zip, "dos"}) == 0;
}

bool WriteExecutableZip(const std::string& zip,
                        const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<std::string> argv{"/usr/bin/python3", "-c", kZipScript, zip, "unix"};
    for (const auto& [name, content] : entries) argv.insert(argv.end(), {name, content});
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
    // A blank and letters outside ASCII on purpose: the Windows build must use wide paths.
    prog_ = tmp_.file("program files/Prüfung/Talvane");
    extract_ = tmp_.file("drive/Техник/tekmo");
    runLog_ = tmp_.file("run.log");
    exe_ = prog_ + "/" + names::kLauncherExe + names::kExeSuffix;

#ifdef _WIN32
    ASSERT_TRUE(RunContentTool(
        {"--out", content_, "--windows", TALVANE_WIN_STANDIN, TALVANE_WIN_SEVENZIP}));
#else
    ASSERT_TRUE(RunContentTool({"--out", content_}));
#endif
    ASSERT_TRUE(WriteFile(exe_, "#!/bin/sh\nexit 0\n", 0755));
    OverrideExecutablePath(exe_);
    WriteStartBanner();
    SetEnv("TEKMO_RUN_LOG", runLog_.c_str());

    session_ = {SettingsFilePath(), extract_, kSubscriber, kSubscriberPassword, kZipPassword, ""};
    CloudOptions options{repo_, redist_, web_, {}};
    for (const char* account : {kSubscriber, "edge1", "empty1", "legacy1"})
        options.subscribers.push_back(
            {account, kSubscriberPassword, repo_ + "/subscribers/" + account});
    cloud_ = std::make_unique<CloudServer>(options, tmp_.file("cloud.log"));
    ASSERT_TRUE(cloud_->ok());
    endpoints_ = {cloud_->repositoryHost(), cloud_->redistHost(),
                  cloud_->httpBase() + "/VelmoraUpdates.zip", cloud_->httpBase() + "/Subscribers/",
                  ""};
}

void WorkflowTest::TearDown() {
    presenter_.reset();
    cloud_.reset();
    SetEnv("TEKMO_RUN_LOG", nullptr);
}

app::MainPresenter& WorkflowTest::LoadedPresenter() {
    presenter_.reset();
    frontend_.endedWith.reset();
    presenter_ = std::make_unique<app::MainPresenter>(frontend_, view_, session_, endpoints_);
    presenter_->Load();
    return *presenter_;
}

}  // namespace talvane::testing
