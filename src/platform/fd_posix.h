#pragma once
// Descriptor owner and the temporary-file primitive shared by the POSIX files
// of the platform layer.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <utility>

namespace talvane::platform::posix {

// Move-only owner of a file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    // False when the data may not have reached the file.
    bool Close() {
        if (fd_ < 0) return true;
        return ::close(std::exchange(fd_, -1)) == 0;
    }
    void Reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// Writes everything, retrying after short or interrupted writes; 0 or errno.
int WriteAll(int fd, const void* data, std::size_t size);

// The one way the program writes a file it keeps: a new file under a private
// name in the target's folder (".~tv<pid>-<n>.part", removed on Ctrl-C or
// termination), renamed over the target only when complete. A file replaced
// this way is never missing or half-written.
class TempAt {
  public:
    TempAt() = default;
    ~TempAt() { Discard(); }
    TempAt(const TempAt&) = delete;
    TempAt& operator=(const TempAt&) = delete;

    // `folderFd` is an open folder, or AT_FDCWD with `folder` the folder's path
    // ("" for the working folder). 0 or errno.
    int Create(int folderFd, const std::string& folder, unsigned mode);
    int Write(const void* data, std::size_t size);
    // Ends the writing: the data handle is closed and the part waits under its name, so
    // that any number of parts can wait for their commit. The folder handle may be closed
    // next; Reattach gives the folder, opened anew, back before Commit or Discard. An
    // interrupt removes the part as `fromBase` relative to `baseFd`, which must stay open.
    // A sealed part is not flushed to disk on its commit. 0 or errno.
    int Seal(int baseFd, const std::string& fromBase);
    void Reattach(int folderFd) { folderFd_ = folderFd; }
    // Flushes to disk when `sync`, closes and renames over `name` in the same
    // folder. Nothing is left behind on failure. 0 or errno.
    int Commit(const std::string& name, bool sync);
    void Discard();
    bool Open() const { return fd_.Valid(); }
    int Fd() const { return fd_.Get(); }
    const std::string& Name() const { return name_; }  // empty once committed or discarded

  private:
    void Unlist();

    int folderFd_ = AT_FDCWD;
    std::string name_;  // relative to folderFd_ (with the folder path for AT_FDCWD)
    std::string prefix_;
    UniqueFd fd_;
    int slot_ = -1;
    int sealedSlot_ = -1;
};

}  // namespace talvane::platform::posix
