// FtpSession and Download against the local cloud and the fault peers; listing lines.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/event_pump.h"
#include "net/download.h"
#include "net/error_codes.h"
#include "net/ftp_session.h"
#include "net/listing_parser.h"
#include "net/partial_download.h"
#include "support/cloud_server.h"
#include "support/file_util.h"
#include "support/log_capture.h"

namespace talvane {
namespace {

using namespace testing;
using namespace net;
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

using Log = std::vector<std::string>;

// Every event in order; a run of progress events shows as its last "progress received/total".
void Record(Download& d, Log& log) {
    d.Started = [&log] { log.push_back("started"); };
    d.Complete = [&log] { log.push_back("complete"); };
    d.Aborted = [&log, &d](long code, const std::string& text) {
        log.push_back("aborted " + std::to_string(code) + " " + text + (d.Running() ? "!" : ""));
    };
    d.Progress = [&log](std::int64_t received, std::int64_t total) {
        if (log.empty() || log.back().rfind("progress", 0) != 0) log.emplace_back();
        log.back() = "progress " + std::to_string(received) + "/" + std::to_string(total);
    };
}

std::string Aborted(std::uint32_t code, const std::string& text) {
    return "aborted " + std::to_string(static_cast<std::int32_t>(code)) + " " + text;
}

// The bytes the fault peers send: 0, 1, ... 255, 0, 1, ...
std::string PeerBytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i & 0xFF);
    return s;
}

// The loopback cloud and the fault peers, started once for all transfer tests.
class Servers : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (root_) return;
        root_ = std::make_unique<TempDir>();
        for (const char* d : {"redist", "local", "out"})
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
        WriteFile(root_->file("web/sub/big.bin"), PeerBytes(300000));
        WriteFile(root_->file("repo/pkg.zip"), "zip bytes");
        WriteFile(root_->file("web/tech one/Setup.exe"), "setup");
        const CloudAccount alice{"alice", "s3cret:x", root_->file("sub")};
        cloud_ = std::make_unique<CloudServer>(
            CloudOptions{root_->file("repo"), root_->file("redist"), root_->file("web"), {alice}});
        peers_ = std::make_unique<FaultPeers>();
    }
    void SetUp() override { ASSERT_TRUE(cloud_->ok() && peers_->ok()); }

    static std::unique_ptr<TempDir> root_;
    static std::unique_ptr<CloudServer> cloud_;
    static std::unique_ptr<FaultPeers> peers_;
};

std::unique_ptr<TempDir> Servers::root_;
std::unique_ptr<CloudServer> Servers::cloud_;
std::unique_ptr<FaultPeers> Servers::peers_;

class FtpClientTest : public Servers {
  protected:
    void SetUp() override {
        Servers::SetUp();
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

    net::FtpSession ftp_;
    Events events_;
};

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
    const net::ListingEntry* office = listing->Find("OFFICE.7Z");  // names ignore case
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
    // The whole file arrived but cannot take its name (a folder is there): a failure.
    ASSERT_TRUE(std::filesystem::create_directories(Local("taken.bin/inside")));
    EXPECT_FALSE(ftp_.Download(Local("taken.bin"), "data1000.bin"));
    std::filesystem::remove_all(Local("taken.bin"));

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
    // A handler that throws ends the download as failed.
    ASSERT_TRUE(Open());
    ftp_.Progress = [](std::int64_t, std::int64_t) { throw std::runtime_error("handler"); };
    EXPECT_FALSE(ftp_.Download(Local("c.bin"), "data1000.bin"));
    ftp_.Close();
    EXPECT_EQ(LocalFiles(), std::vector<std::string>{"n.bin"});
    EXPECT_EQ(ListNames("/proc/self/fd").size(), fds) << "every handle is released";
}

struct CountingPump : EventPump {
    CountingPump() { SetEventPump(this); }
    ~CountingPump() override { SetEventPump(nullptr); }
    void Pump() override { ++pumps; }
    int pumps = 0;
};

