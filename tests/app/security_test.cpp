// What a hostile server may try, and a technician's bad day, against the real local cloud.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>

#include "app/installers.h"
#include "common/files.h"
#include "common/log.h"
#include "common/strings.h"
#include "support/workflow_fixture.h"

namespace talvane::testing {
namespace {

class SecurityTest : public WorkflowTest {
  protected:
    // Every file of the program folder with its bytes.
    std::map<std::string, std::string> ProgramFolder() const {
        std::map<std::string, std::string> files;
        for (const std::string& name : ListNames(prog_)) files[name] = ReadFile(prog_ + "/" + name);
        return files;
    }
    // A key pair, its public key in the session as the settings would give it; then the
    // updates index, 7za.zip, the package and the definitions signed, as the maker would.
    void SignCloud() {
        session_.PublicKey = MinisignKeyPair(tmp_.file("k"));
        ASSERT_FALSE(session_.PublicKey.empty());
        for (const std::string& file : {web_ + "/VelmoraUpdates.zip", repo_ + "/7za.zip",
                                        redist_ + "/Redist/tekmoUpdate.zip", DefsPath()})
            ASSERT_EQ(Sign(file), 0) << file;
    }
    int Sign(const std::string& file) const {
        return Minisign("-S -s " + tmp_.file("k.key") + " -m \"" + file + "\"");
    }
    std::string DefsPath() const { return SubscriberHome() + "/Tekmo/Defs/tekmo_Defs.7z"; }
    std::string FirstMessage() const {
        return frontend_.messages.empty() ? std::string() : frontend_.messages[0].text;
    }
};

TEST_F(SecurityTest, HostileUpdatesIndexWritesNothingButTheIndex) {
    const auto before = ProgramFolder();
    ASSERT_TRUE(
        WriteExecutableZip(web_ + "/VelmoraUpdates.zip",
                           {{"VelmoraUpdates.ini", "[TekmoTalvane]\nCurrentVersion=0.0.1\n"},
                            {"Talvane", "#!/bin/sh\necho replaced\n"},
                            {"7z/7za", "#!/bin/sh\necho planted\n"},
                            {"Talvane.ini", "[TekmoCloud]\nUserName=attacker\n"}}));
    LoadedPresenter();
    auto after = ProgramFolder();
    EXPECT_NE(after["VelmoraUpdates.ini"].find("CurrentVersion=0.0.1"), std::string::npos);
    after.erase("VelmoraUpdates.ini");
    EXPECT_EQ(after, before);
}

// The 7-Zip program that runs is a recorder: it keeps its arguments, then does the work; exit
// code 0 says the tool started with its configuration deployed.
TEST_F(SecurityTest, ArchivePasswordIsNeverAnArgumentAndTheSetStillDeploys) {
    const std::string args = tmp_.file("7z-arguments.txt");
    ASSERT_TRUE(WriteFile(
        prog_ + "/7z/7za",
        "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> '" + args + "'; done\nexec 7zz \"$@\"\n",
        0755));
    EXPECT_EQ(DownloadAndRunSet(), 0);
    EXPECT_NE(ReadFile(args).find("tekmo_Config.7z"), std::string::npos);
    EXPECT_EQ(ReadFile(args).find(kZipPassword), std::string::npos) << ReadFile(args);
    // No key: used as before, and the log says so.
    EXPECT_TRUE(LogHas("not verified (no public key in the settings): tekmoUpdate.zip"));
}

// With a key (unsigned: e2e), an altered copy is refused by name and nothing of it runs or stays.
TEST_F(SecurityTest, WithAKeyOnlyCorrectlySignedFilesAreUsed) {
    const std::string launcher = tmp_.file("new/" + Exe("Talvane"));
    ASSERT_TRUE(WriteStandIn(launcher, "new launcher"));
    ASSERT_TRUE(PublishIndex("2.3.4", PackageUrl(), launcher));  // there, not yet offered
    SignCloud();
    const std::string setup = web_ + "/Subscribers/" + kSubscriber + "/Harlo/HarloSetup.exe";
    const std::tuple<std::string, std::function<void()>, const char*> cases[] = {
        {DefsPath(), [&] { DownloadAndRunSet(); }, "  Modules/Defs/core.def"},
        {redist_ + "/Redist/tekmoUpdate.zip", [&] { DownloadAndRunSet(); }, "Tekmo 2.2.0 started"},
        {setup, [&] { LoadedPresenter().OnInstall(app::Installer::Harlo); }, "HarloSetup started"},
        {web_ + "/Talvane.zip",
         [&] {
             ASSERT_TRUE(PublishIndex("9.0.0", PackageUrl()));
             ASSERT_EQ(Sign(web_ + "/VelmoraUpdates.zip"), 0);
             LoadedPresenter().OnUpdate();
         },
         "new launcher started"},
    };
    for (const auto& [file, run, started] : cases) {
        const std::string shown = file.substr(file.rfind('/') + 1);
        SCOPED_TRACE(shown);
        ASSERT_EQ(Sign(file), 0);
        const std::string good = ReadFile(file);
        for (const bool tampered : {true, false}) {
            std::string bytes = good;
            bytes[bytes.size() / 2] ^= tampered ? 0x20 : 0;
            ASSERT_TRUE(WriteFile(file, bytes));  // an upload a second later (FTP times are whole)
            std::filesystem::last_write_time(
                file, std::filesystem::file_time_type::clock::now() + std::chrono::seconds(2));
            frontend_.messages.clear();
            view_.statusLines.clear();
            std::remove(runLog_.c_str());
            run();
            for (const std::string& line : view_.statusLines)
                EXPECT_FALSE(file.rfind(web_, 0) == 0 && line.find(".minisig") != std::string::npos)
                    << line;
            const auto shownTexts = frontend_.MessageTexts();
            const std::string refusal =
                "The file " + shown + " was refused: the signature does not match";
            EXPECT_EQ(!shownTexts.empty() && shownTexts[0].rfind(refusal, 0) == 0, tampered)
                << ::testing::PrintToString(shownTexts);
            EXPECT_EQ(WaitForText(runLog_, started, tampered ? 300 : 15000), !tampered) << RunLog();
            EXPECT_FALSE(tampered && Exists(prog_ + "/" + shown));
        }
    }
}

// The name is listed as the server gives it; the console and the log escape it when printing.
TEST_F(SecurityTest, HostileNamesAreListedAndLoggedOnlyEscaped) {
    const std::string hostile = "Evil\x1b]0;owned\x07\x1b[2J";
    WriteFile(SetPath(hostile), "not a real set");
    LoadedPresenter();
    const auto sets = view_.Configs();
    EXPECT_NE(std::find(sets.begin(), sets.end(), hostile), sets.end());
    DPrint("configuration set: " + hostile);
    EXPECT_TRUE(LogHas("configuration set: Evil\\x1b]0;owned\\x07\\x1b[2J"));
    for (const std::string& line : log_.lines()) EXPECT_EQ(line.find('\x1b'), std::string::npos);
}

namespace fs = std::filesystem;

// With a key only a fully encrypted set is unpacked, by the 7-Zip from the checked 7za.zip.
TEST_F(SecurityTest, WithAKeyOnlyAnEncryptedSetIsUnpackedByAFreshSevenZip) {
    SignCloud();
    const std::string key = session_.PublicKey, set = SetPath("Office"), mark = tmp_.file("mark");
    ASSERT_TRUE(WriteFile(tmp_.file("add/x.ini")) &&
                WriteFile(tmp_.file("add/Config/Tekmo.ini"), ""));
    const struct {
        std::vector<std::string> makeSet;  // make-set options
        const char* add;                   // then a command in add/, the set as $0
        bool keyed;
        int exitCode;
        std::size_t messages;  // two: the refusal, then the second attempt's failure
    } cases[] = {
        {{"--password", kZipPassword}, "", true, 0, 0},
        {{"--password", kZipPassword, "--stored"}, "7zz a \"$0\" x.ini", true, 2, 2},
        {{"--stored"}, "", true, 2, 2},
        {{}, "7zz a \"$0\" Config", true, 2, 2},  // an empty file only
        {{}, "7zz a -tzip '-pkit 7749 blue' \"$0\" x.ini", true, 2, 2},
        {{"--password", "another"}, "", true, 2, 1},  // cannot be listed
        {{"--stored"}, "", false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.makeSet) + c.add);
        std::vector<std::string> make{"make-set", "--out", set, "--name", "Office"};
        make.insert(make.end(), c.makeSet.begin(), c.makeSet.end());
        std::remove(set.c_str());
        ASSERT_TRUE(c.makeSet.empty() || RunContentTool(make));
        ASSERT_TRUE(!*c.add || RunProgram({"/bin/sh", "-c", c.add, set}, tmp_.file("add")) == 0);
        ASSERT_TRUE(
            WriteFile(prog_ + "/7z/7za", "#!/bin/sh\ntouch " + mark + "\nexec 7zz \"$@\"\n", 0755));
        std::remove(mark.c_str());
        session_.PublicKey = c.keyed ? key : "";
        frontend_.messages.clear();
        EXPECT_EQ(DownloadAndRunSet(), c.exitCode);
        EXPECT_EQ(frontend_.messages.size(), c.messages);
        EXPECT_EQ(FirstMessage().rfind("The configuration set \"Office\" is not encrypted", 0) == 0,
                  c.messages == 2);
        EXPECT_EQ(Exists(mark), !c.keyed);
    }
}

// A 7-Zip that plants links or a pipe: only files and folders from inside reach the tool tree.
TEST_F(SecurityTest, WhatUnpackedLinksPointAtNeverReachesTheToolTree) {
    const std::string out = tmp_.file("outside"), ln = "ln -s '" + out,
                      in = "-o*/SyncTemp) cd \"${a#-o}\" && ",
                      script = "#!/bin/sh\n7zz \"$@\" || exit\nfor a; do case $a in ";
    ASSERT_TRUE(WriteFile(out + "/secret.db", "outside secret\n"));
    ASSERT_TRUE(WriteExecutableZip(out + "/set.zip", {{"Scripts/evil.cmd", "outside secret\n"}}));
    // Cases of the shell: where 7-Zip unpacked, what it plants there.
    const std::string cases[] = {
        in + "rm -r Ketarin && " + ln + "' Ketarin",
        in + ln + "/secret.db' Ketarin/evil.db",
        in + "mkfifo Ketarin/pipe.db",
        in + "rm -r Scripts && " + ln + "' Scripts",
        in + ln + "/set.zip' Tekmo_Config.zip",
        "-o*/.defs) cd \"${a#-o}\" && " + ln + "/secret.db' evil.def",
    };
    for (const std::string& plant : cases) {
        SCOPED_TRACE(plant);
        ASSERT_TRUE(WriteFile(prog_ + "/7z/7za", script + plant + ";; esac; done\n", 0755));
        fs::remove_all(extract_);
        EXPECT_EQ(DownloadAndRunSet(), 0);
        for (const auto& e : fs::recursive_directory_iterator(extract_)) {
            ASSERT_FALSE(e.is_symlink() || e.is_other()) << e.path();
            EXPECT_NE(e.is_regular_file() ? ReadFile(e.path()) : "", "outside secret\n");
        }
    }
}

// Without a key a configured mirror is the only source of 7-Zip, even when it fails.
TEST_F(SecurityTest, WithAKeyTheSevenZipMirrorIsUsedOnlyWhenItsHashIsPinned) {
    SignCloud();
    const std::string key = session_.PublicKey;
    ASSERT_TRUE(WriteFile(web_ + "/mirror/7za920.zip", ReadFile(repo_ + "/7za.zip")));
    ASSERT_TRUE(WriteFile(web_ + "/mirror/big.zip", std::string(17 << 20, 'z')));
    // The hashes in capitals, as some tools print them.
    RunProgram({"/bin/sh", "-c", "sha256sum 7za920.zip big.zip | tr a-f A-F"}, web_ + "/mirror",
               tmp_.file("sum"));
    const std::string sums = ReadFile(tmp_.file("sum")), good = sums.substr(0, 64),
                      big = sums.substr(sums.find('\n') + 1, 64);
    const struct {
        const char* file;
        std::string pin;
        int exitCode;
        const char *logged, *message;
        bool keyed = true;
    } cases[] = {
        {"7za920.zip", "", 0, "retrieved 7zip from Nimbara", ""},
        {"7za920.zip", good, 0, "retrieved 7zip from sourceforge", ""},
        {"7za920.zip", big, 2, "refused 7za920.zip", "The file 7za920.zip was refused"},
        {"big.zip", big, 1, "larger than", "Download aborted."},
        {"7za920.zip", "", 0, "retrieved 7zip from sourceforge", "", false},
        {"none.zip", "", 1, "", "Download aborted.", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.logged);
        session_.PublicKey = c.keyed ? key : "";
        endpoints_.SevenZipMirrorURL = cloud_->httpBase() + "/mirror/" + c.file;
        endpoints_.SevenZipMirrorSHA256 = c.pin;
        log_.clear();
        frontend_.messages.clear();
        EXPECT_EQ(DownloadAndRunSet(), c.exitCode);
        EXPECT_TRUE(LogHas(c.logged));
        EXPECT_TRUE(*c.message ? FirstMessage().rfind(c.message, 0) == 0 : FirstMessage().empty())
            << FirstMessage();
        EXPECT_FALSE(!c.keyed &&
                     (LogHas("to retrieve 7zip from Nimbara") || LogHas("search path")));
    }
}

// Redist host down: without a key the leftover package runs, with one the deployed tool does.
TEST_F(SecurityTest, WithAKeyRunPreviousNeverUnpacksALeftoverPackage) {
    ASSERT_TRUE(WriteStandIn(tmp_.file("Tekmo"), "leftover"));
    LoadedPresenter();
    ASSERT_TRUE(view_.SelectVersion("Tekmo_2.1.0.zip"));
    endpoints_.RedistHost = "127.0.0.1:1";
    for (const bool keyed : {false, true}) {
        SCOPED_TRACE(keyed);
        if (keyed) SignCloud();
        ASSERT_TRUE(WriteExecutableZip(prog_ + "/Tekmo_2.1.0.zip",
                                       {{"Tekmo", ReadFile(tmp_.file("Tekmo"))}}));
        ASSERT_TRUE(WriteStandIn(extract_ + "/Tekmo", "deployed earlier"));
        ASSERT_TRUE(WriteFile(extract_ + "/Talvane.deployed"));  // what the tree holds
        frontend_.messages.clear();
        LoadedPresenter();
        view_.SetConfigText("Office");
        EXPECT_TRUE(EndsProcess([&] { presenter_->OnRunPrevious(); }));
        EXPECT_TRUE(WaitForText(runLog_, keyed ? "deployed earlier started" : "leftover started"));
        EXPECT_TRUE(Exists(extract_ + "/Config/Tekmo.ini"));       // still synchronised
        EXPECT_EQ(Exists(extract_ + "/Talvane.deployed"), keyed);  // kept unless unpacked over
        EXPECT_EQ(FirstMessage().rfind("Tekmo_2.1.0.zip could not be downloaded", 0) == 0, keyed);
    }
}

using ReliabilityTest = SecurityTest;

// A link where the package writes is refused, where the configuration goes replaced.
TEST_F(ReliabilityTest, LinksInTheToolTreeAreNeverWrittenThrough) {
    const struct {
        const char* link;
        int exitCode;
        bool onlyTheProgram;  // a package without the folders the configuration fills
    } cases[] = {{"Config", 1, false},        {"Modules/Defs", 0, false},
                 {"Scripts", 0, false},       {"3rd Party Tools/Ketarin", 1, false},
                 {"Modules", 1, false},       {"3rd Party Tools/Ketarin", 0, true},
                 {"3rd Party Tools", 0, true}};
    const std::string package = redist_ + "/Redist/tekmoUpdate.zip";
    const std::string full = ReadFile(package);
    ASSERT_TRUE(WriteStandIn(tmp_.file("Tekmo"), "Tekmo 2.2.0"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        ASSERT_TRUE(c.onlyTheProgram
                        ? WriteExecutableZip(package, {{"Tekmo", ReadFile(tmp_.file("Tekmo"))}})
                        : WriteFile(package, full));
        fs::remove_all(extract_);
        const std::string outside = tmp_.file("outside-" + std::to_string(&c - cases));
        ASSERT_TRUE(MakeSureDirExists(outside));
        ASSERT_TRUE(MakeSureDirExists(fs::path(extract_ + "/" + c.link).parent_path().string()));
        fs::create_directory_symlink(outside, extract_ + "/" + c.link);
        frontend_.messages.clear();
        EXPECT_EQ(DownloadAndRunSet(), c.exitCode);
        EXPECT_TRUE(ListNames(outside).empty());
        if (c.exitCode != 0) {
            EXPECT_EQ(frontend_.messages.size(), 1U);
            EXPECT_NE(FirstMessage().find("through the link"), std::string::npos) << FirstMessage();
        } else {
            EXPECT_FALSE(fs::is_symlink(extract_ + "/" + c.link));
            EXPECT_TRUE(fs::exists(extract_ + "/Modules/Defs/core.def"));
            EXPECT_TRUE(fs::exists(extract_ + "/3rd Party Tools/Ketarin/jobs.db"));
        }
    }
}

// A 7-Zip that fails its first extraction: the second attempt deploys, and the run is complete.
TEST_F(ReliabilityTest, ConfigDeployedOnTheSecondAttemptCountsAsDeployed) {
    const std::string once = tmp_.file("failed-once");
    ASSERT_TRUE(WriteFile(
        prog_ + "/7z/7za",
        "#!/bin/sh\n[ -e '" + once + "' ] || { touch '" + once + "'; exit 2; }\nexec 7zz \"$@\"\n",
        0755));
    EXPECT_EQ(DownloadAndRunSet(), 0);
    EXPECT_TRUE(frontend_.messages.empty()) << frontend_.messages[0].text;
    EXPECT_EQ(log_.count("7zip (tekmo_Config.7z) returned errorlevel 2"), 1);
    EXPECT_NE(ReadFile(extract_ + "/Config/Tekmo.ini").find("ConfigSet=Office"), std::string::npos);
}

// What a launcher killed outright leaves: parts named after its process, now gone.
TEST_F(ReliabilityTest, PartsOfAKilledLauncherGoAtTheNextRunOthersStay) {
    const pid_t killed = ::fork();
    if (killed == 0) ::_exit(0);
    ::waitpid(killed, nullptr, 0);
    const std::string dead = ".~tv" + std::to_string(killed) + "-7.part";
    const std::string alive = ".~tv" + std::to_string(::getppid()) + "-7.part";
    for (const std::string& path : {prog_ + "/" + dead, extract_ + "/Modules/Core/" + dead,
                                    extract_ + "/" + alive, prog_ + "/" + dead + ".keep"})
        WriteFile(path, std::string(1 << 20, 'x'));
    EXPECT_EQ(DownloadAndRunSet(), 0);
    EXPECT_FALSE(Exists(prog_ + "/" + dead));
    EXPECT_FALSE(Exists(extract_ + "/Modules/Core/" + dead));
    EXPECT_TRUE(Exists(extract_ + "/" + alive));        // another launcher at work
    EXPECT_TRUE(Exists(prog_ + "/" + dead + ".keep"));  // not a name the launcher makes
}

}  // namespace
}  // namespace talvane::testing
