#include "common/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "common/event_pump.h"
#include "common/files.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using testing::ReadFile;
using testing::LogCapture;
using testing::TempDir;

// Scripts live in a folder with a blank in its name, as "Program Files" would be.
class ShellXTest : public ::testing::Test {
  protected:
    std::string Script(const std::string& name, const std::string& body, mode_t mode = 0755) {
        const std::string path = dir_.file("with blank/" + name);
        testing::WriteFile(path, "#!/bin/sh\n" + body + "\n");
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return path;
    }
    // Waits for something a detached child does; generous for sanitizer builds.
    template <class Pred>
    static bool Eventually(Pred pred) {
        for (int i = 0; i < 200 && !pred(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return pred();
    }
    TempDir dir_;
};

struct CountingPump : EventPump {
    void Pump() override { ++calls; }
    int calls = 0;
};

TEST_F(ShellXTest, WaitReturnsTheExitCodeAndLetsTheInterfaceRun) {
    long code = -1;
    EXPECT_TRUE(ShellX(Script("exit2.sh", "exit 2"), "", true, kShowNormal, &code));
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(ShellX("true", "", true, kShowNormal, &code));  // bare name, found on PATH
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(ShellX(Script("killed.sh", "kill -9 $$"), "", true, kShowNormal, &code));
    EXPECT_EQ(code, 128 + 9);

    CountingPump pump;
    SetEventPump(&pump);
    EXPECT_TRUE(ShellX(Script("nap.sh", "sleep 0.3"), "", true, kShowNormal, &code));
    SetEventPump(nullptr);
    EXPECT_GT(pump.calls, 0);
}

TEST_F(ShellXTest, ArgumentsFollowWindowsQuotingAndInputIsNull) {
    const std::string script =
        Script("args.sh", "out=\"$1\"; shift; printf '[%s]\\n' \"$@\" > \"$out\"");
    const std::string out = dir_.file("with blank/out file.txt");
    long code = -1;
    ASSERT_TRUE(ShellX(script, "\"" + out + "\" plain \"two words\" a\\\"b -o\"/x y\" \"\"", true,
                       kShowNormal, &code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFile(out), "[plain]\n[two words]\n[a\"b]\n[-o/x y]\n[]\n");

    const std::string in = dir_.file("stdin.txt");
    ASSERT_TRUE(ShellX(Script("stdin.sh", "readlink /proc/self/fd/0 > \"$1\""), "\"" + in + "\"",
                       true, kShowNormal, &code));
    EXPECT_EQ(ReadFile(in), "/dev/null\n");
}

// Points one of our standard streams at a file for the life of the object.
class StreamToFile {
  public:
    StreamToFile(int fd, const std::string& path) : fd_(fd), saved_(::dup(fd)) {
        const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (file >= 0) ::dup2(file, fd_), ::close(file);
    }
    ~StreamToFile() {
        if (saved_ >= 0) ::dup2(saved_, fd_), ::close(saved_);
    }
    StreamToFile(const StreamToFile&) = delete;
    StreamToFile& operator=(const StreamToFile&) = delete;

  private:
    int fd_;
    int saved_;
};

TEST_F(ShellXTest, StartFailuresLogAndMaskThePassword) {
    LogCapture log;
    const std::string missing = dir_.file("with blank/none.sh");
    long code = 77;
    EXPECT_FALSE(ShellX(missing, "", true, kShowNormal, &code));
    EXPECT_EQ(code, 77);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"\tCommonModule\\ShellX FILE NOT FOUND",
                                                     "\t\t- sPathAndFileName=" + missing}));
    log.clear();
    EXPECT_FALSE(ShellX("talvane-no-such-program", "-x", false, kShowNormal));
    // ENOENT normally; EACCES when a folder on PATH cannot be searched.
    EXPECT_TRUE(log.contains("CommonModule\\ShellX VB ERROR: "));
    EXPECT_TRUE(log.contains("\t- sShell=talvane-no-such-program -x"));
    EXPECT_FALSE(log.contains("FILE NOT FOUND"));

    log.clear();
    const std::string script = Script("plain.txt", "exit 0", 0644);
    EXPECT_FALSE(ShellX(script, "x a.7z -pTopSecret -y", true, kShowNormal, &code));
    EXPECT_EQ(code, 77);
    EXPECT_TRUE(log.contains("CommonModule\\ShellX VB ERROR: 13 "));
    EXPECT_TRUE(log.contains("\t\t- sShell=\"" + script + "\" x a.7z -p*** -y"));
    EXPECT_FALSE(log.contains("TopSecret"));
    EXPECT_FALSE(log.contains("ShellX (Failed)"));
}

TEST_F(ShellXTest, ShellAndWaitForTerminationWaitsOrTimesOut) {
    const std::string quick = Script("quick.sh", "exit 3");
    const std::string slow = Script("slow.sh", "sleep 3");
    LogCapture log;
    std::string message;
    EXPECT_TRUE(ShellAndWaitForTermination("\"" + quick + "\"", kHide, message, 1, false));
    EXPECT_EQ(message, "");
    EXPECT_TRUE(log.contains("\tShellandWaitForTermination:  \"" + quick + "\""));
    EXPECT_TRUE(log.contains("\t\tSuccess=True"));
    log.clear();
    EXPECT_FALSE(ShellAndWaitForTermination("\"" + slow + "\"", kHide, message, 200, true));
    EXPECT_EQ(message, "The process has timed out.");
    EXPECT_TRUE(log.contains("\t\tSuccess=False"));
    log.clear();
    EXPECT_FALSE(
        ShellAndWaitForTermination("\"" + dir_.file("nothing") + "\"", kHide, message, 1, false));
    EXPECT_TRUE(log.contains("CommonModule\\ShellAndWaitForTermination VB ERROR: 2 "));
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
