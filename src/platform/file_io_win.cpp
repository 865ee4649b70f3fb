// Windows file access for the zip reader and writer. Folders are named by path;
// each level of an extraction is checked for a link (reparse point) before it
// is entered.
#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "platform/file_io.h"
#include "platform/portable.h"
#include "platform/win_util.h"

#include <winioctl.h>

namespace talvane::fileio {

namespace {

using platform::win::Handle;
namespace win = platform::win;

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

// No file can be renamed over a folder, nor over a link to one.
bool IsFolderAt(const std::string& path) {
    DWORD a = 0;
    return win::Attributes(path, a) && win::IsFolder(a);
}

}  // namespace

PathKind KindOf(const std::string& path) {
    DWORD a = 0;
    if (!win::TargetAttributes(path, a)) return PathKind::None;
    if (win::IsFolder(a)) return PathKind::Folder;
    if (a & FILE_ATTRIBUTE_DEVICE) return PathKind::Other;
    return PathKind::File;
}

bool EntryExists(const std::string& path) {
    DWORD a = 0;
    return win::Attributes(path, a);
}

bool MakeFolder(const std::string& path) {
    return ::CreateDirectoryW(win::Wide(path).c_str(), nullptr) != 0;
}
bool RemoveFile(const std::string& path) {
    return ::DeleteFileW(win::Wide(path).c_str()) != 0;
}
bool RemoveEmptyFolder(const std::string& path) {
    return ::RemoveDirectoryW(win::Wide(path).c_str()) != 0;
}
bool RenameFile(const std::string& from, const std::string& to) {
    return ::MoveFileExW(win::Wide(from).c_str(), win::Wide(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING) != 0;
}

bool StatFile(const std::string& path, FileFacts& facts) {
    struct _stat64 st {};
    if (::_wstat64(win::Wide(path).c_str(), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)
        return false;
    facts.size = static_cast<unsigned long long>(st.st_size);
    facts.modified = static_cast<std::time_t>(st.st_mtime);
    facts.mode = st.st_mode & 0777;
    return true;
}

// ---- ReadOnlyFile

struct ReadOnlyFile::Impl {
    Handle file;
    long long size = 0;
};

ReadOnlyFile::ReadOnlyFile() : impl_(std::make_unique<Impl>()) {}
ReadOnlyFile::~ReadOnlyFile() = default;

ReadOnlyFile::OpenResult ReadOnlyFile::Open(const std::string& path) {
    Close();
    if (KindOf(path) != PathKind::File) return OpenResult::NotAFile;
    impl_->file.Reset(::CreateFileW(win::Wide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!impl_->file.Valid() || !::GetFileSizeEx(impl_->file.Get(), &size)) {
        impl_->file.Reset();
        return OpenResult::Failed;
    }
    impl_->size = size.QuadPart;
    return OpenResult::Ok;
}

void ReadOnlyFile::Close() {
    impl_->file.Reset();
    impl_->size = 0;
}
bool ReadOnlyFile::IsOpen() const {
    return impl_->file.Valid();
}
long long ReadOnlyFile::Size() const {
    return impl_->size;
}
long long ReadOnlyFile::ReadAt(void* buf, std::size_t len, long long offset) const {
    if (offset < 0) return -1;
    return win::ReadAt(impl_->file.Get(), buf, len, static_cast<unsigned long long>(offset));
}

// ---- ScratchFile

namespace {
bool WriteAllAt(HANDLE file, const void* data, std::size_t len, unsigned long long offset) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (len > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xffffffffu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD chunk = len > (1u << 30) ? (1u << 30) : static_cast<DWORD>(len);
        DWORD written = 0;
        if (!::WriteFile(file, p, chunk, &written, &at)) return false;
        p += written;
        len -= written;
        offset += written;
    }
    return true;
}
}  // namespace

struct ScratchFile::Impl {
    Handle file;
};

ScratchFile::ScratchFile() : impl_(std::make_unique<Impl>()) {}
ScratchFile::~ScratchFile() = default;

bool ScratchFile::Open() {
    if (impl_->file.Valid()) return true;
    wchar_t folder[MAX_PATH + 1], name[MAX_PATH + 1];
    if (::GetTempPathW(MAX_PATH + 1, folder) == 0 ||
        ::GetTempFileNameW(folder, L"tvz", 0, name) == 0)
        return false;
    // Gone with its last handle.
    impl_->file.Reset(::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                    CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!impl_->file.Valid()) ::DeleteFileW(name);
    return impl_->file.Valid();
}

bool ScratchFile::WriteAt(const void* data, std::size_t len, unsigned long long offset) {
    return WriteAllAt(impl_->file.Get(), data, len, offset);
}

long long ScratchFile::ReadAt(void* buf, std::size_t len, unsigned long long offset) const {
    return win::ReadAt(impl_->file.Get(), buf, len, offset);
}

// ---- PlacedFile

struct PlacedFile::Impl {
    Handle file;
};

PlacedFile::PlacedFile() : impl_(std::make_unique<Impl>()) {}
PlacedFile::~PlacedFile() = default;

int PlacedFile::Open(const std::string& path, unsigned long long size) {
    impl_->file.Reset(::CreateFileW(win::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!impl_->file.Valid()) return static_cast<int>(::GetLastError());
    // Sparse where NTFS allows: the holes are never written.
    DWORD returned = 0;
    ::DeviceIoControl(impl_->file.Get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned,
                      nullptr);
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(impl_->file.Get(), end, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(impl_->file.Get()))
        return static_cast<int>(::GetLastError());
    return 0;
}

bool PlacedFile::WriteAt(const void* data, std::size_t len, unsigned long long offset) {
    return WriteAllAt(impl_->file.Get(), data, len, offset);
}

int PlacedFile::Close() {
    if (!impl_->file.Valid()) return 0;
    const int flushed =
        ::FlushFileBuffers(impl_->file.Get()) ? 0 : static_cast<int>(::GetLastError());
    const int closed = impl_->file.Close() ? 0 : static_cast<int>(::GetLastError());
    return flushed ? flushed : closed;
}

// ---- TempFile

struct TempFile::Impl {
    win::TempPart temp;
    std::string target;
};

TempFile::TempFile() : impl_(std::make_unique<Impl>()) {}
TempFile::~TempFile() = default;

int TempFile::Create(const std::string& target, unsigned mode) {
    impl_->target = target;
    return impl_->temp.Create(platform::SplitFolderAndName(target).first, mode);
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
    Handle file;
};

AppendFile::AppendFile() : impl_(std::make_unique<Impl>()) {}
AppendFile::~AppendFile() = default;

int AppendFile::Open(const std::string& path, bool fresh) {
    impl_->file = Handle(::CreateFileW(
        win::Wide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
        fresh ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return impl_->file.Valid() ? 0 : win::LastErrno();
}
int AppendFile::Write(const void* data, std::size_t len) {
    return impl_->file.Valid() ? win::WriteAll(impl_->file.Get(), data, len) : EBADF;
}
int AppendFile::Close(bool sync) {
    if (!impl_->file.Valid()) return EBADF;
    const int err = sync && !::FlushFileBuffers(impl_->file.Get()) ? win::LastErrno() : 0;
    return impl_->file.Close() ? err : win::LastErrno();
}

// ---- Destination

struct Destination::Impl {
    std::string root;
    std::string current;
    bool open = false;
    std::vector<std::string> created;  // folders Enter made, parents first
    win::TempPart temp;
};

Destination::Destination() : impl_(std::make_unique<Impl>()) {}
Destination::~Destination() {
    DiscardTemp();
}

bool Destination::Open(const std::string& folder) {
    Close();
    if (KindOf(folder) != PathKind::Folder) return false;
    impl_->root = folder;
    while (impl_->root.size() > 1 && impl_->root.back() == '/') impl_->root.pop_back();
    impl_->current = impl_->root;
    impl_->open = true;
    return true;
}

void Destination::Close() {
    DiscardTemp();
    impl_->root.clear();
    impl_->current.clear();
    impl_->open = false;
    impl_->created.clear();
}

Destination::FolderResult Destination::Enter(const std::vector<std::string>& parts,
                                             std::size_t count, std::string& failedAt) {
    if (!impl_->open) return FolderResult::Failed;
    std::string path = impl_->root;
    failedAt.clear();
    for (std::size_t i = 0; i < count; ++i) {
        failedAt += (i ? "/" : "") + parts[i];
        path = Join(path, parts[i]);
        DWORD a = 0;
        if (!win::Attributes(path, a)) {
            if (::CreateDirectoryW(win::Wide(path).c_str(), nullptr))
                impl_->created.push_back(path);
            else if (::GetLastError() != ERROR_ALREADY_EXISTS)
                return FolderResult::Failed;
            if (!win::Attributes(path, a)) return FolderResult::Failed;
        }
        if (win::IsLink(a)) return FolderResult::Link;
        if (!win::IsFolder(a)) return FolderResult::Failed;
    }
    impl_->current = path;
    return FolderResult::Ok;
}

bool Destination::Exists(const std::string& name) const {
    return EntryExists(Join(impl_->current, name));
}

bool Destination::IsFolder(const std::string& name) const {
    return IsFolderAt(Join(impl_->current, name));
}

void Destination::RemoveCreatedFolders() {
    impl_->current = impl_->root;
    // Each folder was made after its parent: the last made goes first.
    for (auto it = impl_->created.rbegin(); it != impl_->created.rend(); ++it)
        ::RemoveDirectoryW(win::Wide(*it).c_str());
    impl_->created.clear();
}

bool Destination::Remove(const std::string& name) {
    DWORD a = 0;
    const std::string path = Join(impl_->current, name);
    if (!win::Attributes(path, a) || (win::IsFolder(a) && !win::IsLink(a))) return false;
    return win::RemoveName(path) == 0;
}

bool Destination::CreateTemp(unsigned mode) {
    return impl_->temp.Create(impl_->current, mode) == 0;
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
    std::string folder;  // its own: the Destination's current folder changes
    win::TempPart temp;
};

PendingFile::PendingFile() : impl_(std::make_unique<Impl>()) {}
PendingFile::~PendingFile() {
    Discard();
}

bool PendingFile::Write(const void* data, std::size_t len) {
    return impl_->temp.Write(data, len) == 0;
}
bool PendingFile::Seal() {
    return impl_->temp.Seal() == 0;
}
bool PendingFile::Commit(const std::string& name) {
    return impl_->temp.Commit(name, false) == 0;
}
void PendingFile::Discard() {
    impl_->temp.Discard();
}
bool PendingFile::Exists(const std::string& name) const {
    return EntryExists(Join(impl_->folder, name));
}
bool PendingFile::IsFolder(const std::string& name) const {
    return IsFolderAt(Join(impl_->folder, name));
}

std::unique_ptr<PendingFile> Destination::CreatePending(unsigned mode) {
    auto part = std::make_unique<PendingFile>();
    part->impl_->folder = impl_->current;
    if (!impl_->open || part->impl_->temp.Create(part->impl_->folder, mode) != 0) return nullptr;
    return part;
}

}  // namespace talvane::fileio
