// The reader's events, errors, CRC rule and permissions; hostile and damaged archives.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <tuple>

#include "zip/zip_reader.h"
#include "zip_test_util.h"

namespace talvane {
namespace {

using namespace ziptest;
using Strings = std::vector<std::string>;
using Errors = std::vector<std::pair<long, std::string>>;
constexpr auto npos = std::string::npos;

class ZipReader : public ::testing::Test {
  protected:
    testing::TempDir tmp;
    std::string zipPath = tmp.file("a.zip");
    std::string dest = tmp.file("out");
    ::talvane::ZipReader zip;
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
        rec = {};  // the reader's events still reach it
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
    // Without overwriting a file there is kept; a whole deploy then writes nothing.
    for (const ZipCommit commit : {ZipCommit::EachEntry, ZipCommit::Whole}) {
        fs::remove_all(dest);
        WriteFile(dest + "/b.bin", "kept");
        const bool each = commit == ZipCommit::EachEntry;
        rec.errors.clear();
        EXPECT_EQ(zip.OpenZip(zipPath) && zip.Extract(dest, true, false, commit), each);
        EXPECT_EQ(rec.Numbers(), Longs{kZipErrExists});
        EXPECT_EQ(Tree(dest).size(), each ? 2U : 1U);
        EXPECT_EQ(ReadFile(dest + "/b.bin"), "kept");
    }
    // Bytes after the end record, or a comment that looks like one, do not hide the archive.
    for (const std::string& trailer : {std::string(), std::string("appended")}) {
        fs::remove_all(dest);
        z.comment = trailer.empty() ? std::string("PK\x05\x06 in the comment") : std::string();
        WriteFile(zipPath, z.Build() + trailer);
        EXPECT_TRUE(zip.OpenZip(zipPath) && zip.Extract(dest, true, true)) << trailer;
        EXPECT_EQ(Tree(dest).size(), 2U);
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
    // Stored data is read in steps of 256 KiB: the checksum runs over all of them.
    std::string big(600 << 10, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7919 >> 5);
    std::string spoilt = big;
    spoilt[300 << 10] ^= 1;
    RawZip z;
    z.entries = {{"big-bad-crc", big, 0, spoilt},
                 {"deflated-bad-crc", "never written", 8, {}, 1},
                 {"deflated-damaged", std::string(5 << 20, 'z'), 8, std::string(64, '\xff')},
                 {"odd-method", "x", 12},
                 {"aes", "x", 99},
                 {"strong", "x"},
                 {"good", "fine"},
                 {"big", big, 0},
                 {"one-bad", "x", 0, "y"}};
    z.entries[5].flags = 0x40;  // strong encryption
    EXPECT_TRUE(ExtractRaw(z));
    // Nothing else, not even a temporary file, is left beside the good ones.
    EXPECT_EQ(Tree(dest), (Files{{"good", "fine"}, {"big", big}}));
    EXPECT_EQ(rec.errors, (Errors{{5L, "Data checksum error in " + dest + "/big-bad-crc"},
                                  {5L, "Data checksum error in " + dest + "/deflated-bad-crc"},
                                  {5L, "Data checksum error in " + dest + "/deflated-damaged"},
                                  {4L, "The compression Method for odd-method is unsupported"},
                                  {24L, "The file " + dest + "/aes is encrypted"},
                                  {24L, "The file " + dest + "/strong is encrypted"},
                                  {5L, "Data checksum error in " + dest + "/one-bad"}}));
    // Testing does check stored entries.
    rec.errors.clear();
    EXPECT_TRUE(zip.TestEntries());
    ASSERT_FALSE(rec.errors.empty());
    EXPECT_EQ(rec.errors[0], Errors::value_type(5L, "Data checksum error in big-bad-crc"));
    EXPECT_EQ(rec.errors.back(), Errors::value_type(5L, "Data checksum error in one-bad"));
    // Whole, the first refusal fails it all, and not even the new folder stays.
    rec.errors.clear();
    EXPECT_FALSE(zip.Extract(tmp.file("whole"), true, true, ZipCommit::Whole));
    EXPECT_EQ(rec.Numbers(), Longs{kZipErrChecksum});
    EXPECT_FALSE(fs::exists(tmp.file("whole")));
    // Folders it made four deep go too, each reached again from the top.
    RawZip deep;
    deep.entries = {{"p/q/r/s/ok.txt", "fine"}, {"bad", "x", 0, {}, 1234}};
    WriteFile(zipPath, deep.Build());
    ASSERT_TRUE(zip.OpenZip(zipPath));
    EXPECT_FALSE(zip.Extract(tmp.file("deep"), true, true, ZipCommit::Whole));
    EXPECT_FALSE(fs::exists(tmp.file("deep")));
}

// Streamed entries take CRC and sizes from the directory, which may list them in any order.
TEST_F(ZipReader, StreamedEntriesAndADirectoryOutOfFileOrderExtract) {
    RawZip z;
    z.entries = {{"a", "alpha"}, {"b", "beta", 0}, {"c", std::string(9000, 'c')}};
    z.entries[0].flags = z.entries[2].flags = 8;
    std::string bytes = z.Build();
    // The directory lists the last entry first.
    const std::size_t cd = bytes.find("PK\x01\x02"), record = 46 + 1;
    bytes.replace(cd, 3 * record,
                  bytes.substr(cd + 2 * record, record) + bytes.substr(cd, 2 * record));
    WriteFile(zipPath, bytes);
    EXPECT_TRUE(zip.OpenZip(zipPath) && zip.Extract(dest, true, true) && zip.TestEntries());
    EXPECT_EQ(Tree(dest), (Files{{"a", "alpha"}, {"b", "beta"}, {"c", std::string(9000, 'c')}}));
    EXPECT_TRUE(rec.errors.empty());
}

TEST_F(ZipReader, ArchiveLevelFailures) {
    WriteFile(tmp.file("plain.txt"), "no zip here");
    WriteFile(tmp.file("cut.zip"), std::string("PK\x05\x06\0\0\0\0\x01\0", 10));
    for (const char* name : {"cut.zip", "missing.zip", "plain.txt"})
        EXPECT_FALSE(zip.OpenZip(tmp.file(name)) && zip.Extract(dest, true, true)) << name;
    EXPECT_FALSE(zip.Extract(dest, true, true) || zip.TestEntries());
    RawZip z;
    z.entries = {{"f", "x"}};
    dest = tmp.file("no/such/folder");
    EXPECT_FALSE(ExtractRaw(z));
    EXPECT_EQ(rec.errors,
              (Errors{{21L, "The end record of " + tmp.file("cut.zip") + " is cut short"},
                      {10L, "The file " + tmp.file("missing.zip") + " doesn't exist"},
                      {2L, "The file " + tmp.file("plain.txt") + " is not a Zip file"},
                      {3L, "There is no Zip File Open"},
                      {3L, "There is no Zip File Open"},
                      {13L, "Can't create the folder " + dest}}));
}

// Each all-ones 32-bit size or offset comes from the Zip64 field, in order; one archive lies
// past 4 GiB (sparse), one claims 4 GiB more than it holds.
TEST_F(ZipReader, Zip64FieldsStandForTheMarkedOnes) {
    const std::string text(3000, 't');
    constexpr long long kOnes = 0xFFFFFFFF, kPast4G = 0x100000010;
    const auto zip64 = [](std::uint64_t a, long long b = -1) {
        return U16(1) + U16(b < 0 ? 8 : 16) + Le(a, 8) + (b < 0 ? "" : Le(b, 8));
    };
    const auto packed = static_cast<long long>(RawDeflate(text).size());
    const std::tuple<long long, long long, long long, std::string, long> cases[] = {
        {kOnes, kOnes, -1, zip64(3000, packed), 0},
        {-1, kOnes, -1, zip64(packed), 0},
        {kOnes, -1, kOnes, zip64(3000, kPast4G), 0},
        {kOnes, -1, -1, zip64(0x100000000 + 3000), kZipErrSizeMismatch},
        {kOnes, kOnes, -1, zip64(3000), kZipErrDamaged}};
    for (const auto& [size, compSize, offset, extra, error] : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::tuple(size, compSize, offset, extra.size())));
        RawZip z;
        z.zip64 = true;
        z.base = offset == kOnes ? kPast4G : 0;
        z.entries = {{"f.txt", text, 8, {}, -1, size, offset}};
        z.entries[0].compSize = compSize;
        z.entries[0].extra = extra;
        std::ofstream(zipPath, std::ios::binary).seekp(static_cast<std::streamoff>(z.base))
            << z.Build();
        rec.errors.clear();
        fs::remove_all(dest);
        if (zip.OpenZip(zipPath)) zip.Extract(dest, true, true);
        EXPECT_EQ(rec.Numbers(), error ? Longs{error} : Longs{});
        EXPECT_EQ(Tree(dest), (error ? Files{} : Files{{"f.txt", text}}));
    }
}

// The UTF-8 flag, else a matching Unicode Path field, else UTF-8, else code page 437.
TEST_F(ZipReader, NamesAreDecodedToUtf8) {
    const auto unicodePath = [](const std::string& raw, const std::string& name) {
        return U16(0x7075) + U16(5 + name.size()) + '\x01' + U32(Crc(raw)) + name;
    };
    const std::tuple<std::string, std::uint16_t, std::string, std::string> cases[] = {
        {"Grüße.txt", 0, "", "Grüße.txt"},
        {"a.txt", 0x800, unicodePath("a.txt", "b.txt"), "a.txt"},
        {"\x94.txt", 0, unicodePath("\x94.txt", "ö-unicode.txt"), "ö-unicode.txt"},
        {"\x94.txt", 0, unicodePath("other", "stale.txt"), "ö.txt"},
        {"\x88\xea\x95\x5c/\x95\x5c.txt", 0, "", "êΩò＼/ò＼.txt"},
        {"\xE3\x81\x81\\x.txt", 0, "", "ぁ/x.txt"},
        // The first three- and four-byte code points and the last one are UTF-8 still.
        {"\xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", 0, "", "\u0800\U00010000\U0010FFFF"}};
    RawZip z;
    Files expected;
    for (const auto& [raw, flags, extra, decoded] : cases) {
        z.entries.emplace_back(raw, decoded);
        z.entries.back().flags = flags;
        z.entries.back().extra = extra;
        expected[decoded] = decoded;
    }
    EXPECT_TRUE(ExtractRaw(z));
    EXPECT_EQ(Tree(dest), expected);
    EXPECT_TRUE(rec.errors.empty());
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
    // The first lies in a folder the extraction creates: the umask alone decides its mode.
    const auto name = [](std::size_t i) { return (i == 0 ? "sub/f" : "f") + std::to_string(i); };
    RawZip z;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        z.entries.emplace_back(name(i), "x");
        z.entries.back().madeBy = cases[i].madeBy;
        z.entries.back().external = cases[i].mode << 16;
    }
    EXPECT_TRUE(ExtractRaw(z));
    for (std::size_t i = 0; i <= std::size(cases); ++i) {
        struct stat st {};
        const std::string path = dest + "/" + (i < std::size(cases) ? name(i) : "sub");
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, i < std::size(cases) ? cases[i].expected : 0755) << path;
    }
    ::umask(mask);
}
#endif

