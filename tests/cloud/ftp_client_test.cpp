// cFTP against real servers: pyftpdlib through tools/cloud/cloud.py and the
// scripted fault peers.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include "cloud/ftp.h"
#include "cloud/listing_parser.h"
#include "common/files.h"
#include "support/cloud_server.h"
#include "support/fault_servers.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using testing::CloudOptions;
using testing::CloudServer;
using testing::TempDir;

constexpr const char* kUser = "NimbaraMember";
constexpr const char* kPassword = "Tovex%hn52";

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) return names;
    while (dirent* e = ::readdir(dir.get())) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    return names;
}

int OpenDescriptors() {
    return static_cast<int>(FolderEntries("/proc/self/fd").size());
}

using Event = std::pair<std::int32_t, std::int32_t>;

// The events FTPDownloadFile raises for a file of `size` bytes: one per full
// 255-byte step, then (size, size).
std::vector<Event> ExpectedEvents(std::int32_t size) {
    std::vector<Event> events;
    for (std::int32_t k = 1; k <= size / 255; ++k) events.emplace_back(k * 255, size);
    events.emplace_back(size, size);
    return events;
}

class FtpClientTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = std::make_unique<TempDir>();
        for (const char* d :
             {"repo", "redist", "web", "sub", "local", "repo/Tekmo", "repo/Tekmo/ConfigSets",
              "repo/Tekmo/Team Sets", "repo/Empty", "repo/Up"})
            ::mkdir(root_->file(d).c_str(), 0755);
        WriteFile(root_->file("repo/Tekmo/ConfigSets/Office.7z"), "office");
        WriteFile(root_->file("repo/Tekmo/ConfigSets/Field Team.7z"), "field team");
        WriteFile(root_->file("repo/Tekmo/ConfigSets/Notes"), "notes");
        WriteFile(root_->file("repo/Tekmo/ConfigSets/readme.TXT"), "r");
        for (int size : {1, 254, 255, 256, 510, 511, 1000, 100000})
            WriteFile(root_->file("repo/data" + std::to_string(size) + ".bin"),
                      Pattern(static_cast<std::size_t>(size)));
        WriteFile(root_->file("repo/zero.bin"), "");
        WriteFile(root_->file("repo/with blank.bin"), Pattern(600));
        WriteFile(root_->file("repo/Tekmo/Team Sets/Office 2.7z"), Pattern(700));
        WriteFile(root_->file("repo/text.txt"), "one\r\ntwo\r\n");
        WriteFile(root_->file("sub/mine.7z"), "subscriber's own");
        CloudOptions options{root_->file("repo"),
                             root_->file("redist"),
                             root_->file("web"),
                             {{"alice", "s3cret:x", root_->file("sub")}}};
        cloud_ = std::make_unique<CloudServer>(options);
    }
    static void TearDownTestSuite() {
        cloud_.reset();
        cloud_ = nullptr;
        root_.reset();
        root_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(cloud_->ok());
        ftp_.SetModePassive();
        ftp_.SetTransferBinary();
        ftp_.connectTimeoutSeconds = 5;
        ftp_.idleTimeoutSeconds = 5;
        ftp_.FileTransferProgress = [this](std::int32_t current, std::int32_t total) {
            events_.emplace_back(current, total);
        };
    }
    void TearDown() override {
        ftp_.CloseConnection();
        for (const auto& name : FolderEntries(root_->file("local")))
            ::unlink(root_->file("local/" + name).c_str());
    }
    bool Open() { return ftp_.OpenConnection(cloud_->repositoryHost(), kUser, kPassword); }
    static std::string Local(const std::string& name) { return root_->file("local/" + name); }

    static std::unique_ptr<TempDir> root_;
    static std::unique_ptr<CloudServer> cloud_;
    cFTP ftp_;
    std::vector<Event> events_;
};

std::unique_ptr<TempDir> FtpClientTest::root_;
std::unique_ptr<CloudServer> FtpClientTest::cloud_;

