// FtpSession against pyftpdlib (tools/cloud/cloud.py) and the scripted fault peers; the workflow
// tests in tests/app drive it through sign-in, set listings, folder fallbacks and missing files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "common/event_pump.h"
#include "net/ftp_session.h"
#include "support/cloud_server.h"
#include "support/fault_servers.h"
#include "support/file_util.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using namespace testing;
using Events = std::vector<std::pair<std::int64_t, std::int64_t>>;

constexpr const char* kUser = "NimbaraMember";
constexpr int kSizes[] = {1, 255, 256, 1000, 100000};

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// One event per full 255-byte step, then (size, size).
Events ExpectedEvents(std::int64_t size) {
    Events events;
    for (std::int64_t k = 1; k <= size / 255; ++k) events.emplace_back(k * 255, size);
    events.emplace_back(size, size);
    return events;
}

class FtpClientTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = std::make_unique<TempDir>();
        for (const char* d : {"redist", "web", "local"})
            std::filesystem::create_directories(root_->file(d));
        for (const char* name :
             {"Tekmo/ConfigSets/Office.7z", "Tekmo/ConfigSets/Field Team.7z",
              "Tekmo/ConfigSets/Notes", "Tekmo/ConfigSets/readme.TXT", "Cases/Alpha.7z",
              "Cases/alpha.7z", "Cases/ALPHA.7Z", "Cases/Beta.7z", "Cases/zeta.7z"})
            WriteFile(root_->file("repo/") + name, "office");
        WriteFile(root_->file("repo/zero.bin"), "");
        WriteFile(root_->file("repo/Tekmo/Team Sets/Office 2.7z"), Pattern(700));
        for (int size : kSizes)
            WriteFile(root_->file("repo/data" + std::to_string(size) + ".bin"),
                      Pattern(static_cast<std::size_t>(size)));
        WriteFile(root_->file("sub/mine.7z"), "subscriber's own");
        cloud_ = std::make_unique<CloudServer>(
            CloudOptions{root_->file("repo"),
                         root_->file("redist"),
                         root_->file("web"),
                         {{"alice", "s3cret:x", root_->file("sub")}}});
        peers_ = std::make_unique<FaultPeers>();
    }
    void SetUp() override {
        ASSERT_TRUE(cloud_->ok() && peers_->ok());
        ftp_.UsePassiveMode();
        ftp_.UseBinary();
        ftp_.connectTimeoutSeconds = ftp_.idleTimeoutSeconds = 5;
        ftp_.Progress = [this](std::int64_t now, std::int64_t total) {
            events_.emplace_back(now, total);
        };
    }
    void TearDown() override {
        ftp_.Close();
        for (const auto& name : LocalFiles()) ::unlink(Local(name).c_str());
    }
    bool Open() { return ftp_.Open(cloud_->repositoryHost(), kUser, "Tovex%hn52"); }
    // The user name picks the listing style of the fault peer.
    bool OpenPeer(const char* user = "mlsd") { return ftp_.Open(peers_->ftpHost(), user, "pw"); }
    static std::string Local(const std::string& name) { return root_->file("local/" + name); }
    static std::vector<std::string> LocalFiles() { return ListNames(root_->file("local")); }

    // Suite-wide, released at exit in reverse order: peers, cloud, folder.
    static std::unique_ptr<TempDir> root_;
    static std::unique_ptr<CloudServer> cloud_;
    static std::unique_ptr<FaultPeers> peers_;
    FtpSession ftp_;
    Events events_;
};

std::unique_ptr<TempDir> FtpClientTest::root_;
std::unique_ptr<CloudServer> FtpClientTest::cloud_;
std::unique_ptr<FaultPeers> FtpClientTest::peers_;

TEST_F(FtpClientTest, SignsInAndConnectFailuresCarryWinInetTexts) {
    ASSERT_TRUE(Open()) << ftp_.LastErrorMessage();
    EXPECT_EQ(ftp_.CurrentFolder(), "/");
    // A subscriber lands in its own home; a password with ':' is passed intact.
    ASSERT_TRUE(ftp_.Open(cloud_->repositoryHost(), "alice", "s3cret:x"));
    EXPECT_EQ(ftp_.FileSize("mine.7z"), 16);

    SilentListener silent;
    ftp_.connectTimeoutSeconds = ftp_.idleTimeoutSeconds = 1;
    const std::string pre = "InternetConnect error code: ", local = "127.0.0.1:";
    const std::string unresolved =
        pre + "12007 Message: The server name or address could not be resolved";
    const std::pair<std::string, std::string> cases[] = {
        {cloud_->repositoryHost(), "530 Authentication failed."},  // wrong password
        {local + std::to_string(RefusedPort()),
         pre + "12029 Message: A connection with the server could not be established"},
        {"talvane-test.invalid", unresolved},
        {local + std::to_string(silent.port()), pre + "12002 Message: The operation timed out"},
        {"host/with?url#parts", unresolved},
    };
    for (const auto& [server, message] : cases) {
        EXPECT_FALSE(ftp_.Open(server, kUser, "wrong")) << server;
        EXPECT_EQ(ftp_.LastErrorMessage(), message);
        EXPECT_FALSE(ftp_.Connected());
    }
    // Operations without a connection fail.
    EXPECT_EQ(ftp_.FileSize("data1.bin"), std::nullopt);
    EXPECT_EQ(ftp_.LastErrorMessage(), "FtpFindFirstFile error code: 6 Message: ");
    EXPECT_FALSE(ftp_.List("*.*"));
}

