// Clock and console calls.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/platform.h"

namespace talvane::platform {

bool LocalTime(std::time_t t, std::tm& out) {
    return ::localtime_r(&t, &out) != nullptr;
}

bool UtcTime(std::time_t t, std::tm& out) {
    return ::gmtime_r(&t, &out) != nullptr;
}

std::string FindOnSearchPath(const std::string& name) {
    const char* pathVariable = std::getenv("PATH");
    if (!pathVariable) return {};
    std::string_view rest(pathVariable);
    while (true) {
        const std::size_t end = rest.find(':');
        const std::string_view folder = rest.substr(0, end);
        if (!folder.empty()) {
            std::string candidate(folder);
            candidate += '/';
            candidate += name;
            struct stat st {};
            if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0)
                return candidate;
        }
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return {};
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

bool IsTerminal(std::FILE* stream) {
    return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

InputState ReadInput(int fd, bool wait, std::string& appendTo) {
    pollfd pfd{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&pfd, 1, wait ? -1 : 0);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return InputState::Ended;
    if (ready == 0) return InputState::Nothing;
    char buffer[4096];
    ssize_t n = 0;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        appendTo.append(buffer, static_cast<std::size_t>(n));
        return InputState::Data;
    }
    return n < 0 && errno == EAGAIN ? InputState::Nothing : InputState::Ended;
}

}  // namespace talvane::platform