// A sandbox of the archive and the destination: anything else was written outside.
class ZipHostile : public ZipReader {
  protected:
    bool Extract(const std::string& bytes, bool preserve = true,
                 std::set<std::string> allowed = {}) {
        WriteFile(zipPath, bytes);
        rec = {};
        const bool ok = zip.OpenZip(zipPath) && zip.Extract(dest, preserve, true);
        ExpectNothingOutside(std::move(allowed));
        return ok;
    }
    void ExpectNothingOutside(std::set<std::string> allowed = {}) {
        allowed.insert({"a.zip", "out"});
        for (const auto& e : fs::directory_iterator(tmp.path()))
            EXPECT_EQ(allowed.count(e.path().filename().string()), 1u) << "written: " << e.path();
        if (!fs::exists(dest)) return;
        for (const auto& e : fs::recursive_directory_iterator(dest))
            EXPECT_NE(e.path().filename().string().rfind(".~tv", 0), 0u) << "left: " << e.path();
    }
};

class UnsafeNames : public ZipHostile, public ::testing::WithParamInterface<std::string> {};

TEST_P(UnsafeNames, AreRefusedAndTheRestIsExtracted) {
    const std::string name = GetParam() == "ABSOLUTE" ? tmp.file("evil") : GetParam();
    for (bool preserve : {true, false}) {
        RawZip z;
        z.entries = {{name, "pwned"}, {"good.txt", "fine"}};
        EXPECT_TRUE(Extract(z.Build(), preserve));
        ASSERT_EQ(rec.Numbers(), Longs{kZipErrUnsafeName});
        EXPECT_NE(rec.errors[0].second.find("leads outside " + dest), npos);
        EXPECT_EQ(Tree(dest), (Files{{"good.txt", "fine"}}));
    }
}

