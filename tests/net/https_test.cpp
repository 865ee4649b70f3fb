// HTTPS downloads check the server's certificate: a self-signed one is refused.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "net/download.h"
#include "support/file_util.h"
#include "support/temp_dir.h"

namespace talvane::testing {
namespace {

TEST(HttpsTest, SelfSignedServerIsRefusedAndNothingIsWritten) {
    TempDir tmp;
    const std::string cert = tmp.file("cert.pem"), port = tmp.file("port");
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                           "-keyout " + cert + " -out " + cert + " >/dev/null 2>&1")
                              .c_str()),
              0);
    WriteFile(tmp.file("www/package.zip"), "payload");
    const pid_t server = ::fork();
    if (server == 0) {
        const std::string script =
            "import http.server, ssl, functools\n"
            "h = functools.partial(http.server.SimpleHTTPRequestHandler, directory='" +
            tmp.file("www") + "')\n"
            "s = http.server.HTTPServer(('127.0.0.1', 0), h)\n"
            "c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER); c.load_cert_chain('" + cert + "')\n"
            "s.socket = c.wrap_socket(s.socket, server_side=True)\n"
            "open('" + port + "', 'w').write(str(s.server_address[1]))\n"
            "s.serve_forever()\n";
        ::execl("/usr/bin/python3", "python3", "-c", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 1500 && ReadFile(port).empty(); ++i) ::usleep(20000);  // 30 s at most
    ASSERT_FALSE(ReadFile(port).empty());

    Download download;
    std::string aborted;
    download.DownloadAborted = [&](long, const std::string& text) { aborted = text; };
    download.StartDownload("https://127.0.0.1:" + ReadFile(port) + "/package.zip",
                           tmp.file("got.zip"));
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    EXPECT_FALSE(aborted.empty());
    EXPECT_FALSE(Exists(tmp.file("got.zip")));
}

}  // namespace
}  // namespace talvane::testing
