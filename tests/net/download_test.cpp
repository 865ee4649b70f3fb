// Download against the cloud's HTTP and FTP servers and the scripted fault peers.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/cloud_server.h"
#include "support/fault_servers.h"
#include "support/file_util.h"
#include "support/temp_dir.h"
#include "net/download.h"

namespace talvane {
namespace {

using namespace testing;

long Signed(std::uint32_t code) {
    return static_cast<long>(static_cast<std::int32_t>(code));
}

// Records every event in order.
struct Recorder {
    explicit Recorder(Download& d) {
        d.DownloadStarted = [this] { log.push_back("started"); };
        d.DownloadComplete = [this] { log.push_back("complete"); };
        d.DownloadAborted = [this, &d](long number, const std::string& text) {
            log.push_back("aborted");
            code = number;
            description = text;
            runningAtAbort = d.Running();
        };
        d.DownloadProgress = [this](long received, long total) {
            if (log.empty() || log.back() != "progress") log.push_back("progress");
            lastReceived = received;
            lastTotal = total;
        };
    }
    std::vector<std::string> log;
    long code = 0;
    std::string description;
    bool runningAtAbort = true;
    long lastReceived = -1, lastTotal = -1;
};

class DownloadTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = std::make_unique<TempDir>();
        std::string big(300000, '\0');
        for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 13);
        WriteFile(root_->file("web/sub/big.bin"), big);
        WriteFile(root_->file("repo/pkg.zip"), "zip bytes");
        WriteFile(root_->file("web/tech one/Setup.exe"), "setup");
        for (const char* d : {"redist", "out"}) std::filesystem::create_directories(root_->file(d));
        cloud_ = std::make_unique<CloudServer>(
            CloudOptions{root_->file("repo"), root_->file("redist"), root_->file("web"), {}});
        peers_ = std::make_unique<FaultPeers>();
    }
    static void TearDownTestSuite() {
        peers_.reset();
        cloud_.reset();
        root_.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(cloud_->ok());
        ASSERT_TRUE(peers_->ok());
        download_.connectTimeoutSeconds = 2;
        download_.idleTimeoutSeconds = 1;
        download_.lowSpeedSeconds = 1;
    }
    void TearDown() override {
        for (const auto& n : FolderEntries(root_->file("out"))) ::unlink(Out(n).c_str());
    }
    static std::string Out(const std::string& name) { return root_->file("out/" + name); }

    static std::unique_ptr<TempDir> root_;
    static std::unique_ptr<CloudServer> cloud_;
    static std::unique_ptr<FaultPeers> peers_;
    Download download_;
    Recorder rec_{download_};
};

std::unique_ptr<TempDir> DownloadTest::root_;
std::unique_ptr<CloudServer> DownloadTest::cloud_;
std::unique_ptr<FaultPeers> DownloadTest::peers_;

