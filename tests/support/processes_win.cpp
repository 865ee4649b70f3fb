// The test helpers of processes_posix.cpp for the Windows build. Under Wine the Python servers run
// on the Linux side, started by tools/windows/script_host.py, whose port is in TALVANE_SCRIPT_HOST.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
// after windows.h
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/fault_servers.h"
#include "support/file_util.h"
#include "support/temp_dir.h"

namespace talvane::testing {
namespace fs = std::filesystem;

namespace {

std::wstring Wide(const std::string& s) {
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string Slashes(std::string s) {
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

std::wstring CommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const auto& a : argv) {
        if (!line.empty()) line += ' ';
        line += '"' + a + '"';  // test arguments carry no quotes
    }
    return Wide(line);
}

int RunScript(const std::vector<std::string>& args, const std::string& cwd,
              const std::string& outFile);

}  // namespace

std::string NewTempFolder() {
    std::error_code ec;
    // Under Wine, Z: is the Linux root: a folder there is one the Linux-side
    // servers can serve.
    fs::path base = "Z:/tmp";
    if (!fs::is_directory(base, ec)) base = fs::temp_directory_path(ec);
    static unsigned counter = 0;
    for (int i = 0; i < 100; ++i) {
        const fs::path p = base / ("talvane-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                   std::to_string(++counter));
        if (fs::create_directory(p, ec)) return Slashes(p.lexically_normal().string());
    }
    throw std::runtime_error("no temporary folder");
}

// Windows has no account to drop to.
int RunAsNobody(const std::function<bool()>&) {
    return 3;
}

int RunProgram(const std::vector<std::string>& argv, const std::string& cwd,
               const std::string& outFile) {
    if (argv.empty()) return -1;
    if (argv[0] == "/usr/bin/python3")
        return RunScript({argv.begin() + 1, argv.end()}, cwd, outFile);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const std::string out = outFile == "/dev/null" ? "NUL" : outFile;
    HANDLE file = ::CreateFileW(Wide(out).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = file;
    si.hStdError = file;
    PROCESS_INFORMATION pi{};
    std::wstring line = CommandLine(argv);
    const std::wstring dir = Wide(cwd);
    int code = -1;
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                         cwd.empty() ? nullptr : dir.c_str(), &si, &pi)) {
        ::WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD exit = 1;
        if (::GetExitCodeProcess(pi.hProcess, &exit)) code = static_cast<int>(exit);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return code;
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
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (static_cast<unsigned char>(c) >= 0x20)
            out += c;
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
