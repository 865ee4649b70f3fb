// Clock, search path and console input.
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"
#include "platform/win_util.h"
// After windows.h (win_util.h).
#include <shellapi.h>

namespace talvane::platform {

bool LocalTime(std::time_t t, std::tm& out) {
    return ::localtime_s(&out, &t) == 0;
}

bool UtcTime(std::time_t t, std::tm& out) {
    return ::gmtime_s(&out, &t) == 0;
}

std::string FindOnSearchPath(const std::string& name) {
    const std::string path = FolderFromEnvironment("PATH");
    std::string_view rest(path);
    while (true) {
        const std::size_t end = rest.find(';');
        const std::string_view folder = rest.substr(0, end);
        if (!folder.empty()) {
            std::string candidate(folder);
            if (candidate.back() != '/') candidate += '/';
            candidate += name;
            DWORD attributes = 0;
            if (win::TargetAttributes(candidate, attributes) && !win::IsFolder(attributes))
                return candidate;
        }
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return {};
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return {argv + (argc > 0 ? 1 : 0), argv + argc};
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(win::Utf8(wide[i]));
    ::LocalFree(wide);
    return args;
}

bool IsTerminal(std::FILE* stream) {
    return stream != nullptr && ::_isatty(::_fileno(stream)) != 0;
}

InputState ReadInput(int fd, bool wait, std::string& appendTo) {
    const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE) return InputState::Ended;
    if (!wait) {
        switch (::GetFileType(h)) {
            case FILE_TYPE_PIPE: {
                DWORD available = 0;
                if (!::PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr))
                    return InputState::Ended;
                if (available == 0) return InputState::Nothing;
                break;
            }
            case FILE_TYPE_CHAR:
                // A console in line mode: a key press is not yet a line, so this may
                // wait for the Enter key.
                if (::WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return InputState::Nothing;
                break;
            default:
                break;  // a file always has its data ready
        }
    }
    char buffer[4096];
    DWORD n = 0;
    if (!::ReadFile(h, buffer, sizeof buffer, &n, nullptr) || n == 0) return InputState::Ended;
    appendTo.append(buffer, n);
    return InputState::Data;
}

}  // namespace talvane::platform