TEST_F(FtpClientTest, TracksTheRemoteFolderAndListsWithWindowsWildcards) {
    ASSERT_TRUE(Open());
    for (const char* folder : {"/Tekmo/ConfigSets", "..", "ConfigSets"})
        ASSERT_TRUE(ftp_.ChangeFolder(folder)) << folder;
    EXPECT_FALSE(ftp_.ChangeFolder("/Tekmo/Missing"));
    EXPECT_EQ(ftp_.LastErrorMessage(), "550 No such file or directory.");
    EXPECT_EQ(ftp_.CurrentFolder(), "/Tekmo/ConfigSets");  // unchanged

    struct stat st {};
    ASSERT_EQ(::stat(root_->file("repo/Tekmo/ConfigSets/Office.7z").c_str(), &st), 0);
    const auto listing = ftp_.List("*.*");
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->size(), 4u);
    const ListingEntry* office = listing->Find("OFFICE.7Z");  // names ignore case
    ASSERT_NE(office, nullptr);
    EXPECT_EQ(office->name, "Office.7z");
    EXPECT_EQ(office->size, 6);
    EXPECT_FALSE(office->isFolder);
    EXPECT_EQ(office->modified, std::chrono::sys_seconds(std::chrono::seconds(st.st_mtime)));
    EXPECT_EQ(ftp_.List("*.7Z")->size(), 2u);
    EXPECT_FALSE(ftp_.List("*.zip"));  // nothing matches
    // Names differing only in case: the later ones are left out, the listing goes on.
    ASSERT_TRUE(ftp_.ChangeFolder("/Cases"));
    const auto cases = ftp_.List("*.*");
    ASSERT_TRUE(cases);
    EXPECT_EQ(cases->size(), 3u);
    for (const char* key : {"beta.7z", "Zeta.7z", "alpha.7z"}) EXPECT_NE(cases->Find(key), nullptr);
}

TEST_F(FtpClientTest, SizesAndDownloadsWithOneEventPer255ByteStep) {
    ASSERT_TRUE(Open());
    EXPECT_EQ(ftp_.FileSize("DATA1000.BIN"), 1000);
    EXPECT_EQ(ftp_.FileSize("zero.bin"), 0);
    EXPECT_EQ(ftp_.FileSize("/Tekmo/Team Sets/Office 2.7z"), 700);
    const std::string before = ftp_.LastErrorMessage();
    EXPECT_EQ(ftp_.FileSize("/NoFolder/nothing.bin"), std::nullopt);
    EXPECT_EQ(ftp_.LastErrorMessage(), before);  // "not found" records nothing
    // No remote name, no local folder: nothing reported, nothing written.
    EXPECT_FALSE(ftp_.Download(Local("x"), "  "));
    EXPECT_FALSE(ftp_.Download(root_->file("no/such/folder/x.bin"), "data1.bin"));
    EXPECT_TRUE(events_.empty() && LocalFiles().empty());

    for (int size : kSizes) {
        events_.clear();
        const std::string name = "data" + std::to_string(size) + ".bin";
        ASSERT_TRUE(ftp_.Download(Local(name), name)) << ftp_.LastErrorMessage();
        EXPECT_EQ(events_, ExpectedEvents(size)) << name;
        EXPECT_EQ(ReadFile(Local(name)), Pattern(static_cast<std::size_t>(size))) << name;
    }
    // Blanks in the names; blanks around both names are trimmed.
    ASSERT_TRUE(ftp_.Download("  " + Local("team.7z") + " ", " /Tekmo/Team Sets/Office 2.7z "));
    EXPECT_EQ(ReadFile(Local("team.7z")), Pattern(700));
}

TEST_F(FtpClientTest, HandlersCannotStartASecondOperationAndMayClose) {
    const auto fds = ListNames("/proc/self/fd").size();
    ASSERT_TRUE(Open());
    std::string nested;
    ftp_.Progress = [&](std::int64_t now, std::int64_t) {
        if (now == 255 && !ftp_.FileSize("data1.bin")) nested = ftp_.LastErrorMessage();
    };
    ASSERT_TRUE(ftp_.Download(Local("n.bin"), "data1000.bin"));
    EXPECT_NE(nested.find("12110"), std::string::npos) << nested;
    WriteFile(Local("c.bin"), "old content");
    ftp_.Progress = [&](std::int64_t now, std::int64_t) {
        if (now == 255 * 10) ftp_.Close();
    };
    EXPECT_FALSE(ftp_.Download(Local("c.bin"), "data100000.bin"));
    EXPECT_FALSE(ftp_.Connected());
    EXPECT_EQ(LocalFiles(), std::vector<std::string>{"n.bin"});
    EXPECT_EQ(ListNames("/proc/self/fd").size(), fds) << "every handle is released";
}

