#include "common/process.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "common/event_pump.h"
#include "common/files.h"
#include "common/log.h"
#include "platform/platform.h"

namespace talvane {
namespace {

constexpr int kPollMs = 100;

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Waits for the child, letting the user interface run between polls.
// Returns 0 when it ended, else the error that stopped the watch.
int WaitForChild(const platform::Child& child, long& exitCode) {
    for (;;) {
        int rc = platform::PollChild(child, exitCode);
        if (rc != EAGAIN) return rc;
        DoEvents();
        SleepMs(kPollMs);
    }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = commandLine.size();
    while (i < n && IsBlank(commandLine[i])) ++i;
    if (i >= n) return args;

    // The program name: quotes group, backslashes are plain characters.
    std::string program;
    if (commandLine[i] == '"') {
        ++i;
        while (i < n && commandLine[i] != '"') program += commandLine[i++];
        if (i < n) ++i;
    } else {
        while (i < n && !IsBlank(commandLine[i])) program += commandLine[i++];
    }
    args.push_back(std::move(program));

    // The arguments: 2n backslashes + quote -> n backslashes and a quote toggle;
    // 2n+1 backslashes + quote -> n backslashes and a literal quote; "" inside
    // quotes -> a literal quote.
    for (;;) {
        while (i < n && IsBlank(commandLine[i])) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || !IsBlank(commandLine[i]))) {
            char c = commandLine[i];
            if (c == '\\') {
                std::size_t count = 0;
                while (i < n && commandLine[i] == '\\') {
                    ++count;
                    ++i;
                }
                if (i < n && commandLine[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(count, '\\');
                }
            } else if (c == '"') {
                if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += c;
                ++i;
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

bool ShellX(std::string_view sPathAndFileName, std::string_view arguments, bool wait,
            int windowStyle, long* exitCode, bool unused, const std::string* standardInput) {
    (void)windowStyle;  // no windows to show or hide for a started program here
    (void)unused;
    std::string path(sPathAndFileName);
    if (path.find_first_of("/\\") != std::string::npos && !DoesFileExist(path)) {
        DPrint("CommonModule\\ShellX FILE NOT FOUND");
        DPrint("\t- sPathAndFileName=" + path);
        return false;
    }
    if (path.find(' ') != std::string::npos) path = "\"" + path + "\"";
    const std::string shell = arguments.empty() ? path : path + " " + std::string(arguments);
    const std::string logged = MaskPasswordArgument(shell);

    platform::Child child;
    if (int err = platform::Spawn(SplitCommandLine(shell), !wait, child, standardInput)) {
        ReportFailure("CommonModule\\ShellX", ErrorMarker::Plain, err, platform::ErrorText(err),
                      {{"sShell", logged}});
        return false;
    }
    bool result = child.pid != 0;
    if (result && wait) {
        long code = 0;
        if (WaitForChild(child, code) == 0) {
            if (exitCode) *exitCode = code;
        } else {
            result = false;
        }
    }
    if (!result) DPrint("ShellX (Failed):  " + logged);
    return result;
}

bool ShellAndWaitForTermination(std::string_view sShell, int windowStyle, std::string& message,
                                long timeoutMs, bool enforceTimeout) {
    (void)windowStyle;
    const std::string logged = MaskPasswordArgument(sShell);
    DPrint("ShellandWaitForTermination:  " + logged);
    platform::Child child;
    if (int err = platform::Spawn(SplitCommandLine(sShell), false, child)) {
        ReportFailure("CommonModule\\ShellAndWaitForTermination", ErrorMarker::Plain, err,
                      platform::ErrorText(err), {{"sShell", logged}});
        return false;
    }
    bool result = true;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        long code = 0;
        int rc = platform::PollChild(child, code);
        if (rc == 0) break;
        if (rc != EAGAIN) {
            message =
                "This program could not determine whether the process started.Please watch "
                "the program and check it completes.";
            result = false;
            break;
        }
        DoEvents();
        SleepMs(kPollMs);
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        if (enforceTimeout && elapsed > timeoutMs) {
            message = "The process has timed out.";
            result = false;
            platform::Abandon(child);  // it keeps running; reap it when it ends
            break;
        }
    }
    DPrint(std::string("\tSuccess=") + (result ? "True" : "False"));
    return result;
}

void Delay(double seconds) {
    // Measured on the monotonic clock, so a clock change cannot stretch it;
    // the window stays responsive throughout. Delay(0) is one turn of the pump.
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds > 0 ? seconds : 0));
    DoEvents();
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
        SleepMs(static_cast<int>(left < kPollMs ? left + 1 : kPollMs));
        DoEvents();
    }
}

}  // namespace talvane
