// Cross-checks against real tools: archives made by Info-ZIP and 7-Zip extract to the
// tree they were made of, one made by Python's zipfile to the tree it gives; archives
// made by ZipClass pass their tests. Also the writer's field values and talvane-zip.
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
import itertools, os, random, sys
os.chdir(sys.argv[1])
rnd = random.Random(7)
for d, s, f in itertools.product(range(4), range(3), range(4)):
    folder = 'tree/d%d/sub%d/' % (d, s)
    os.makedirs(folder, exist_ok=True)
    open(folder + 'text%d.txt' % f, 'w').write(
        ''.join('line %d of %d/%d/%d\n' % (i, d, s, f) for i in range(rnd.randint(1, 3000))))
    open(folder + 'blob%d.bin' % f, 'wb').write(rnd.randbytes(rnd.randint(1, 70000)))
open('tree/empty.txt', 'w').close()
open('tree/run.sh', 'w').write('#!/bin/sh\necho hi\n')
os.chmod('tree/run.sh', 0o755)
)";

class ZipInterop : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<testing::TempDir>();
        ASSERT_EQ(RunProgram({kPython, "-c", kMakeTree, dir->path()}), 0);
    }
    static void TearDownTestSuite() { dir.reset(); }
    static std::string At(const std::string& rel) { return dir->file(rel); }

    // Extracts with ZipExtractionClass, then tests the archive: the error numbers raised.
    static std::vector<long> OurExtract(const std::string& archive, const std::string& out) {
        ZipExtractionClass zip;
        Recorder rec;
        rec.Attach(zip);
        EXPECT_TRUE(zip.OpenZip(archive) && zip.Extract(out, true, true) && zip.TestEntries());
        return rec.Numbers();
    }
    static std::unique_ptr<testing::TempDir> dir;
};
std::unique_ptr<testing::TempDir> ZipInterop::dir;

// Archives of the tree made by Info-ZIP and 7-Zip extract back to the tree.
TEST_F(ZipInterop, ArchivesFromOtherToolsExtractIdentically) {
    const auto tree = Tree(At("tree"), true);
    ASSERT_EQ(tree.size(), 4u * 3u * 8u + 1u);
    for (const auto& [name, make] : std::map<std::string, std::vector<std::string>>{
             {"infozip", {"zip", "-qr", "infozip.zip", "tree"}},
             {"7zip", {"7zz", "a", "-tzip", "-bd", "7zip.zip", "tree"}}}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(RunProgram(make, dir->path()), 0);
        EXPECT_EQ(OurExtract(At(name + ".zip"), At("ours-" + name)), std::vector<long>{});
        EXPECT_TRUE(Tree(At("ours-" + name + "/tree"), true) == tree);
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
    EXPECT_EQ(OurExtract(At("many.zip"), At("ours-many")), std::vector<long>{});
    const auto ours = Tree(At("ours-many"));
    EXPECT_TRUE(ours.size() == 5000u && ours == Tree(At("ref-many")));
}

// Password-protected entries cannot be read: a stored one would otherwise land on disk
// scrambled. They are refused one by one; the plain entries beside them are extracted.
TEST_F(ZipInterop, EncryptedEntriesAreRefusedNotWrittenScrambled) {
    const std::string plain = "tree/d0/sub0/text0.txt", secret = "tree/d0/sub0/text1.txt";
    ASSERT_EQ(RunProgram({"7zz", "a", "-tzip", "-bd", "-mx0", "enc.zip", plain}, dir->path()), 0);
    ASSERT_EQ(RunProgram({"7zz", "a", "-tzip", "-bd", "-mx0", "-psecret", "-mem=ZipCrypto",
                          "enc.zip", secret},
                         dir->path()),
              0);
    // Extracting, then testing, report it.
    EXPECT_EQ(OurExtract(At("enc.zip"), At("enc-out")),
              (std::vector<long>{kZipErrEncrypted, kZipErrEncrypted}));
    EXPECT_EQ(Tree(At("enc-out")),
              (std::map<std::string, std::string>{{plain, ReadFile(At(plain))}}));
}

TEST_F(ZipInterop, ZipClassArchivesPassOtherToolsWithCommentAndCrcs) {
    ZipClass zip;
    zip.Comment("Tekmo package build 42");
    for (const auto& [rel, content] : Tree(At("tree")))
        ASSERT_TRUE(zip.AddFile(At("tree/" + rel), rel)) << rel;
    ASSERT_TRUE(zip.AddFile(At("tree/d0/sub0/text0.txt"), "", "entry comment"));
    ASSERT_TRUE(zip.AddFile(At("tree/d1/sub0/text0.txt")));  // same stored name again
    ASSERT_TRUE(zip.WriteZip(At("ours.zip")));
    EXPECT_EQ(RunProgram({"unzip", "-tq", At("ours.zip")}), 0);
    EXPECT_EQ(RunProgram({"7zz", "t", "-bd", At("ours.zip")}), 0);
    constexpr const char* kCheck = R"(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
assert z.comment == b'Tekmo package build 42', z.comment
names = [i.filename for i in z.infolist()]
assert names.count('text0.txt') == 2, names
assert all(i.compress_type == (8 if i.file_size else 0) for i in z.infolist())
)";
    EXPECT_EQ(RunProgram({kPython, "-c", kCheck, At("ours.zip")}, {}, At("check.log")), 0)
        << ReadFile(At("check.log"));
    EXPECT_EQ(zip.FileCount(), 4 * 3 * 8 + 2 + 2);

    EXPECT_EQ(OurExtract(At("ours.zip"), At("ours-back")), std::vector<long>{});
    auto back = Tree(At("ours-back"), true);
    EXPECT_EQ(back.erase("text0.txt"), 1u);
    EXPECT_TRUE(back == Tree(At("tree"), true));
}

