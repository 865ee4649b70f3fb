#pragma once
// Small owners and helpers around libcurl shared by the FTP session and the URL
// download: one global initialisation, RAII handles, and a temporary file that
// only appears under its target name once it is complete.
#include <curl/curl.h>

#include <memory>
#include <string>

#include "common/atomic_file.h"

namespace talvane::net {

// curl_global_init exactly once per process (thread-safe). False when it failed.
bool EnsureCurlGlobal();

struct CurlEasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

struct CurlMultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;

// Runs one transfer of `easy` inside `multi` (whose connection cache keeps the
// session between transfers) and returns its result. Unlike curl_easy_perform,
// it polls with a short time-out: libcurl 7.88 can miss an FTP reply that
// arrived together with the previous one and would then sit idle for a second.
CURLcode Perform(CURLM* multi, CURL* easy);

// Abandons a transfer that moves fewer than `bytes` in `seconds` (libcurl then
// reports CURLE_OPERATION_TIMEDOUT, which reads as a timed-out connection).
void SetLowSpeed(CURL* easy, long bytes, long seconds);

// Appends to a list; false when out of memory (the list stays intact).
bool SlistAppend(CurlSlist& list, const std::string& line);

// A download's file: written beside `target` under a temporary name, renamed
// onto the target by Commit(), removed when dropped without Commit().
class PartFile {
  public:
    bool Create(const std::string& target);
    // Writes the whole buffer (retrying short writes). False on a disk error.
    bool Write(const char* data, std::size_t size);
    bool Commit();
    void Discard() { file_.Discard(); }
    int error() const { return error_; }  // errno of the last failure

  private:
    bool Keep(const Result<void>& result);

    AtomicFile file_;
    int error_ = 0;
};

}  // namespace talvane::net
