// cFTP against real servers: pyftpdlib through tools/cloud/cloud.py and the
// scripted fault peers.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "common/event_pump.h"
#include "net/ftp.h"
#include "net/listing_parser.h"
#include "support/cloud_server.h"
#include "support/fault_servers.h"
#include "support/file_util.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using namespace testing;

constexpr const char* kUser = "NimbaraMember";
constexpr const char* kPassword = "Tovex%hn52";
constexpr int kSizes[] = {1, 255, 256, 1000, 100000};

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

using Event = std::pair<std::int32_t, std::int32_t>;

// One event per full 255-byte step, then (size, size).
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
        for (const char* d : {"redist", "web", "local", "repo/Empty", "repo/Up"})
            std::filesystem::create_directories(root_->file(d));
        const std::pair<const char*, std::string> files[] = {
            {"Tekmo/ConfigSets/Office.7z", "office"},
            {"Tekmo/ConfigSets/Field Team.7z", "field team"},
            {"Tekmo/ConfigSets/Notes", "notes"},
            {"Tekmo/ConfigSets/readme.TXT", "r"},
            {"zero.bin", ""},
            {"Tekmo/Team Sets/Office 2.7z", Pattern(700)},
            {"text.txt", "one\r\ntwo\r\n"}};
        for (const auto& [name, data] : files) WriteFile(root_->file("repo/") + name, data);
        for (int size : kSizes)
            WriteFile(root_->file("repo/data" + std::to_string(size) + ".bin"),
                      Pattern(static_cast<std::size_t>(size)));
        // Names differing only in case, and a large folder.
        for (const char* name : {"Alpha.7z", "alpha.7z", "ALPHA.7Z", "Beta.7z", "zeta.7z"})
            WriteFile(root_->file("repo/Cases/") + name, "x");
        for (int i = 0; i < 2000; ++i)
            WriteFile(root_->file("repo/Many/Set " + std::to_string(i) + ".7z"), "x");
        WriteFile(root_->file("sub/mine.7z"), "subscriber's own");
        cloud_ = std::make_unique<CloudServer>(
            CloudOptions{root_->file("repo"),
                         root_->file("redist"),
                         root_->file("web"),
                         {{"alice", "s3cret:x", root_->file("sub")}}});
    }
    static void TearDownTestSuite() {
        cloud_.reset();
        root_.reset();
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
        for (const auto& name : LocalFiles()) ::unlink(Local(name).c_str());
    }
    bool Open() { return ftp_.OpenConnection(cloud_->repositoryHost(), kUser, kPassword); }
    static std::string Local(const std::string& name) { return root_->file("local/" + name); }
    static std::vector<std::string> LocalFiles() { return ListNames(root_->file("local")); }

    static std::unique_ptr<TempDir> root_;
    static std::unique_ptr<CloudServer> cloud_;
    cFTP ftp_;
    std::vector<Event> events_;
};

std::unique_ptr<TempDir> FtpClientTest::root_;
std::unique_ptr<CloudServer> FtpClientTest::cloud_;

TEST_F(FtpClientTest, SignsInAndConnectFailuresCarryWinInetTexts) {
    ASSERT_TRUE(Open()) << ftp_.GetLastErrorMessage();
    EXPECT_EQ(ftp_.GetFTPDirectory(), "/");
    // A subscriber lands in its own home; a password with ':' is passed intact.
    ASSERT_TRUE(ftp_.OpenConnection(cloud_->repositoryHost(), "alice", "s3cret:x"));
    EXPECT_EQ(ftp_.GetFTPFileSize("mine.7z"), 16);

    SilentListener silent;
    ftp_.connectTimeoutSeconds = ftp_.idleTimeoutSeconds = 1;
    const std::string pre = "InternetConnect error code: ";
    const std::string unresolved =
        pre + "12007 Message: The server name or address could not be resolved";
    const std::pair<std::string, std::string> cases[] = {
        {cloud_->repositoryHost(), "530 Authentication failed."},  // wrong password
        {"127.0.0.1:" + std::to_string(RefusedPort()),
         pre + "12029 Message: A connection with the server could not be established"},
        {"talvane-test.invalid", unresolved},
        {"127.0.0.1:" + std::to_string(silent.port()),
         pre + "12002 Message: The operation timed out"},
        {"host/with?url#parts", unresolved},
    };
    for (const auto& [server, message] : cases) {
        SCOPED_TRACE(server);
        EXPECT_FALSE(ftp_.OpenConnection(server, kUser, "wrong"));
        EXPECT_EQ(ftp_.GetLastErrorMessage(), message);
        EXPECT_FALSE(ftp_.Connected());
    }
    // Operations without a connection fail.
    EXPECT_EQ(ftp_.GetFTPFileSize("data1.bin"), -2);
    EXPECT_EQ(ftp_.GetLastErrorMessage(), "FtpFindFirstFile error code: 6 Message: ");
    EXPECT_EQ(ftp_.GetDirectoryListing("*.*"), nullptr);
}

