// Cross-checks against Info-ZIP, 7-Zip and Python; the writer, talvane-zip, whole deploys.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <csignal>
#include <ctime>
#include <memory>
#include <tuple>

#include "platform/interrupt.h"
#include "platform/interrupt_posix.h"
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

    // Extracts with ZipReader, then tests the archive: the error numbers raised.
    static Longs OurExtract(const std::string& archive, const std::string& out) {
        ZipReader zip;
        Recorder rec;
        rec.Attach(zip);
        EXPECT_TRUE(zip.OpenZip(archive) && zip.Extract(out, true, true) && zip.TestEntries());
        return rec.Numbers();
    }
    static std::unique_ptr<testing::TempDir> dir;
};
std::unique_ptr<testing::TempDir> ZipInterop::dir;

// Python's Zip64 headers.
constexpr const char* kPythonZip64 = R"(
import zipfile
with zipfile.ZipFile('pyzip64.zip', 'w') as z, z.open('tree/run.sh', 'w', force_zip64=True) as f:
    f.write(open('tree/run.sh', 'rb').read())
)";

// Each archive extracts as bsdtar (or zipfile) does, or gives exactly the errors listed.
TEST_F(ZipInterop, ArchivesOfEveryKindExtractAsOtherToolsDo) {
    ASSERT_EQ(RunProgram({kPython, "-c", kPythonZip64}, dir->path()), 0);
    const std::string plain = "tree/d0/sub0/text0.txt";
    const Files plainOnly{{plain, ReadFile(At(plain))}};
    const auto encrypted = [&](const std::string& how) {
        return "7zz a -tzip -mx0 " + how + ".zip " + plain +
               " && 7zz a -tzip -psecret -mem=" + how + " " + how + ".zip tree/run.sh";
    };
    const struct {
        std::string kind, make;  // kind.zip, made by `make` (or above)
        std::string reference;   // whose extraction ours must equal: bsdtar, python or none
        Longs errors;
        Files expected = {};
    } kinds[] = {
        {"infozip", "zip -qr infozip.zip tree", "bsdtar", {}},
        {"zip64", "zip -qr -fz zip64.zip tree", "bsdtar", {}},
        {"pipe", "zip -qr - tree | cat >pipe.zip", "bsdtar", {}},  // data descriptors
        {"7zip", "7zz a -tzip 7zip.zip tree", "bsdtar", {}},
        {"ZipCrypto", encrypted("ZipCrypto"), "", {kZipErrEncrypted}, plainOnly},
        {"split", "zip -qr -s 64k split.zip tree", "", {kZipErrSplit}},
        {"pyzip64", "", "python", {}},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.kind);
        const std::string archive = At(k.kind + ".zip"), out = At("ours-" + k.kind);
        const std::string ref = At("ref-" + k.kind);
        ASSERT_EQ(RunProgram({"sh", "-c", k.make}, dir->path()), 0);
        ZipReader zip;
        Recorder rec;
        rec.Attach(zip);
        if (zip.OpenZip(archive)) zip.Extract(out, true, true);
        EXPECT_EQ(rec.Numbers(), k.errors);
        fs::create_directory(ref);
        if (k.reference == "bsdtar") RunProgram({"bsdtar", "-xf", archive, "-C", ref});
        if (k.reference == "python")
            RunProgram({kPython, "-c",
                        "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])",
                        archive, ref});
        EXPECT_EQ(fs::exists(out), k.kind != "split");  // refused before writing
        if (!fs::exists(out)) continue;
        EXPECT_EQ(Tree(out, true), k.reference.empty() ? k.expected : Tree(ref, true));
    }
}

// Several inflating workers: 5,000 entries give exactly the tree Python's zipfile gives.
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
    EXPECT_EQ(OurExtract(At("many.zip"), At("ours-many")), Longs{});
    const auto ours = Tree(At("ours-many"));
    EXPECT_TRUE(ours.size() == 5000u && ours == Tree(At("ref-many")));
}

