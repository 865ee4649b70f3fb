// Cross-checks against real tools: archives made by Python's zipfile, Info-ZIP and
// 7-Zip extract to the same trees as those tools give; archives made by ZipClass pass
// their tests. Also the writer's field values and the talvane-zip command line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <ctime>
#include <memory>

#include "support/temp_dir.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"
#include "zip_test_util.h"

namespace talvane {
namespace {

using namespace ziptest;

// A tree of text, incompressible data, nested folders, an empty file and a script.
constexpr const char* kMakeTree = R"(
import os, random, sys
root = sys.argv[1]
rnd = random.Random(7)
for d in range(4):
    for s in range(3):
        folder = os.path.join(root, 'tree', 'd%d' % d, 'sub%d' % s)
        os.makedirs(folder, exist_ok=True)
        for f in range(4):
            with open(os.path.join(folder, 'text%d.txt' % f), 'w') as h:
                h.write(''.join('line %d of %d/%d/%d\n' % (i, d, s, f) for i in range(rnd.randint(1, 3000))))
            with open(os.path.join(folder, 'blob%d.bin' % f), 'wb') as h:
                h.write(rnd.randbytes(rnd.randint(1, 70000)))
open(os.path.join(root, 'tree', 'empty.txt'), 'w').close()
with open(os.path.join(root, 'tree', 'run.sh'), 'w') as h:
    h.write('#!/bin/sh\necho hi\n')
os.chmod(os.path.join(root, 'tree', 'run.sh'), 0o755)
)";

constexpr const char* kPythonZip = R"(
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED) as z:
    for base, dirs, files in os.walk('tree'):
        z.write(base)
        for f in sorted(files):
            z.write(os.path.join(base, f))
)";

constexpr const char* kPythonExtract = R"(
import sys, zipfile
zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])
)";

class ZipInterop : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<testing::TempDir>();
        ASSERT_EQ(RunProgram({kPython, "-c", kMakeTree, dir->path()}), 0);
    }
    static void TearDownTestSuite() { dir.reset(); }
    static std::string At(const std::string& rel) { return dir->file(rel); }

    // Extracts with ZipExtractionClass; no ZipError may be raised.
    static void OurExtract(const std::string& archive, const std::string& out) {
        ZipExtractionClass zip;
        Recorder rec;
        rec.Attach(zip);
        ASSERT_TRUE(zip.OpenZip(archive));
        EXPECT_TRUE(zip.Extract(out, true, true));
        EXPECT_TRUE(rec.errors.empty()) << rec.errors.front().second;
    }
    static std::unique_ptr<testing::TempDir> dir;
};
std::unique_ptr<testing::TempDir> ZipInterop::dir;