// The record of one find result: each attribute bit sets its own field, the name
// ends at its first NUL and is the case-blind key.
TEST(DirListTest, AttributeBitsNamesAndKeys) {
    struct Bit {
        std::uint32_t bit;
        bool cDirItem::*field;
    };
    const Bit bits[] = {{0x1, &cDirItem::ReadOnly},    {0x2, &cDirItem::Hidden},
                        {0x4, &cDirItem::System},      {0x10, &cDirItem::Directory},
                        {0x20, &cDirItem::Archive},    {0x80, &cDirItem::Normal},
                        {0x100, &cDirItem::Temporary}, {0x800, &cDirItem::Compressed},
                        {0x1000, &cDirItem::Offline}};
    cDirList list;
    for (const Bit& b : bits) {
        const std::string name = "f" + std::to_string(b.bit);
        const cDirItem* item = list.Add(b.bit, 1.0, 2.0, 3.0, -5, name);
        ASSERT_NE(item, nullptr);
        for (const Bit& other : bits) EXPECT_EQ(item->*other.field, &other == &b) << name;
    }
    const cDirItem* cut = list.Add(0x80, 0, 0, 0, 7, std::string("Office.7z\0junk", 15));
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->Filename, "Office.7z");
    EXPECT_EQ(list.Item("OFFICE.7Z"), cut);
    EXPECT_EQ(list.Add(0x80, 0, 0, 0, 1, "office.7z"), nullptr);  // the key is taken
    EXPECT_EQ(list.Count(), 10);
    EXPECT_EQ(list.Item(10), cut);
    EXPECT_EQ(list.Item(1)->FileSize, -5);
    EXPECT_EQ(list.Item(0L), nullptr);
}

TEST_F(FtpClientTest, SignsInAndRefusesWrongPasswordWithServerText) {
    ASSERT_TRUE(Open()) << ftp_.GetLastErrorMessage();
    EXPECT_TRUE(ftp_.Connected());
    EXPECT_EQ(ftp_.GetFTPDirectory(), "/");

    // A subscriber lands in its own home; a password with ':' is passed intact.
    ASSERT_TRUE(ftp_.OpenConnection(cloud_->repositoryHost(), "alice", "s3cret:x"));
    EXPECT_EQ(ftp_.GetFTPFileSize("mine.7z"), 16);

    EXPECT_FALSE(ftp_.OpenConnection(cloud_->repositoryHost(), kUser, "wrong"));
    EXPECT_FALSE(ftp_.Connected());
    EXPECT_EQ(ftp_.GetLastErrorMessage(), "530 Authentication failed.");
}

TEST_F(FtpClientTest, ConnectFailuresCarryWinInetNumbers) {
    testing::SilentListener silent;
    ftp_.connectTimeoutSeconds = 1;
    ftp_.idleTimeoutSeconds = 1;
    const struct {
        std::string server;
        std::string message;
    } cases[] = {
        {"127.0.0.1:" + std::to_string(testing::RefusedPort()),
         "InternetConnect error code: 12029 Message: A connection with the server could not be "
         "established"},
        {"talvane-test.invalid",
         "InternetConnect error code: 12007 Message: The server name or address could not be "
         "resolved"},
        {"127.0.0.1:" + std::to_string(silent.port()),
         "InternetConnect error code: 12002 Message: The operation timed out"},
        {"host/with?url#parts",
         "InternetConnect error code: 12007 Message: The server name or "
         "address could not be resolved"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        EXPECT_FALSE(ftp_.OpenConnection(c.server, kUser, kPassword));
        EXPECT_EQ(ftp_.GetLastErrorMessage(), c.message);
        EXPECT_FALSE(ftp_.Connected());
    }
}

TEST_F(FtpClientTest, OperationsWithoutConnectionFail) {
    EXPECT_EQ(ftp_.GetFTPFileSize("data1.bin"), -2);
    EXPECT_EQ(ftp_.GetLastErrorMessage(), "FtpFindFirstFile error code: 6 Message: ");
    EXPECT_FALSE(ftp_.SetFTPDirectory("/Tekmo"));
    EXPECT_EQ(ftp_.GetFTPDirectory(), "");
    EXPECT_EQ(ftp_.GetDirectoryListing("*.*"), nullptr);
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("x"), "data1.bin"));
    ftp_.CloseConnection();
    ftp_.CloseConnection();  // twice is harmless
}

