#pragma once
// Helpers shared by the Windows files of the platform layer: UTF-8 inside the
// program, UTF-16 at the system boundary, errno-style codes, and the
// temporary-file primitive.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <string>
#include <utility>

namespace talvane::platform::win {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
// Backslashes become '/', the separator the rest of the program uses.
std::string ToInternalPath(std::string path);
// The errno value closest to a Windows error code.
int ErrnoFrom(DWORD error);
inline int LastErrno() {
    return ErrnoFrom(::GetLastError());
}

// File attributes of `path` without following a link; false when absent.
bool Attributes(const std::string& path, DWORD& attributes);
inline bool IsLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
inline bool IsFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
// Attributes of what `path` finally names, links followed; false when absent.
bool TargetAttributes(const std::string& path, DWORD& attributes);
// Removes a file, a link or an empty folder; 0 or errno.
int RemoveName(const std::string& path);

// Move-only owner of a handle.
class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() { Reset(); }
    Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            Reset();
            h_ = std::exchange(other.h_, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != nullptr; }
    HANDLE Release() { return std::exchange(h_, nullptr); }
    bool Close() {
        if (!h_) return true;
        return ::CloseHandle(std::exchange(h_, nullptr)) != 0;
    }
    void Reset(HANDLE h = nullptr) {
        if (h_) ::CloseHandle(h_);
        h_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
    }

  private:
    HANDLE h_ = nullptr;
};

// Writes everything; 0 or errno.
int WriteAll(HANDLE h, const void* data, std::size_t size);
// Reads up to `len` bytes at `offset`; fewer only at the end; -1 on error.
long long ReadAt(HANDLE h, void* buf, std::size_t len, unsigned long long offset);

// The one way the program writes a file it keeps: ".~tv<pid>-<n>.part" in the
// target's folder, removed on Ctrl-C or a console close, moved over the target
// (MoveFileExW) only when complete.
class TempPart {
  public:
    TempPart() = default;
    ~TempPart() { Discard(); }
    TempPart(const TempPart&) = delete;
    TempPart& operator=(const TempPart&) = delete;

    // `folder` is "" for the working folder. 0 or errno.
    int Create(const std::string& folder, unsigned mode);
    int Write(const void* data, std::size_t size);
    // Ends the writing: the handle is closed and the part waits under its name, so that
    // any number of parts can wait for their commit. A sealed part is not flushed to
    // disk on its commit. 0 or errno.
    int Seal();
    int Commit(const std::string& name, bool sync);
    void Discard();
    bool Open() const { return file_.Valid(); }

  private:
    void Unlist();

    std::string prefix_;  // the folder with a trailing '/', or ""
    std::string path_;
    std::wstring full_;  // the full path, for the interrupt handlers
    Handle file_;
    unsigned mode_ = 0;
    int slot_ = -1;
    int sealedSlot_ = -1;
};

// Registration of parts for the console control handler.
int RemoveOnInterrupt(const std::wstring& path);
void ForgetOnInterrupt(int slot);

}  // namespace talvane::platform::win
