#include "zip/zip_archive_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace talvane::zipimpl {

fileio::ReadOnlyFile::OpenResult ArchiveFile::Open(const std::string& path) {
    Close();
    const auto result = file_.Open(path);
    opened_ = result == fileio::ReadOnlyFile::OpenResult::Ok;
    return result;
}

void ArchiveFile::OpenArriving(std::uint64_t size, std::string tail, ArrivingBytes& bytes) {
    Close();
    tail_ = std::move(tail);
    size_ = static_cast<long long>(std::max<std::uint64_t>(size, tail_.size()));
    tailStart_ = size_ - static_cast<long long>(tail_.size());
    arriving_ = &bytes;
}

void ArchiveFile::Close() {
    file_.Close();
    opened_ = false;
    arriving_ = nullptr;
    tail_.clear();
    size_ = tailStart_ = 0;
}

bool ArchiveFile::IsOpen() const {
    return arriving_ != nullptr || opened_;
}

long long ArchiveFile::Size() const {
    return arriving_ ? size_ : file_.Size();
}

long long ArchiveFile::ReadAt(void* buf, std::size_t len, long long offset) const {
    if (!arriving_) return file_.ReadAt(buf, len, offset);
    if (offset < 0) return -1;
    if (offset >= size_) return 0;
    const auto want = static_cast<long long>(std::min<std::uint64_t>(len, size_ - offset));
    long long got = 0;
    if (offset < tailStart_) {
        const long long head = std::min(want, tailStart_ - offset);
        got = ReadArrived(buf, static_cast<std::size_t>(head), offset);
        if (got != head) return got;
    }
    std::memcpy(static_cast<char*>(buf) + got, tail_.data() + (offset + got - tailStart_),
                static_cast<std::size_t>(want - got));
    return want;
}

bool ArchiveFile::EndArrivedUnchanged() const {
    if (!arriving_ || tail_.empty()) return true;
    std::string arrived(tail_.size(), '\0');
    return ReadArrived(arrived.data(), arrived.size(), tailStart_) ==
               static_cast<long long>(arrived.size()) &&
           arrived == tail_;
}

// The file is opened once its first bytes are there: a download that starts
// its part afresh before that replaces the file under its name.
bool ArchiveFile::OpenArrived() const {
    if (opened_.load(std::memory_order_acquire)) return true;
    std::lock_guard<std::mutex> lock(opening_);
    if (opened_.load(std::memory_order_relaxed)) return true;
    // A part completed meanwhile has its final name.
    for (int attempt = 0; attempt < 2 && !file_.IsOpen(); ++attempt) file_.Open(arriving_->File());
    opened_.store(file_.IsOpen(), std::memory_order_release);
    return file_.IsOpen();
}

long long ArchiveFile::ReadArrived(void* buf, std::size_t len, long long offset) const {
    if (!arriving_->WaitFor(static_cast<std::uint64_t>(offset) + len) || !OpenArrived()) return -1;
    return file_.ReadAt(buf, len, offset);
}

}  // namespace talvane::zipimpl
