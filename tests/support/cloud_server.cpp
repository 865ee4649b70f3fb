#include "support/cloud_server.h"

#include <regex>

#include "support/fault_servers.h"

namespace talvane::testing {

std::string ScriptProcess::JsonValue(const std::string& key) const {
    std::smatch m;
    const std::regex re("\"" + key + "\"\\s*:\\s*\"([^\"]*)\"");
    return std::regex_search(line_, m, re) ? m[1].str() : std::string{};
}

std::string CloudTool(const std::string& relative) {
    return std::string(TALVANE_SOURCE_DIR) + "/tools/cloud/" + relative;
}

CloudServer::CloudServer(const CloudOptions& options) {
    std::vector<std::string> args{
        CloudTool("cloud.py"), "serve", "--repo",       options.repoRoot, "--redist",
        options.redistRoot,    "--web", options.webRoot};
    for (const auto& account : options.subscribers)
        args.insert(args.end(),
                    {"--user", account.user + ":" + account.password + ":" + account.home});
    if (!process_.Start(args)) return;
    repository_ = process_.JsonValue("repository");
    redist_ = process_.JsonValue("redist");
    http_ = process_.JsonValue("http");
}

FaultPeers::FaultPeers() {
    if (!process_.Start({CloudTool("testpeers/fault_peers.py")})) return;
    ftp_ = process_.JsonValue("ftp");
    http_ = process_.JsonValue("http");
}

}  // namespace talvane::testing
