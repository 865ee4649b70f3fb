// The reader's observable behaviour: events, error numbers and texts, CRC rule, permissions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.h"
#include "zip/zip_reader.h"
#include "zip_test_util.h"

namespace talvane {
namespace {

using namespace ziptest;
using Strings = std::vector<std::string>;
using Longs = std::vector<long>;
using Errors = std::vector<std::pair<long, std::string>>;
using Files = std::map<std::string, std::string>;

class ZipReader : public ::testing::Test {
  protected:
    testing::TempDir tmp;
    std::string zipPath = tmp.file("a.zip");
    std::string dest = tmp.file("out");
    ZipExtractionClass zip;
    Recorder rec;

    void SetUp() override { rec.Attach(zip); }
    bool ExtractRaw(const RawZip& z) {
        WriteFile(zipPath, z.Build());
        return zip.OpenZip(zipPath) && zip.Extract(dest, true, true);
    }
};

TEST_F(ZipReader, ExtractsStoredAndDeflatedWithEventsInOrder) {
    RawZip z;
    z.entries = {{"dir/a.txt", "alpha"}, {"b.bin", std::string(5000, 'x'), 0}};
    for (const ZipCommit commit : {ZipCommit::EachEntry, ZipCommit::Whole}) {
        rec = {};
        rec.Attach(zip);
        fs::remove_all(dest);
        WriteFile(zipPath, z.Build());
        EXPECT_TRUE(zip.OpenZip(zipPath) && zip.Extract(dest, true, true, commit));
        EXPECT_EQ(Tree(dest), (Files{{"dir/a.txt", "alpha"}, {"b.bin", std::string(5000, 'x')}}));
        EXPECT_EQ(rec.statuses, (Strings{"Opening Zip", "Zip Opened", "Extracting Files",
                                         "Extracting .../dir/a.txt", "Extracting .../b.bin",
                                         "Extraction Complete"}));
        EXPECT_EQ(rec.percents, (Longs{50, 100}));
        zip.CloseZip();
        EXPECT_EQ(rec.statuses.back(), "Zip Closed");
        EXPECT_TRUE(rec.errors.empty());
    }
}

TEST_F(ZipReader, PercentRoundsHalvesToEvenAndCancelStops) {
    RawZip z;
    for (int i = 0; i < 8; ++i) z.entries.push_back({"f" + std::to_string(i), "data"});
    rec.cancelAt = 38;
    EXPECT_FALSE(ExtractRaw(z));
    EXPECT_EQ(rec.percents, (Longs{12, 25, 38}));
    EXPECT_NE(rec.statuses.back(), "Extraction Complete");
    EXPECT_FALSE(fs::exists(dest + "/f3"));
}

TEST_F(ZipReader, ChecksumRuleAndEntryErrorsDoNotStopExtraction) {
    RawZip z;
    z.entries = {{"stored-bad-crc", "never written either", 0, {}, 1},
                 {"deflated-bad-crc", "never written", 8, {}, 1},
                 {"odd-method", "x", 12},
                 {"good", "fine"}};
    EXPECT_TRUE(ExtractRaw(z));
    // Nothing else, not even a temporary file, is left beside the good one.
    EXPECT_EQ(Tree(dest), (Files{{"good", "fine"}}));
    EXPECT_EQ(rec.errors, (Errors{{5L, "Data checksum error in " + dest + "/stored-bad-crc"},
                                  {5L, "Data checksum error in " + dest + "/deflated-bad-crc"},
                                  {4L, "The compression Method for odd-method is unsupported"}}));
    // Testing does check stored entries.
    rec.errors.clear();
    EXPECT_TRUE(zip.TestEntries());
    ASSERT_FALSE(rec.errors.empty());
    EXPECT_EQ(rec.errors[0], Errors::value_type(5L, "Data checksum error in stored-bad-crc"));
    // Whole, the first refusal fails it all, and not even the new folder stays.
    rec.errors.clear();
    EXPECT_FALSE(zip.Extract(tmp.file("whole"), true, true, ZipCommit::Whole));
    EXPECT_EQ(rec.Numbers(), Longs{kZipErrChecksum});
    EXPECT_FALSE(fs::exists(tmp.file("whole")));
}

TEST_F(ZipReader, ArchiveLevelFailures) {
    EXPECT_FALSE(zip.OpenZip(tmp.file("missing.zip")));
    WriteFile(tmp.file("plain.txt"), "no zip here");
    EXPECT_FALSE(zip.OpenZip(tmp.file("plain.txt")));
    EXPECT_FALSE(zip.Extract(dest, true, true));
    EXPECT_EQ(rec.errors, (Errors{{10L, "The file " + tmp.file("missing.zip") + " doesn't exist"},
                                  {2L, "The file " + tmp.file("plain.txt") + " is not a Zip file"},
                                  {3L, "There is no Zip File Open"}}));
    rec.errors.clear();
    RawZip z;
    z.entries = {{"f", "x"}};
    dest = tmp.file("no/such/folder");
    EXPECT_FALSE(ExtractRaw(z));
    EXPECT_EQ(rec.errors, (Errors{{13L, "Can't create the folder " + dest}}));

    // An archive said to span disks extracts nothing.
    dest = tmp.file("out");
    z.thisDisk = 1;
    EXPECT_FALSE(ExtractRaw(z));
    EXPECT_EQ(rec.statuses.back(), "Extraction Complete");
    EXPECT_TRUE(fs::is_empty(dest));
}

#ifndef _WIN32  // Windows files carry no permission bits
TEST_F(ZipReader, UnixPermissionBitsAreRestoredSafely) {
    struct Case {
        std::uint16_t madeBy;
        std::uint32_t mode;
        mode_t expected;
    };
    const mode_t mask = ::umask(022);
    const Case cases[] = {{0x0314, 0100755, 0755}, {0x0314, 0104775, 0755},
                          {0x0314, 0100600, 0600}, {0x0314, 0, 0644},
                          {20, 0100755, 0644},     {0x0B14, 0100755, 0644}};
    RawZip z;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        z.entries.emplace_back("f" + std::to_string(i), "x");
        z.entries.back().madeBy = cases[i].madeBy;
        z.entries.back().external = cases[i].mode << 16;
    }
    EXPECT_TRUE(ExtractRaw(z));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        struct stat st {};
        ASSERT_EQ(::stat((dest + "/f" + std::to_string(i)).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, cases[i].expected) << "case " << i;
    }
    ::umask(mask);
}
#endif

}  // namespace
}  // namespace talvane