INSTANTIATE_TEST_SUITE_P(Traversal, UnsafeNames,
                         ::testing::Values("../evil", "a/../../evil", "..\\evil", "..", "ABSOLUTE",
                                           "/evil", "\\evil", "C:evil", "c:\\evil", "C:", "dir/",
                                           ".", "./.", std::string("nul\0byte", 8)));

TEST_F(ZipHostile, LinksInsideTheDestinationAreNotWrittenThrough) {
    fs::create_directories(dest);
    fs::create_directories(tmp.file("outside"));
    WriteFile(tmp.file("target"), "original");
    fs::create_directory_symlink(tmp.file("outside"), dest + "/link");
    fs::create_symlink(tmp.file("target"), dest + "/file-link");
    RawZip z;
    z.entries = {{"link/evil", "pwned"}, {"link\\deeper\\evil", "pwned"}, {"file-link", "new"}};
    EXPECT_TRUE(Extract(z.Build(), true, {"outside", "target"}));
    EXPECT_EQ(rec.Numbers(), (Longs{kZipErrUnsafeName, kZipErrUnsafeName}));
    EXPECT_TRUE(fs::is_empty(tmp.file("outside")));
    EXPECT_EQ(ReadFile(tmp.file("target")), "original");
    EXPECT_FALSE(fs::is_symlink(dest + "/file-link"));  // replaced, not followed
    EXPECT_EQ(ReadFile(dest + "/file-link"), "new");
}

