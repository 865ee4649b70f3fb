// POSIX file access for the zip reader and writer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/fd_posix.h"
#include "platform/file_io.h"
#include "platform/portable.h"

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

bool PwriteFull(int fd, const void* data, std::size_t len, unsigned long long offset) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (len > 0) {
        const ssize_t n = ::pwrite(fd, p, len, static_cast<off_t>(offset));
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
bool RemoveEmptyFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
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
    return PwriteFull(impl_->fd.Get(), data, len, offset);
}

long long ScratchFile::ReadAt(void* buf, std::size_t len, unsigned long long offset) const {
    return PreadFull(impl_->fd.Get(), buf, len, static_cast<long long>(offset));
}

// ---- PlacedFile

struct PlacedFile::Impl {
    UniqueFd fd;
};

PlacedFile::PlacedFile() : impl_(std::make_unique<Impl>()) {}
PlacedFile::~PlacedFile() = default;

int PlacedFile::Open(const std::string& path, unsigned long long size) {
    impl_->fd.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!impl_->fd.Valid()) return errno;
    if (::ftruncate(impl_->fd.Get(), static_cast<off_t>(size)) != 0) return errno;
    return 0;
}

bool PlacedFile::WriteAt(const void* data, std::size_t len, unsigned long long offset) {
    return PwriteFull(impl_->fd.Get(), data, len, offset);
}

int PlacedFile::Close() {
    if (!impl_->fd.Valid()) return 0;
    const int synced = ::fsync(impl_->fd.Get()) == 0 ? 0 : errno;
    const int closed = ::close(impl_->fd.Release()) == 0 ? 0 : errno;
    return synced ? synced : closed;
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
    return impl_->temp.Create(AT_FDCWD, platform::SplitFolderAndName(target).first, mode);
}
int TempFile::Write(const void* data, std::size_t len) {
    return impl_->temp.Write(data, len);
}
int TempFile::Commit(bool sync) {
    return impl_->temp.Commit(platform::SplitFolderAndName(impl_->target).second, sync);
}
void TempFile::Discard() {
    impl_->temp.Discard();
}

// ---- AppendFile

struct AppendFile::Impl {
    UniqueFd fd;
};

AppendFile::AppendFile() : impl_(std::make_unique<Impl>()) {}
AppendFile::~AppendFile() = default;

int AppendFile::Open(const std::string& path, bool fresh) {
    const int flags =
        O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | (fresh ? O_TRUNC : 0);
    impl_->fd.Reset(::open(path.c_str(), flags, 0644));
    return impl_->fd ? 0 : errno;
}
int AppendFile::Write(const void* data, std::size_t len) {
    return impl_->fd ? platform::posix::WriteAll(impl_->fd.Get(), data, len) : EBADF;
}
int AppendFile::Close(bool sync) {
    if (!impl_->fd) return EBADF;
    const int err = sync && ::fsync(impl_->fd.Get()) != 0 ? errno : 0;
    return impl_->fd.Close() ? err : errno;
}

// ---- Destination

