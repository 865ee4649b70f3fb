// Download against the cloud's HTTP and FTP servers and the scripted fault peers.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "net/download.h"
#include "net/error_codes.h"
#include "support/cloud_server.h"
#include "support/fault_servers.h"
#include "support/file_util.h"
#include "support/temp_dir.h"

namespace talvane {
namespace {

using namespace testing;
using namespace net;
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

class DownloadTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = std::make_unique<TempDir>();
        WriteFile(root_->file("web/sub/big.bin"), PeerBytes(300000));
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
    void SetUp() override { ASSERT_TRUE(cloud_->ok() && peers_->ok()); }
    void TearDown() override {
        for (const auto& n : ListNames(root_->file("out"))) ::unlink(Out(n).c_str());
    }
    static std::string Out(const std::string& name) { return root_->file("out/" + name); }
    // One download with short timeouts; `idle` long enough lets a dripping peer meet the
    // low-speed rule instead.
    static Log Fetch(const std::string& url, const std::string& name, long long maxBytes = 0,
                     long idle = 1) {
        Download d;
        d.connectTimeoutSeconds = 2;
        d.idleTimeoutSeconds = idle;
        d.lowSpeedSeconds = 2;
        d.maxBytes = maxBytes;
        Log log;
        Record(d, log);
        d.Start(url, Out(name));
        EXPECT_FALSE(d.Running());
        return log;
    }
    static std::string Ftp(const std::string& path) {
        return "ftp://NimbaraMember:Tovex%25hn52@" + cloud_->repositoryHost() + path;
    }

    static std::unique_ptr<TempDir> root_;
    static std::unique_ptr<CloudServer> cloud_;
    static std::unique_ptr<FaultPeers> peers_;
};

std::unique_ptr<TempDir> DownloadTest::root_;
std::unique_ptr<CloudServer> DownloadTest::cloud_;
std::unique_ptr<FaultPeers> DownloadTest::peers_;

// Progress only with a known length; blanks in the path and an escaped password in
// the URL; FTP URLs; a redirect within the allowed schemes; a size cap the file meets.
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

// Every failure ends in "aborted" (with Running() already false) and leaves what was
// there before, with no partial or temporary file beside it. Dripping servers end as
// timed-out connections, oversized downloads as failures, with or without a length.
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
        long idle = 1;
    } cases[] = {
        {cloud_->httpBase() + "/missing.bin", notFound},
        {local + std::to_string(RefusedPort()) + "/x",
         Aborted(kInetCannotConnect, "Cannot Connect")},
        {"http://talvane-test.invalid/x", Aborted(kInetResourceNotFound, "Resource Not Found.")},
        {local + std::to_string(silent.port()) + "/x", timeout},
        {http + "/stall", timeout},
        {http + "/drop", failure},
        {http + "/auth", denied},
        {http + "/status/403", denied},
        {http + "/status/500", failure},
        {http + "/redirect-file", redirect},
        {http + "/redirect-loop", redirect},
        {"https" + cloud_->httpBase().substr(4) + "/sub/big.bin",
         Aborted(kInetSecurityProblem, "Security Problem.")},
        {Ftp("/none.zip"), notFound},
        {"file:///etc/hostname", protocol, false},
        {"gopher://127.0.0.1/x", protocol, false},
        {"no url at all", Aborted(kInetInvalidUrl, "Invalid URL."), false},
        {http + "/drip", timeout, true, 0, 30},
        {"ftp://u:p@" + peers_->ftpHost() + "/drip.bin", timeout, true, 0, 30},
        {http + "/big", failure, true, 1 << 20},
        {cloud_->httpBase() + "/sub/big.bin", failure, true, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        WriteFile(Out("t.bin"), "earlier file");
        const Log log = Fetch(c.url, "t.bin", c.maxBytes, c.idle);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), c.last);
        EXPECT_EQ(log.front() == "started", c.started);
        EXPECT_EQ(ReadFile(Out("t.bin")), "earlier file");
        EXPECT_EQ(ListNames(root_->file("out")).size(), 1u);
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

}  // namespace
}  // namespace talvane