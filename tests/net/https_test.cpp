// HTTPS downloads check the server's certificate: a self-signed one is refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net/download.h"
#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace talvane::testing {
namespace {

constexpr const char* kServer = R"(
import functools, http.server, ssl, sys, threading
s = http.server.HTTPServer(("127.0.0.1", 0), functools.partial(
    http.server.SimpleHTTPRequestHandler, directory=sys.argv[1]))
c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
c.load_cert_chain(sys.argv[2])
s.socket = c.wrap_socket(s.socket, server_side=True)
threading.Thread(target=s.serve_forever, daemon=True).start()
print('{"port": "%d"}' % s.server_address[1], flush=True)
sys.stdin.read()
)";

TEST(HttpsTest, SelfSignedServerIsRefusedAndNothingIsWritten) {
    TempDir tmp;
    const std::string cert = tmp.file("cert.pem");
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                           "-keyout " +
                           cert + " -out " + cert + " >/dev/null 2>&1")
                              .c_str()),
              0);
    ASSERT_TRUE(WriteFile(tmp.file("www/package.zip"), "payload"));
    ScriptProcess server;
    ASSERT_TRUE(server.Start({"-c", kServer, tmp.file("www"), cert}));
    Download download;
    std::string aborted;
    download.Aborted = [&](long, const std::string& text) { aborted = text; };
    download.Start("https://127.0.0.1:" + server.JsonValue("port") + "/package.zip",
                   tmp.file("got.zip"));
    EXPECT_FALSE(aborted.empty());
    EXPECT_FALSE(Exists(tmp.file("got.zip")));
}

}  // namespace
}  // namespace talvane::testing
