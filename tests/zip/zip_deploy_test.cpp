// A deploy commits whole: a package failing at its last entry, a full disk, a cancel or
// an interrupt leave the tool tree as it was, and thousands of waiting parts hold no
// handles.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "platform/interrupt.h"
#include "support/temp_dir.h"
#include "zip/zip_reader.h"
#include "zip_test_util.h"

namespace talvane {
namespace {

using namespace ziptest;
using Listing = std::map<std::string, std::string>;

std::string Describe(fs::file_type type, unsigned mode, const std::string& content) {
    return std::to_string(static_cast<int>(type)) + " " + std::to_string(mode) + " " + content;
}

// Everything below root, links not followed: kind, permission bits and content.
Listing List(const std::string& root) {
    Listing out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const auto st = e.symlink_status();
        const bool file = st.type() == fs::file_type::regular;
        out[fs::relative(e.path(), root).generic_string()] =
            Describe(st.type(), static_cast<unsigned>(st.permissions()) & 07777u,
                     file ? ReadFile(e.path().string()) : "");
    }
    return out;
}

// 3,000 entries (stored: quick to build) in 300 folders.
std::string ManyEntries() {
    RawZip z;
    for (int i = 0; i < 3000; ++i)
        z.entries.emplace_back("d" + std::to_string(i % 300) + "/f" + std::to_string(i),
                               "entry " + std::to_string(i), 0);
    return z.Build();
}

class ZipDeploy : public ::testing::Test {
  protected:
    testing::TempDir tmp;
    std::string zipPath = tmp.file("pkg.zip"), dest = tmp.file("tools");
    std::string elsewhere = tmp.file("elsewhere"), mounted;
    mode_t mask = ::umask(022);

    void TearDown() override {
        if (!mounted.empty()) RunProgram({"umount", mounted});
        ::umask(mask);
    }
    // Older versions of what the package brings, and more.
    void OldTree(const std::string& root) {
        for (const char* rel : {"bin/tool", "lib/a.txt", "lib/sub/s.txt", "keep.txt"})
            WriteFile(root + "/" + rel, std::string("old ") + rel);
        fs::create_directories(elsewhere);
        fs::create_directory_symlink(elsewhere, root + "/link");
    }
    // A new tool (now executable), a changed file and a file in new folders, then `last`.
    static std::string Package(std::vector<RawEntry> last) {
        RawZip z;
        z.entries = {{"bin/tool", "new tool"}, {"lib/a.txt", "new a", 0}, {"new/deep/f.txt", "f"}};
        z.entries[0].madeBy = 0x0314;
        z.entries[0].external = 0100755u << 16;
        z.entries.insert(z.entries.end(), last.begin(), last.end());
        return z.Build();
    }
};

TEST_F(ZipDeploy, AFailureAtTheLastEntryLeavesTheTreeAsItWas) {
    const struct {
        RawEntry last;
        std::string error;
    } cases[] = {
        {{"lib/z.txt", "data", 8, {}, 1}, "Data checksum error in " + dest + "/lib/z.txt"},
        {{"lib/z.txt", "0123456789", 8, {}, -1, 4},
         "The entry " + dest + "/lib/z.txt inflates to more than its 4 bytes"},
        {{"../evil", "x"}, "Refused the entry ../evil: its name leads outside " + dest},
        {{"link/x", "x"},
         "Refused the entry link/x: it would be written through the link " + dest + "/link"},
        {{"lib/sub", "x"}, "Can't remove the file " + dest + "/lib/sub"},
        {{"new/deep/f.txt/x", "x"}, "Can't create the folder " + dest + "/new/deep/f.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        fs::remove_all(dest);
        OldTree(dest);
        WriteFile(zipPath, Package({c.last}));
        const Listing before = List(dest);
        std::string error;
        EXPECT_FALSE(ExtractZipFile(zipPath, dest, &error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(List(dest), before);  // no part, no new folder, nothing replaced
        EXPECT_TRUE(fs::is_empty(elsewhere));
    }
    // Cancelled before the end, then whole: replaced files get their new content and
    // mode, the others stay.
    fs::remove_all(dest);
    OldTree(dest);
    WriteFile(zipPath, Package({}));
    Listing expected = List(dest);
    ZipExtractionClass zip;
    Recorder rec;
    rec.Attach(zip);
    rec.cancelAt = 67;
    EXPECT_FALSE(zip.OpenZip(zipPath) && zip.Extract(dest, true, true, ZipCommit::Whole));
    EXPECT_EQ(List(dest), expected);
    EXPECT_TRUE(ExtractZipFile(zipPath, dest));
    const auto file = fs::file_type::regular, folder = fs::file_type::directory;
    expected["bin/tool"] = Describe(file, 0755, "new tool");
    expected["lib/a.txt"] = Describe(file, 0644, "new a");
    expected["new"] = expected["new/deep"] = Describe(folder, 0755, "");
    expected["new/deep/f.txt"] = Describe(file, 0644, "f");
    EXPECT_EQ(List(dest), expected);
}

TEST_F(ZipDeploy, AFullDiskLeavesTheTreeAsItWas) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    const std::string disk = tmp.file("disk");
    fs::create_directory(disk);
    if (RunProgram({"mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", disk}) != 0)
        GTEST_SKIP() << "mount -t tmpfs was refused (no CAP_SYS_ADMIN?)";
    mounted = disk;
    OldTree(disk);
    RawZip z;
    z.entries = {{"data/big.bin", std::string(2 << 20, 'x'), 0}, {"bin/tool", "new"}};
    WriteFile(zipPath, z.Build());
    const Listing before = List(disk);
    std::string error;
    EXPECT_FALSE(ExtractZipFile(zipPath, disk, &error));
    EXPECT_EQ(error, "Can't write the file " + disk + "/data/big.bin");
    EXPECT_EQ(List(disk), before);
}

TEST_F(ZipDeploy, ThousandsOfWaitingPartsHoldFewHandles) {
    WriteFile(zipPath, ManyEntries());
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::string error;
    const bool ok = ExtractZipFile(zipPath, dest, &error);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_TRUE(ok) << error;
    const auto tree = Tree(dest);
    EXPECT_EQ(tree.size(), 3000u);
    EXPECT_EQ(tree.at("d7/f2707"), "entry 2707");
}

// Far more parts wait than the interrupt slots hold; none may stay behind.
TEST_F(ZipDeploy, AnInterruptRemovesTheWaitingParts) {
    WriteFile(zipPath, ManyEntries());
    EXPECT_EXIT(
        {
            InstallInterruptCleanup();
            ZipExtractionClass zip;
            zip.Progress = [](long& percent, bool&) {
                if (percent == 90) std::raise(SIGTERM);
            };
            zip.OpenZip(zipPath);
            zip.Extract(dest, true, true, ZipCommit::Whole);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    for (const auto& e : fs::recursive_directory_iterator(dest))
        EXPECT_TRUE(e.is_directory()) << "left behind: " << e.path();
}

}  // namespace
}  // namespace talvane