TEST_F(ZipInterop, ZipClassArchivesPassOtherToolsWithCommentAndCrcs) {
    ZipWriter zip;
    zip.Comment("Tekmo package build 42");
    for (const auto& [rel, content] : Tree(At("tree")))
        ASSERT_TRUE(zip.AddFile(At("tree/" + rel), rel)) << rel;
    ASSERT_TRUE(zip.AddFile(At("tree/d0/sub0/text0.txt"), "", "entry comment"));
    ASSERT_TRUE(zip.AddFile(At("tree/d1/sub0/text0.txt")));    // same stored name again
    ASSERT_TRUE(zip.AddFile(At("tree/run.sh"), "Grüße.txt"));  // flagged as UTF-8
    ASSERT_TRUE(zip.WriteZip(At("ours.zip")));
    EXPECT_EQ(RunProgram({"unzip", "-tq", At("ours.zip")}), 0);
    EXPECT_EQ(RunProgram({"7zz", "t", "-bd", At("ours.zip")}), 0);
    constexpr const char* kCheck = R"(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
assert z.comment == b'Tekmo package build 42', z.comment
names = [i.filename for i in z.infolist()]
assert names.count('text0.txt') == 2 and 'Gr\u00fc\u00dfe.txt' in names, names
assert all(i.compress_type == (8 if i.file_size else 0) for i in z.infolist())
)";
    EXPECT_EQ(RunProgram({kPython, "-c", kCheck, At("ours.zip")}, {}, At("check.log")), 0)
        << ReadFile(At("check.log"));
    EXPECT_EQ(zip.FileCount(), 4 * 3 * 8 + 2 + 3);

    EXPECT_EQ(OurExtract(At("ours.zip"), At("ours-back")), Longs{});
    auto back = Tree(At("ours-back"), true);
    EXPECT_EQ(back.erase("text0.txt") + back.erase("Grüße.txt"), 2u);
    EXPECT_TRUE(back == Tree(At("tree"), true));
}

TEST(ZipWriter, DosTimeAndAnArchiveReplacedOnlyWhenAsked) {
    testing::TempDir tmp;
    WriteFile(tmp.file("f.txt"), std::string(3000, 'a'));
    std::tm when{31, 45, 13, 15, 5,      2021 - 1900,
                 0,  0,  -1, 0,  nullptr};  // local 2021-06-15 13:45:31
    const utimbuf times{std::mktime(&when), std::mktime(&when)};
    ASSERT_EQ(::utime(tmp.file("f.txt").c_str(), &times), 0);
    ZipWriter zip;
    EXPECT_FALSE(zip.AddFile(tmp.file("missing")));
    ASSERT_TRUE(zip.AddFile(tmp.file("f.txt")));
    ASSERT_TRUE(zip.WriteZip(tmp.file("w.zip")));
    WriteFile(tmp.file("keep.zip"), "old");
    EXPECT_FALSE(zip.WriteZip(tmp.file("keep.zip")));
    EXPECT_EQ(ReadFile(tmp.file("keep.zip")), "old");
    EXPECT_TRUE(zip.WriteZip(tmp.file("keep.zip"), true));
    EXPECT_EQ(ReadFile(tmp.file("keep.zip")), ReadFile(tmp.file("w.zip")));
    EXPECT_EQ(ReadFile(tmp.file("w.zip")).substr(10, 4),
              U16(0x6DAF) + U16(0x52CF));  // DOS time
}