TEST(ZipWriter, DosTimeAndAnArchiveReplacedOnlyWhenAsked) {
    testing::TempDir tmp;
    WriteFile(tmp.file("f.txt"), std::string(3000, 'a'));
    std::tm when{31, 45, 13, 15, 5,      2021 - 1900,
                 0,  0,  -1, 0,  nullptr};  // local 2021-06-15 13:45:31
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
    EXPECT_EQ(ReadFile(tmp.file("keep.zip")), ReadFile(tmp.file("w.zip")));
    EXPECT_EQ(ReadFile(tmp.file("w.zip")).substr(10, 4),
              Le({{0x6DAF, 2}, {0x52CF, 2}}));  // DOS time
}

class ZipTool : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!testing::Exists(tool)) GTEST_SKIP() << "talvane-zip not built";
    }
    int Tool(std::vector<std::string> args, const std::string& out = "/dev/null") {
        args.insert(args.begin(), tool);
        return RunProgram(args, tmp.path(), out);
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
    for (const char* warning : {"skipped pkg/linked", "pkg/marker.txt is empty"})
        EXPECT_NE(ReadFile(log).find(std::string("warning: ") + warning), std::string::npos);
    ASSERT_EQ(Tool({"l", "p.zip"}, log), 0);
    EXPECT_EQ(
        ReadFile(log),
        "        10  pkg/bin/Tekmo\n         0  pkg/marker.txt\n         5  pkg/readme.txt\n");
    RawZip bad;
    bad.entries = {{"x", "data", 8, {}, 5}};
    WriteFile(tmp.file("bad.zip"), bad.Build());
    fs::create_directory(tmp.file("nothing"));
    // A file beyond 32-bit sizes is refused up front, by name (sparse: no disk used).
    WriteFile(tmp.file("big/huge.bin"), "");
    ASSERT_EQ(::truncate(tmp.file("big/huge.bin").c_str(), 0x100000000LL), 0);
    const struct {
        std::vector<std::string> args;
        int code;
        const char* says;
    } cases[] = {{{"t", "p.zip"}, 0, ""},
                 {{"x", "p.zip", "deep/dest"}, 0, ""},
                 {{"x", "bad.zip", "b"}, 1, ""},
                 {{"q", "p.zip"}, 2, ""},
                 {{"x", "typo.zip", "fresh"}, 2, "typo.zip doesn't exist"},
                 {{"x", "p.zip", "pkg/marker.txt"}, 2, "pkg/marker.txt exists and is not a folder"},
                 {{"c", "n.zip", "nothing"}, 2, "nothing to add"},
                 {{"c", "b.zip", "big"}, 2, "big/huge.bin is larger than 4 GiB"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Tool(c.args, log), c.code) << c.args[1];
        EXPECT_NE(ReadFile(log).find(c.says), std::string::npos) << ReadFile(log);
    }
    for (const char* absent : {"fresh", "n.zip", "b.zip"})
        EXPECT_FALSE(fs::exists(tmp.file(absent)));
    struct stat st {};
    ASSERT_EQ(::stat(tmp.file("deep/dest/pkg/bin/Tekmo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);  // recorded without the set-id bit
    EXPECT_EQ(ReadFile(tmp.file("deep/dest/pkg/readme.txt")), "hello");
}

}  // namespace
}  // namespace talvane
