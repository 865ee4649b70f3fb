#include "zip/zip_report.h"

#include <algorithm>

#include "common/event_pump.h"

namespace talvane::zipimpl {

bool ReportsError(const std::vector<Event>& events) {
    return std::any_of(events.begin(), events.end(), [](const Event& e) { return e.number != 0; });
}

long RoundedPercent(long long i, long long total) {
    if (total <= 0) return 0;
    const long long num = i * 100;
    long long q = num / total;
    const long long twice = 2 * (num % total);
    if (twice > total || (twice == total && (q % 2) != 0)) ++q;
    return static_cast<long>(q);
}

void Reporter::Status(const std::string& text) {
    if (held)
        held->push_back({0, text});
    else if (owner_.Status)
        owner_.Status(text);
}

void Reporter::Error(long number, const std::string& text) {
    if (held)
        held->push_back({number, text});
    else if (owner_.ZipError)
        owner_.ZipError(number, text);
}

void Reporter::Raise(std::vector<Event>& events) {
    for (const Event& e : events) {
        if (e.number == 0)
            Status(e.text);
        else
            Error(e.number, e.text);
    }
    events.clear();
}

bool Reporter::Advance(long long done, long long total) {
    DoEvents();
    long percent = RoundedPercent(done, total);
    bool cancel = false;
    if (owner_.Progress) owner_.Progress(percent, cancel);
    return !cancel;
}

}  // namespace talvane::zipimpl
