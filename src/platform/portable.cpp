#include "platform/portable.h"

#include <cerrno>
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

std::pair<std::string, std::string> SplitFolderAndName(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {std::string(), path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

int SplitRelative(const std::string& relative, std::vector<std::string>& names) {
    names.clear();
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t slash = relative.find('/', start);
        if (slash == std::string::npos) slash = relative.size();
        std::string name = relative.substr(start, slash - start);
        start = slash + 1;
        if (name.empty()) continue;
        if (name == "." || name == "..") return EINVAL;
        names.push_back(std::move(name));
    }
    return 0;
}

}  // namespace talvane::platform
