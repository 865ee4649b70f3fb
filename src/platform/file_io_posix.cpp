// POSIX file access for the zip reader and writer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/fd_posix.h"
#include "platform/file_io.h"

namespace talvane::fileio {

namespace {

using platform::posix::UniqueFd;

long long PreadFull(int fd, void* buf, std::size_t len, long long offset) {
    auto* p = static_cast<unsigned char*>(buf);
    std::size_t done = 0;
    while (done < len) {
        const ssize_t n = ::pread(fd, p + done, len - done,
                                  static_cast<off_t>(offset + static_cast<long long>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

}  // namespace

PathKind KindOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return PathKind::None;
    if (S_ISREG(st.st_mode)) return PathKind::File;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    return PathKind::Other;
}

bool EntryExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool MakeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}
bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}
bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool StatFile(const std::string& path, FileFacts& facts) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    facts.size = static_cast<unsigned long long>(st.st_size);
    facts.modified = st.st_mtime;
    facts.mode = st.st_mode & 07777;
    return true;
}

// ---- ReadOnlyFile

struct ReadOnlyFile::Impl {
    UniqueFd fd;
    long long size = 0;
};

ReadOnlyFile::ReadOnlyFile() : impl_(std::make_unique<Impl>()) {}
ReadOnlyFile::~ReadOnlyFile() = default;

ReadOnlyFile::OpenResult ReadOnlyFile::Open(const std::string& path) {
    Close();
    if (KindOf(path) != PathKind::File) return OpenResult::NotAFile;
    impl_->fd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!impl_->fd.Valid() || ::fstat(impl_->fd.Get(), &st) != 0) return OpenResult::Failed;
    impl_->size = st.st_size;
    return OpenResult::Ok;
}

void ReadOnlyFile::Close() {
    impl_->fd.Reset();
    impl_->size = 0;
}
bool ReadOnlyFile::IsOpen() const {
    return impl_->fd.Valid();
}
long long ReadOnlyFile::Size() const {
    return impl_->size;
}
long long ReadOnlyFile::ReadAt(void* buf, std::size_t len, long long offset) const {
    if (offset < 0) return -1;
    return PreadFull(impl_->fd.Get(), buf, len, offset);
}

// ---- ScratchFile

struct ScratchFile::Impl {
    UniqueFd fd;
};

ScratchFile::ScratchFile() : impl_(std::make_unique<Impl>()) {}
ScratchFile::~ScratchFile() = default;

bool ScratchFile::Open() {
    if (impl_->fd.Valid()) return true;
    const char* t = std::getenv("TMPDIR");
    std::string pattern = std::string((t && *t) ? t : "/tmp") + "/talvane-zip-XXXXXX";
    impl_->fd.Reset(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!impl_->fd.Valid()) return false;
    ::unlink(pattern.c_str());  // lives as long as the descriptor
    return true;
}

bool ScratchFile::WriteAt(const void* data, std::size_t len, unsigned long long offset) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (len > 0) {
        const ssize_t n = ::pwrite(impl_->fd.Get(), p, len, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        len -= static_cast<std::size_t>(n);
        offset += static_cast<unsigned long long>(n);
    }
    return true;
}

long long ScratchFile::ReadAt(void* buf, std::size_t len, unsigned long long offset) const {
    return PreadFull(impl_->fd.Get(), buf, len, static_cast<long long>(offset));
}

// ---- TempFile

struct TempFile::Impl {
    platform::posix::TempAt temp;
    std::string target;
};

TempFile::TempFile() : impl_(std::make_unique<Impl>()) {}
TempFile::~TempFile() = default;

int TempFile::Create(const std::string& target, unsigned mode) {
    impl_->target = target;
    const auto slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : (slash == 0 ? "/" : target.substr(0, slash));
    return impl_->temp.Create(AT_FDCWD, folder, mode);
}
int TempFile::Write(const void* data, std::size_t len) {
    return impl_->temp.Write(data, len);
}
int TempFile::Commit(bool sync) {
    const auto slash = impl_->target.rfind('/');
    return impl_->temp.Commit(
        slash == std::string::npos ? impl_->target : impl_->target.substr(slash + 1), sync);
}
void TempFile::Discard() {
    impl_->temp.Discard();
}