TEST_F(FtpClientTest, TracksTheRemoteFolderAndListsWithWindowsWildcards) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(ftp_.SetFTPDirectory("/Tekmo/ConfigSets"));
    ASSERT_TRUE(ftp_.SetFTPDirectory(".."));
    ASSERT_TRUE(ftp_.SetFTPDirectory("ConfigSets"));
    EXPECT_EQ(ftp_.GetFTPDirectory(), "/Tekmo/ConfigSets");
    // A missing folder or a file fails, says why, and changes nothing.
    EXPECT_FALSE(ftp_.SetFTPDirectory("/Tekmo/Missing"));
    EXPECT_EQ(ftp_.GetLastErrorMessage(), "550 No such file or directory.");
    EXPECT_FALSE(ftp_.SetFTPDirectory("Office.7z"));
    EXPECT_EQ(ftp_.GetFTPDirectory(), "/Tekmo/ConfigSets");

    struct stat st {};
    ASSERT_EQ(::stat(root_->file("repo/Tekmo/ConfigSets/Office.7z").c_str(), &st), 0);
    const cDirList* all = ftp_.GetDirectoryListing("*.*");
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->Count(), 4);
    const cDirItem* office = all->Item("OFFICE.7Z");  // keys ignore case
    ASSERT_NE(office, nullptr);
    EXPECT_EQ(office->Filename, "Office.7z");
    EXPECT_EQ(office->FileSize, 6);
    EXPECT_TRUE(office->Normal && !office->Directory);
    EXPECT_DOUBLE_EQ(office->LastWriteTime, UtcToOleLocal(st.st_mtime));
    EXPECT_EQ(ftp_.GetDirectoryListing("*.7Z")->Count(), 2);
    EXPECT_EQ(ftp_.GetDirectoryListing("*.zip"), nullptr);  // nothing matches
    EXPECT_EQ(ftp_.Directory().Count(), 0);

    ASSERT_TRUE(ftp_.SetFTPDirectory("/"));
    const cDirList* top = ftp_.GetDirectoryListing("*");
    ASSERT_NE(top, nullptr);
    ASSERT_NE(top->Item("Tekmo"), nullptr);
    EXPECT_TRUE(top->Item("Tekmo")->Directory && !top->Item("Tekmo")->Normal);
    // Names differing only in case: the later ones are left out, the listing goes on.
    ASSERT_TRUE(ftp_.SetFTPDirectory("/Cases"));
    const cDirList* list = ftp_.GetDirectoryListing("*.*");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Count(), 3);
    for (const char* key : {"beta.7z", "Zeta.7z", "alpha.7z"}) EXPECT_NE(list->Item(key), nullptr);
    ASSERT_TRUE(ftp_.SetFTPDirectory("/Many"));
    ASSERT_NE(ftp_.GetDirectoryListing("*.*"), nullptr);
    EXPECT_EQ(ftp_.Directory().Count(), 2000);
}

