// The test helpers of processes_posix.cpp for the Windows build. Under Wine the Python servers run
// on the Linux side, started by tools/windows/script_host.py, whose port is in TALVANE_SCRIPT_HOST.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
// after windows.h
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/cloud_server.h"
#include "support/file_util.h"

namespace talvane::testing {
namespace fs = std::filesystem;

namespace {
int RunScript(const std::vector<std::string>& args, const std::string& cwd,
              const std::string& outFile);
}  // namespace

// Under Wine, Z: is the Linux root: a folder there is one the Linux-side servers can serve.
std::string NewTempFolder() {
    static unsigned counter = 0;
    for (int i = 0; i < 100; ++i) {
        const fs::path p = "Z:/tmp/talvane-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                           std::to_string(++counter);
        if (std::error_code ec; fs::create_directory(p, ec)) return p.generic_string();
    }
    throw std::runtime_error("no temporary folder under Z:/tmp");
}

// The Windows tests start Python scripts only: the script host runs them.
int RunProgram(const std::vector<std::string>& argv, const std::string& cwd,
               const std::string& outFile) {
    if (!argv.empty() && argv[0] == "/usr/bin/python3")
        return RunScript({argv.begin() + 1, argv.end()}, cwd, outFile);
    std::fprintf(stderr, "RunProgram: not under Wine: %s\n", argv.empty() ? "" : argv[0].c_str());
    return -1;
}

void SetEnv(const char* name, const char* value) {
    ::_putenv_s(name, value ? value : "");  // an empty value removes it
}

long PeakMemoryKb() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

// ---- script processes and sockets

namespace {

bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    char escaped[8];
    for (const unsigned char c : s) {
        if (c >= 0x20 && c != '"' && c != '\\')
            out += static_cast<char>(c);
        else
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c), out += escaped;
    }
    return out + '"';
}

SOCKET LoopbackSocket(int port, bool listen) {
    if (!StartWinsock()) return INVALID_SOCKET;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    const auto* a = reinterpret_cast<const sockaddr*>(&addr);
    const bool ok =
        s != INVALID_SOCKET && (listen ? ::bind(s, a, sizeof addr) == 0 && ::listen(s, 8) == 0
                                       : ::connect(s, a, sizeof addr) == 0);
    if (!ok && s != INVALID_SOCKET) {
        ::closesocket(s);
        s = INVALID_SOCKET;
    }
    return s;
}

// One request to the script host; its reply line, empty when there is none.
std::string AskHost(SOCKET host, const std::string& request) {
    ::send(host, request.data(), static_cast<int>(request.size()), 0);
    const DWORD timeout = 300000;
    ::setsockopt(host, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                 sizeof timeout);
    std::string line;
    char c = 0;
    while (::recv(host, &c, 1, 0) == 1 && c != '\n') line += c;
    return c == '\n' ? line : std::string{};
}

SOCKET ConnectToHost() {
    const char* port = std::getenv("TALVANE_SCRIPT_HOST");
    const SOCKET s = port ? LoopbackSocket(std::atoi(port), false) : INVALID_SOCKET;
    if (s == INVALID_SOCKET)
        std::fprintf(stderr, "no script host (TALVANE_SCRIPT_HOST=%s)\n", port ? port : "");
    return s;
}

std::string ArgsJson(const std::vector<std::string>& args) {
    std::string json = "\"args\": [";
    for (std::size_t i = 0; i < args.size(); ++i) json += (i ? ", " : "") + JsonString(args[i]);
    return json + "]";
}

int RunScript(const std::vector<std::string>& args, const std::string& cwd,
              const std::string& outFile) {
    const SOCKET host = ConnectToHost();
    if (host == INVALID_SOCKET) return -1;
    const std::string reply =
        AskHost(host, "{" + ArgsJson(args) + ", \"wait\": true, \"cwd\": " + JsonString(cwd) +
                          ", \"out\": " + JsonString(outFile) + "}\n");
    ::closesocket(host);
    return reply.empty() ? -1 : std::atoi(reply.c_str());
}

}  // namespace

struct ScriptProcess::Child {
    SOCKET host = INVALID_SOCKET;
};

ScriptProcess::ScriptProcess() : child_(std::make_unique<Child>()) {}

bool ScriptProcess::Start(std::vector<std::string> args) {
    child_->host = ConnectToHost();
    if (child_->host == INVALID_SOCKET) return false;
    line_ = AskHost(child_->host, "{" + ArgsJson(args) + "}\n");
    if (!line_.empty()) return true;
    std::fprintf(stderr, "python helper gave no ready line\n");
    return false;
}

ScriptProcess::~ScriptProcess() {
    if (child_->host != INVALID_SOCKET) ::closesocket(child_->host);
}

SilentListener::SilentListener() {
    const SOCKET s = LoopbackSocket(0, true);
    if (s == INVALID_SOCKET) return;
    socket_ = static_cast<std::intptr_t>(s);
    sockaddr_in addr{};
    int len = sizeof addr;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port_ = ntohs(addr.sin_port);
}

SilentListener::~SilentListener() {
    if (socket_ >= 0) ::closesocket(static_cast<SOCKET>(socket_));
}

}  // namespace talvane::testing
