// Download against the cloud's HTTP and FTP servers and the scripted fault peers.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/cloud_server.h"
#include "support/fault_servers.h"
#include "support/temp_dir.h"
#include "transfer/download.h"

namespace talvane {
namespace {

using testing::TempDir;

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

std::size_t EntryCount(const std::string& folder) {
    std::size_t n = 0;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    while (dir && ::readdir(dir.get())) ++n;
    return n - 2;
}

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
            ++progressEvents;
        };
    }
    std::vector<std::string> log;
    long code = 0;
    std::string description;
    bool runningAtAbort = true;
    long lastReceived = -1, lastTotal = -1;
    int progressEvents = 0;
};

class DownloadTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = std::make_unique<TempDir>();
        for (const char* d : {"repo", "redist", "web", "web/sub", "out"})
            ::mkdir(root_->file(d).c_str(), 0755);
        std::string big(300000, '\0');
        for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 13);
        std::ofstream(root_->file("web/sub/big.bin"), std::ios::binary) << big;
        std::ofstream(root_->file("repo/pkg.zip"), std::ios::binary) << "zip bytes";
        ::mkdir(root_->file("web/tech one").c_str(), 0755);
        std::ofstream(root_->file("web/tech one/Setup.exe"), std::ios::binary) << "setup";
        cloud_ = std::make_unique<testing::CloudServer>(testing::CloudOptions{
            root_->file("repo"), root_->file("redist"), root_->file("web"), {}});
        peers_ = std::make_unique<testing::FaultPeers>();
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
    }
    void TearDown() override {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(root_->file("out").c_str()), &::closedir);
        std::vector<std::string> names;
        while (dirent* e = dir ? ::readdir(dir.get()) : nullptr)
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        for (const auto& n : names) ::unlink(root_->file("out/" + n).c_str());
    }
    static std::string Out(const std::string& name) { return root_->file("out/" + name); }

    static std::unique_ptr<TempDir> root_;
    static std::unique_ptr<testing::CloudServer> cloud_;
    static std::unique_ptr<testing::FaultPeers> peers_;
    Download download_;
    Recorder rec_{download_};
};

std::unique_ptr<TempDir> DownloadTest::root_;
std::unique_ptr<testing::CloudServer> DownloadTest::cloud_;
std::unique_ptr<testing::FaultPeers> DownloadTest::peers_;

TEST_F(DownloadTest, HttpWithContentLengthReportsProgressAndCompletes) {
    download_.StartDownload(cloud_->httpBase() + "/sub/big.bin", Out("big.bin"));
    EXPECT_EQ(rec_.log, (std::vector<std::string>{"started", "progress", "complete"}));
    EXPECT_EQ(rec_.lastReceived, 300000);
    EXPECT_EQ(rec_.lastTotal, 300000);
    EXPECT_EQ(ReadFile(Out("big.bin")), ReadFile(root_->file("web/sub/big.bin")));
    EXPECT_EQ(EntryCount(root_->file("out")), 1u);
    EXPECT_FALSE(download_.Running());
}

// A user name with a blank goes into the URL as typed; the transfer escapes it.
TEST_F(DownloadTest, BlankInThePathIsEscaped) {
    download_.StartDownload(cloud_->httpBase() + "/tech one/Setup.exe", Out("Setup.exe"));
    EXPECT_EQ(rec_.log.back(), "complete");
    EXPECT_EQ(ReadFile(Out("Setup.exe")), "setup");
}

TEST_F(DownloadTest, HttpWithoutContentLengthRaisesNoProgress) {
    download_.StartDownload(peers_->httpBase() + "/nolength", Out("n.bin"));
    EXPECT_EQ(rec_.log, (std::vector<std::string>{"started", "complete"}));
    EXPECT_EQ(ReadFile(Out("n.bin")).size(), 5000u);
}