TEST_F(FtpClientTest, SizesAndDownloadsWithOneEventPer255ByteStep) {
    ASSERT_TRUE(Open());
    const std::pair<const char*, int> sizes[] = {
        {"DATA1000.BIN", 1000}, {"zero.bin", 0}, {"/Tekmo/Team Sets/Office 2.7z", 700}};
    for (const auto& [name, size] : sizes) EXPECT_EQ(ftp_.GetFTPFileSize(name), size) << name;
    const std::string before = ftp_.GetLastErrorMessage();
    EXPECT_EQ(ftp_.GetFTPFileSize("/NoFolder/nothing.bin"), -1);
    EXPECT_EQ(ftp_.GetLastErrorMessage(), before);  // "not found" records nothing

    for (int size : kSizes) {
        SCOPED_TRACE(size);
        events_.clear();
        const std::string name = "data" + std::to_string(size) + ".bin";
        ASSERT_TRUE(ftp_.FTPDownloadFile(Local(name), name)) << ftp_.GetLastErrorMessage();
        EXPECT_EQ(events_, ExpectedEvents(size));
        EXPECT_EQ(ReadFile(Local(name)), Pattern(static_cast<std::size_t>(size)));
    }
    // Blanks in the names; blanks around both names are trimmed.
    ASSERT_TRUE(ftp_.FTPDownloadFile("  " + Local("team.7z") + " ", " /Tekmo/Team Sets/Office 2.7z "));
    EXPECT_EQ(ReadFile(Local("team.7z")), Pattern(700));
    for (auto& file : LocalFiles()) ::unlink(Local(file).c_str());
    events_.clear();
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("zero.bin"), "zero.bin"));
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("none.bin"), "none.bin"));
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("x"), "  "));
    EXPECT_FALSE(ftp_.FTPDownloadFile(root_->file("no/such/folder/x.bin"), "data1.bin"));
    EXPECT_TRUE(events_.empty());
    EXPECT_TRUE(LocalFiles().empty());

    // Simple get copies whole files; ASCII takes effect at once: local line ends.
    ASSERT_TRUE(ftp_.SimpleFTPGetFile(Local("text.txt"), "/text.txt"));
    EXPECT_EQ(ReadFile(Local("text.txt")), "one\r\ntwo\r\n");
    ftp_.SetTransferASCII();
    ASSERT_TRUE(ftp_.SimpleFTPGetFile(Local("text.txt"), "/text.txt"));
    EXPECT_EQ(ReadFile(Local("text.txt")), "one\ntwo\n");
    EXPECT_FALSE(ftp_.SimpleFTPGetFile(Local("missing"), "missing.bin"));
    EXPECT_EQ(LocalFiles(), std::vector<std::string>{"text.txt"});
}

TEST_F(FtpClientTest, HandlersCannotStartASecondOperationAndMayClose) {
    const auto fds = ListNames("/proc/self/fd").size();
    ASSERT_TRUE(Open());
    std::string nested;
    ftp_.FileTransferProgress = [&](std::int32_t current, std::int32_t) {
        if (current != 255) return;
        EXPECT_EQ(ftp_.GetFTPFileSize("data1.bin"), -2);
        nested = ftp_.GetLastErrorMessage();
    };
    ASSERT_TRUE(ftp_.FTPDownloadFile(Local("n.bin"), "data1000.bin"));
    EXPECT_NE(nested.find("12110"), std::string::npos) << nested;
    WriteFile(Local("c.bin"), "old content");
    ftp_.FileTransferProgress = [&](std::int32_t current, std::int32_t) {
        if (current == 255 * 10) ftp_.CloseConnection();
    };
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("c.bin"), "data100000.bin"));
    EXPECT_FALSE(ftp_.Connected());
    EXPECT_EQ(LocalFiles(), std::vector<std::string>{"n.bin"});
    EXPECT_EQ(ListNames("/proc/self/fd").size(), fds) << "every handle is released";
}

// ---- misbehaving servers ------------------------------------------------------

class FtpFaultTest : public FtpClientTest {
  protected:
    static void SetUpTestSuite() {
        FtpClientTest::SetUpTestSuite();
        peers_ = std::make_unique<FaultPeers>();
    }
    static void TearDownTestSuite() {
        peers_.reset();
        FtpClientTest::TearDownTestSuite();
    }
    void SetUp() override {
        FtpClientTest::SetUp();
        ASSERT_TRUE(peers_->ok());
    }
    bool OpenPeer(const std::string& user = "mlsd") {
        return ftp_.OpenConnection(peers_->ftpHost(), user, "pw");
    }
    static std::unique_ptr<FaultPeers> peers_;
};

std::unique_ptr<FaultPeers> FtpFaultTest::peers_;