// Broken, stalled, dripping, huge and empty transfers fail, say why and leave no file behind,
// not even the earlier one; the window keeps its turn meanwhile.
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
        {"edge.bin", "InternetReadFile2 error code: 12030", 0},  // cut where the rest begins
        {"none.bin", read + "12030", -1},                        // begun, cut before a byte came
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
        // A transfer that began replaces the target: the stale copy goes even when no byte came.
        if (!c.message.empty()) WriteFile(Local("target.bin"), "stale copy from an earlier run");
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

// A transfer cut off keeps its part for the next call, which continues it with REST, its
// progress over the whole file.
TEST_F(FtpClientTest, ResumableDownloadsKeepWhatArrivedAndContinueIt) {
    const std::string target = Local("drop.bin");
    for (std::int64_t run = 1; run <= 2; ++run) {
        ASSERT_TRUE(OpenPeer());  // the peer closes the connection with the data
        events_.clear();
        EXPECT_FALSE(ftp_.DownloadResumable(target, "drop.bin"));
        EXPECT_TRUE(ReadFile(target + ".partial") == PeerBytes(30000 * run)) << run;
        ASSERT_FALSE(events_.empty());
        EXPECT_EQ(events_.front(), Events::value_type((30000 * (run - 1) / 255 + 1) * 255, 100000));
    }
    EXPECT_EQ(LocalFiles(),
              (std::vector<std::string>{"drop.bin.partial", "drop.bin.partial.info"}));
    // A record that cannot be written (a folder has its name): nothing comes, and why is kept.
    const std::string held = Local("held.bin");
    std::filesystem::create_directory(OriginPath(held));
    ASSERT_TRUE(OpenPeer());
    EXPECT_FALSE(ftp_.DownloadResumable(held, "drop.bin"));
    EXPECT_EQ(ftp_.LastErrorMessage().rfind("FTPDownloadFile error code: ", 0), 0u)
        << ftp_.LastErrorMessage();
    EXPECT_FALSE(std::filesystem::exists(held + ".partial"));
    std::filesystem::remove(OriginPath(held));  // the folder is this case's alone
}

// Ranges land in their places (the rest reads as zeros), a range ends at its last byte and
// the progress counts the ranges' bytes; a file of another size is not touched.
TEST_F(FtpClientTest, RangesLandInTheirPlacesOfAFileOfTheServersSize) {
    const std::string target = Local("ranges.bin");
    const std::string data = Pattern(100000);
    ASSERT_TRUE(Open());
    const std::vector<net::ByteRange> ranges{{0, 1}, {5000, 300}, {99999, 1}};
    ASSERT_TRUE(ftp_.DownloadRanges(target, "data100000.bin", 100000, ranges))
        << ftp_.LastErrorMessage();
    std::string expected(100000, '\0');
    for (const auto& r : ranges)
        expected.replace(r.offset, r.length, data.substr(r.offset, r.length));
    EXPECT_EQ(ReadFile(target), expected);
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ(events_.back(), Events::value_type(302, 302));
    // A second call fills in more of the same file.
    ASSERT_TRUE(ftp_.DownloadRanges(target, "data100000.bin", 100000, {{1, 4999}}));
    EXPECT_EQ(ReadFile(target).substr(0, 5300), data.substr(0, 5300));

    // (what is asked, why it must fail)
    const std::vector<std::pair<std::string, std::vector<net::ByteRange>>> refused = {
        {"a range past the end", {{99999, 2}}},
        {"an empty range", {{10, 0}}},
    };
    for (const auto& [what, asked] : refused)
        EXPECT_FALSE(ftp_.DownloadRanges(Local("bad.bin"), "data100000.bin", 100000, asked))
            << what;
    EXPECT_FALSE(ftp_.DownloadRanges(Local("bad.bin"), "data100000.bin", 99999, {{0, 10}}));
    EXPECT_FALSE(std::filesystem::exists(Local("bad.bin")));
    // Closed from the handler at the last byte: the transfer was stopped, not completed.
    ftp_.Progress = [this](std::int64_t now, std::int64_t total) {
        if (now == total) ftp_.Close();
    };
    EXPECT_FALSE(ftp_.DownloadRanges(Local("cut.bin"), "data100000.bin", 100000, {{0, 10}}));
}

