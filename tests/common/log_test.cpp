#include "common/log.h"

#include <gtest/gtest.h>
#include "support/file_util.h"

#include <string>

#include "common/process.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using testing::LogCapture;

TEST(DPrint, FileSinkFromEnvironmentAppendsLines) {
    testing::TempDir dir;
    const std::string logFile = dir.file("run.log");
    testing::SetEnv("TALVANE_LOG", logFile.c_str());
    auto previous = GetLogSink();
    SetLogSink(nullptr);  // back to the environment's choice
    DPrint("first");
    DPrint("second");
    SetLogSink(previous);
    testing::SetEnv("TALVANE_LOG", nullptr);
    EXPECT_EQ(testing::ReadFile(logFile), "\tfirst\n\tsecond\n");
}

TEST(MaskPasswordArgument, HidesTheArchivePassword) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/7za x \"/a/c.7z\" -ps3cr3t -o\"/a/Sync\" -y",
         "/a/7za x \"/a/c.7z\" -p*** -o\"/a/Sync\" -y"},
        {"7za x a.7z -pend", "7za x a.7z -p***"},
        {"7za x a.7z -p\"two words\" -y", "7za x a.7z -p\"***\" -y"},
        {"7za x a.7z -p -y", "7za x a.7z -p -y"},
        {"7za x a.7z -o/p -y", "7za x a.7z -o/p -y"},
        {"no password here", "no password here"},
        // A quote inside the password arrives escaped; none of it may show.
        {"7za x a.7z -p\"ab\\\"cd ef\" -y", "7za x a.7z -p\"***\" -y"},
        {"7za x a.7z -p\"a\"\"b\" -y", "7za x a.7z -p\"***\" -y"},
        {"7za x a.7z -pab\"c d\" -y", "7za x a.7z -p*** -y"},
        {"7za x a.7z -p\"tail\\\\\" -y", "7za x a.7z -p\"***\" -y"},
        // "-p" inside a quoted path is not a switch.
        {"\"/opt/my -pics/7za\" x a.7z -pk", "\"/opt/my -pics/7za\" x a.7z -p***"}};
    for (const auto& [in, out] : cases) EXPECT_EQ(MaskPasswordArgument(in), out) << in;

    // The password the started program reads back holds a quote, a blank and a
    // trailing backslash; no piece of it reaches the masked line.
    const std::string line = "/usr/bin/7za x \"/a/c.7z\" -p\"s3\\\"cr et\\\\\" -o\"/a/S\" -y";
    const std::string masked = MaskPasswordArgument(line);
    EXPECT_EQ(masked, "/usr/bin/7za x \"/a/c.7z\" -p\"***\" -o\"/a/S\" -y");
    for (const char* piece : {"s3", "cr", "et"}) EXPECT_EQ(masked.find(piece), std::string::npos);
}

}  // namespace
}  // namespace talvane
