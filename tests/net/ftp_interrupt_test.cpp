#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "net/ftp_curl.h"
#include "platform/interrupt.h"
#include "support/file_util.h"
#include "support/temp_dir.h"

namespace talvane::net {
namespace {

// A signal in the middle of a download: the hidden part must not stay beside the
// target (a later run writes under a new name and never sees it); a committed
// file stays.
TEST(PartFileInterrupted, OnlyCommittedFilesStay) {
    testing::TempDir dir;
    EXPECT_EXIT(
        {
            InstallInterruptCleanup();
            PartFile part;
            if (!part.Create(dir.file("a.zip")) || !part.Write("PK", 2) || !part.Commit())
                std::_Exit(3);
            PartFile next;  // a second download under way
            if (!next.Create(dir.file("tekmoUpdate.zip")) || !next.Write("PK", 2)) std::_Exit(3);
            std::raise(SIGTERM);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(testing::ListNames(dir.path()), std::vector<std::string>{"a.zip"});
}

}  // namespace
}  // namespace talvane::net