TEST_F(ZipHostile, BombClaimingOneKilobyteStopsAtItsDeclaredSize) {
    RawZip z;
    z.entries = {{"bomb.bin", "", 8, RawDeflate(std::string(1 << 20, '\0'), 1024), 0, 1024},
                 {"good.txt", "fine"}};
    WriteFile(zipPath, z.Build());
    // At the refusal the temporary file is at most one inflate buffer past the declared size.
    std::uintmax_t written = 0;
    zip.ZipError = [&](long n, const std::string& d) {
        rec.errors.emplace_back(n, d);
        for (const auto& e : fs::recursive_directory_iterator(dest))
            if (e.is_regular_file()) written = std::max(written, e.file_size());
    };
    EXPECT_TRUE(zip.OpenZip(zipPath) && zip.Extract(dest, true, true));
    EXPECT_EQ(rec.Numbers(), Longs{kZipErrSizeMismatch});
    EXPECT_LE(written, 1024u + 256u * 1024u) << "extraction ran past the declared size";
    EXPECT_EQ(Tree(dest), (Files{{"good.txt", "fine"}}));
    ExpectNothingOutside();

#ifndef _WIN32
    // The command-line tool on the same archive: bounded peak memory, by /usr/bin/time.
    const std::string tool = std::string(TALVANE_BIN_DIR) + "/talvane-zip", rss = tmp.file("rss");
    TALVANE_REQUIRE(Exists(tool), "talvane-zip not built");
    fs::remove_all(dest);
    EXPECT_EQ(RunProgram({"/usr/bin/time", "-f", "%M", "-o", rss, tool, "x", zipPath, dest}), 1);
    // The last line holds the figure (a line about the exit status may come first).
    const std::string text = ReadFile(rss);
    const long peakKb = std::atol(text.c_str() + text.find_last_of('\n', text.size() - 2) + 1);
    EXPECT_TRUE(peakKb > 0 && peakKb < 64 * 1024) << "peak RSS " << peakKb << " KB";
    EXPECT_FALSE(fs::exists(dest + "/bomb.bin"));
#endif
}

// Absurd sizes are refused before inflating; a damaged central directory is reported.
TEST_F(ZipHostile, DamagedArchivesAreReported) {
    RawZip sizes, three;
    sizes.entries = {{"huge-stored", "tiny", 0, {}, -1, 0x7FFFFFFF},
                     {"huge-deflated", "tiny", 8, {}, -1, 0xFFFFFFFF},
                     {"good.txt", "fine"}};
    sizes.entries[0].compSize = 0x7FFFFFFF;
    three.entries = {{"first", "1"}, {"second", "2"}, {"third", "3"}};
    std::string renamed = three.Build();  // the local header names another entry
    renamed[30] = 'X';
    std::string spliced = three.Build();  // another version's entry, true to its own header
    spliced[35] = '9';
    spliced.replace(14, 4, U32(Crc("9")));
    std::string badSignature = three.Build();
    badSignature[badSignature.find("PK\x01\x02", badSignature.find("PK\x01\x02") + 4) + 3] = 'X';
    three.totalOverride = 60000;
    const std::tuple<std::string, bool, Longs, std::size_t, std::string> cases[] = {
        {sizes.Build(), true, {kZipErrDamaged, kZipErrSizeMismatch}, 1, "possible zip bomb"},
        {badSignature, false, {kZipErrDamaged}, 1, ""},
        {renamed, true, {kZipErrDamaged}, 2, "local header of " + dest + "/first in"},
        {spliced, true, {kZipErrDamaged}, 2, "local header of " + dest + "/first in"},
        {three.Build(), false, {kZipErrDamaged}, 3, ""}};
    for (const auto& [bytes, ok, numbers, files, says] : cases) {
        fs::remove_all(dest);
        EXPECT_EQ(Extract(bytes), ok);
        ASSERT_EQ(rec.Numbers(), numbers);
        EXPECT_NE(rec.errors.back().second.find(says), npos);
        EXPECT_EQ(Tree(dest).size(), files);
    }
}

