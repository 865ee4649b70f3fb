#include "cloud/ftp_curl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "common/interrupt.h"

namespace talvane::net {

bool EnsureCurlGlobal() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

CURLcode Perform(CURLM* multi, CURL* easy) {
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    bool done = false;
    while (!done) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                result = msg->data.result;
                done = true;
            }
        }
        if (done || running == 0) break;
        if (curl_multi_poll(multi, nullptr, 0, 10, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    curl_multi_remove_handle(multi, easy);
    return result;
}

bool SlistAppend(CurlSlist& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return false;
    static_cast<void>(list.release());
    list.reset(grown);
    return true;
}

PartFile::~PartFile() {
    Discard();
}

bool PartFile::Create(const std::string& target) {
    Discard();
    target_ = target;
    auto slash = target.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (folder.empty()) folder.assign(1, '/');
    std::string pattern = folder;
    pattern += "/.";
    pattern += base;
    pattern += ".part-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    HoldInterrupts hold;
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error_ = errno;
        return false;
    }
    // mkostemp creates 0600; a downloaded file gets the usual mode.
    ::fchmod(fd, 0644);
    fd_ = fd;
    temp_.assign(name.data());
    interruptSlot_ = RemoveOnInterrupt(AT_FDCWD, temp_);
    return true;
}

bool PartFile::Write(const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool PartFile::Commit() {
    if (fd_ < 0) return false;
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        error_ = errno;
        ::unlink(temp_.c_str());
        temp_.clear();
        ForgetOnInterrupt(std::exchange(interruptSlot_, -1));
        return false;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        error_ = errno;
        ::unlink(temp_.c_str());
        temp_.clear();
        ForgetOnInterrupt(std::exchange(interruptSlot_, -1));
        return false;
    }
    temp_.clear();
    ForgetOnInterrupt(std::exchange(interruptSlot_, -1));
    return true;
}

void PartFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    ForgetOnInterrupt(std::exchange(interruptSlot_, -1));
}

std::string EncodeUrlPath(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                          c == '/';
        if (keep) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

unsigned long Win32ErrorFromErrno(int err) {
    switch (err) {
        case ENOENT:  // a missing folder on the way to a file
        case ENOTDIR:
            return 3;  // ERROR_PATH_NOT_FOUND
        case EACCES:
        case EPERM:
        case EROFS:
            return 5;  // ERROR_ACCESS_DENIED
        case ENOSPC:
        case EDQUOT:
            return 112;  // ERROR_DISK_FULL
        case EISDIR:
            return 5;
        default:
            return 29;  // ERROR_WRITE_FAULT
    }
}

}  // namespace talvane::net