TEST_F(FtpClientTest, TracksTheRemoteFolderLikeASession) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(ftp_.SetFTPDirectory("/Tekmo/ConfigSets"));
    EXPECT_EQ(ftp_.GetFTPDirectory(), "/Tekmo/ConfigSets");
    ASSERT_TRUE(ftp_.SetFTPDirectory(".."));
    EXPECT_EQ(ftp_.GetFTPDirectory(), "/Tekmo");
    ASSERT_TRUE(ftp_.SetFTPDirectory("ConfigSets"));
    EXPECT_EQ(ftp_.GetFTPDirectory(), "/Tekmo/ConfigSets");

    // A missing folder fails, says why, and changes nothing.
    EXPECT_FALSE(ftp_.SetFTPDirectory("/Tekmo/Missing"));
    EXPECT_EQ(ftp_.GetLastErrorMessage(), "550 No such file or directory.");
    EXPECT_EQ(ftp_.GetFTPDirectory(), "/Tekmo/ConfigSets");
    EXPECT_FALSE(ftp_.SetFTPDirectory("Office.7z"));  // a file is no folder
    EXPECT_EQ(ftp_.GetFTPDirectory(), "/Tekmo/ConfigSets");

    // The session is still usable, relative to the tracked folder.
    EXPECT_EQ(ftp_.GetFTPFileSize("Office.7z"), 6);
    EXPECT_EQ(ftp_.GetFTPFileSize("/data255.bin"), 255);
    ASSERT_TRUE(ftp_.SetFTPDirectory("/"));
    EXPECT_EQ(ftp_.GetFTPDirectory(), "/");

    // A new connection starts again in the login folder.
    ASSERT_TRUE(ftp_.SetFTPDirectory("Tekmo"));
    ASSERT_TRUE(Open());
    EXPECT_EQ(ftp_.GetFTPDirectory(), "/");
}

TEST_F(FtpClientTest, ListsWithWindowsWildcardsAndKeepsBlanks) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(ftp_.SetFTPDirectory("/Tekmo/ConfigSets"));
    struct stat st {};
    ASSERT_EQ(::stat(root_->file("repo/Tekmo/ConfigSets/Office.7z").c_str(), &st), 0);

    const cDirList* all = ftp_.GetDirectoryListing("*.*");
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->Count(), 4);
    const cDirItem* office = all->Item("OFFICE.7Z");  // keys ignore case
    ASSERT_NE(office, nullptr);
    EXPECT_EQ(office->Filename, "Office.7z");
    EXPECT_EQ(office->FileSize, 6);
    EXPECT_TRUE(office->Normal);
    EXPECT_FALSE(office->Directory);
    EXPECT_DOUBLE_EQ(office->LastWriteTime, UtcToOleLocal(st.st_mtime));
    ASSERT_NE(all->Item("Field Team.7z"), nullptr);
    EXPECT_EQ(all->Item("Field Team.7z")->FileSize, 10);
    EXPECT_EQ(all->Item(5), nullptr);
    EXPECT_NE(all->Item(1), nullptr);

    const cDirList* sevenZip = ftp_.GetDirectoryListing("*.7Z");
    ASSERT_NE(sevenZip, nullptr);
    EXPECT_EQ(sevenZip->Count(), 2);
    EXPECT_EQ(&ftp_.Directory(), sevenZip);

    ASSERT_TRUE(ftp_.SetFTPDirectory("/"));
    const cDirList* top = ftp_.GetDirectoryListing("*");
    ASSERT_NE(top, nullptr);
    ASSERT_NE(top->Item("Tekmo"), nullptr);
    EXPECT_TRUE(top->Item("Tekmo")->Directory);
    EXPECT_FALSE(top->Item("Tekmo")->Normal);
}

