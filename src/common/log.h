#pragma once
// Debug log: every diagnostic line of the program goes through DPrint.
// Sink: syslog ("talvane") by default; TALVANE_LOG=stderr or an absolute file path.
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/platform.h"

namespace talvane {

// Replaces the process sink (tests capture lines this way). Passing nullptr
// restores the sink chosen from TALVANE_LOG.
void SetLogSink(std::shared_ptr<LogSink> sink);
// The sink in use now (created from TALVANE_LOG on first use).
std::shared_ptr<LogSink> GetLogSink();
std::shared_ptr<LogSink> MakeSinkFromEnvironment();

// One message: TAB + item. Never throws.
void DPrint(std::string_view item);
inline void DPrint(long long number) {
    DPrint(std::to_string(number));
}
inline void DPrint(int number) {
    DPrint(std::to_string(number));
}
inline void DPrint(bool value) {
    DPrint(std::string_view(value ? "True" : "False"));
}
inline void DPrint(const char* item) {
    DPrint(std::string_view(item ? item : ""));
}
inline void DPrint(const std::string& item) {
    DPrint(std::string_view(item));
}

// Lines of one cause (a duplicate name in a listing, say): the first `limit`
// are logged, the rest only counted, and one line tells how many were left
// out when the object goes away. A hostile peer cannot flood the log.
class CappedLog {
  public:
    explicit CappedLog(std::string cause, std::size_t limit = 10)
        : cause_(std::move(cause)), limit_(limit) {}
    ~CappedLog();
    CappedLog(const CappedLog&) = delete;
    CappedLog& operator=(const CappedLog&) = delete;
    void Print(std::string_view item);

  private:
    std::string cause_;
    std::size_t limit_;
    std::size_t printed_ = 0;
    std::size_t suppressed_ = 0;
};

// Failure report of the shared library: an error line, then one line per
// parameter, after which the caller carries on with its next step.
enum class ErrorMarker {
    Plain,   // "CommonModule\Proc VB ERROR: "
    Dashed,  // "RemoveTree\Step - VB ERROR: "
};
struct ReportParam {
    std::string name;
    std::string value;
};
void ReportFailure(std::string_view qualifiedName, ErrorMarker marker, long number,
                   std::string_view description, std::initializer_list<ReportParam> params = {});

// Password masking for any command line that is logged: the value of an
// argument starting with -p (the whole argument as the started program reads
// it, quotes and escaped quotes included) is replaced by "***".
std::string MaskPasswordArgument(std::string_view commandLine);

}  // namespace talvane
