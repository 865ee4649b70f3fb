// Hostile and damaged archives: nothing lands outside the destination, nothing
// half-written stays behind, memory stays small.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <sstream>

#include "support/temp_dir.h"
#include "zip/zip_reader.h"
#include "zip_test_util.h"

namespace talvane {
namespace {

using namespace ziptest;

// A sandbox holding only the archive and the destination; anything else found in
// it afterwards was written outside the destination.
class ZipHostile : public ::testing::Test {
  protected:
    testing::TempDir tmp;
    std::string zipPath = tmp.file("a.zip");
    std::string dest = tmp.file("out");
    Recorder rec;

    bool Extract(const std::string& bytes, bool preserve = true, bool overwrite = true) {
        WriteFile(zipPath, bytes);
        ZipExtractionClass zip;
        rec.Attach(zip);
        return zip.OpenZip(zipPath) && zip.Extract(dest, preserve, overwrite);
    }
    void ExpectNothingOutside(const std::set<std::string>& allowed = {}) {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(tmp.path()))
            names.insert(e.path().filename().string());
        std::set<std::string> expected{"a.zip", "out"};
        expected.insert(allowed.begin(), allowed.end());
        EXPECT_TRUE(std::includes(expected.begin(), expected.end(), names.begin(), names.end()))
            << "unexpected entries beside the destination";
        if (!fs::exists(dest)) return;
        for (const auto& e : fs::recursive_directory_iterator(dest)) {
            EXPECT_EQ(e.path().filename().string().rfind(".~tvz", 0), std::string::npos)
                << "temporary file left: " << e.path();
        }
    }
};

class UnsafeNames : public ZipHostile, public ::testing::WithParamInterface<std::string> {};

TEST_P(UnsafeNames, AreRefusedAndTheRestIsExtracted) {
    std::string name = GetParam();
    if (name == "ABSOLUTE") name = tmp.file("evil");
    for (bool preserve : {true, false}) {
        rec = {};
        RawZip z;
        z.entries = {{name, "pwned"}, {"good.txt", "fine"}};
        EXPECT_TRUE(Extract(z.Build(), preserve));
        ASSERT_EQ(rec.errors.size(), 1u);
        EXPECT_EQ(rec.errors[0].first, kZipErrUnsafeName);
        EXPECT_NE(rec.errors[0].second.find("leads outside " + dest), std::string::npos);
        EXPECT_EQ(ReadFile(dest + "/good.txt"), "fine");
        EXPECT_EQ(Tree(dest).size(), 1u);
        ExpectNothingOutside();
    }
}

INSTANTIATE_TEST_SUITE_P(Traversal, UnsafeNames,
                         ::testing::Values("../evil", "a/../../evil", "..\\evil", "a\\..\\..\\evil",
                                           "./../evil", "..", "ABSOLUTE", "/evil", "\\evil",
                                           "C:evil", "c:\\evil", "d:/evil", "dir/",
                                           std::string("nul\0byte", 8)));

TEST_F(ZipHostile, LinksInsideTheDestinationAreNotWrittenThrough) {
    fs::create_directories(dest);
    fs::create_directories(tmp.file("outside"));
    WriteFile(tmp.file("target"), "original");
    fs::create_directory_symlink(tmp.file("outside"), dest + "/link");
    fs::create_symlink(tmp.file("target"), dest + "/file-link");
    RawZip z;
    z.entries = {{"link/evil", "pwned"}, {"link\\deeper\\evil", "pwned"}, {"file-link", "new"}};
    EXPECT_TRUE(Extract(z.Build()));
    EXPECT_EQ(rec.Numbers(), (std::vector<long>{kZipErrUnsafeName, kZipErrUnsafeName}));
    EXPECT_TRUE(fs::is_empty(tmp.file("outside")));
    EXPECT_EQ(ReadFile(tmp.file("target")), "original");
    EXPECT_FALSE(fs::is_symlink(dest + "/file-link"));  // replaced, not followed
    EXPECT_EQ(ReadFile(dest + "/file-link"), "new");
    ExpectNothingOutside({"outside", "target"});
}

// Raw deflate of `bytes` zeros, made without holding them in memory.
std::string DeflatedZeros(unsigned long long bytes) {
    z_stream zs{};
    deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    const std::string zeros(1 << 20, '\0');
    std::string out, chunk(1 << 16, '\0');
    for (unsigned long long left = bytes;;) {
        const auto n = static_cast<uInt>(std::min<unsigned long long>(left, zeros.size()));
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        zs.avail_in = n;
        left -= n;
        int rc;
        do {
            zs.next_out = reinterpret_cast<Bytef*>(chunk.data());
            zs.avail_out = static_cast<uInt>(chunk.size());
            rc = deflate(&zs, left ? Z_NO_FLUSH : Z_FINISH);
            out.append(chunk.data(), chunk.size() - zs.avail_out);
        } while (zs.avail_out == 0);
        if (rc == Z_STREAM_END) break;
    }
    deflateEnd(&zs);
    return out;
}

TEST_F(ZipHostile, BombClaimingOneKilobyteStopsAtItsDeclaredSize) {
    RawZip z;
    z.entries = {{"bomb.bin", "", 8, DeflatedZeros(1ull << 30)}, {"good.txt", "fine"}};
    z.entries[0].size = 1024;
    z.entries[0].crc = 0;
    WriteFile(zipPath, z.Build());
    ZipExtractionClass zip;
    rec.Attach(zip);
    // When the refusal comes, the half-written temporary file shows how far it went:
    // at most one inflate buffer past the declared size, not the whole gigabyte.
    std::uintmax_t written = 0;
    zip.ZipError = [&](long n, const std::string& d) {
        rec.errors.emplace_back(n, d);
        for (const auto& e : fs::recursive_directory_iterator(dest))
            if (e.is_regular_file()) written = std::max(written, e.file_size());
    };
    EXPECT_TRUE(zip.OpenZip(zipPath) && zip.Extract(dest, true, true));
    EXPECT_EQ(rec.Numbers(), (std::vector<long>{kZipErrSizeMismatch}));
    EXPECT_LE(written, 1024u + 256u * 1024u) << "extraction ran past the declared size";
    EXPECT_FALSE(fs::exists(dest + "/bomb.bin"));
    EXPECT_EQ(ReadFile(dest + "/good.txt"), "fine");
    ExpectNothingOutside();

    // The command-line tool on the same archive: bounded peak memory.
    const std::string tool = std::string(TALVANE_BIN_DIR) + "/talvane-zip";
    if (!Exists(tool)) GTEST_SKIP() << "talvane-zip not built";
    fs::remove_all(dest);
    // Measured by /usr/bin/time: a child spawned from this big test process would
    // inherit its peak until exec.
    const std::string rssFile = tmp.file("rss.txt");
    EXPECT_EQ(RunProgram({"/usr/bin/time", "-f", "%M", "-o", rssFile, tool, "x", zipPath, dest}), 1);
    // The last line holds the figure (a line about the exit status may come first).
    std::istringstream lines(ReadFile(rssFile));
    long peakKb = 0;
    for (std::string line; std::getline(lines, line);) peakKb = std::atol(line.c_str());
    EXPECT_GT(peakKb, 0);
    EXPECT_LT(peakKb, 64 * 1024) << "peak RSS " << peakKb << " KB";
    EXPECT_FALSE(fs::exists(dest + "/bomb.bin"));
}

TEST_F(ZipHostile, AbsurdDeclaredSizesAreReportedNotAllocated) {
    RawZip z;
    z.entries = {{"huge-stored", "tiny", 0}, {"huge-deflated", "tiny"}, {"good.txt", "fine"}};
    z.entries[0].size = z.entries[0].compSize = 0x7FFFFFFF;
    z.entries[1].size = 0xFFFFFFFF;
    EXPECT_TRUE(Extract(z.Build()));
    EXPECT_EQ(rec.Numbers(), (std::vector<long>{kZipErrDamaged, kZipErrSizeMismatch}));
    // 4 GiB out of a few bytes is refused before a byte is inflated.
    EXPECT_NE(rec.errors[1].second.find("possible zip bomb"), std::string::npos);
    EXPECT_EQ(Tree(dest).size(), 1u);
    ExpectNothingOutside();
}

TEST_F(ZipHostile, DamagedCentralDirectoryIsReportedNotReadOutOfStep) {
    RawZip z;
    z.entries = {{"first", "1"}, {"second", "2"}, {"third", "3"}};
    std::string bytes = z.Build();
    const auto second = bytes.find("PK\x01\x02", bytes.find("PK\x01\x02") + 4);
    bytes[second + 3] = 'X';
    EXPECT_FALSE(Extract(bytes));
    EXPECT_EQ(rec.Numbers(), (std::vector<long>{kZipErrDamaged}));
    EXPECT_EQ(Tree(dest).size(), 1u);

    // More entries declared than present.
    rec = {};
    fs::remove_all(dest);
    z.totalOverride = 60000;
    EXPECT_FALSE(Extract(z.Build()));
    EXPECT_EQ(rec.Numbers(), (std::vector<long>{kZipErrDamaged}));
    EXPECT_EQ(Tree(dest).size(), 3u);
    ExpectNothingOutside();
}

TEST_F(ZipHostile, TruncatedArchivesNeverCrashOrLeaveHalfFiles) {
    RawZip z;
    std::string big(40000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
    z.entries = {{"a/one.txt", "first file"}, {"b/big.bin", big}, {"c.txt", "last", 0}};
    z.comment = "comment";
    const std::string full = z.Build();
    for (std::size_t len = 0; len < full.size(); len += 97) {
        SCOPED_TRACE("length " + std::to_string(len));
        fs::remove_all(dest);
        rec = {};
        Extract(full.substr(0, len));
        ExpectNothingOutside();
        if (!fs::exists(dest)) continue;
        for (const auto& [name, content] : Tree(dest)) {
            EXPECT_TRUE(content == "first file" || content == big || content == "last") << name;
        }
    }
}

// Points central record i at offsetOf(i) (negative: left alone).
std::string Repoint(std::string zip, const std::function<long long(std::size_t)>& offsetOf) {
    auto* bytes = reinterpret_cast<unsigned char*>(zip.data());
    const auto end = zipfmt::EndRecord::Parse(bytes + zip.size() - 22);
    for (std::size_t i = 0, pos = end.centralOffset; i < end.entriesTotal; ++i) {
        if (offsetOf(i) >= 0)
            zipfmt::Put32(bytes + pos + 42, static_cast<std::uint32_t>(offsetOf(i)));
        pos += 46 + zipfmt::Get16(bytes + pos + 28) + zipfmt::Get16(bytes + pos + 30) +
               zipfmt::Get16(bytes + pos + 32);
    }
    return zip;
}

struct OverlapCase {
    const char* label;
    std::string archive;
    const char* named;  // the entry the refusal names
};

std::vector<OverlapCase> OverlapCases() {
    const std::string mib(1 << 20, '\0');
    const std::string packed = RawDeflate(mib);
    RawZip copies;
    for (int i = 0; i < 2000; ++i) {
        copies.entries.emplace_back("copy" + std::to_string(i) + ".bin", "", 8, packed);
        copies.entries.back().size = 1 << 20;
        copies.entries.back().crc = Crc(mib);
    }
    // A stored entry whose data quotes the next entry whole, header included.
    RawZip inner;
    inner.entries = {{"inner.bin", mib}};
    const std::string innerZip = inner.Build();
    RawZip quoting;
    quoting.entries = {{"outer.bin", innerZip.substr(0, innerZip.size() - 22 - 46 - 9), 0},
                       {"inner.bin", mib}};
    return {
        {"2000 records on one local entry", Repoint(copies.Build(), [](std::size_t) { return 0; }),
         "copy"},
        {"an entry inside another one's data",
         Repoint(quoting.Build(), [](std::size_t i) { return i ? 30 + 9 : -1; }), "inner.bin"},
    };
}

TEST_F(ZipHostile, OverlappingEntriesRefuseTheArchiveBeforeWriting) {
    for (const auto& c : OverlapCases()) {
        SCOPED_TRACE(c.label);
        fs::remove_all(dest);
        rec = {};
        EXPECT_FALSE(Extract(c.archive));
        ASSERT_EQ(rec.Numbers(), (std::vector<long>{kZipErrOverlap}));
        EXPECT_NE(rec.errors[0].second.find(std::string("the entry ") + c.named), std::string::npos)
            << rec.errors[0].second;
        EXPECT_NE(rec.errors[0].second.find("overlapped components"), std::string::npos);
        std::uintmax_t written = 0;
        for (const auto& e : fs::recursive_directory_iterator(dest))
            if (e.is_regular_file()) written += e.file_size();
        EXPECT_LT(written, 10u << 20);
        ExpectNothingOutside();
    }
}

TEST_F(ZipHostile, ManyOrdinaryEntriesStillExtract) {
    RawZip z;
    for (int i = 0; i < 5000; ++i)
        z.entries.emplace_back("d" + std::to_string(i % 50) + "/f" + std::to_string(i),
                               std::to_string(i), i % 2 ? 8 : 0);
    EXPECT_TRUE(Extract(z.Build()));
    EXPECT_TRUE(rec.errors.empty());
    const auto tree = Tree(dest);
    ASSERT_EQ(tree.size(), 5000u);
    EXPECT_EQ(tree.at("d7/f4957"), "4957");
}

}  // namespace
}  // namespace talvane
