#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "cloud/ftp_curl.h"
#include "common/interrupt.h"
#include "support/temp_dir.h"

namespace talvane::net {
namespace {

std::size_t Entries(const std::string& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

// Ctrl-C or a kill in the middle of a download: the hidden part must not stay
// beside the target (a later run writes under a new name and never sees it).
TEST(PartFileInterrupted, NoPartIsLeftBesideTheTarget) {
    testing::TempDir dir;
    EXPECT_EXIT(
        {
            InstallInterruptCleanup();
            PartFile part;
            if (!part.Create(dir.file("tekmoUpdate.zip")) || !part.Write("PK", 2)) std::_Exit(3);
            std::raise(SIGTERM);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(Entries(dir.path()), 0u);
}

TEST(PartFileInterrupted, ACommittedFileStays) {
    testing::TempDir dir;
    EXPECT_EXIT(
        {
            InstallInterruptCleanup();
            PartFile part;
            if (!part.Create(dir.file("a.zip")) || !part.Write("PK", 2) || !part.Commit())
                std::_Exit(3);
            PartFile next;  // a second download under way
            if (!next.Create(dir.file("b.zip"))) std::_Exit(3);
            std::raise(SIGINT);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
    EXPECT_TRUE(std::filesystem::exists(dir.file("a.zip")));
    EXPECT_EQ(Entries(dir.path()), 1u);
}

}  // namespace
}  // namespace talvane::net