// What the end-to-end runs do not reach: a part longer than the file, a record not written here.
TEST(PartialDownload, ContinuesOnlyAPartOfTheSameFile) {
    const PartOrigin now{1000, 1700000000, "127.0.0.1:2121", "/Redist/Tekmo_2.1.0.zip"};
    PartOrigin otherFile = now, otherHost = now;
    otherFile.path = "/Redist/Tekmo_2.0.1.zip";  // same size, same second
    otherHost.host = "127.0.0.1:2122";
    const struct {
        std::optional<PartOrigin> saved;
        std::int64_t part;
        std::string why;  // empty: continued
    } cases[] = {{now, 1, ""},
                 {now, 1000, ""},
                 {now, -1, "no part"},
                 {std::nullopt, 400, "record"},
                 {otherFile, 400, "another file"},
                 {otherHost, 400, "another file"},
                 {now, 1001, "larger than the file"}};
    for (const auto& c : cases) {
        const std::string why = WhyStartAfresh(c.saved, c.part, now);
        EXPECT_TRUE(c.why.empty() ? why.empty() : why.find(c.why) != std::string::npos) << why;
    }
    const auto parsed = ParseOrigin(FormatOrigin(now)).value_or(PartOrigin{});
    EXPECT_EQ(std::tie(parsed.modified, parsed.host, parsed.path),
              std::tie(now.modified, now.host, now.path));
    EXPECT_TRUE(ParseOrigin("size 0\nmodified 0\nhost h\npath /p\n"));
    for (const char* text :
         {"size 1000\nmodified 1\n", "size 1000\nmodified 1\nhost h\npath /p\nx",
          "size -1\nmodified 1\nhost h\npath /p\n", "modified 1\nsize 1000\nhost h\npath /p\n",
          "bulk 1000\nmodified 1\nhost h\npath /p\n", "size 1000\nmodified 1\nhost \npath /p\n",
          "size 1000\nmodified 1\nhost h\npath \n"})
        EXPECT_FALSE(ParseOrigin(text)) << text;
}