TEST_F(FtpFaultTest, BrokenTransfersLeaveNoFileUnderTheTargetName) {
    ftp_.idleTimeoutSeconds = 1;
    ftp_.lowSpeedSeconds = 1;
    const std::pair<const char*, const char*> cases[] = {
        {"drop.bin", "InternetReadFile error code: 12030"},
        {"short.bin", "InternetReadFile error code: 12030"},
        {"stall.bin", "InternetReadFile error code: 12002"}};
    for (const auto& [remote, message] : cases) {
        SCOPED_TRACE(remote);
        ASSERT_TRUE(OpenPeer());
        WriteFile(Local("target.bin"), "stale copy from an earlier run");
        events_.clear();
        EXPECT_FALSE(ftp_.FTPDownloadFile(Local("target.bin"), remote));
        EXPECT_EQ(ftp_.GetLastErrorMessage().rfind(message, 0), 0u) << ftp_.GetLastErrorMessage();
        EXPECT_TRUE(LocalFiles().empty());
        // Only steps that really arrived were reported.
        ASSERT_FALSE(events_.empty());
        EXPECT_LE(events_.back().first, 30000);
        EXPECT_EQ(events_.back().second, 100000);
    }
}

TEST_F(FtpFaultTest, SizesOutsideTheSigned32BitRangeAndGrowingFiles) {
    ASSERT_TRUE(OpenPeer());
    EXPECT_EQ(ftp_.GetFTPFileSize("big.bin"), static_cast<std::int32_t>(3000000000u));
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("big.bin"), "big.bin"));
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("empty.bin"), "empty.bin"));
    EXPECT_TRUE(LocalFiles().empty());
    // A file that grew after its size was taken: the promised bytes are kept.
    ASSERT_TRUE(ftp_.FTPDownloadFile(Local("long.bin"), "long.bin")) << ftp_.GetLastErrorMessage();
    EXPECT_EQ(ReadFile(Local("long.bin")).size(), 1000u);
    EXPECT_EQ(events_, ExpectedEvents(1000));
}

TEST_F(FtpFaultTest, FallsBackToListWhenTheServerHasNoMlsd) {
    for (const char* style : {"dos", "unix", "mlsd"}) {
        SCOPED_TRACE(style);
        ASSERT_TRUE(OpenPeer(style));
        const cDirList* list = ftp_.GetDirectoryListing("*.bin");
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->Count(), 7);
        ASSERT_NE(list->Item("drop.bin"), nullptr);
        EXPECT_EQ(list->Item("drop.bin")->FileSize, 100000);
        EXPECT_GT(list->Item("drop.bin")->LastWriteTime,
                  UtcToOleLocal((DaysFromCivil(2023, 3, 4) - 1) * 86400));
        EXPECT_EQ(ftp_.GetFTPFileSize("long.bin"), 1000);
    }
}

// Counts how often the window got its turn.
struct CountingPump : EventPump {
    CountingPump() { SetEventPump(this); }
    ~CountingPump() override { SetEventPump(nullptr); }
    void Pump() override { ++pumps; }
    int pumps = 0;
};

TEST_F(FtpFaultTest, ADrippingServerIsAbandonedWhileTheWindowKeepsItsTurn) {
    ftp_.lowSpeedBytes = 1024;
    ftp_.lowSpeedSeconds = 2;
    ASSERT_TRUE(OpenPeer());
    CountingPump pump;
    WriteFile(Local("drip.bin"), "stale copy");
    EXPECT_FALSE(ftp_.FTPDownloadFile(Local("drip.bin"), "drip.bin"));
    EXPECT_EQ(ftp_.GetLastErrorMessage(),
              "InternetReadFile error code: 12002 Message: The operation timed out");
    EXPECT_TRUE(LocalFiles().empty());
    EXPECT_GT(pump.pumps, 0);
}

long PeakRssKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST_F(FtpFaultTest, AnEndlessListingIsCutWithBoundedMemoryAndLog) {
    LogCapture log;
    ASSERT_TRUE(OpenPeer("endless"));
    const long before = PeakRssKb();
    const cDirList* list = ftp_.GetDirectoryListing("*");
    const long grownKb = PeakRssKb() - before;
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Count(), 25000);  // every name comes twice
    EXPECT_LT(grownKb, 160 * 1024);
    EXPECT_TRUE(log.contains("cut at 8388608 bytes"));
    EXPECT_TRUE(log.contains("cut at 50000 entries"));
    EXPECT_TRUE(log.contains("duplicate names: ... 24990 repeated lines suppressed"));
    long duplicateLines = 0;
    for (const auto& line : log.lines())
        duplicateLines += line.find("duplicate name") != std::string::npos;
    EXPECT_EQ(duplicateLines, 11);
}

}  // namespace
}  // namespace talvane