TEST_F(DownloadTest, FtpUrlsAndRedirectsWithinTheAllowedSchemes) {
    download_.StartDownload(
        "ftp://NimbaraMember:Tovex%25hn52@" + cloud_->repositoryHost() + "/pkg.zip",
        Out("pkg.zip"));
    EXPECT_EQ(rec_.log.back(), "complete");
    EXPECT_EQ(ReadFile(Out("pkg.zip")), "zip bytes");

    rec_.log.clear();
    download_.StartDownload(peers_->httpBase() + "/redirect-ok", Out("r.bin"));
    EXPECT_EQ(rec_.log.back(), "complete");
    EXPECT_EQ(ReadFile(Out("r.bin")).size(), 5000u);
}

TEST_F(DownloadTest, FailuresEndInAbortedWithTheirCodeAndLeaveNoFile) {
    testing::SilentListener silent;
    const std::string refused = "http://127.0.0.1:" + std::to_string(testing::RefusedPort());
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
        Recorder rec(d);
        std::ofstream(Out("t.bin")) << "earlier file";
        d.StartDownload(c.url, Out("t.bin"));
        ASSERT_FALSE(rec.log.empty());
        EXPECT_EQ(rec.log.back(), "aborted");  // the very last event
        EXPECT_EQ(rec.log.front() == "started", c.started);
        EXPECT_EQ(rec.code, Signed(c.code));
        EXPECT_EQ(rec.description, c.text);
        EXPECT_FALSE(rec.runningAtAbort);
        // What was there before stays; no partial or temporary file appears.
        EXPECT_EQ(ReadFile(Out("t.bin")), "earlier file");
        EXPECT_EQ(EntryCount(root_->file("out")), 1u);
    }
}

TEST_F(DownloadTest, AuthenticateIsAskedOnlyWithoutCredentials) {
    int asked = 0;
    download_.Authenticate = [&](std::string& user, std::string& password) {
        ++asked;
        user = "u";
        password = "p";
    };
    download_.StartDownload(peers_->httpBase() + "/auth", Out("a.txt"));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(rec_.log.back(), "complete");
    EXPECT_EQ(ReadFile(Out("a.txt")), "secret");

    // Given credentials are used as they are; a user name with no password asks nothing.
    rec_.log.clear();
    download_.StartDownload(peers_->httpBase() + "/auth", Out("b.txt"), "u", "p");
    EXPECT_EQ(rec_.log.back(), "complete");
    download_.StartDownload(peers_->httpBase() + "/auth", Out("c.txt"), "u");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(rec_.log.back(), "aborted");
    EXPECT_EQ(rec_.code, Signed(kInetAuthenticationRequired));
    EXPECT_FALSE(Exists(Out("c.txt")));
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

TEST(StatusCodeTextTest, MatchesTheTable) {
    const struct {
        std::uint32_t code;
        const char* text;
    } cases[] = {
        {0x800C0002, "Invalid URL."},
        {0x800C0003, "No Session."},
        {0x800C0004, "Cannot Connect"},
        {0x800C0005, "Resource Not Found."},
        {0x800C0006, "File Not Found."},
        {0x800C0007, "Data Not Available."},
        {0x800C0008, "Download Failure."},
        {0x800C0009, "Authentication Failure."},
        {0x800C000A, "No Valid Media."},
        {0x800C000B, "Connection Timeout."},
        {0x800C000C, "Invalid Request."},
        {0x800C000D, "Unknown Protocol."},
        {0x800C000E, "Security Problem."},
        {0x800C000F, "Cannot Load Data."},
        {0x800C0010, "Cannot Instantiate Object."},
        {0x800C0011, "Default Action."},
        {0x800C0012, "Unknown Error."},
        {0x800C0013, "QueryOption Unknown."},
        {0x800C0014, "Redirect Failed."},
        {0x800C0015, "Redirect To Dir."},
        {0x800C0016, "Cannot Lock Request."},
        {0x800C0017, "Unknown Error."},
        {0x800C0100, "Code Download Declined."},
        {0x800C0101, "Unknown Error."},
        {0x800C0200, "Result Dispatched."},
        {0x800C0300, "Cannot Replace SFP File."},
        {0x800C0001, "Unknown Error."},
        {0x80004004, "Unknown Error."},
        {0, "Unknown Error."},
    };
    for (const auto& c : cases) EXPECT_EQ(StatusCodeText(c.code), c.text) << std::hex << c.code;
}

}  // namespace
}  // namespace talvane
