#include "common/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "common/clock.h"
#include "common/event_pump.h"
#include "common/files.h"
#include "common/log.h"
#include "common/log_sites.h"
#include "platform/platform.h"

namespace talvane {
namespace {

constexpr std::chrono::milliseconds kPoll{100};

// Waits for the child, letting the user interface run between polls. The
// polls start close together: 7-Zip is often done in a few milliseconds, and
// a fixed step would make every short run wait most of a step for nothing.
// Returns 0 when it ended, else the error that stopped the watch.
int WaitForChild(platform::Child& child, long& exitCode) {
    for (std::chrono::milliseconds step{2};; step = std::min(step * 2, kPoll)) {
        int rc = platform::PollChild(child, exitCode);
        if (rc != EAGAIN) return rc;
        DoEvents();
        CurrentClock().SleepFor(step);
    }
}

std::string Shown(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& arg : argv) {
        if (!line.empty()) line += ' ';
        line += arg.find_first_of(" \t") == std::string::npos ? arg : "\"" + arg + "\"";
    }
    return MaskPasswordArgument(line);
}

// Starts argv; false (after logging why) when it could not be started.
bool Start(const std::vector<std::string>& argv, bool detached, platform::Child& child,
           const std::string* standardInput, const std::string* outputFile = nullptr) {
    if (argv.empty()) return false;
    const std::string& program = argv.front();
    if (program.find_first_of("/\\") != std::string::npos && !DoesFileExist(program)) {
        DPrint(logsite::kShellX + " FILE NOT FOUND");
        DPrint("\t- sPathAndFileName=" + program);
        return false;
    }
    if (int err = platform::Spawn(argv, detached, child, standardInput, outputFile)) {
        ReportFailure(logsite::kShellX, ErrorMarker::Plain, err, platform::ErrorText(err),
                      {{"sShell", Shown(argv)}});
        return false;
    }
    return child.Started();
}

}  // namespace

bool StartDetached(const std::vector<std::string>& argv) {
    platform::Child child;
    return Start(argv, true, child, nullptr);
}

std::optional<long> RunAndWait(const std::vector<std::string>& argv,
                               const std::string* standardInput, const std::string* outputFile) {
    platform::Child child;
    if (!Start(argv, false, child, standardInput, outputFile)) return std::nullopt;
    long code = 0;
    if (WaitForChild(child, code) != 0) {
        DPrint("ShellX (Failed):  " + Shown(argv));
        return std::nullopt;
    }
    return code;
}

void Delay(double seconds) {
    // Measured on the monotonic clock, so a clock change cannot stretch it;
    // the window stays responsive throughout. Delay(0) is one turn of the pump.
    using std::chrono::milliseconds;
    WaitClock& clock = CurrentClock();
    const auto end = clock.Now() + std::chrono::duration_cast<WaitClock::TimePoint::duration>(
                                       std::chrono::duration<double>(seconds > 0 ? seconds : 0));
    DoEvents();
    for (auto now = clock.Now(); now < end; now = clock.Now()) {
        const auto left = std::chrono::duration_cast<milliseconds>(end - now);
        clock.SleepFor(left < kPoll ? left + milliseconds(1) : kPoll);
        DoEvents();
    }
}

}  // namespace talvane
