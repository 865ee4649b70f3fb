#include "common/open_file_check.h"

#include "platform/platform.h"

namespace talvane {

std::string OpenFileProblem(const std::string& fullPath) {
    const platform::Kind kind = platform::PathKind(fullPath, platform::Links::Follow);
    if (kind != platform::Kind::None && kind != platform::Kind::Dir) return {};
    return fullPath + "\nFile not found.\nPlease verify the correct file name was given.";
}

}  // namespace talvane