// A case-sensitive server can list names that differ only in case: the later
// one is left out and the listing goes on. A large folder lists whole.
TEST_F(FtpClientTest, NamesDifferingOnlyInCaseAndLargeFolders) {
    const std::string cases = root_->file("repo/Cases");
    ASSERT_TRUE(MakeSureDirExists(cases));
    for (const char* name : {"Alpha.7z", "alpha.7z", "ALPHA.7Z", "Beta.7z", "zeta.7z"})
        ASSERT_TRUE(WriteFileAtomic(cases + "/" + name, "x"));
    const std::string many = root_->file("repo/Many");
    ASSERT_TRUE(MakeSureDirExists(many));
    for (int i = 0; i < 2000; ++i)
        ASSERT_TRUE(WriteFileAtomic(many + "/Set " + std::to_string(i) + ".7z", "x"));

    ASSERT_TRUE(Open());
    ASSERT_TRUE(ftp_.SetFTPDirectory("/Cases"));
    const cDirList* list = ftp_.GetDirectoryListing("*.*");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Count(), 3);
    EXPECT_NE(list->Item("beta.7z"), nullptr);
    EXPECT_NE(list->Item("Zeta.7z"), nullptr);
    ASSERT_NE(list->Item("alpha.7z"), nullptr);

    ASSERT_TRUE(ftp_.SetFTPDirectory("/Many"));
    list = ftp_.GetDirectoryListing("*.*");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Count(), 2000);
    EXPECT_NE(list->Item("Set 1999.7z"), nullptr);
    std::filesystem::remove_all(cases);
    std::filesystem::remove_all(many);
}

TEST_F(FtpClientTest, EmptyFolderListsNothingButDirectoryIsEmpty) {
    ASSERT_TRUE(Open());
    ASSERT_NE(ftp_.GetDirectoryListing("*.*"), nullptr);
    ASSERT_TRUE(ftp_.SetFTPDirectory("/Empty"));
    EXPECT_EQ(ftp_.GetDirectoryListing("*.*"), nullptr);
    EXPECT_EQ(ftp_.Directory().Count(), 0);
    ASSERT_TRUE(ftp_.SetFTPDirectory("/Tekmo/ConfigSets"));
    EXPECT_EQ(ftp_.GetDirectoryListing("*.zip"), nullptr);  // nothing matches
    EXPECT_EQ(ftp_.Directory().Count(), 0);
}

TEST_F(FtpClientTest, FileSizeProbe) {
    ASSERT_TRUE(Open());
    EXPECT_EQ(ftp_.GetFTPFileSize("data1000.bin"), 1000);
    EXPECT_EQ(ftp_.GetFTPFileSize("with blank.bin"), 600);
    EXPECT_EQ(ftp_.GetFTPFileSize("DATA1000.BIN"), 1000);  // wildcard search ignores case
    EXPECT_EQ(ftp_.GetFTPFileSize("zero.bin"), 0);
    // Blanks in the folder part too: the folder is entered under its own name.
    EXPECT_EQ(ftp_.GetFTPFileSize("/Tekmo/Team Sets/Office 2.7z"), 700);
    ftp_.SetFTPDirectory("/Tekmo");
    const std::string before = ftp_.GetLastErrorMessage();
    EXPECT_EQ(ftp_.GetFTPFileSize("nothing.bin"), -1);
    EXPECT_EQ(ftp_.GetFTPFileSize("/NoFolder/nothing.bin"), -1);
    EXPECT_EQ(ftp_.GetLastErrorMessage(), before);  // "not found" records nothing
}