struct CountingPump : EventPump {
    CountingPump() { SetEventPump(this); }
    ~CountingPump() override { SetEventPump(nullptr); }
    void Pump() override { ++pumps; }
    int pumps = 0;
};

// Broken, stalled and dripping transfers, sizes a 32-bit count cannot hold and empty
// files fail, say why and leave no file under the target name, not even the earlier
// one; the window keeps its turn meanwhile and only steps that arrived are reported.
TEST_F(FtpClientTest, BrokenTransfersLeaveNoFileUnderTheTargetName) {
    ftp_.idleTimeoutSeconds = 1;
    ftp_.lowSpeedSeconds = 1;
    const std::string read = "InternetReadFile error code: ";
    const struct {
        const char* remote;
        std::string message;
        int lastEvent;  // -1: not begun, 0: no whole step
    } cases[] = {
        {"drop.bin", read + "12030", 30000},
        {"short.bin", read + "12030", 30000},
        {"stall.bin", read + "12002", 30000},
        {"drip.bin", read + "12002 Message: The operation timed out", 0},
        {"big.bin", "", -1},
        {"empty.bin", "", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.remote);
        ASSERT_TRUE(OpenPeer());
        CountingPump pump;
        if (c.remote == std::string("drip.bin")) {
            ftp_.idleTimeoutSeconds = 5;  // the low-speed rule, not the idle one, ends it
            ftp_.lowSpeedSeconds = 2;
            ftp_.lowSpeedBytes = 1024;
        }
        if (c.lastEvent >= 0) WriteFile(Local("target.bin"), "stale copy from an earlier run");
        events_.clear();
        EXPECT_FALSE(ftp_.Download(Local("target.bin"), c.remote));
        EXPECT_EQ(ftp_.LastErrorMessage().rfind(c.message, 0), 0u) << ftp_.LastErrorMessage();
        EXPECT_TRUE(LocalFiles().empty());
        if (c.lastEvent < 0) continue;
        EXPECT_GT(pump.pumps, 0);
        if (c.lastEvent == 0) continue;
        ASSERT_FALSE(events_.empty());
        EXPECT_LE(events_.back().first, c.lastEvent);
        EXPECT_EQ(events_.back().second, 100000);
    }
}

TEST_F(FtpClientTest, ListsInEveryStyleAndKeepsThePromisedBytesOfAGrownFile) {
    for (const char* style : {"dos", "unix", "mlsd"}) {  // the first two have no MLSD
        SCOPED_TRACE(style);
        ASSERT_TRUE(OpenPeer(style));
        const auto list = ftp_.List("*.bin");
        ASSERT_TRUE(list);
        EXPECT_EQ(list->size(), 7u);
        const ListingEntry* drop = list->Find("drop.bin");
        ASSERT_NE(drop, nullptr);
        EXPECT_EQ(drop->size, 100000);
        EXPECT_GT(drop->modified, std::chrono::sys_days(std::chrono::year(2023) / 3 / 3));
        EXPECT_EQ(ftp_.FileSize("long.bin"), 1000);
        EXPECT_EQ(ftp_.FileSize("big.bin"), std::int64_t{3000000000});
    }
    events_.clear();
    ASSERT_TRUE(ftp_.Download(Local("long.bin"), "long.bin")) << ftp_.LastErrorMessage();
    EXPECT_EQ(ReadFile(Local("long.bin")).size(), 1000u);
    EXPECT_EQ(events_, ExpectedEvents(1000));
    // The mode is the connection's: active from the next sign-in on. The server connects
    // back; this peer offers passive data connections only.
    ftp_.UseActiveMode();
    EXPECT_TRUE(ftp_.Download(Local("long.bin"), "long.bin"));
    for (const auto& [cloud, name] : {std::pair{true, "data1000.bin"}, {false, "long.bin"}}) {
        ASSERT_TRUE(cloud ? Open() : OpenPeer());
        EXPECT_EQ(ftp_.Download(Local("active.bin"), name), cloud) << name;
    }
    EXPECT_EQ(ReadFile(Local("active.bin")), Pattern(1000));
}

TEST_F(FtpClientTest, AnEndlessListingIsCutWithBoundedMemoryAndLog) {
    LogCapture log;
    ASSERT_TRUE(OpenPeer("endless"));
    const long before = PeakMemoryKb();
    const auto list = ftp_.List("*");
    EXPECT_LT(PeakMemoryKb() - before, 160 * 1024);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->size(), 25000u);  // every name comes twice
    for (const char* text : {"cut at 8388608 bytes", "cut at 50000 entries",
                             "duplicate names: ... 24990 repeated lines suppressed"})
        EXPECT_TRUE(log.contains(text)) << text;
    const auto& lines = log.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& l) { return l.find("duplicate name") != l.npos; }),
              11);
}

}  // namespace
}  // namespace talvane