// MLSD refused gives LIST for the connection; a transfer ends with the data, never against SIZE.
TEST_F(FtpClientTest, ListsInEveryStyleAndEndsTransfersWithTheData) {
    for (const char* style : {"dos", "unix", "deny", "deny400", "garbled", "mlsd"}) {
        SCOPED_TRACE(style);
        LogCapture log;
        ASSERT_TRUE(OpenPeer(style));
        for (int twice = 0; twice < 2; ++twice) {
            const auto list = ftp_.List("*.bin");
            ASSERT_TRUE(list);
            EXPECT_EQ(list->size(), 10u);
            const net::ListingEntry* drop = list->Find("drop.bin");
            ASSERT_NE(drop, nullptr);
            EXPECT_EQ(drop->size, 100000);
            EXPECT_GT(drop->modified, std::chrono::sys_days(std::chrono::year(2023) / 3 / 3));
        }
        EXPECT_EQ(log.count("trying LIST"), style == std::string("mlsd") ? 0 : 1);
        EXPECT_EQ(ftp_.FileSize("big.bin"), std::int64_t{3000000000});
    }
    // The largest file a 32-bit count holds is fetched (this one ends short); a larger one is not.
    ASSERT_TRUE(OpenPeer());
    EXPECT_FALSE(ftp_.Download(Local("max.bin"), "max.bin"));
    EXPECT_EQ(ftp_.LastErrorMessage().rfind("InternetReadFile", 0), 0u) << ftp_.LastErrorMessage();
    // A listing that fails for another reason than "not found" says why.
    ASSERT_TRUE(OpenPeer("broken"));
    EXPECT_FALSE(ftp_.List("*.bin"));
    EXPECT_EQ(ftp_.LastErrorMessage(), "451 Local error in processing.");
    const std::pair<const char*, bool> peers[] = {{"mlsd", false}, {"nosize", true}};
    for (const auto& [peer, fetched] : peers) {
        ASSERT_TRUE(OpenPeer(peer));
        events_.clear();
        EXPECT_EQ(ftp_.Download(Local("long.bin"), "long.bin"), fetched) << peer;
        EXPECT_EQ(LocalFiles().size(), fetched ? 1u : 0u);
    }
    EXPECT_EQ(ReadFile(Local("long.bin")), PeerBytes(5000));
    EXPECT_EQ(events_, (Events{{255, 1000}, {510, 1000}, {765, 1000}, {5000, 5000}}));
    // A limit stops a file that sends more than it may, exactly past the limit.
    EXPECT_FALSE(ftp_.Download(Local("capped.bin"), "long.bin", 4999));
    EXPECT_TRUE(ftp_.Download(Local("capped.bin"), "long.bin", 5000));
    // Active from the next sign-in on; this peer offers passive data connections only.
    ftp_.UseActiveMode();
    EXPECT_TRUE(ftp_.Download(Local("long.bin"), "long.bin"));
    for (const auto& [cloud, name] : {std::pair{true, "data1000.bin"}, {false, "long.bin"}}) {
        ASSERT_TRUE(cloud ? Open() : OpenPeer("nosize"));
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
    EXPECT_EQ(log.count("duplicate name"), 11);
    // A cut inside a line drops that line: the first (62 bytes) stays, "sho" of the second goes.
    ASSERT_TRUE(OpenPeer());
    ftp_.maxListingBytes = 62 + 55;
    EXPECT_EQ(ftp_.List("*").value_or(net::Listing()).size(), 1u);
}

class DownloadTest : public Servers {
  protected:
    void TearDown() override {
        for (const auto& n : ListNames(root_->file("out"))) ::unlink(Out(n).c_str());
    }
    static std::string Out(const std::string& name) { return root_->file("out/" + name); }
    // One download with short timeouts; the caller stops it once `stopAt` bytes are in.
    static Log Fetch(const std::string& url, const std::string& name, long long maxBytes = 0,
                     long idle = 1, long lowSpeedBytes = 1024, long lowSpeedSeconds = 2,
                     std::int64_t stopAt = 0) {
        Download d;
        d.connectTimeoutSeconds = 2;
        d.idleTimeoutSeconds = idle;
        d.lowSpeedBytes = lowSpeedBytes;
        d.lowSpeedSeconds = lowSpeedSeconds;
        d.maxBytes = maxBytes;
        d.protocols = kWithFtp;
        Log log;
        Record(d, log);
        if (stopAt)
            d.Progress = [&d, stopAt](std::int64_t got, std::int64_t) {
                if (got >= stopAt) d.Stop();
            };
        d.Start(url, Out(name));
        EXPECT_FALSE(d.Running());
        return log;
    }
    static std::string Ftp(const std::string& path) {
        return "ftp://NimbaraMember:Tovex%25hn52@" + cloud_->repositoryHost() + path;
    }
    static constexpr const char* kWithFtp = "http,https,ftp";
};

// Progress only with a known length; blanks, an escaped password, FTP, a redirect, a size cap.
TEST_F(DownloadTest, SuccessfulTransfers) {
    const struct {
        std::string url, name, content;
        Log log;
        long long maxBytes = 0;
    } cases[] = {
        // clang-format off
        {cloud_->httpBase() + "/sub/big.bin", "big.bin", PeerBytes(300000),
         {"started", "progress 300000/300000", "complete"}, 300000},
        {cloud_->httpBase() + "/tech one/Setup.exe", "Setup.exe", "setup",
         {"started", "progress 5/5", "complete"}},
        {peers_->httpBase() + "/nolength", "n.bin", PeerBytes(5000), {"started", "complete"}},
        {Ftp("/pkg.zip"), "pkg.zip", "zip bytes", {"started", "progress 9/9", "complete"}},
        {peers_->httpBase() + "/redirect-ok", "r.bin", PeerBytes(5000), {"started", "complete"}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(Fetch(c.url, c.name, c.maxBytes), c.log);
        EXPECT_EQ(ReadFile(Out(c.name)), c.content);
    }
    EXPECT_EQ(ListNames(root_->file("out")).size(), std::size(cases));
}

// Every failure ends in "aborted" (Running() already false) and leaves what was there before.
TEST_F(DownloadTest, FailuresEndInAbortedWithTheirCodeAndLeaveNoFile) {
    SilentListener silent;
    const std::string local = "http://127.0.0.1:", http = peers_->httpBase();
    const std::string timeout = Aborted(kInetConnectionTimeout, "Connection Timeout.");
    const std::string failure = Aborted(kInetDownloadFailure, "Download Failure.");
    const std::string denied = Aborted(kInetAuthenticationRequired, "Authentication Failure.");
    const std::string redirect = Aborted(kInetRedirectFailed, "Redirect Failed.");
    const std::string protocol = Aborted(kInetUnknownProtocol, "Unknown Protocol.");
    const std::string notFound = Aborted(kInetObjectNotFound, "File Not Found.");
    const struct {
        std::string url, last;
        bool started = true;
        long long maxBytes = 0;
        long idle = 1, lowSpeedBytes = 1024, lowSpeedSeconds = 2;
        std::int64_t stopAt = 0;
    } cases[] = {
        {cloud_->httpBase() + "/missing.bin", notFound},
        {local + std::to_string(RefusedPort()) + "/x",
         Aborted(kInetCannotConnect, "Cannot Connect")},
        {"http://talvane-test.invalid/x", Aborted(kInetResourceNotFound, "Resource Not Found.")},
        {local + std::to_string(silent.port()) + "/x", timeout},
        {http + "/stall", timeout},
        {http + "/drop", failure},
        {http + "/auth", denied},
        {http + "/status/400", Aborted(kInetInvalidRequest, "Invalid Request.")},
        {http + "/status/403", denied},
        {http + "/status/500", failure},
        {http + "/redirect-file", redirect},
        {http + "/redirect-loop", redirect},
        {"https" + cloud_->httpBase().substr(4) + "/sub/big.bin",
         Aborted(kInetSecurityProblem, "Security Problem.")},
        {Ftp("/none.zip"), notFound},
        {"file:///etc/hostname", protocol, false},
        {"no url at all", Aborted(kInetInvalidUrl, "Invalid URL."), false},
        {"ht_tp://127.0.0.1/x", Aborted(kInetInvalidUrl, "Invalid URL."), false},
        {http + "/drip", timeout, true, 0, 30},
        // 5 bytes a second is within 8 bytes in 3 seconds: only the caller ends it (after 4 s).
        {http + "/drip", Aborted(kAbortedByCaller, "Unknown Error."), true, 0, 30, 8, 3, 20},
        {http + "/big", failure, true, 1 << 20},
        {cloud_->httpBase() + "/sub/big.bin", failure, true, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        WriteFile(Out("t.bin"), "earlier file");
        const Log log =
            Fetch(c.url, "t.bin", c.maxBytes, c.idle, c.lowSpeedBytes, c.lowSpeedSeconds, c.stopAt);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), c.last);
        EXPECT_EQ(log.front() == "started", c.started);
        EXPECT_EQ(ReadFile(Out("t.bin")), "earlier file");
        EXPECT_EQ(ListNames(root_->file("out")).size(), 1u);
    }
}

// Hops keep to the allowed schemes and never leave https; an untrusted certificate is refused.
TEST_F(DownloadTest, RedirectsKeepToTheAllowedSchemesAndNeverLeaveHttps) {
    ScriptProcess peers;  // fault peers of its own, for their https side
    ASSERT_TRUE(
        peers.Start({std::string(TALVANE_SOURCE_DIR) + "/tools/cloud/testpeers/fault_peers.py"}));
    const std::string http = peers.JsonValue("http"), https = peers.JsonValue("https"),
                      pkg = Ftp("/pkg.zip");
    TALVANE_REQUIRE(!https.empty(), "the fault peers' https side needs the openssl program");
    const auto via = [](const std::string& from, const std::string& to) {
        std::string url = from + "/redirect?to=";
        for (const unsigned char c : to)
            url += {'%', "0123456789ABCDEF"[c / 16], "0123456789ABCDEF"[c % 16]};
        return url;
    };
    const std::string refused = Aborted(kInetRedirectFailed, "Redirect Failed.");
    const struct {
        std::string url, protocols, last, content;
        bool tls = false, trusted = true;
    } cases[] = {
        {https + "/nolength", net::kWebProtocols,
         Aborted(kInetSecurityProblem, "Security Problem."), "", true, false},
        {via(http, pkg), kWithFtp, "complete", "zip bytes"},
        {via(http, pkg), net::kWebProtocols, refused, ""},
        {pkg, net::kWebProtocols, Aborted(kInetUnknownProtocol, "Unknown Protocol."), ""},
        {via(http, "file:///etc/hostname"), kWithFtp, refused, ""},
        {via(https, https + "/nolength"), net::kWebProtocols, "complete", PeerBytes(5000), true},
        {via(https, http + "/nolength"), kWithFtp, refused, "", true},
        {via(http, via(https, http + "/nolength")), kWithFtp, refused, "", true},
        {via(https, pkg), kWithFtp, refused, "", true}};
    for (const auto& c : cases) {
#ifdef _WIN32
        if (c.tls) continue;  // the certificate file is Linux's
#endif
        SCOPED_TRACE(c.url);
        ::unlink(Out("r.bin").c_str());
        Download d;
        d.protocols = c.protocols;
        d.certificateAuthorities = c.trusted ? peers.JsonValue("ca") : "";
        Log log;
        Record(d, log);
        d.Start(c.url, Out("r.bin"));
        EXPECT_EQ(log.back(), c.last);
        EXPECT_EQ(ReadFile(Out("r.bin")), c.content);
    }
}

TEST_F(DownloadTest, StopFromAHandlerAbortsAndASecondStartDoesNothing) {
    Download d;
    Log log;
    Record(d, log);
    std::size_t nestedEvents = 0;
    d.Progress = [&](std::int64_t, std::int64_t) {
        const auto before = log.size();
        d.Start(cloud_->httpBase() + "/sub/big.bin", Out("second.bin"));
        nestedEvents += log.size() - before;
        d.Stop();
    };
    d.Start(cloud_->httpBase() + "/sub/big.bin", Out("first.bin"));
    EXPECT_EQ(nestedEvents, 0u);
    EXPECT_EQ(log, (Log{"started", Aborted(kAbortedByCaller, "Unknown Error.")}));
    EXPECT_TRUE(ListNames(root_->file("out")).empty());
    d.Stop();  // idle: nothing happens
    EXPECT_EQ(log.size(), 2u);
}

const std::int64_t kNow = (DaysFromCivil(2026, 12, 6) * 24 + 7) * 3600 + 30 * 60;  // 07:30 UTC

std::string Time(std::chrono::sys_seconds when) {
    const std::time_t t = static_cast<std::time_t>(when.time_since_epoch().count());
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::gmtime(&t));
    return text;
}