namespace {

UniqueFd OpenBelow(int at, const std::string& name) {
    return UniqueFd(::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool IsFolderAt(int at, const std::string& name) {
    struct stat st {};
    return ::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// The root of a Destination, shared with its parts: a sealed part, whose own folder
// handle is closed, reaches its folder from here again, never through a link. Used on
// the Destination's thread only.
struct DestinationTree {
    UniqueFd root;
    // Handles along the folder opened last, so that a neighbour costs only what differs.
    std::vector<std::pair<std::string, UniqueFd>> chain;
    std::string last;

    // The folder `rel` ("" or "a/b/") below the root; -1 when it is gone or now a link.
    int Open(const std::string& rel) {
        if (rel.empty()) return root.Get();
        if (rel == last && !chain.empty()) return chain.back().second.Get();
        last.clear();
        int at = root.Get();
        std::size_t depth = 0;
        for (std::size_t start = 0; start < rel.size(); ++depth) {
            const std::size_t slash = rel.find('/', start);
            std::string part = rel.substr(start, slash - start);
            start = slash + 1;
            if (depth < chain.size() && chain[depth].first == part) {
                at = chain[depth].second.Get();
                continue;
            }
            chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(depth), chain.end());
            UniqueFd next = OpenBelow(at, part);
            if (!next.Valid()) return -1;
            at = next.Get();
            chain.emplace_back(std::move(part), std::move(next));
        }
        chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(depth), chain.end());
        last = rel;
        return at;
    }
};

struct Destination::Impl {
    std::shared_ptr<DestinationTree> tree;
    std::string cachedKey;
    UniqueFd cached;
    int current = -1;                  // root or cached
    std::string currentKey;            // "" or "a/b/"
    std::vector<std::string> created;  // keys of the folders Enter made, parents first
    platform::posix::TempAt temp;
};

Destination::Destination() : impl_(std::make_unique<Impl>()) {}
Destination::~Destination() {
    DiscardTemp();
}

bool Destination::Open(const std::string& folder) {
    Close();
    impl_->tree = std::make_shared<DestinationTree>();
    impl_->tree->root.Reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    impl_->current = impl_->tree->root.Get();
    return impl_->tree->root.Valid();
}

void Destination::Close() {
    DiscardTemp();
    impl_->cached.Reset();
    impl_->cachedKey.clear();
    impl_->tree.reset();  // parts still waiting keep it
    impl_->current = -1;
    impl_->currentKey.clear();
    impl_->created.clear();
}

Destination::FolderResult Destination::Enter(const std::vector<std::string>& parts,
                                             std::size_t count, std::string& failedAt) {
    if (!impl_->tree) return FolderResult::Failed;
    if (count == 0) {
        impl_->current = impl_->tree->root.Get();
        impl_->currentKey.clear();
        return FolderResult::Ok;
    }
    std::string key;
    for (std::size_t i = 0; i < count; ++i) key += parts[i] + '/';
    if (impl_->cached.Valid() && key == impl_->cachedKey) {
        impl_->current = impl_->cached.Get();
        impl_->currentKey = key;
        return FolderResult::Ok;
    }
    impl_->cached.Reset();
    impl_->cachedKey.clear();
    impl_->current = -1;
    UniqueFd walk;
    int at = impl_->tree->root.Get();
    failedAt.clear();
    std::string made;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& part = parts[i];
        failedAt += (i ? "/" : "") + part;
        made += part + '/';
        if (::mkdirat(at, part.c_str(), 0777) == 0)
            impl_->created.push_back(made);
        else if (errno != EEXIST)
            return FolderResult::Failed;
        UniqueFd next = OpenBelow(at, part);
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
    impl_->currentKey = key;
    return FolderResult::Ok;
}

bool Destination::Exists(const std::string& name) const {
    struct stat st {};
    return ::fstatat(impl_->current, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Destination::IsFolder(const std::string& name) const {
    return IsFolderAt(impl_->current, name);
}

void Destination::RemoveCreatedFolders() {
    if (!impl_->tree) return;
    impl_->cached.Reset();
    impl_->cachedKey.clear();
    impl_->current = impl_->tree->root.Get();
    impl_->currentKey.clear();
    // Each folder was made after its parent: the last made goes first.
    for (auto it = impl_->created.rbegin(); it != impl_->created.rend(); ++it) {
        const std::string path = it->substr(0, it->size() - 1);
        const std::size_t slash = path.rfind('/');
        const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
        const int at = impl_->tree->Open(path.substr(0, nameAt));
        if (at >= 0) ::unlinkat(at, path.c_str() + nameAt, AT_REMOVEDIR);
    }
    impl_->created.clear();
    impl_->tree->chain.clear();
    impl_->tree->last.clear();
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
    std::shared_ptr<DestinationTree> tree;
    std::string rel;  // its folder below the root: "" or "a/b/"
    UniqueFd folder;  // its own handle while written: the Destination's current folder changes
    platform::posix::TempAt temp;

    // Its own handle, or once sealed the folder opened again.
    int Folder() const {
        if (folder.Valid()) return folder.Get();
        return tree ? tree->Open(rel) : -1;
    }
    void Reattach() {
        if (!temp.Name().empty()) temp.Reattach(Folder());
    }
};

PendingFile::PendingFile() : impl_(std::make_unique<Impl>()) {}
PendingFile::~PendingFile() {
    Discard();
}

bool PendingFile::Write(const void* data, std::size_t len) {
    return impl_->temp.Write(data, len) == 0;
}
bool PendingFile::Seal() {
    const int base = impl_->tree ? impl_->tree->root.Get() : -1;
    const int err = impl_->temp.Seal(base, impl_->rel + impl_->temp.Name());
    impl_->folder.Reset();
    return err == 0;
}
bool PendingFile::Commit(const std::string& name) {
    impl_->Reattach();
    return impl_->temp.Commit(name, false) == 0;
}
void PendingFile::Discard() {
    impl_->Reattach();
    impl_->temp.Discard();
}
bool PendingFile::Exists(const std::string& name) const {
    struct stat st {};
    return ::fstatat(impl_->Folder(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}
bool PendingFile::IsFolder(const std::string& name) const {
    return IsFolderAt(impl_->Folder(), name);
}

std::unique_ptr<PendingFile> Destination::CreatePending(unsigned mode) {
    auto part = std::make_unique<PendingFile>();
    part->impl_->tree = impl_->tree;
    part->impl_->rel = impl_->currentKey;
    part->impl_->folder.Reset(::fcntl(impl_->current, F_DUPFD_CLOEXEC, 0));
    if (!part->impl_->folder.Valid() ||
        part->impl_->temp.Create(part->impl_->folder.Get(), std::string(), mode) != 0)
        return nullptr;
    return part;
}

}  // namespace talvane::fileio
