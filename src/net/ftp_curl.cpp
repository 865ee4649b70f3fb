#include "net/ftp_curl.h"


#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>


namespace talvane::net {

bool EnsureCurlGlobal() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

void SetLowSpeed(CURL* easy, long bytes, long seconds) {
    const long window = std::max(1L, seconds);
    // libcurl watches a rate; the smallest rate that moves `bytes` in the window.
    const long rate = std::max(1L, (std::max(1L, bytes) + window - 1) / window);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, rate);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, window);
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

bool PartFile::Keep(const Result<void>& result) {
    if (!result) error_ = result.error().code;
    return static_cast<bool>(result);
}

bool PartFile::Create(const std::string& target) {
    return Keep(file_.Create(target, 0644));
}

bool PartFile::Write(const char* data, std::size_t size) {
    return Keep(file_.Write(data, size));
}

bool PartFile::Commit() {
    return Keep(file_.Commit());
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
#ifdef EDQUOT  // no disk quotas in the Windows C library
        case EDQUOT:
#endif
            return 112;  // ERROR_DISK_FULL
        case EISDIR:
            return 5;
        default:
            return 29;  // ERROR_WRITE_FAULT
    }
}

}  // namespace talvane::net