// "name[/ for folders] size modified", or "-" when the line is no entry.
std::string Parse(bool mlsd, const char* line) {
    net::ListingEntry e;
    if (!(mlsd ? net::ParseMlsdLine(line, e) : net::ParseListLine(line, kNow, e))) return "-";
    return e.name + (e.isFolder ? "/ " : " ") + std::to_string(e.size) + " " +
           (e.modified ? Time(*e.modified) : "notime");
}

TEST(ListingParserTest, ListLines) {
    const std::pair<const char*, const char*> cases[] = {
        {"drwxr-xr-x   2 root     root         4096 Dec 06 07:23 sub dir",
         "sub dir/ 4096 2026-12-06 07:23:00"},
        // A time without a year that would lie in the future belongs to last year.
        {"-rw-r--r--   1 ftp ftp  5 Dec 24 10:00 gift.txt", "gift.txt 5 2025-12-24 10:00:00"},
        // vsftpd: numeric owners, inner blanks, owner or group named like a month
        {"-rw-r--r--    1 1000     1000     3000000000 Feb 12  2020 big  two.iso",
         "big  two.iso 3000000000 2020-02-12 00:00:00"},
        {"-rw-r--r--    1 1000     may          512 Jan 31  2024 Office.7z",
         "Office.7z 512 2024-01-31 00:00:00"},
        {"-rw-r--r--    1 jan      1001         64 Mar 04 09:15 Notes",
         "Notes 64 2026-03-04 09:15:00"},
        {"-rw-r--r-- 1 owner 77 Jul 1 2022 short.txt",
         "short.txt 77 2022-07-01 00:00:00"},  // no group
        // A link (servers that publish "latest" so) is listed under its own name.
        {"lrwxrwxrwx   1 ftp ftp  15 Dec 06 07:23 tekmoUpdate.zip -> Tekmo_2.2.0.zip",
         "tekmoUpdate.zip 15 2026-12-06 07:23:00"},
        // IIS
        {"02-23-18  10:34AM       <DIR>          aspnet_client",
         "aspnet_client/ 0 2018-02-23 10:34:00"},
        {"10-31-17  03:22PM                  689 iisstart.htm",
         "iisstart.htm 689 2017-10-31 15:22:00"},
        {"01-02-2020  12:05AM             1,234 Field Team.7z",
         "Field Team.7z 1234 2020-01-02 00:05:00"},
        {"06-30-99  12:00PM                    0 old.txt", "old.txt 0 1999-06-30 12:00:00"},
        // no entries
        {"total 500", "-"},
        {"drwxr-xr-x  21 root root  4096 Dec  6 07:07 .", "-"},
        {"-rw-r--r-- garbage", "-"},
        {"-rw-r--r--   1 root root  12 Foo 06 07:23 x", "-"},
        {"-rw-r--r--   1 root root  12 Dec 06 25:99 x", "-"},
        {"-rw-r--r--   1 root root  12 Dec 32 07:23 x", "-"},
        {"-rw-r--r--   1 root root  12 Dec 00 07:23 x", "-"},
        {"", "-"},
        {"13-01-20  10:00AM   5 bad-month", "-"},
        {"01-01-20  13:00PM   5 bad-hour", "-"},
        {"01-01-20  00:30AM   5 bad-hour", "-"},
        {"01-01-20  01:30AM   5 one.txt", "one.txt 5 2020-01-01 01:30:00"},
        {"01-01-20  10:00AM", "-"},
        {"12-01-23  09:00AM                    5 first.txt", "first.txt 5 2023-12-01 09:00:00"},
        {"12-01-23", "-"},
        {"01-02-20  10:00AM       <DIR>          ..", "-"},
    };
    for (const auto& [line, want] : cases) EXPECT_EQ(Parse(false, line), want) << line;
}

TEST(ListingParserTest, MlsdLines) {
    const std::pair<const char*, const char*> cases[] = {
        {"modify=20230304050607;perm=radfwMT;size=1000;type=file;unique=fe00ga72247; f 1.bin",
         "f 1.bin 1000 2023-03-04 05:06:07"},
        {"modify=20261206072318;perm=eldfmMTcp;size=4096;type=dir;unique=fe00ga720c3; sub dir",
         "sub dir/ 4096 2026-12-06 07:23:18"},
        // Other servers: upper-case facts, fractions of seconds, other facts, a leading blank.
        {"Type=file;SIZE=5;Modify=20240101120000.123;Create=20231231000000;Perm=r;  spaced",
         " spaced 5 2024-01-01 12:00:00"},
        {"type=file;modify=2024; badtime", "badtime 0 notime"},
        {"type=cdir;modify=20240101120000; /Tekmo/ConfigSets", "-"},
        {"type=pdir;modify=20240101120000; Tekmo", "-"},  // some servers name them
        {"size=5; no-type", "-"},
        {"nospace", "-"},
    };
    for (const auto& [line, want] : cases) EXPECT_EQ(Parse(true, line), want) << line;
}

}  // namespace
}  // namespace talvane