// The unpacked-size budget (1032 times the archive's size) ends exactly at its limit.
TEST_F(ZipHostile, TheSizeBudgetEndsExactlyAtItsLimit) {
    RawZip z;
    z.entries = {{"edge", "tiny", 8}};
    const long long limit = 1032 * static_cast<long long>(z.Build().size());
    for (const long long over : {0, 1}) {
        z.entries[0].size = limit + over;
        fs::remove_all(dest);
        Extract(z.Build());
        const bool refused =
            !rec.errors.empty() && rec.errors.back().second.find("possible zip bomb") != npos;
        EXPECT_EQ(refused, over == 1) << over;
    }
}

TEST_F(ZipHostile, TruncatedArchivesNeverCrashOrLeaveHalfFiles) {
    std::string big(40000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
    RawZip z;
    z.entries = {{"a/one.txt", "first file"}, {"b/big.bin", big}, {"c.txt", "last", 0}};
    z.comment = "comment";
    const std::string full = z.Build();
    const Files whole{{"a/one.txt", "first file"}, {"b/big.bin", big}, {"c.txt", "last"}};
    for (std::size_t len = 0; len < full.size(); len += 97) {
        SCOPED_TRACE("length " + std::to_string(len));
        fs::remove_all(dest);
        Extract(full.substr(0, len));
        if (!fs::exists(dest)) continue;
        for (const auto& [name, content] : Tree(dest))
            EXPECT_TRUE(whole.count(name) && whole.at(name) == content) << name;
    }
}

// Entries sharing data (2,000 records on one entry, one inside another, one byte into the
// next header) are refused before 10 MB is written.
TEST_F(ZipHostile, OverlappingEntriesRefuseTheArchiveBeforeWriting) {
    const std::string mib(1 << 20, '\0'), packed = RawDeflate(mib);
    const auto alpha = RawDeflate("alpha").size();
    RawZip copies, inner, quoting, local, streamed, toEnd;
    local.entries = streamed.entries = toEnd.entries = {{"first", "alpha"}, {"next", "beta"}};
    std::string localLie = local.Build();
    localLie.replace(18, 4, U32(alpha + 1));  // the local header alone says one byte more
    streamed.entries[0].flags = 8;
    streamed.entries[0].compSize = static_cast<long long>(alpha) + 16 + 1;
    toEnd.entries[0].flags = 8;  // its data runs exactly to the end of the file
    toEnd.entries[0].compSize = static_cast<long long>(toEnd.Build().size()) - 30 - 5;
    for (int i = 0; i < 2000; ++i)
        copies.entries.emplace_back("copy" + std::to_string(i), "", 8, packed, Crc(mib), 1 << 20,
                                    0);
    inner.entries = {{"inner.bin", mib}};
    const std::string innerZip = inner.Build();
    quoting.entries = {{"outer.bin", innerZip.substr(0, innerZip.size() - 22 - 46 - 9), 0},
                       {"inner.bin", mib, 8, {}, -1, -1, 30 + 9}};
    const std::pair<std::string, std::string> cases[] = {{copies.Build(), "copy"},
                                                         {quoting.Build(), "inner.bin"},
                                                         {localLie, "next"},
                                                         {streamed.Build(), "next"},
                                                         {toEnd.Build(), "next"}};
    for (const auto& [archive, named] : cases) {
        SCOPED_TRACE(named);
        fs::remove_all(dest);
        EXPECT_FALSE(Extract(archive));
        ASSERT_EQ(rec.Numbers(), Longs{kZipErrOverlap});
        EXPECT_NE(rec.errors[0].second.find("the entry " + named), npos) << rec.errors[0].second;
        EXPECT_NE(rec.errors[0].second.find("overlapped components"), npos);
        std::uintmax_t written = 0;
        for (const auto& [name, content] : Tree(dest)) written += content.size();
        EXPECT_LT(written, 10u << 20);
    }
}

}  // namespace
}  // namespace talvane
