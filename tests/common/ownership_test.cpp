#include "common/ownership.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/files.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using testing::LogCapture;
using testing::TempDir;

TEST(ChangeOwnerOfFile, GivesTheOwnerAccessButNobodyElse) {
    TempDir dir;
    ASSERT_TRUE(MakeSureDirExists(dir.file("folder")));
    ASSERT_TRUE(WriteFileAtomic(dir.file("folder/tool"), "x", 0500));
    ASSERT_TRUE(WriteFileAtomic(dir.file("folder/data"), "x", 0004));
    ASSERT_EQ(::chmod(dir.file("folder").c_str(), 0500), 0);
    LogCapture log;
    ChangeOwnerOfFile(dir.file("folder/tool"));
    ChangeOwnerOfFile(dir.file("folder/data"), "someone");
    ChangeOwnerOfFile(dir.file("missing"));
    EXPECT_EQ(GetFileMode(dir.file("folder/tool")), 0700);  // executable keeps x
    EXPECT_EQ(GetFileMode(dir.file("folder/data")), 0604);  // no x added, no group/other write
    EXPECT_EQ(GetFileMode(dir.file("folder")), 0700);       // the parent too
    const auto lines = log.lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "\tSetOwnerFS\\ChangeOwnerOfFile:");
    EXPECT_EQ(lines[1], "\t\t- Passed: " + dir.file("folder/tool"));
    EXPECT_EQ(lines[2], "\t\t- Optional Parm OwnerAccountName=");
    EXPECT_TRUE(log.contains("\t\t- Optional Parm OwnerAccountName=someone"));
    EXPECT_TRUE(log.contains("\tSetFileSecurity failed with error code 2"));
}

TEST(ChangeOwnerOfFile, AsRootHandsTheFileToTheSudoUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can change owners";
    TempDir dir;
    ASSERT_TRUE(WriteFileAtomic(dir.file("f"), "x", 0600));
    ::setenv("SUDO_UID", "65534", 1);
    ::setenv("SUDO_GID", "65534", 1);
    LogCapture log;
    ChangeOwnerOfFile(dir.file("f"));
    ::unsetenv("SUDO_UID");
    ::unsetenv("SUDO_GID");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_TRUE(log.contains("\tOwner of " + dir.file("f") + " changed to "));
}

}  // namespace
}  // namespace talvane
