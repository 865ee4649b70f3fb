// Child processes through CreateProcessW. The argument vector is joined back
// into one command line by the quoting rules that programs use to split it.
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "platform/platform.h"
#include "platform/win_util.h"

namespace talvane::platform {
namespace {

// Handles of the children still watched, by process id.

void Quote(const std::string& arg, std::string& line) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += arg;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');  // before the closing quote
    line += '"';
}

std::string NativeSeparators(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

HANDLE Inheritable(HANDLE h) {
    HANDLE copy = nullptr;
    if (h == nullptr || h == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE,
                           DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

}  // namespace

int Spawn(const std::vector<std::string>& argv, bool detached, Child& child,
          const std::string* input, const std::string* outputFile) {
    child = Child();
    if (argv.empty() || argv.front().empty()) return ENOENT;
    std::string line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i) line += ' ';
        Quote(i == 0 ? NativeSeparators(argv[0]) : argv[i], line);
    }

    // The child never reads the launcher's input: NUL, or a pipe with the secret.
    win::Handle stdinRead, pipeWrite;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (input) {
        HANDLE r = nullptr, w = nullptr;
        if (!::CreatePipe(&r, &w, &inherit, static_cast<DWORD>(input->size() + 4096)))
            return win::LastErrno();
        stdinRead.Reset(r);
        pipeWrite.Reset(w);
        ::SetHandleInformation(w, HANDLE_FLAG_INHERIT, 0);
    } else {
        stdinRead.Reset(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inherit, OPEN_EXISTING, 0, nullptr));
    }
    // A program we wait for writes to our standard error, so standard output
    // stays the launcher's; a started tool keeps both streams.
    win::Handle out;
    if (outputFile) {
        // A new file only: one planted at the name is refused.
        out.Reset(::CreateFileW(win::Wide(*outputFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                &inherit, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.Valid()) return win::LastErrno();
    } else {
        out.Reset(Inheritable(::GetStdHandle(detached ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE)));
    }
    win::Handle err(Inheritable(::GetStdHandle(STD_ERROR_HANDLE)));

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = stdinRead.Get();
    si.hStdOutput = out.Get();
    si.hStdError = err.Get();
    PROCESS_INFORMATION pi{};
    std::wstring wline = win::Wide(line);
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT |
                        (detached ? CREATE_NEW_PROCESS_GROUP | DETACHED_PROCESS : CREATE_NO_WINDOW);
    if (!::CreateProcessW(nullptr, wline.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                          &si, &pi))
        return win::LastErrno();
    ::CloseHandle(pi.hThread);
    child.pid_ = static_cast<long>(pi.dwProcessId);
    if (input) {
        stdinRead.Reset();
        win::WriteAll(pipeWrite.Get(), input->data(), input->size());
        pipeWrite.Reset();
    }
    if (detached) {
        ::CloseHandle(pi.hProcess);
    } else {
        child.handle_ = pi.hProcess;
        child.watched_ = true;
    }
    return 0;
}

int PollChild(Child& child, long& exitCode) {
    if (!child.watched_) return ECHILD;
    HANDLE h = static_cast<HANDLE>(child.handle_);
    const DWORD rc = ::WaitForSingleObject(h, 0);
    if (rc == WAIT_TIMEOUT) return EAGAIN;
    DWORD code = 1;
    if (rc != WAIT_OBJECT_0 || !::GetExitCodeProcess(h, &code)) return win::LastErrno();
    exitCode = static_cast<long>(code);
    child.Release();
    return 0;
}

// Windows needs no reaping: closing the handle is all that letting go takes.
void Child::Release() noexcept {
    if (handle_) ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    watched_ = false;
}

}  // namespace talvane::platform
