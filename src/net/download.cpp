#include "net/download.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <exception>
#include <optional>

#include "common/event_pump.h"
#include "common/log.h"
#include "net/error_codes.h"
#include "net/ftp_curl.h"

namespace talvane::net {

namespace {

// How a download ended: status 0 is success; `detail` goes to the log only.
struct Outcome {
    std::uint32_t status = 0;
    std::string detail;
};

// One download under way.
struct Transfer {
    Transfer(Download& d, const bool& stop) : owner(d), abortRequested(stop), cap(d.maxBytes) {}

    Download& owner;
    const bool& abortRequested;
    const long long cap;  // 0: no cap
    std::string user;
    std::string password;
    PartFile file;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    bool localFailed = false;
    bool handlerFailed = false;
    bool tooLarge = false;
    CURL* handle = nullptr;
    bool secure = false;    // a request of this attempt went over https
    std::string downgrade;  // the scheme that would have followed https
    long long received = 0;
    curl_off_t lastReported = -1;
};

std::int64_t Clamp32(curl_off_t v) {
    return std::min<curl_off_t>(v, INT32_MAX);
}

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    // A server without a length (or lying about it) must not fill the disk.
    if (t->cap > 0 && t->received + static_cast<long long>(n) > t->cap) {
        t->tooLarge = true;
        return 0;
    }
    t->received += static_cast<long long>(n);
    if (!t->file.Write(data, n)) {
        t->localFailed = true;
        return 0;
    }
    return n;
}

int OnProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (t->abortRequested) return 1;
    try {
        if (dltotal > 0 && dlnow != t->lastReported && t->owner.Progress) {
            t->lastReported = dlnow;
            t->owner.Progress(Clamp32(dlnow), Clamp32(dltotal));
        } else {
            // Size unknown: no event, but the window still gets its turn.
            DoEvents();
        }
    } catch (...) {
        t->handlerFailed = true;
        return 1;
    }
    return t->abortRequested ? 1 : 0;
}

bool SchemeOf(const std::string& url, std::string& scheme) {
    auto sep = url.find("://");
    if (sep == std::string::npos || sep == 0) return false;
    scheme.clear();
    for (std::size_t i = 0; i < sep; ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
        scheme += static_cast<char>(std::tolower(c));
    }
    return true;
}

// Before each request, the first and every redirect: once a request went over
// https, none goes out over anything else.
int OnRequest(void* user, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(user);
    char* url = nullptr;
    std::string scheme;
    if (curl_easy_getinfo(t->handle, CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || !url ||
        !SchemeOf(url, scheme))
        scheme = "unknown";
    if (scheme == "https") {
        t->secure = true;
    } else if (t->secure) {
        t->downgrade = scheme;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

std::string EscapeBlanks(const std::string& url) {
    std::string escaped;
    escaped.reserve(url.size());
    for (const char c : url) {
        if (c == ' ')
            escaped += "%20";
        else
            escaped += c;
    }
    return escaped;
}

// True when the comma-separated `list` names `scheme`.
bool Allows(const std::string& list, const std::string& scheme) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        if (list.compare(start, comma - start, scheme) == 0 && !scheme.empty()) return true;
        if (comma == std::string::npos) return false;
        start = comma + 1;
    }
}

// A status for a URL this download does not take; none for a good one.
std::optional<std::uint32_t> RefuseUrl(const std::string& url, const std::string& protocols) {
    std::string scheme;
    if (url.find_first_of("\t\r\n") != std::string::npos || !SchemeOf(url, scheme))
        return kInetInvalidUrl;
    if (!Allows(protocols, scheme)) return kInetUnknownProtocol;
    return std::nullopt;
}

void Configure(CURL* h, const std::string& url, Transfer& t) {
    const Download& d = t.owner;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    // Binds every hop, redirects included (libcurl takes no redirect beyond it).
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, d.protocols.c_str());
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &OnRequest);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &t);
    if (!d.certificateAuthorities.empty())
        curl_easy_setopt(h, CURLOPT_CAINFO, d.certificateAuthorities.c_str());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, t.errorBuffer);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Talvane");
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, std::max(1L, d.connectTimeoutSeconds));
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, std::max(1L, d.idleTimeoutSeconds));
    SetLowSpeed(h, d.lowSpeedBytes, d.lowSpeedSeconds);
    // A declared length above the cap is refused before any byte is written.
    if (d.maxBytes > 0)
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(d.maxBytes));
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
}

// What the server answered to one attempt.
struct Response {
    bool http = false;
    long status = 0;
    long redirects = 0;
};

Response ReadResponse(CURL* h) {
    Response response;
    char* scheme = nullptr;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    curl_easy_getinfo(h, CURLINFO_REDIRECT_COUNT, &response.redirects);
    curl_easy_getinfo(h, CURLINFO_SCHEME, &scheme);
    const std::string_view used = scheme ? scheme : "";
    response.http = used == "HTTP" || used == "HTTPS" || used == "http" || used == "https";
    return response;
}