// Progress only with a known length; blanks in the path (a user name in the URL)
// are escaped; FTP URLs and redirects within the allowed schemes work.
TEST_F(DownloadTest, SuccessfulTransfers) {
    using Log = std::vector<std::string>;
    const Log progress{"started", "progress", "complete"};
    const struct {
        std::string url, name, content;  // content "": 5000 unnamed bytes
        Log log;                         // empty: only the last event is checked
    } cases[] = {
        {cloud_->httpBase() + "/sub/big.bin", "big.bin", ReadFile(root_->file("web/sub/big.bin")),
         progress},
        {cloud_->httpBase() + "/tech one/Setup.exe", "Setup.exe", "setup", {}},
        {peers_->httpBase() + "/nolength", "n.bin", "", {"started", "complete"}},
        {"ftp://NimbaraMember:Tovex%25hn52@" + cloud_->repositoryHost() + "/pkg.zip",
         "pkg.zip",
         "zip bytes",
         {}},
        {peers_->httpBase() + "/redirect-ok", "r.bin", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        Download d;
        Recorder rec(d);
        d.StartDownload(c.url, Out(c.name));
        ASSERT_FALSE(rec.log.empty());
        EXPECT_EQ(rec.log.back(), "complete");
        if (!c.log.empty()) {
            EXPECT_EQ(rec.log, c.log);
        }
        const std::string got = ReadFile(Out(c.name));
        EXPECT_EQ(c.content.empty() ? std::to_string(got.size()) : got,
                  c.content.empty() ? "5000" : c.content);
        EXPECT_FALSE(d.Running());
        if (c.log == progress) {
            EXPECT_EQ(rec.lastReceived, static_cast<long>(c.content.size()));
            EXPECT_EQ(rec.lastTotal, static_cast<long>(c.content.size()));
        }
    }
    EXPECT_EQ(FolderEntries(root_->file("out")).size(), std::size(cases));
}

TEST_F(DownloadTest, FailuresEndInAbortedWithTheirCodeAndLeaveNoFile) {
    SilentListener silent;
    const std::string refused = "http://127.0.0.1:" + std::to_string(RefusedPort());
    const struct {
        std::string url;
        std::uint32_t code;
        const char* text;
        bool started;
    } cases[] = {
        {cloud_->httpBase() + "/missing.bin", kInetObjectNotFound, "File Not Found.", true},
        {refused + "/x", kInetCannotConnect, "Cannot Connect", true},
        {"http://talvane-test.invalid/x", kInetResourceNotFound, "Resource Not Found.", true},
        {"http://127.0.0.1:" + std::to_string(silent.port()) + "/x", kInetConnectionTimeout,
         "Connection Timeout.", true},
        {peers_->httpBase() + "/stall", kInetConnectionTimeout, "Connection Timeout.", true},
        {peers_->httpBase() + "/drop", kInetDownloadFailure, "Download Failure.", true},
        {peers_->httpBase() + "/auth", kInetAuthenticationRequired, "Authentication Failure.",
         true},
        {peers_->httpBase() + "/status/403", kInetAuthenticationRequired, "Authentication Failure.",
         true},
        {peers_->httpBase() + "/status/500", kInetDownloadFailure, "Download Failure.", true},
        {peers_->httpBase() + "/redirect-file", kInetRedirectFailed, "Redirect Failed.", true},
        {peers_->httpBase() + "/redirect-loop", kInetRedirectFailed, "Redirect Failed.", true},
        {"https://127.0.0.1:" + cloud_->httpBase().substr(cloud_->httpBase().rfind(':') + 1) +
             "/sub/big.bin",
         kInetSecurityProblem, "Security Problem.", true},
        {"ftp://NimbaraMember:Tovex%25hn52@" + cloud_->repositoryHost() + "/none.zip",
         kInetObjectNotFound, "File Not Found.", true},
        {"file:///etc/hostname", kInetUnknownProtocol, "Unknown Protocol.", false},
        {"gopher://127.0.0.1/x", kInetUnknownProtocol, "Unknown Protocol.", false},
        {"no url at all", kInetInvalidUrl, "Invalid URL.", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        Download d;
        d.connectTimeoutSeconds = 2;
        d.idleTimeoutSeconds = 1;
        d.lowSpeedSeconds = 1;
        Recorder rec(d);
        WriteFile(Out("t.bin"), "earlier file");
        d.StartDownload(c.url, Out("t.bin"));
        ASSERT_FALSE(rec.log.empty());
        EXPECT_EQ(rec.log.back(), "aborted");  // the very last event
        EXPECT_EQ(rec.log.front() == "started", c.started);
        EXPECT_EQ(rec.code, Signed(c.code));
        EXPECT_EQ(rec.description, c.text);
        EXPECT_FALSE(rec.runningAtAbort);
        // What was there before stays; no partial or temporary file appears.
        EXPECT_EQ(ReadFile(Out("t.bin")), "earlier file");
        EXPECT_EQ(FolderEntries(root_->file("out")).size(), 1u);
    }
}

// Dripping servers end as a timed-out connection; oversized downloads as a
// failure, whether the length is declared up front or not.
TEST_F(DownloadTest, SlowOrOversizedTransfersAreAbandonedAndLeaveNoFile) {
    const struct {
        std::string url;
        long long maxBytes;
        std::uint32_t code;
    } cases[] = {
        {peers_->httpBase() + "/drip", 0, kInetConnectionTimeout},
        {"ftp://u:p@" + peers_->ftpHost() + "/drip.bin", 0, kInetConnectionTimeout},
        {peers_->httpBase() + "/big", 1 << 20, kInetDownloadFailure},
        {cloud_->httpBase() + "/sub/big.bin", 1000, kInetDownloadFailure},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        Download d;
        d.lowSpeedBytes = 1024;
        d.lowSpeedSeconds = 2;
        d.maxBytes = c.maxBytes;
        Recorder rec(d);
        d.StartDownload(c.url, Out("t.bin"));
        ASSERT_FALSE(rec.log.empty());
        EXPECT_EQ(rec.log.back(), "aborted");
        EXPECT_EQ(rec.code, Signed(c.code));
        EXPECT_TRUE(FolderEntries(root_->file("out")).empty());
    }
    // Under the cap the same file arrives whole.
    download_.maxBytes = 300000;
    download_.StartDownload(cloud_->httpBase() + "/sub/big.bin", Out("big.bin"));
    EXPECT_EQ(rec_.log.back(), "complete");
}

TEST_F(DownloadTest, StopFromAHandlerAbortsAndASecondStartDoesNothing) {
    int nestedEvents = 0;
    download_.DownloadProgress = [&](long, long) {
        const auto before = rec_.log.size();
        download_.StartDownload(cloud_->httpBase() + "/sub/big.bin", Out("second.bin"));
        nestedEvents += static_cast<int>(rec_.log.size() - before);
        download_.StopDownload();
    };
    download_.StartDownload(cloud_->httpBase() + "/sub/big.bin", Out("first.bin"));
    EXPECT_EQ(nestedEvents, 0);
    EXPECT_EQ(rec_.log, (std::vector<std::string>{"started", "aborted"}));
    EXPECT_EQ(rec_.code, Signed(kAbortedByCaller));
    EXPECT_EQ(rec_.description, "Unknown Error.");
    EXPECT_FALSE(Exists(Out("first.bin")));
    EXPECT_FALSE(Exists(Out("second.bin")));
    download_.StopDownload();  // idle: nothing happens
}

}  // namespace
}  // namespace talvane
