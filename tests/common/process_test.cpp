#include "common/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "common/event_pump.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using testing::ReadFile;

// Scripts live in a folder with a blank in its name, as "Program Files" would be.
class ShellXTest : public ::testing::Test {
  protected:
    std::string Script(const std::string& name, const std::string& body, mode_t mode = 0755) {
        const std::string path = dir_.file("with blank/" + name);
        testing::WriteFile(path, "#!/bin/sh\n" + body + "\n");
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return path;
    }
    testing::TempDir dir_;
    testing::LogCapture log_;
    long code_ = 77;
};

struct CountingPump : EventPump {
    void Pump() override { ++calls; }
    int calls = 0;
};

TEST_F(ShellXTest, WaitReturnsTheExitCodeAndLetsTheInterfaceRun) {
    // "true" is a bare name, found on PATH; a killed child reports 128 + the signal.
    const std::pair<std::string, long> cases[] = {
        {Script("exit2.sh", "exit 2"), 2}, {"true", 0}, {Script("killed.sh", "kill -9 $$"), 137}};
    for (const auto& [program, code] : cases) {
        EXPECT_TRUE(ShellX(program, "", true, kShowNormal, &code_));
        EXPECT_EQ(code_, code) << program;
    }
    CountingPump pump;
    SetEventPump(&pump);
    EXPECT_TRUE(ShellX(Script("nap.sh", "sleep 0.3"), "", true, kShowNormal, &code_));
    SetEventPump(nullptr);
    EXPECT_GT(pump.calls, 0);
}

TEST_F(ShellXTest, ArgumentsFollowWindowsQuotingAndInputIsNull) {
    const std::string out = dir_.file("with blank/out file.txt");
    ASSERT_TRUE(ShellX(Script("args.sh", "out=\"$1\"; shift; printf '[%s]\\n' \"$@\" > \"$out\""),
                       "\"" + out + "\" plain \"two words\" a\\\"b -o\"/x y\" \"\"", true,
                       kShowNormal, &code_));
    EXPECT_EQ(code_, 0);
    EXPECT_EQ(ReadFile(out), "[plain]\n[two words]\n[a\"b]\n[-o/x y]\n[]\n");
    ASSERT_TRUE(ShellX(Script("stdin.sh", "readlink /proc/self/fd/0 > \"$1\""), "\"" + out + "\"",
                       true, kShowNormal, &code_));
    EXPECT_EQ(ReadFile(out), "/dev/null\n");
}

TEST_F(ShellXTest, StartFailuresLogAndMaskThePassword) {
    const std::string missing = dir_.file("with blank/none.sh");
    EXPECT_FALSE(ShellX(missing, "", true, kShowNormal, &code_));
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{"\tCommonModule\\ShellX FILE NOT FOUND",
                                                      "\t\t- sPathAndFileName=" + missing}));
    log_.clear();
    EXPECT_FALSE(ShellX("talvane-no-such-program", "-x", false, kShowNormal));
    // ENOENT normally; EACCES when a folder on PATH cannot be searched.
    EXPECT_TRUE(log_.contains("CommonModule\\ShellX VB ERROR: "));
    EXPECT_TRUE(log_.contains("\t- sShell=talvane-no-such-program -x"));
    EXPECT_FALSE(log_.contains("FILE NOT FOUND"));
    log_.clear();
    const std::string script = Script("plain.txt", "exit 0", 0644);
    EXPECT_FALSE(ShellX(script, "x a.7z -pTopSecret -y", true, kShowNormal, &code_));
    EXPECT_EQ(code_, 77);  // untouched by every failed start
    EXPECT_TRUE(log_.contains("CommonModule\\ShellX VB ERROR: 13 "));
    EXPECT_TRUE(log_.contains("\t\t- sShell=\"" + script + "\" x a.7z -p*** -y"));
    EXPECT_FALSE(log_.contains("TopSecret"));
    EXPECT_FALSE(log_.contains("ShellX (Failed)"));
}

TEST_F(ShellXTest, ShellAndWaitForTerminationWaitsOrTimesOut) {
    const std::string quick = "\"" + Script("quick.sh", "exit 3") + "\"";
    std::string message;
    EXPECT_TRUE(ShellAndWaitForTermination(quick, kHide, message, 1, false));
    EXPECT_EQ(message, "");
    EXPECT_TRUE(log_.contains("\tShellandWaitForTermination:  " + quick));
    EXPECT_TRUE(log_.contains("\t\tSuccess=True"));
    log_.clear();
    const std::string slow = "\"" + Script("slow.sh", "sleep 3") + "\"";
    EXPECT_FALSE(ShellAndWaitForTermination(slow, kHide, message, 200, true));
    EXPECT_EQ(message, "The process has timed out.");
    EXPECT_TRUE(log_.contains("\t\tSuccess=False"));
    EXPECT_FALSE(ShellAndWaitForTermination(dir_.file("nothing"), kHide, message, 1, false));
    EXPECT_TRUE(log_.contains("CommonModule\\ShellAndWaitForTermination VB ERROR: 2 "));
}

TEST(SplitCommandLine, FollowsCommandLineToArgvRules) {
    // clang-format off
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        {"", {}}, {"   ", {}}, {"prog", {"prog"}},
        {"\"/a b/7za\" x \"/c d/e.7z\" -pS3c -o\"/f g\" -y",
         {"/a b/7za", "x", "/c d/e.7z", "-pS3c", "-o/f g", "-y"}},
        {"C:\\dir\\prog.exe a\\b c\\\\", {"C:\\dir\\prog.exe", "a\\b", "c\\\\"}},
        {"p a\\\"b", {"p", "a\"b"}}, {"p a\\\\\"b c\"", {"p", "a\\b c"}},
        {"p a\\\\\\\"b", {"p", "a\\\"b"}}, {"p \"\" x", {"p", "", "x"}},
        {"p \"a\"\"b\"", {"p", "a\"b"}}, {"p\t a \t b", {"p", "a", "b"}},
        {"p \"unterminated arg", {"p", "unterminated arg"}}};
    // clang-format on
    for (const auto& [line, args] : cases) EXPECT_EQ(SplitCommandLine(line), args) << line;
}

}  // namespace
}  // namespace talvane