// The failure of one attempt, before the server's answer is looked at.
std::optional<Outcome> Failure(const Transfer& t, CURLcode rc, const Response& response,
                               const std::string& localPath) {
    if (!t.downgrade.empty())
        return Outcome{kInetRedirectFailed, "an https download may not go on over " + t.downgrade};
    if (t.handlerFailed || t.abortRequested) return Outcome{kAbortedByCaller, {}};
    if (t.tooLarge || rc == CURLE_FILESIZE_EXCEEDED)
        return Outcome{kInetDownloadFailure,
                       "larger than " + std::to_string(t.owner.maxBytes) + " bytes"};
    if (t.localFailed)
        return Outcome{kInetDownloadFailure, "writing beside " + localPath + " failed"};
    if (rc != CURLE_OK)
        return Outcome{StatusFromCurl(rc, response.redirects),
                       t.errorBuffer[0] ? t.errorBuffer : curl_easy_strerror(rc)};
    return std::nullopt;
}

// Runs the request and keeps the file.
Outcome RunRequest(CURLM* multi, CURL* h, Transfer& t, const std::string& localPath) {
    if (!t.file.Create(localPath))
        return {kInetDownloadFailure, "cannot create a file beside " + localPath};
    // An empty password is handed on as none at all.
    curl_easy_setopt(h, CURLOPT_USERNAME, t.user.empty() ? nullptr : t.user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, t.password.empty() ? nullptr : t.password.c_str());
    t.errorBuffer[0] = '\0';
    t.lastReported = -1;
    t.received = 0;
    t.secure = false;
    const CURLcode rc = Perform(multi, h);
    const Response response = ReadResponse(h);
    if (auto failure = Failure(t, rc, response, localPath)) return *failure;
    if (response.http && response.status >= 400)
        return {StatusFromHttp(response.status), "HTTP status " + std::to_string(response.status)};
    if (!t.file.Commit())
        return {kInetDownloadFailure, "cannot move the download onto " + localPath};
    return {};
}

// Checks the URL, raises Started and runs the transfer.
Outcome Fetch(Transfer& t, const std::string& source, const std::string& localPath) {
    // A blank (a user name with one, say) is escaped as a browser would;
    // other control characters make the URL invalid.
    const std::string url = EscapeBlanks(source);
    if (const auto refused = RefuseUrl(url, t.owner.protocols)) return {*refused, {}};
    const bool global = EnsureCurlGlobal();
    CurlMulti multi(global ? curl_multi_init() : nullptr);
    CurlEasy curl(multi ? curl_easy_init() : nullptr);
    if (!curl) return {kOutOfMemory, {}};
    try {
        if (t.owner.Started) t.owner.Started();
    } catch (...) {
        return {kAbortedByCaller, {}};
    }
    if (t.abortRequested) return {kAbortedByCaller, {}};
    t.handle = curl.get();
    Configure(curl.get(), url, t);
    return RunRequest(multi.get(), curl.get(), t, localPath);
}

// Raises Complete or Aborted. The download has ended either way, so a handler that throws is
// logged and goes no further: the exception must not cross the caller's event.
void Report(Download& d, const Outcome& outcome) {
    const auto raise = [](const char* event, const auto& handler) {
        try {
            handler();
        } catch (const std::exception& e) {
            DPrint(std::string("Download: the ") + event + " handler failed: " + e.what());
        } catch (...) {
            DPrint(std::string("Download: the ") + event + " handler failed");
        }
    };
    if (outcome.status == 0) {
        raise("Complete", [&] {
            if (d.Complete) d.Complete();
        });
        return;
    }
    const std::string text = StatusCodeText(outcome.status);
    DPrint("Download failed: " + text +
           (outcome.detail.empty() ? "" : " (" + outcome.detail + ")"));
    const long code = static_cast<long>(static_cast<std::int32_t>(outcome.status));
    raise("Aborted", [&] {
        if (d.Aborted) d.Aborted(code, text);
    });
}

}  // namespace

Download::Download() = default;
Download::~Download() = default;

void Download::Stop() {
    if (running_) abortRequested_ = true;
}

void Download::Start(const std::string& url, const std::string& localPath, const std::string& user,
                     const std::string& password) {
    if (running_) return;
    running_ = true;
    abortRequested_ = false;
    Outcome outcome;
    {
        Transfer transfer(*this, abortRequested_);
        transfer.user = user;
        transfer.password = password;
        outcome = Fetch(transfer, url, localPath);
    }
    // Everything is released before the last event: a handler may start the next download.
    running_ = false;
    abortRequested_ = false;
    Report(*this, outcome);
}

}  // namespace talvane::net
