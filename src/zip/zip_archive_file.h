#pragma once
// The bytes of an open archive: a file on disk, or an archive still arriving
// whose end (central directory and end records) is already at hand while the
// rest comes in order from the start.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/file_io.h"
#include "zip/zip_reader.h"

namespace talvane::zipimpl {

class ArchiveFile {
  public:
    fileio::ReadOnlyFile::OpenResult Open(const std::string& path);
    // `tail`: the archive's last tail.size() bytes of `size`; the rest is read
    // from the file `bytes` names once it says they are there.
    void OpenArriving(std::uint64_t size, std::string tail, ArrivingBytes& bytes);
    void Close();
    bool IsOpen() const;
    bool Arriving() const { return arriving_ != nullptr; }
    long long Size() const;
    // Where the bytes read without waiting begin (an arriving archive's end).
    long long AtHandFrom() const { return arriving_ ? tailStart_ : 0; }
    // As ReadOnlyFile::ReadAt; on an arriving archive it waits for the bytes
    // (any thread may read) and fails when they will not come.
    long long ReadAt(void* buf, std::size_t len, long long offset) const;
    // Waits for the whole of an arriving archive: true when its end arrived as
    // the one it was read by (always for a file on disk).
    bool EndArrivedUnchanged() const;

  private:
    long long ReadArrived(void* buf, std::size_t len, long long offset) const;
    bool OpenArrived() const;

    mutable fileio::ReadOnlyFile file_;  // an arriving archive's is opened on first need
    ArrivingBytes* arriving_ = nullptr;
    std::string tail_;
    long long size_ = 0, tailStart_ = 0;
    mutable std::mutex opening_;
    mutable std::atomic<bool> opened_{false};
};

}  // namespace talvane::zipimpl
