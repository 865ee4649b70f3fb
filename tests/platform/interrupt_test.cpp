#include "platform/interrupt_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "common/files.h"
#include "support/file_util.h"

namespace talvane {
namespace {

class InterruptCleanup : public ::testing::TestWithParam<int> {};

// The child registers files, unregisters one and is then ended by the signal:
// only the registered ones may be gone.
TEST_P(InterruptCleanup, RegisteredFilesAreRemovedAndTheSignalStillEndsTheProcess) {
    const int sig = GetParam();
    testing::TempDir dir;
    const std::string kept = dir.file("kept.part");
    const std::string removed = dir.file("removed.part");
    for (const auto& path : {kept, removed, dir.file("relative.part")}) testing::WriteFile(path);
    EXPECT_EXIT(
        {
            InstallInterruptCleanup();
            const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            RemoveOnInterrupt(AT_FDCWD, removed);
            RemoveOnInterrupt(folder, "relative.part");
            ForgetOnInterrupt(RemoveOnInterrupt(AT_FDCWD, kept));
            std::raise(sig);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(sig), "");
    EXPECT_EQ(testing::ListNames(dir.path()), std::vector<std::string>{"kept.part"});
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptCleanup, ::testing::Values(SIGINT, SIGTERM, SIGHUP));

TEST(InterruptCleanupSlots, AFullTableOrAnOverlongNameIsRefusedAndSlotsAreReused) {
    EXPECT_EQ(RemoveOnInterrupt(AT_FDCWD, ""), -1);
    EXPECT_EQ(RemoveOnInterrupt(AT_FDCWD, std::string(5000, 'a')), -1);
    std::vector<int> slots;
    for (int slot; (slot = RemoveOnInterrupt(AT_FDCWD, "/nonexistent/x")) >= 0;) {
        slots.push_back(slot);
        ASSERT_LT(slots.size(), 1000u);
    }
    ASSERT_FALSE(slots.empty());
    ForgetOnInterrupt(slots.back());
    EXPECT_EQ(RemoveOnInterrupt(AT_FDCWD, "/nonexistent/y"), slots.back());
    for (const int slot : slots) ForgetOnInterrupt(slot);
}

}  // namespace
}  // namespace talvane
