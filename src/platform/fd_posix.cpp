#include "platform/fd_posix.h"

#include <sys/stat.h>

#include <atomic>

#include "platform/interrupt_posix.h"

namespace talvane::platform::posix {

namespace {
std::atomic<unsigned> g_counter{0};
constexpr const char* kTempStart = ".~tv";
constexpr const char* kTempEnd = ".part";
}  // namespace

int WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

int TempAt::Create(int folderFd, const std::string& folder, unsigned mode) {
    Discard();
    folderFd_ = folderFd;
    prefix_ = folderFd == AT_FDCWD && !folder.empty() ? folder + "/" : std::string();
    for (int attempt = 0; attempt < 100; ++attempt) {
        name_ = prefix_ + kTempStart + std::to_string(::getpid()) + "-" +
                std::to_string(++g_counter) + kTempEnd;
        HoldInterrupts hold;
        fd_.Reset(::openat(folderFd_, name_.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           static_cast<mode_t>(mode & 07777)));
        if (fd_) {
            // The umask may have taken bits away that the file must have (or kept ones
            // it must not): the mode asked for is the mode the file gets.
            ::fchmod(fd_.Get(), static_cast<mode_t>(mode & 07777));
            slot_ = RemoveOnInterrupt(folderFd_, name_);
            return 0;
        }
        if (errno != EEXIST) break;
    }
    const int err = errno;
    name_.clear();
    return err;
}

int TempAt::Write(const void* data, std::size_t size) {
    return fd_ ? WriteAll(fd_.Get(), data, size) : EBADF;
}

int TempAt::Commit(const std::string& name, bool sync) {
    if (!fd_) return EBADF;
    int err = 0;
    if (sync && ::fsync(fd_.Get()) != 0) err = errno;
    if (!fd_.Close() && !err) err = errno;
    if (!err && ::renameat(folderFd_, name_.c_str(), folderFd_, (prefix_ + name).c_str()) != 0)
        err = errno;
    if (err) {
        Discard();
        return err;
    }
    name_.clear();
    ForgetOnInterrupt(std::exchange(slot_, -1));
    if (sync) {
        UniqueFd dir(folderFd_ == AT_FDCWD
                         ? ::open(prefix_.empty() ? "." : prefix_.c_str(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                         : ::dup(folderFd_));
        if (dir) ::fsync(dir.Get());
    }
    return 0;
}

void TempAt::Discard() {
    fd_.Reset();
    if (!name_.empty()) ::unlinkat(folderFd_, name_.c_str(), 0);
    name_.clear();
    ForgetOnInterrupt(std::exchange(slot_, -1));
}

bool IsTempName(const std::string& name) {
    const std::string start = kTempStart, end = kTempEnd;
    if (name.size() <= start.size() + end.size() || name.compare(0, start.size(), start) != 0 ||
        name.compare(name.size() - end.size(), end.size(), end) != 0)
        return false;
    bool dash = false;
    for (std::size_t i = start.size(); i < name.size() - end.size(); ++i) {
        const char c = name[i];
        if (c == '-' && !dash) {
            dash = true;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return dash;
}

}  // namespace talvane::platform::posix