class ZipTool : public ::testing::Test {
  protected:
    void SetUp() override { TALVANE_REQUIRE(testing::Exists(tool), "talvane-zip not built"); }
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
    // A folder link is skipped, an empty file flagged, a file named twice stored once.
    ASSERT_EQ(Tool({"c", "p.zip", "pkg", "pkg/readme.txt"}, log), 0);
    for (const char* warning : {"skipped pkg/linked", "pkg/marker.txt is empty"})
        EXPECT_NE(ReadFile(log).find(std::string("warning: ") + warning), std::string::npos);
    ASSERT_EQ(Tool({"l", "p.zip"}, log), 0);
    EXPECT_EQ(
        ReadFile(log),
        "        10  pkg/bin/Tekmo\n         0  pkg/marker.txt\n         5  pkg/readme.txt\n");
    // A misplaced local header (an entry error), one part of a split archive.
    RawZip moved, split;
    moved.entries = {{"x", "data", 8, {}, -1, -1, 1}};
    split.entries = {{"x", "data"}};
    split.thisDisk = 2;
    for (const auto& [name, z] : {std::pair{"moved", moved}, {"split", split}})
        WriteFile(tmp.file(name + std::string(".zip")), z.Build());
    fs::create_directory(tmp.file("nothing"));
    // A file beyond 32-bit sizes is refused up front, by name (sparse: no disk used).
    WriteFile(tmp.file("big/huge.bin"), "");
    ASSERT_EQ(::truncate(tmp.file("big/huge.bin").c_str(), 0x100000000LL), 0);
    const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
        {{"t", "p.zip"}, 0, ""},
        {{"x", "p.zip", "deep/dest"}, 0, ""},
        {{"t", "moved.zip"}, 1, "The local header of x in"},
        {{"x", "split.zip", "s"}, 2, "split or multi-disk archive"},
        {{"q", "p.zip"}, 2, ""},
        {{"x", "typo.zip", "fresh"}, 2, "typo.zip doesn't exist"},
        {{"x", "p.zip", "pkg/marker.txt"}, 2, "pkg/marker.txt exists and is not a folder"},
        {{"c", "n.zip", "nothing"}, 2, "nothing to add"},
        {{"c", "b.zip", "big"}, 2, "big/huge.bin is larger than 4 GiB"}};
    for (const auto& [args, code, says] : cases) {
        EXPECT_EQ(Tool(args, log), code) << args[1];
        EXPECT_NE(ReadFile(log).find(says), std::string::npos) << ReadFile(log);
    }
    for (const char* absent : {"fresh", "n.zip", "b.zip", "s"})
        EXPECT_FALSE(fs::exists(tmp.file(absent)));
    struct stat st {};
    ASSERT_EQ(::stat(tmp.file("deep/dest/pkg/bin/Tekmo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);  // recorded without the set-id bit
    EXPECT_EQ(ReadFile(tmp.file("deep/dest/pkg/readme.txt")), "hello");
}

std::string Describe(fs::file_type type, unsigned mode, const std::string& content) {
    return std::to_string(static_cast<int>(type)) + " " + std::to_string(mode) + " " + content;
}

// Everything below root, links not followed: kind, permission bits and content.
Files List(const std::string& root) {
    Files out;
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
    std::string elsewhere = tmp.file("elsewhere");
    mode_t mask = ::umask(022);

    void TearDown() override { ::umask(mask); }
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
    const std::pair<RawEntry, std::string> cases[] = {
        {{"lib/z.txt", "data", 8, {}, 1}, "Data checksum error in " + dest + "/lib/z.txt"},
        {{"lib/z.txt", "0123456789", 8, {}, -1, 4},
         "The entry " + dest + "/lib/z.txt inflates to more than its 4 bytes"},
        {{"../evil", "x"}, "Refused the entry ../evil: its name leads outside " + dest},
        {{"link/x", "x"},
         "Refused the entry link/x: it would be written through the link " + dest + "/link"},
        {{"lib/sub", "x"}, "Can't remove the file " + dest + "/lib/sub"},
        {{"new/deep/f.txt/x", "x"}, "Can't create the folder " + dest + "/new/deep/f.txt"},
        {{"lib/z.txt", "x", 8, {}, -1, -1, 1},
         "The local header of " + dest + "/lib/z.txt in " + zipPath +
             " does not match its central directory record"},
    };
    for (const auto& [last, error] : cases) {
        SCOPED_TRACE(error);
        fs::remove_all(dest);
        OldTree(dest);
        WriteFile(zipPath, Package({last}));
        const Files before = List(dest);
        std::string said;
        EXPECT_FALSE(ExtractZipFile(zipPath, dest, &said));
        EXPECT_EQ(said, error);
        EXPECT_EQ(List(dest), before);  // no part, no new folder, nothing replaced
        EXPECT_TRUE(fs::is_empty(elsewhere));
    }
    // Cancelled, then whole: replaced files get their new content and mode, the others stay.
    fs::remove_all(dest);
    OldTree(dest);
    WriteFile(zipPath, Package({}));
    Files expected = List(dest);
    ZipReader zip;
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
    const std::string registered = tmp.file("earlier.part");  // the program's own part
    WriteFile(registered, "x");
    RawZip small;
    small.entries = {{"a", "alpha"}};
    WriteFile(tmp.file("small.zip"), small.Build());
    EXPECT_EXIT(
        {
            ::alarm(60);  // a handler that calls itself spins
            InstallInterruptCleanup();
            RemoveOnInterrupt(AT_FDCWD, registered);  // the extraction's handler passes it on
            std::signal(SIGINT, [](int) { std::_Exit(11); });  // to SIGTERM's handler, not this
            ZipReader zip;  // after an extraction whose handler is not put before itself
            zip.OpenZip(tmp.file("small.zip"));
            zip.Extract(tmp.file("first"), true, true, ZipCommit::Whole);
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
    EXPECT_FALSE(fs::exists(registered));
}

}  // namespace
}  // namespace talvane