TEST_F(ZipInterop, ArchivesFromOtherToolsExtractIdentically) {
    struct Maker {
        std::string name;
        std::vector<std::string> make;
        std::vector<std::string> reference;  // extracts ARCHIVE into REF
    };
    const std::string py = kPython;
    const std::vector<Maker> makers = {
        {"py-stored",
         {py, "-c", kPythonZip, "py-stored.zip"},
         {py, "-c", kPythonExtract, "py-stored.zip", "ref-py-stored"}},
        {"infozip",
         {"zip", "-qr", "infozip.zip", "tree"},
         {"unzip", "-qo", "infozip.zip", "-d", "ref-infozip"}},
        {"7zip",
         {"7zz", "a", "-tzip", "-bd", "7zip.zip", "tree"},
         {"7zz", "x", "-bd", "-oref-7zip", "7zip.zip"}},
    };
    for (const auto& m : makers) {
        SCOPED_TRACE(m.name);
        ASSERT_EQ(RunProgram(m.make, dir->path()), 0);
        ASSERT_EQ(RunProgram(m.reference, dir->path()), 0);
        OurExtract(At(m.name + ".zip"), At("ours-" + m.name));
        const auto ours = Tree(At("ours-" + m.name), true);
        EXPECT_EQ(ours.size(), 4u * 3u * 8u + 1u);
        EXPECT_TRUE(ours == Tree(At("ref-" + m.name), true));
    }
    struct stat st {};
    ASSERT_EQ(::stat(At("ours-infozip/tree/run.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0111u);
}

// Entries are inflated by several workers at once: 5,000 of them (stored, whole and
// streamed, one name twice) must give exactly the tree Python's zipfile gives.
TEST_F(ZipInterop, FiveThousandEntriesMatchPythonZipfile) {
    constexpr const char* kMany = R"(
import random, sys, warnings, zipfile
warnings.simplefilter('ignore')
rnd = random.Random(5)
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for i in range(5000):
        n = (5 << 20) + i if i % 1000 == 1 else rnd.randint(3, 9000)
        data = rnd.randbytes(n // 3) + b'talvane ' * (n // 12)
        z.writestr('m%d/s%d/f%04d' % (i % 7, i % 3, i), data, 8 if i % 5 else 0)
    z.writestr('m0/s0/f0000', b'the later entry wins')
zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])
)";
    ASSERT_EQ(RunProgram({kPython, "-c", kMany, At("many.zip"), At("ref-many")}), 0);
    OurExtract(At("many.zip"), At("ours-many"));
    const auto ours = Tree(At("ours-many"));
    EXPECT_EQ(ours.size(), 5000u);
    EXPECT_TRUE(ours == Tree(At("ref-many")));
}

// Password-protected entries cannot be read: a stored one would otherwise land on disk
// scrambled. They are refused one by one; the plain entries beside them are extracted.
TEST_F(ZipInterop, EncryptedEntriesAreRefusedNotWrittenScrambled) {
    const std::string plain = "tree/d0/sub0/text0.txt";
    const std::string secret = "tree/d0/sub0/text1.txt";
    ASSERT_EQ(RunProgram({"7zz", "a", "-tzip", "-bd", "-mx0", "enc.zip", plain}, dir->path()), 0);
    ASSERT_EQ(RunProgram({"7zz", "a", "-tzip", "-bd", "-mx0", "-psecret", "-mem=ZipCrypto",
                          "enc.zip", secret}, dir->path()), 0);
    ZipExtractionClass zip;
    Recorder rec;
    rec.Attach(zip);
    ASSERT_TRUE(zip.OpenZip(At("enc.zip")));
    EXPECT_TRUE(zip.Extract(At("enc-out"), true, true));
    EXPECT_TRUE(zip.TestEntries());  // testing reports it the same way
    EXPECT_EQ(rec.Numbers(), (std::vector<long>{kZipErrEncrypted, kZipErrEncrypted}));
    EXPECT_EQ(Tree(At("enc-out")),
              (std::map<std::string, std::string>{{plain, ReadFile(At(plain))}}));
}

TEST_F(ZipInterop, ZipClassArchivesPassOtherToolsWithCommentAndCrcs) {
    ZipClass zip;
    zip.Comment("Tekmo package build 42");
    for (const auto& [rel, content] : Tree(At("tree"))) {
        ASSERT_TRUE(zip.AddFile(At("tree/" + rel), rel)) << rel;
    }
    ASSERT_TRUE(zip.AddFile(At("tree/d0/sub0/text0.txt"), "", "entry comment"));
    ASSERT_TRUE(zip.AddFile(At("tree/d1/sub0/text0.txt")));  // same stored name again
    ASSERT_TRUE(zip.WriteZip(At("ours.zip")));
    EXPECT_EQ(RunProgram({"unzip", "-tq", At("ours.zip")}), 0);
    EXPECT_EQ(RunProgram({"7zz", "t", "-bd", At("ours.zip")}), 0);
    constexpr const char* kCheck = R"(
import sys, zipfile, zlib
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
assert z.comment == b'Tekmo package build 42', z.comment
names = [i.filename for i in z.infolist()]
assert names.count('text0.txt') == 2, names
for i in z.infolist():
    assert zlib.crc32(z.read(i)) == i.CRC
    assert i.compress_type == (8 if i.file_size else 0)
)";
    EXPECT_EQ(RunProgram({kPython, "-c", kCheck, At("ours.zip")}, {}, At("check.log")), 0)
        << ReadFile(At("check.log"));
    EXPECT_EQ(zip.FileCount(), 4 * 3 * 8 + 2 + 2);

    OurExtract(At("ours.zip"), At("ours-back"));
    auto back = Tree(At("ours-back"), true);
    EXPECT_EQ(back.erase("text0.txt"), 1u);
    auto tree = Tree(At("tree"), true);
    EXPECT_TRUE(back == tree);
}