// ---- Destination

struct Destination::Impl {
    UniqueFd root;
    std::string cachedKey;
    UniqueFd cached;
    int current = -1;  // root or cached
    platform::posix::TempAt temp;
};

Destination::Destination() : impl_(std::make_unique<Impl>()) {}
Destination::~Destination() {
    DiscardTemp();
}

bool Destination::Open(const std::string& folder) {
    Close();
    impl_->root.Reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    impl_->current = impl_->root.Get();
    return impl_->root.Valid();
}

void Destination::Close() {
    DiscardTemp();
    impl_->cached.Reset();
    impl_->cachedKey.clear();
    impl_->root.Reset();
    impl_->current = -1;
}

Destination::FolderResult Destination::Enter(const std::vector<std::string>& parts,
                                             std::size_t count, std::string& failedAt) {
    if (count == 0) {
        impl_->current = impl_->root.Get();
        return FolderResult::Ok;
    }
    std::string key;
    for (std::size_t i = 0; i < count; ++i) key += parts[i] + '/';
    if (impl_->cached.Valid() && key == impl_->cachedKey) {
        impl_->current = impl_->cached.Get();
        return FolderResult::Ok;
    }
    impl_->cached.Reset();
    impl_->cachedKey.clear();
    impl_->current = -1;
    UniqueFd walk;
    int at = impl_->root.Get();
    failedAt.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& part = parts[i];
        failedAt += (i ? "/" : "") + part;
        if (::mkdirat(at, part.c_str(), 0777) != 0 && errno != EEXIST) return FolderResult::Failed;
        UniqueFd next(::openat(at, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.Valid()) {
            struct stat st {};
            if (::fstatat(at, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                return FolderResult::Link;
            return FolderResult::Failed;
        }
        walk = std::move(next);
        at = walk.Get();
    }
    impl_->cached = std::move(walk);
    impl_->cachedKey = key;
    impl_->current = impl_->cached.Get();
    return FolderResult::Ok;
}

bool Destination::Exists(const std::string& name) const {
    struct stat st {};
    return ::fstatat(impl_->current, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Destination::Remove(const std::string& name) {
    return ::unlinkat(impl_->current, name.c_str(), 0) == 0;
}

bool Destination::CreateTemp(unsigned mode) {
    return impl_->temp.Create(impl_->current, std::string(), mode) == 0;
}

bool Destination::WriteTemp(const void* data, std::size_t len) {
    return impl_->temp.Write(data, len) == 0;
}

bool Destination::CommitTemp(const std::string& name) {
    return impl_->temp.Commit(name, false) == 0;
}

void Destination::DiscardTemp() {
    impl_->temp.Discard();
}

// ---- PendingFile

struct PendingFile::Impl {
    UniqueFd folder;  // its own handle: the Destination's current folder changes
    platform::posix::TempAt temp;
};

PendingFile::PendingFile() : impl_(std::make_unique<Impl>()) {}
PendingFile::~PendingFile() {
    Discard();
}

bool PendingFile::Write(const void* data, std::size_t len) {
    return impl_->temp.Write(data, len) == 0;
}
bool PendingFile::Commit(const std::string& name) {
    return impl_->temp.Commit(name, false) == 0;
}
void PendingFile::Discard() {
    impl_->temp.Discard();
}
bool PendingFile::Exists(const std::string& name) const {
    struct stat st {};
    return ::fstatat(impl_->folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::unique_ptr<PendingFile> Destination::CreatePending(unsigned mode) {
    auto part = std::make_unique<PendingFile>();
    part->impl_->folder.Reset(::fcntl(impl_->current, F_DUPFD_CLOEXEC, 0));
    if (!part->impl_->folder.Valid() ||
        part->impl_->temp.Create(part->impl_->folder.Get(), std::string(), mode) != 0)
        return nullptr;
    return part;
}

}  // namespace talvane::fileio
