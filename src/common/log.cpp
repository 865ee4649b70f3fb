#include "common/log.h"

#include <cstdlib>
#include <mutex>

#include "common/strings.h"
#include "platform/platform.h"

namespace talvane {
namespace {

std::mutex& SinkMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<LogSink>& SinkSlot() {
    static std::shared_ptr<LogSink> sink;
    return sink;
}

}  // namespace

std::shared_ptr<LogSink> MakeSinkFromEnvironment() {
    const char* env = std::getenv("TALVANE_LOG");
    std::string_view choice = env ? env : "";
    if (choice == "stderr") return platform::MakeStderrSink();
    if (platform::RootLength(choice) > 0) return platform::MakeFileSink(std::string(choice));
    return platform::MakeSystemLogSink("talvane");
}

void SetLogSink(std::shared_ptr<LogSink> sink) {
    try {
        if (!sink) sink = MakeSinkFromEnvironment();
        std::lock_guard<std::mutex> lock(SinkMutex());
        SinkSlot() = std::move(sink);
    } catch (...) {
    }
}

std::shared_ptr<LogSink> GetLogSink() {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (!SinkSlot()) SinkSlot() = MakeSinkFromEnvironment();
    return SinkSlot();
}

void DPrint(std::string_view item) {
    // Reporting a failure must never cause another one.
    try {
        std::string message;
        message.reserve(item.size() + 1);
        message += '\t';
        // One message is one line, and names from servers may carry escape sequences.
        message += EscapeControls(item, false);
        if (auto sink = GetLogSink()) sink->Write(message);
    } catch (...) {
    }
}

void CappedLog::Print(std::string_view item) {
    if (printed_ < limit_) {
        ++printed_;
        DPrint(item);
    } else {
        ++suppressed_;
    }
}

CappedLog::~CappedLog() {
    try {
        if (suppressed_ > 0)
            DPrint(cause_ + ": ... " + std::to_string(suppressed_) + " repeated lines suppressed");
    } catch (...) {
    }
}

void ReportFailure(std::string_view qualifiedName, ErrorMarker marker, long number,
                   std::string_view description, std::initializer_list<ReportParam> params) {
    try {
        std::string line(qualifiedName);
        line += marker == ErrorMarker::Plain ? " VB ERROR: " : " - VB ERROR: ";
        line += std::to_string(number);
        line += ' ';
        line += description;
        DPrint(line);
        for (const auto& p : params) DPrint("\t- " + p.name + "=" + p.value);
    } catch (...) {
    }
}

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// End of the argument that starts at `i`, read the way the started program
// splits its command line: blanks inside quotes, \" and "" inside quotes
// belong to the argument.
std::size_t EndOfArgument(std::string_view line, std::size_t i) {
    bool quoted = false;
    while (i < line.size()) {
        const char c = line[i];
        if (c == '\\') {
            std::size_t run = 0;
            while (i < line.size() && line[i] == '\\') {
                ++run;
                ++i;
            }
            if (i < line.size() && line[i] == '"' && run % 2 == 1) ++i;  // escaped quote
        } else if (c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else if (!quoted && IsBlank(c)) {
            break;
        } else {
            ++i;
        }
    }
    return i;
}

}  // namespace

std::string MaskPasswordArgument(std::string_view commandLine) {
    std::string out;
    out.reserve(commandLine.size());
    std::size_t i = 0;
    while (i < commandLine.size()) {
        if (IsBlank(commandLine[i])) {
            out += commandLine[i++];
            continue;
        }
        // One whole argument; only one that starts with -p carries a password.
        const bool isPassword = commandLine.compare(i, 2, "-p") == 0;
        const std::size_t valueStart = isPassword ? i + 2 : i;
        const std::size_t end = EndOfArgument(commandLine, valueStart);
        if (!isPassword) {
            out.append(commandLine.substr(i, end - i));
        } else {
            // The whole value goes, whatever quotes or escaped quotes it holds.
            out += "-p";
            if (end > valueStart) out += commandLine[valueStart] == '"' ? "\"***\"" : "***";
        }
        i = end;
    }
    return out;
}

}  // namespace talvane