TEST_F(FtpClientTest, DownloadRaisesOneEventPer255ByteStepThenTheTotal) {
    ASSERT_TRUE(Open());
    for (int size : {1, 254, 255, 256, 510, 511, 1000, 100000}) {
        SCOPED_TRACE(size);
        events_.clear();
        const std::string name = "data" + std::to_string(size) + ".bin";
        ASSERT_TRUE(ftp_.FTPDownloadFile(Local(name), name)) << ftp_.GetLastErrorMessage();
        EXPECT_EQ(events_, ExpectedEvents(size));
        EXPECT_EQ(ReadFile(Local(name)), Pattern(static_cast<std::size_t>(size)));
    }
    // Blanks in the remote name; blanks around both names are trimmed.
    events_.clear();
    ASSERT_TRUE(ftp_.FTPDownloadFile("  " + Local("blank.bin") + " ", " with blank.bin "));
    EXPECT_EQ(ReadFile(Local("blank.bin")), Pattern(600));
    EXPECT_EQ(events_, ExpectedEvents(600));
    events_.clear();
    ASSERT_TRUE(ftp_.FTPDownloadFile(Local("team.7z"), "/Tekmo/Team Sets/Office 2.7z"))
        << ftp_.GetLastErrorMessage();
    EXPECT_EQ(ReadFile(Local("team.7z")), Pattern(700));
    EXPECT_EQ(events_, ExpectedEvents(700));
    // Only the finished files are left in the folder.
    EXPECT_EQ(FolderEntries(root_->file("local")).size(), 10u);
}

TEST_F(FtpClientTest, DownloadRefusesZeroBytesMissingFilesAndEmptyNames) {
    ASSERT_TRUE(Open());
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("zero.bin"), "zero.bin"));
    EXPECT_FALSE(Exists(Local("zero.bin")));
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("none.bin"), "none.bin"));
    EXPECT_FALSE(ftp_.FTPDownloadFile("   ", "data1.bin"));
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("x"), "  "));
    EXPECT_TRUE(events_.empty());
    EXPECT_TRUE(FolderEntries(root_->file("local")).empty());
    // An unwritable target folder is a failure, not a crash.
    EXPECT_FALSE(ftp_.FTPDownloadFile(root_->file("no/such/folder/x.bin"), "data1.bin"));
}

TEST_F(FtpClientTest, SimpleGetCopiesWholeFilesAndHonoursTransferType) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(ftp_.SimpleFTPGetFile(Local("zero.bin"), "zero.bin"));
    EXPECT_TRUE(Exists(Local("zero.bin")));
    EXPECT_EQ(ReadFile(Local("zero.bin")), "");
    ASSERT_TRUE(ftp_.SimpleFTPGetFile(Local("text.txt"), "/text.txt"));
    EXPECT_EQ(ReadFile(Local("text.txt")), "one\r\ntwo\r\n");
    ftp_.SetTransferASCII();  // takes effect at once: local line ends
    ASSERT_TRUE(ftp_.SimpleFTPGetFile(Local("text.txt"), "/text.txt"));
    EXPECT_EQ(ReadFile(Local("text.txt")), "one\ntwo\n");
    EXPECT_TRUE(events_.empty());

    EXPECT_FALSE(ftp_.SimpleFTPGetFile(Local("missing"), "missing.bin"));
    EXPECT_EQ(ftp_.GetLastErrorMessage(), "550 No such file or directory.");
    EXPECT_FALSE(Exists(Local("missing")));
}

