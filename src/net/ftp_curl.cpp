#include "net/ftp_curl.h"

#include <algorithm>

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

}  // namespace talvane::net
