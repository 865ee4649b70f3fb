#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/interrupt.h"
#include "support/temp_dir.h"
#include "platform/file_io.h"

namespace talvane::fileio {
namespace {

// An extraction ended by a signal must not leave its hidden temporary file in
// the tool tree; the files already put in place stay.
TEST(ExtractionInterrupted, TheFileBeingWrittenIsRemovedFromItsFolder) {
    testing::TempDir dir;
    EXPECT_EXIT(
        {
            InstallInterruptCleanup();
            Destination out;
            std::string failedAt;
            if (!out.Open(dir.path())) std::_Exit(3);
            if (!out.CreateTemp(0644) || !out.WriteTemp("done", 4) || !out.CommitTemp("done.txt"))
                std::_Exit(3);
            if (out.Enter({"Many", "d17"}, 2, failedAt) != Destination::FolderResult::Ok)
                std::_Exit(3);
            if (!out.CreateTemp(0644) || !out.WriteTemp("half", 4)) std::_Exit(3);
            std::raise(SIGTERM);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_TRUE(std::filesystem::exists(dir.file("done.txt")));
    ASSERT_TRUE(std::filesystem::is_directory(dir.file("Many/d17")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("Many/d17")));
}

}  // namespace
}  // namespace talvane::fileio