TEST_F(FtpClientTest, UploadRenameDeleteAndFolders) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(ftp_.SetFTPDirectory("/Up"));
    ASSERT_TRUE(ftp_.CreateFTPDirectory("New Folder"));
    EXPECT_FALSE(ftp_.CreateFTPDirectory("New Folder"));  // exists already
    ASSERT_TRUE(ftp_.SetFTPDirectory("New Folder"));

    WriteFile(Local("up.bin"), Pattern(700));
    ASSERT_TRUE(ftp_.FTPUploadFile(Local("up.bin"), "up load.bin")) << ftp_.GetLastErrorMessage();
    EXPECT_EQ(events_, (std::vector<Event>{{255, 700}, {510, 700}, {700, 700}}));
    EXPECT_EQ(ReadFile(root_->file("repo/Up/New Folder/up load.bin")), Pattern(700));

    ASSERT_TRUE(ftp_.SimpleFTPPutFile(Local("up.bin"), "/Up/simple.bin"));
    EXPECT_EQ(ReadFile(root_->file("repo/Up/simple.bin")), Pattern(700));

    ASSERT_TRUE(ftp_.RenameFTPFile("up load.bin", "/Up/renamed.bin"));
    EXPECT_TRUE(Exists(root_->file("repo/Up/renamed.bin")));
    EXPECT_FALSE(ftp_.RenameFTPFile("up load.bin", "again.bin"));
    EXPECT_EQ(ftp_.GetLastErrorMessage().substr(0, 4), "550 ");

    ASSERT_TRUE(ftp_.DeleteFTPFile("../renamed.bin"));
    ASSERT_TRUE(ftp_.DeleteFTPFile("/Up/simple.bin"));
    EXPECT_FALSE(ftp_.DeleteFTPFile("/Up/simple.bin"));
    ASSERT_TRUE(ftp_.SetFTPDirectory("/Up"));
    ASSERT_TRUE(ftp_.RemoveFTPDirectory("New Folder"));
    EXPECT_TRUE(FolderEntries(root_->file("repo/Up")).empty());

    // Command text cannot be smuggled in through a name.
    EXPECT_FALSE(ftp_.DeleteFTPFile("x\r\nDELE /data1.bin"));
    EXPECT_TRUE(Exists(root_->file("repo/data1.bin")));
    EXPECT_FALSE(ftp_.FTPUploadFile(Local("no such file"), "x.bin"));
}

TEST_F(FtpClientTest, ActiveModeTransfersAndModeChangesWaitForTheNextConnection) {
    ftp_.SetModeActive();
    ASSERT_TRUE(Open());
    ftp_.SetModePassive();  // no effect on the open connection
    ASSERT_TRUE(ftp_.FTPDownloadFile(Local("a.bin"), "data1000.bin")) << ftp_.GetLastErrorMessage();
    EXPECT_EQ(ReadFile(Local("a.bin")), Pattern(1000));
    ASSERT_NE(ftp_.GetDirectoryListing("*.bin"), nullptr);
    ASSERT_TRUE(Open());
    ASSERT_TRUE(ftp_.FTPDownloadFile(Local("p.bin"), "data1000.bin"));
}

TEST_F(FtpClientTest, HandlersCannotStartASecondOperationAndMayClose) {
    ASSERT_TRUE(Open());
    std::string nested;
    ftp_.FileTransferProgress = [&](std::int32_t current, std::int32_t) {
        if (current == 255) {
            EXPECT_EQ(ftp_.GetFTPFileSize("data1.bin"), -2);
            nested = ftp_.GetLastErrorMessage();
        }
    };
    ASSERT_TRUE(ftp_.FTPDownloadFile(Local("n.bin"), "data1000.bin"));
    EXPECT_NE(nested.find("12110"), std::string::npos) << nested;

    WriteFile(Local("c.bin"), "old content");
    ftp_.FileTransferProgress = [&](std::int32_t current, std::int32_t) {
        if (current == 255 * 10) ftp_.CloseConnection();
    };
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("c.bin"), "data100000.bin"));
    EXPECT_FALSE(ftp_.Connected());
    EXPECT_FALSE(Exists(Local("c.bin")));
    EXPECT_EQ(FolderEntries(root_->file("local")).size(), 1u);  // n.bin only
}

TEST_F(FtpClientTest, ReleasesHandlesOnEveryPath) {
    const int before = OpenDescriptors();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Open());
        EXPECT_FALSE(ftp_.FTPDownloadFile(Local("m.bin"), "missing.bin"));
        EXPECT_FALSE(ftp_.SimpleFTPGetFile(Local("m.bin"), "missing.bin"));
        EXPECT_FALSE(ftp_.FTPDownloadFile(root_->file("nope/x"), "data1.bin"));
        EXPECT_TRUE(ftp_.FTPDownloadFile(Local("d.bin"), "data256.bin"));
        EXPECT_FALSE(ftp_.OpenConnection(cloud_->repositoryHost(), kUser, "bad"));
    }
    ftp_.CloseConnection();
    EXPECT_EQ(OpenDescriptors(), before);
}

