#include "platform/temp_names.h"

#include <string_view>

namespace talvane::platform {
namespace {

constexpr std::string_view kTempStart = ".~tv";
constexpr std::string_view kTempEnd = ".part";

}  // namespace

std::string TempName(unsigned long long processId, unsigned long long counter) {
    return std::string(kTempStart) + std::to_string(processId) + "-" + std::to_string(counter) +
           std::string(kTempEnd);
}

bool IsTempName(const std::string& name) {
    const std::string_view view = name;
    if (view.size() <= kTempStart.size() + kTempEnd.size() || !view.starts_with(kTempStart) ||
        !view.ends_with(kTempEnd))
        return false;
    bool dash = false;
    for (const char c :
         view.substr(kTempStart.size(), view.size() - kTempStart.size() - kTempEnd.size())) {
        if (c == '-' && !dash) {
            dash = true;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return dash;
}

}  // namespace talvane::platform
