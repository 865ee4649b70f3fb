#include "platform/win_util.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/portable.h"

namespace talvane::platform::win {

namespace {
std::atomic<unsigned> g_counter{0};

// Sealed parts can far outnumber the interrupt slots, so they are listed here and
// removed by a console handler of their own; it lets the other handlers run after it.
// The handler runs on a thread of its own, so a mutex suffices.
std::mutex g_sealedMutex;
std::vector<std::wstring> g_sealed;  // empty: a free entry
std::vector<int> g_sealedFree;
std::size_t g_sealedListed = 0;

BOOL WINAPI RemoveSealedParts(DWORD) {
    std::lock_guard<std::mutex> lock(g_sealedMutex);
    for (const std::wstring& path : g_sealed)
        if (!path.empty()) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
    return FALSE;
}

int ListSealed(const std::wstring& path) {
    static std::once_flag installed;
    std::call_once(installed, [] { ::SetConsoleCtrlHandler(RemoveSealedParts, TRUE); });
    std::lock_guard<std::mutex> lock(g_sealedMutex);
    ++g_sealedListed;
    if (g_sealedFree.empty()) {
        g_sealed.push_back(path);
        return static_cast<int>(g_sealed.size() - 1);
    }
    const int slot = g_sealedFree.back();
    g_sealedFree.pop_back();
    g_sealed[static_cast<std::size_t>(slot)] = path;
    return slot;
}

void ForgetSealed(int slot) {
    if (slot < 0) return;
    std::lock_guard<std::mutex> lock(g_sealedMutex);
    if (--g_sealedListed == 0) {
        // The list's memory goes with its last part.
        std::vector<std::wstring>().swap(g_sealed);
        std::vector<int>().swap(g_sealedFree);
        return;
    }
    g_sealed[static_cast<std::size_t>(slot)].clear();
    g_sealedFree.push_back(slot);
}

}  // namespace

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                          nullptr, nullptr);
    return out;
}

std::string ToInternalPath(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

int ErrnoFrom(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS:
            return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_PRIVILEGE_NOT_HELD:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_BAD_EXE_FORMAT:
        case ERROR_EXE_MACHINE_TYPE_MISMATCH:
            return ENOEXEC;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        default:
            return EINVAL;
    }
}

bool Attributes(const std::string& path, DWORD& attributes) {
    attributes = ::GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
}

bool TargetAttributes(const std::string& path, DWORD& attributes) {
    if (!Attributes(path, attributes)) return false;
    if (!IsLink(attributes)) return true;
    Handle h(::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!h.Valid() || !::GetFileInformationByHandle(h.Get(), &info)) return false;
    attributes = info.dwFileAttributes;
    return true;
}

int RemoveName(const std::string& path) {
    DWORD attributes = 0;
    if (!Attributes(path, attributes)) return LastErrno();
    const std::wstring w = Wide(path);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(w.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    // A link to a folder is itself a folder entry: removing it leaves the target alone.
    const BOOL ok = IsFolder(attributes) ? ::RemoveDirectoryW(w.c_str()) : ::DeleteFileW(w.c_str());
    return ok ? 0 : LastErrno();
}

int WriteAll(HANDLE h, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(h, p, chunk, &written, nullptr)) return LastErrno();
        p += written;
        size -= written;
    }
    return 0;
}

long long ReadAt(HANDLE h, void* buf, std::size_t len, unsigned long long offset) {
    auto* p = static_cast<unsigned char*>(buf);
    std::size_t done = 0;
    while (done < len) {
        OVERLAPPED at{};
        const unsigned long long pos = offset + done;
        at.Offset = static_cast<DWORD>(pos & 0xffffffffu);
        at.OffsetHigh = static_cast<DWORD>(pos >> 32);
        const std::size_t left = len - done;
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!::ReadFile(h, p + done, chunk, &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<long long>(done);
}

int TempPart::Create(const std::string& folder, unsigned mode) {
    Discard();
    prefix_ = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    mode_ = mode;
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = prefix_ + TempName(::GetCurrentProcessId(), ++g_counter);
        const std::wstring w = Wide(path_);
        file_.Reset(::CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file_.Valid()) {
            wchar_t full[MAX_PATH * 4];
            const DWORD n = ::GetFullPathNameW(w.c_str(), MAX_PATH * 4, full, nullptr);
            full_ = n > 0 && n < MAX_PATH * 4 ? std::wstring(full, n) : w;
            slot_ = RemoveOnInterrupt(full_);
            return 0;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    const int err = LastErrno();
    path_.clear();
    return err;
}

int TempPart::Write(const void* data, std::size_t size) {
    return file_.Valid() ? WriteAll(file_.Get(), data, size) : EBADF;
}

int TempPart::Seal() {
    if (!file_.Valid()) return EBADF;
    // Listed apart before it leaves its slot: no moment finds it unlisted.
    sealedSlot_ = ListSealed(full_);
    ForgetOnInterrupt(std::exchange(slot_, -1));
    return file_.Close() ? 0 : LastErrno();
}

int TempPart::Commit(const std::string& name, bool sync) {
    if (path_.empty()) return EBADF;
    int err = 0;
    if (sync && file_.Valid() && !::FlushFileBuffers(file_.Get())) err = LastErrno();
    if (!file_.Close() && !err) err = LastErrno();
    const std::wstring from = Wide(path_), to = Wide(prefix_ + name);
    // Without write permission the file is read-only, as the mode asks.
    if (!err && (mode_ & 0200) == 0) ::SetFileAttributesW(from.c_str(), FILE_ATTRIBUTE_READONLY);
    if (!err) {
        DWORD attributes = 0;
        if (Attributes(prefix_ + name, attributes) && (attributes & FILE_ATTRIBUTE_READONLY))
            ::SetFileAttributesW(to.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
        const DWORD flags = MOVEFILE_REPLACE_EXISTING | (sync ? MOVEFILE_WRITE_THROUGH : 0);
        if (!::MoveFileExW(from.c_str(), to.c_str(), flags)) err = LastErrno();
    }
    if (err) {
        Discard();
        return err;
    }
    path_.clear();
    Unlist();
    return 0;
}

void TempPart::Discard() {
    file_.Reset();
    if (!path_.empty()) {
        const std::wstring w = Wide(path_);
        ::SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(w.c_str());
    }
    path_.clear();
    Unlist();
}

void TempPart::Unlist() {
    ForgetOnInterrupt(std::exchange(slot_, -1));
    ForgetSealed(std::exchange(sealedSlot_, -1));
}

}  // namespace talvane::platform::win