// ---- misbehaving servers ------------------------------------------------------

class FtpFaultTest : public FtpClientTest {
  protected:
    static void SetUpTestSuite() {
        FtpClientTest::SetUpTestSuite();
        peers_ = std::make_unique<testing::FaultPeers>();
    }
    static void TearDownTestSuite() {
        peers_.reset();
        peers_ = nullptr;
        FtpClientTest::TearDownTestSuite();
    }
    bool OpenPeer(const std::string& user = "mlsd") {
        return ftp_.OpenConnection(peers_->ftpHost(), user, "pw");
    }
    static std::unique_ptr<testing::FaultPeers> peers_;
};

std::unique_ptr<testing::FaultPeers> FtpFaultTest::peers_;

TEST_F(FtpFaultTest, BrokenTransfersLeaveNoFileUnderTheTargetName) {
    ASSERT_TRUE(peers_->ok());
    ftp_.idleTimeoutSeconds = 1;
    const struct {
        const char* remote;
        const char* message;
    } cases[] = {
        {"drop.bin", "InternetReadFile error code: 12030"},
        {"short.bin", "InternetReadFile error code: 12030"},
        {"stall.bin", "InternetReadFile error code: 12002"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.remote);
        ASSERT_TRUE(OpenPeer());
        WriteFile(Local("target.bin"), "stale copy from an earlier run");
        events_.clear();
        EXPECT_FALSE(ftp_.FTPDownloadFile(Local("target.bin"), c.remote));
        EXPECT_EQ(ftp_.GetLastErrorMessage().rfind(c.message, 0), 0u) << ftp_.GetLastErrorMessage();
        EXPECT_FALSE(Exists(Local("target.bin")));
        EXPECT_TRUE(FolderEntries(root_->file("local")).empty());
        // Only steps that really arrived were reported.
        ASSERT_FALSE(events_.empty());
        EXPECT_LE(events_.back().first, 30000);
        EXPECT_EQ(events_.back().second, 100000);
    }
}

TEST_F(FtpFaultTest, SizesOutsideTheSigned32BitRangeAndGrowingFiles) {
    ASSERT_TRUE(peers_->ok());
    ASSERT_TRUE(OpenPeer());
    EXPECT_EQ(ftp_.GetFTPFileSize("big.bin"), static_cast<std::int32_t>(3000000000u));
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("big.bin"), "big.bin"));
    EXPECT_FALSE(Exists(Local("big.bin")));
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("empty.bin"), "empty.bin"));
    EXPECT_FALSE(Exists(Local("empty.bin")));

    // A file that grew after its size was taken: the promised bytes are kept.
    ASSERT_TRUE(ftp_.FTPDownloadFile(Local("long.bin"), "long.bin")) << ftp_.GetLastErrorMessage();
    EXPECT_EQ(ReadFile(Local("long.bin")).size(), 1000u);
    EXPECT_EQ(events_, ExpectedEvents(1000));
}

TEST_F(FtpFaultTest, FallsBackToListWhenTheServerHasNoMlsd) {
    ASSERT_TRUE(peers_->ok());
    for (const char* style : {"dos", "unix", "mlsd"}) {
        SCOPED_TRACE(style);
        ASSERT_TRUE(OpenPeer(style));
        const cDirList* list = ftp_.GetDirectoryListing("*.bin");
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->Count(), 6);
        ASSERT_NE(list->Item("drop.bin"), nullptr);
        EXPECT_EQ(list->Item("drop.bin")->FileSize, 100000);
        EXPECT_GT(list->Item("drop.bin")->LastWriteTime,
                  UtcToOleLocal((DaysFromCivil(2023, 3, 4) - 1) * 86400));
        EXPECT_EQ(ftp_.GetFTPFileSize("long.bin"), 1000);
    }
}

}  // namespace
}  // namespace talvane
