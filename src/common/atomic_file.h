#pragma once
// The one writer for files the user keeps (downloads, unpacked programs, archives,
// settings): all bytes go to a private temporary name beside the target, which
// replaces the target only once complete. An interrupted or failed write leaves
// the old file as it was and no part behind.
#include <cstddef>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/file_io.h"

namespace talvane {

class AtomicFile {
  public:
    AtomicFile() = default;
    ~AtomicFile() = default;  // an uncommitted part is removed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    Result<void> Create(const std::string& target, unsigned mode = 0644);
    Result<void> Write(const void* data, std::size_t size);
    // Flushes to disk and renames over the target.
    Result<void> Commit();
    void Discard();
    const std::string& Target() const { return target_; }

  private:
    Result<void> Check(int code, const char* what) const;

    fileio::TempFile temp_;
    std::string target_;
    bool open_ = false;
};

// The whole buffer as a new version of `path`.
Result<void> WriteFileAtomically(const std::string& path, std::string_view data,
                                 unsigned mode = 0644);

}  // namespace talvane
