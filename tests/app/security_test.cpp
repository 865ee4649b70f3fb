// What a hostile server or network path may try, against the real local cloud.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>

#include "common/files.h"
#include "common/log.h"
#include "common/strings.h"
#include "settings/settings.h"
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
    static int Minisign(const std::string& args) {
        return std::system(("minisign " + args + " >/dev/null 2>&1 </dev/null").c_str());
    }
    // A key pair; the public key goes into the session as the settings would give it.
    void UseKey() {
        ASSERT_EQ(Minisign("-G -W -p " + tmp_.file("k.pub") + " -s " + tmp_.file("k.key")), 0);
        const std::string pub = ReadFile(tmp_.file("k.pub"));
        const auto start = pub.find('\n') + 1;
        session_.PublicKey = pub.substr(start, pub.find('\n', start) - start);
    }
    void Sign(const std::string& file) {
        ASSERT_EQ(Minisign("-S -s " + tmp_.file("k.key") + " -m \"" + file + "\""), 0) << file;
    }
    void SignCloud() {
        Sign(web_ + "/VelmoraUpdates.zip");
        Sign(repo_ + "/7za.zip");
        Sign(redist_ + "/Redist/tekmoUpdate.zip");
    }
    int RunDownload() { return DownloadAndRunSet(); }
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

// The 7-Zip program that runs is a recorder: it keeps its arguments, then does the work.
TEST_F(SecurityTest, ArchivePasswordIsNeverAnArgumentAndTheSetStillDeploys) {
    const std::string args = tmp_.file("7z-arguments.txt");
    ASSERT_TRUE(WriteText(
        prog_ + "/7z/7za",
        "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> '" + args + "'; done\nexec 7zz \"$@\"\n",
        0755));
    EXPECT_EQ(RunDownload(), 0);
    EXPECT_NE(ReadFile(args).find("tekmo_Config.7z"), std::string::npos);
    EXPECT_EQ(ReadFile(args).find(kZipPassword), std::string::npos) << ReadFile(args);
    EXPECT_NE(ReadFile(extract_ + "/Config/Tekmo.ini").find("ConfigSet=Office"), std::string::npos);
    EXPECT_TRUE(WaitForText(runLog_, "Tekmo 2.2.0 started")) << RunLog();
    // No key: used as before, and the log says so.
    EXPECT_TRUE(LogHas("not verified (no public key in the settings): tekmoUpdate.zip"));
}

TEST_F(SecurityTest, WithAKeyOnlyCorrectlySignedFilesAreUsed) {
    UseKey();
    SignCloud();
    const std::string package = redist_ + "/Redist/tekmoUpdate.zip";
    const std::string signature = ReadFile(package + ".minisig");
    std::string tampered = ReadFile(package);
    tampered[tampered.size() / 2] ^= 0x55;
    const struct {
        const char* name;
        std::string data, signature;
        int exitCode;
        const char* why;
    } cases[] = {
        {"signed", ReadFile(package), signature, 0, nullptr},
        {"tampered", tampered, signature, 1, "does not match"},
        {"unsigned", ReadFile(package), "", 1, "could not be downloaded"},
    };
    for (const auto& c : cases) {
        WriteFile(package, c.data);
        if (c.signature.empty()) {
            std::remove((package + ".minisig").c_str());
        } else {
            WriteFile(package + ".minisig", c.signature);
        }
        std::remove(runLog_.c_str());
        frontend_.messages.clear();
        EXPECT_EQ(RunDownload(), c.exitCode) << c.name;
        if (!c.why) {
            EXPECT_TRUE(WaitForText(runLog_, "Tekmo 2.2.0 started")) << RunLog();
            EXPECT_TRUE(frontend_.messages.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(frontend_.messages.size(), 1U) << c.name;
        EXPECT_NE(frontend_.messages[0].text.find("tekmoUpdate.zip was refused"),
                  std::string::npos);
        EXPECT_NE(frontend_.messages[0].text.find(c.why), std::string::npos)
            << frontend_.messages[0].text;
        EXPECT_FALSE(Exists(prog_ + "/tekmoUpdate.zip")) << c.name;
        EXPECT_FALSE(WaitForText(runLog_, "started", 300)) << c.name;
    }
}

TEST_F(SecurityTest, SettingsFileIsOwnerOnlyAfterASaveAndLongPasswordsRoundTrip) {
    ASSERT_TRUE(WriteText(session_.SettingsFile, "[TekmoCloud]\nUserName=tech1\n", 0644));
    const std::string longPassword(300, 'k');
    LoadedPresenter();
    view_.SetText(ui::MainField::ZipPassword, longPassword);
    EXPECT_TRUE(EndsProcess([&] { presenter_->OnSaveQuit(); }));
    struct stat st {};
    ASSERT_EQ(::stat(session_.SettingsFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600U);
    Session loaded;
    loaded.SettingsFile = session_.SettingsFile;
    LoadSettings(loaded);
    EXPECT_EQ(loaded.ZipPassword, longPassword);
}

// The name is listed as the server gives it; the console and the log escape it
// when they print it (tests/frontends/console/console_output_test.cpp).
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

TEST(EscapeControlsTest, ControlsBecomeVisibleAndTextStays) {
    const struct {
        const char* in;
        bool keepLineBreaks;
        const char* out;
    } cases[] = {
        {"plain \xc3\xa9t\xc3\xa9\tok", false, "plain \xc3\xa9t\xc3\xa9\tok"},
        {"a\x1b[31mb", false, "a\\x1b[31mb"},
        {"line\nbreak\r", false, "line\\x0abreak\\x0d"},
        {"line\nbreak", true, "line\nbreak"},
        {"del\x7f c1\xc2\x9b"
         "2J",
         true,
         "del\\x7f c1\\xc2\\x9b"
         "2J"},
        {"\x00", false, "\\x00"},
    };
    for (const auto& c : cases) {
        const std::string in = c.in[0] ? c.in : std::string(1, '\0');
        EXPECT_EQ(EscapeControls(in, c.keepLineBreaks), c.out) << c.in;
    }
}

}  // namespace
}  // namespace talvane::testing
