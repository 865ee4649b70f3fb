#include "common/log.h"

#include <cstdlib>
#include <mutex>

#include "common/platform/platform.h"

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
    if (!choice.empty() && choice.front() == '/')
        return platform::MakeFileSink(std::string(choice));
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
        message += item;
        if (auto sink = GetLogSink()) sink->Write(message);
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

std::string MaskPasswordArgument(std::string_view commandLine) {
    std::string out;
    out.reserve(commandLine.size());
    std::size_t i = 0;
    while (i < commandLine.size()) {
        const bool atSwitch = commandLine.compare(i, 3, " -p") == 0 ||
                              (i == 0 && commandLine.compare(0, 2, "-p") == 0);
        if (!atSwitch) {
            out += commandLine[i++];
            continue;
        }
        const std::size_t switchLen = commandLine[i] == ' ' ? 3 : 2;
        out.append(commandLine.substr(i, switchLen));
        i += switchLen;
        std::size_t end = i;
        if (end < commandLine.size() && commandLine[end] == '"') {
            // Quoted value: keep the quotes, hide what lies between them.
            out += '"';
            ++i;
            end = commandLine.find('"', i);
            if (end == std::string_view::npos) end = commandLine.size();
        } else {
            while (end < commandLine.size() && commandLine[end] != ' ' && commandLine[end] != '"')
                ++end;
        }
        if (end > i) out += "***";
        i = end;
    }
    return out;
}

}  // namespace talvane
