#include "common/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <tuple>

#include "common/event_pump.h"
#include "common/log.h"
#include "support/file_util.h"
#include "support/log_capture.h"

namespace talvane {
namespace {

using namespace testing;

// Scripts live in a folder with a blank in its name, as "Program Files" would be.
class ProcessTest : public ::testing::Test {
  protected:
    std::string Script(const std::string& name, const std::string& body, mode_t mode = 0755) {
        const std::string path = dir_.file("with blank/" + name);
        testing::WriteFile(path, "#!/bin/sh\n" + body + "\n");
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return path;
    }
    testing::TempDir dir_;
    testing::LogCapture log_;
};

struct CountingPump : EventPump {
    void Pump() override { ++calls; }
    int calls = 0;
};

TEST_F(ProcessTest, WaitReturnsTheExitCodeAndLetsTheInterfaceRun) {
    // "true" is a bare name, found on PATH; a killed child reports 128 + the signal.
    const std::pair<std::string, long> cases[] = {
        {Script("exit2.sh", "exit 2"), 2}, {"true", 0}, {Script("killed.sh", "kill -9 $$"), 137}};
    for (const auto& [program, code] : cases) EXPECT_EQ(RunAndWait({program}), code) << program;
    CountingPump pump;
    SetEventPump(&pump);
    EXPECT_EQ(RunAndWait({Script("nap.sh", "sleep 0.3")}), 0);
    SetEventPump(nullptr);
    EXPECT_GT(pump.calls, 0);
}

TEST_F(ProcessTest, ArgumentsArriveAsTheyAreWithInputFromNullOrThePipe) {
    const std::string out = dir_.file("with blank/out file.txt");
    const std::string args =
        Script("args.sh", "out=\"$1\"; shift; printf '[%s]\\n' \"$@\" > \"$out\"");
    ASSERT_EQ(RunAndWait({args, out, "plain", "two words", "a\"b", "-o/x y", "", "c:\\d\\"}), 0);
    EXPECT_EQ(ReadFile(out), "[plain]\n[two words]\n[a\"b]\n[-o/x y]\n[]\n[c:\\d\\]\n");
    const std::string in = Script("stdin.sh", "readlink /proc/self/fd/0 > \"$1\"; cat >> \"$1\"");
    ASSERT_EQ(RunAndWait({in, out}), 0);
    EXPECT_EQ(ReadFile(out), "/dev/null\n");
    const std::string secret = "s3 cr\"et\n";
    ASSERT_EQ(RunAndWait({in, out}, &secret), 0);
    EXPECT_EQ(ReadFile(out).substr(ReadFile(out).find('\n') + 1), secret);
}

TEST_F(ProcessTest, StartFailuresLogAndMaskThePassword) {
    const std::string missing = dir_.file("with blank/none.sh");
    EXPECT_EQ(RunAndWait({missing}), std::nullopt);
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{"\tCommonModule\\ShellX FILE NOT FOUND",
                                                      "\t\t- sPathAndFileName=" + missing}));
    log_.clear();
    EXPECT_FALSE(StartDetached({"talvane-no-such-program", "-x"}));
    // ENOENT normally; EACCES when a folder on PATH cannot be searched.
    EXPECT_TRUE(log_.contains("CommonModule\\ShellX VB ERROR: "));
    EXPECT_TRUE(log_.contains("\t- sShell=talvane-no-such-program -x"));
    EXPECT_FALSE(log_.contains("FILE NOT FOUND"));
    log_.clear();
    const std::string script = Script("plain.txt", "exit 0", 0644);
    EXPECT_EQ(RunAndWait({script, "x", "a.7z", "-pTopSecret", "-y"}), std::nullopt);
    EXPECT_TRUE(log_.contains("CommonModule\\ShellX VB ERROR: 13 "));
    EXPECT_TRUE(log_.contains("\t\t- sShell=\"" + script + "\" x a.7z -p*** -y"));
    EXPECT_FALSE(log_.contains("TopSecret"));
    EXPECT_FALSE(StartDetached({}));
}

TEST(Delay, WaitsItsTimeOnTheClockInPollSizedStepsPumpingEachTurn) {
    using std::chrono::milliseconds;
    const std::tuple<double, milliseconds, milliseconds, int> cases[] = {
        {0, milliseconds(0), milliseconds(0), 1},
        {-3, milliseconds(0), milliseconds(0), 1},
        {0.25, milliseconds(250), milliseconds(251), 4},
        {1, milliseconds(1000), milliseconds(1000), 11}};
    for (const auto& [seconds, atLeast, atMost, pumps] : cases) {
        testing::FakeClock clock;
        CountingPump pump;
        SetEventPump(&pump);
        Delay(seconds);
        SetEventPump(nullptr);
        EXPECT_GE(clock.Elapsed(), atLeast) << seconds;
        EXPECT_LE(clock.Elapsed(), atMost) << seconds;
        EXPECT_LE(clock.longest, milliseconds(100)) << seconds;
        EXPECT_EQ(pump.calls, pumps) << seconds;
    }
}

TEST(MaskPasswordArgument, HidesTheArchivePassword) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/7za x \"/a/c.7z\" -ps3cr3t -o\"/a/Sync\" -y",
         "/a/7za x \"/a/c.7z\" -p*** -o\"/a/Sync\" -y"},
        {"7za x a.7z -p\"two words\" -y", "7za x a.7z -p\"***\" -y"},
        {"7za x a.7z -p -y", "7za x a.7z -p -y"},
        {"7za x a.7z -o/p -y", "7za x a.7z -o/p -y"},
        {"no password here", "no password here"},
        // A quote inside the password arrives escaped; none of it may show.
        {"7za x a.7z -p\"a\"\"b\" -y", "7za x a.7z -p\"***\" -y"},
        {"7za x a.7z -pab\"c d\" -y", "7za x a.7z -p*** -y"},
        {"7za x -p\"s3\\\"cr et\\\\\" -o\"/a/S\" -y", "7za x -p\"***\" -o\"/a/S\" -y"},
        // "-p" inside a quoted path is not a switch.
        {"\"/opt/my -pics/7za\" x a.7z -pk", "\"/opt/my -pics/7za\" x a.7z -p***"}};
    for (const auto& [in, out] : cases) EXPECT_EQ(MaskPasswordArgument(in), out) << in;
}

}  // namespace
}  // namespace talvane