TEST(ZipWriter, DosTimeAndAnArchiveReplacedOnlyWhenAsked) {
    testing::TempDir tmp;
    WriteFile(tmp.file("f.txt"), std::string(3000, 'a'));
    std::tm when{31, 45, 13, 15, 5, 2021 - 1900, 0, 0, -1, 0, nullptr};
    const utimbuf times{std::mktime(&when), std::mktime(&when)};
    ASSERT_EQ(::utime(tmp.file("f.txt").c_str(), &times), 0);
    ZipClass zip;
    EXPECT_FALSE(zip.AddFile(tmp.file("missing")));
    ASSERT_TRUE(zip.AddFile(tmp.file("f.txt")));
    ASSERT_TRUE(zip.WriteZip(tmp.file("w.zip")));
    WriteFile(tmp.file("keep.zip"), "old");
    EXPECT_FALSE(zip.WriteZip(tmp.file("keep.zip")));
    EXPECT_EQ(ReadFile(tmp.file("keep.zip")), "old");
    EXPECT_TRUE(zip.WriteZip(tmp.file("keep.zip"), true));
    const std::string b = ReadFile(tmp.file("keep.zip"));
    EXPECT_EQ(b, ReadFile(tmp.file("w.zip")));
    const auto lh = zipfmt::LocalHeader::Parse(reinterpret_cast<const unsigned char*>(b.data()));
    EXPECT_EQ(lh.modTime, 0x6DAF);  // 13:45:31
    EXPECT_EQ(lh.modDate, 0x52CF);  // 2021-06-15
}

class ZipTool : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!testing::Exists(tool)) GTEST_SKIP() << "talvane-zip not built";
    }
    int Tool(const std::vector<std::string>& args, const std::string& out = "/dev/null") {
        std::vector<std::string> argv{tool};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, tmp.path(), out);
    }
    std::string tool = std::string(TALVANE_BIN_DIR) + "/talvane-zip";
    testing::TempDir tmp;
};

TEST_F(ZipTool, CreatesListsTestsAndExtractsWithExitCodesAndClearMessages) {
    const std::string log = tmp.file("log.txt");
    WriteFile(tmp.file("pkg/bin/Tekmo"), "#!/bin/sh\n");
    WriteFile(tmp.file("pkg/readme.txt"), "hello");
    WriteFile(tmp.file("pkg/marker.txt"), "");
    ::chmod(tmp.file("pkg/bin/Tekmo").c_str(), 04775);
    fs::create_directory_symlink("../pkg", tmp.file("pkg/linked"));
    // A folder link is skipped (never followed in circles), an empty file flagged,
    // a file named twice stored once.
    ASSERT_EQ(Tool({"c", "p.zip", "pkg", "pkg/readme.txt"}, log), 0);
    EXPECT_NE(ReadFile(log).find("warning: skipped pkg/linked"), std::string::npos);
    EXPECT_NE(ReadFile(log).find("warning: pkg/marker.txt is empty"), std::string::npos);
    ASSERT_EQ(Tool({"l", "p.zip"}, log), 0);
    EXPECT_EQ(ReadFile(log),
              "        10  pkg/bin/Tekmo\n         0  pkg/marker.txt\n         5  pkg/readme.txt\n");
    EXPECT_EQ(Tool({"t", "p.zip"}), 0);
    ASSERT_EQ(Tool({"x", "p.zip", "deep/dest"}), 0);
    struct stat st {};
    ASSERT_EQ(::stat(tmp.file("deep/dest/pkg/bin/Tekmo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);  // recorded without the set-id bit
    EXPECT_EQ(ReadFile(tmp.file("deep/dest/pkg/readme.txt")), "hello");

    RawZip bad;
    bad.entries = {{"x", "data"}};
    bad.entries[0].crc = 5;
    WriteFile(tmp.file("bad.zip"), bad.Build());
    fs::create_directory(tmp.file("nothing"));
    // A file beyond 32-bit sizes is refused up front, by name (sparse: no disk used).
    WriteFile(tmp.file("big/huge.bin"), "");
    ASSERT_EQ(::truncate(tmp.file("big/huge.bin").c_str(), 0x100000000LL), 0);
    const struct {
        std::vector<std::string> args;
        int code;
        const char* says;
    } cases[] = {{{"x", "bad.zip", "b"}, 1, ""},
                 {{"q", "p.zip"}, 2, ""},
                 {{"x", "typo.zip", "fresh"}, 2, "typo.zip doesn't exist"},
                 {{"x", "p.zip", "pkg/marker.txt"}, 2, "pkg/marker.txt exists and is not a folder"},
                 {{"c", "n.zip", "nothing"}, 2, "nothing to add"},
                 {{"c", "b.zip", "big"}, 2, "big/huge.bin is larger than 4 GiB"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Tool(c.args, log), c.code) << c.args[1];
        EXPECT_NE(ReadFile(log).find(c.says), std::string::npos) << ReadFile(log);
    }
    for (const char* absent : {"fresh", "n.zip", "b.zip"}) EXPECT_FALSE(fs::exists(tmp.file(absent)));
}

}  // namespace
}  // namespace talvane
