#include "net/download.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "net/ftp_curl.h"
#include "common/event_pump.h"
#include "common/log.h"

namespace talvane {

namespace {

constexpr const char* kProtocols = "http,https,ftp,ftps";

struct Transfer {
    Download* owner = nullptr;
    bool* abortRequested = nullptr;
    net::PartFile file;
    bool localFailed = false;
    bool handlerFailed = false;
    bool tooLarge = false;
    long long received = 0;
    long long maxBytes = 0;  // 0: no cap
    curl_off_t lastReported = -1;
};

long Clamp32(curl_off_t v) {
    return static_cast<long>(std::min<curl_off_t>(v, INT32_MAX));
}

// HTTP status of a failed request -> status code.
std::uint32_t MapHttpStatus(long status) {
    switch (status) {
        case 400:
            return kInetInvalidRequest;
        case 401:
        case 403:
        case 407:
            return kInetAuthenticationRequired;
        case 404:
        case 410:
            return kInetObjectNotFound;
        default:
            return kInetDownloadFailure;
    }
}

// libcurl result -> status code, as the URL moniker service reports the same
// failures: no name -> resource not found, refused -> cannot connect, and so on.
std::uint32_t MapCurlResult(CURLcode rc, long redirects) {
    switch (rc) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            // A redirect to a scheme we do not follow lands here too.
            return redirects > 0 ? kInetRedirectFailed : kInetUnknownProtocol;
        case CURLE_URL_MALFORMAT:
            return kInetInvalidUrl;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kInetResourceNotFound;
        case CURLE_COULDNT_CONNECT:
            return kInetCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_FTP_ACCEPT_TIMEOUT:
            return kInetConnectionTimeout;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_USE_SSL_FAILED:
            return kInetSecurityProblem;
        case CURLE_LOGIN_DENIED:
        case CURLE_REMOTE_ACCESS_DENIED:
            return kInetAuthenticationRequired;
        case CURLE_REMOTE_FILE_NOT_FOUND:
        case CURLE_FTP_COULDNT_RETR_FILE:
            return kInetObjectNotFound;
        case CURLE_TOO_MANY_REDIRECTS:
            return kInetRedirectFailed;
        case CURLE_ABORTED_BY_CALLBACK:
            return kAbortedByCaller;
        case CURLE_OUT_OF_MEMORY:
            return 0x8007000E;  // E_OUTOFMEMORY
        default:
            return kInetDownloadFailure;
    }
}

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    // A server without a length (or lying about it) must not fill the disk.
    if (t->maxBytes > 0 && t->received + static_cast<long long>(n) > t->maxBytes) {
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
    if (*t->abortRequested) return 1;
    try {
        if (dltotal > 0 && dlnow != t->lastReported && t->owner->DownloadProgress) {
            t->lastReported = dlnow;
            t->owner->DownloadProgress(Clamp32(dlnow), Clamp32(dltotal));
        } else {
            // Size unknown: no event, but the window still gets its turn.
            DoEvents();
        }
    } catch (...) {
        t->handlerFailed = true;
        return 1;
    }
    return *t->abortRequested ? 1 : 0;
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

}  // namespace

std::string StatusCodeText(std::uint32_t code) {
    switch (code) {
        case 0x800C0002:
            return "Invalid URL.";
        case 0x800C0003:
            return "No Session.";
        case 0x800C0004:
            return "Cannot Connect";
        case 0x800C0005:
            return "Resource Not Found.";
        case 0x800C0006:
            return "File Not Found.";
        case 0x800C0007:
            return "Data Not Available.";
        case 0x800C0008:
            return "Download Failure.";
        case 0x800C0009:
            return "Authentication Failure.";
        case 0x800C000A:
            return "No Valid Media.";
        case 0x800C000B:
            return "Connection Timeout.";
        case 0x800C000C:
            return "Invalid Request.";
        case 0x800C000D:
            return "Unknown Protocol.";
        case 0x800C000E:
            return "Security Problem.";
        case 0x800C000F:
            return "Cannot Load Data.";
        case 0x800C0010:
            return "Cannot Instantiate Object.";
        case 0x800C0011:
            return "Default Action.";
        case 0x800C0013:
            return "QueryOption Unknown.";
        case 0x800C0014:
            return "Redirect Failed.";
        case 0x800C0015:
            return "Redirect To Dir.";
        case 0x800C0016:
            return "Cannot Lock Request.";
        case 0x800C0100:
            return "Code Download Declined.";
        case 0x800C0200:
            return "Result Dispatched.";
        case 0x800C0300:
            return "Cannot Replace SFP File.";
        default:
            return "Unknown Error.";
    }
}

Download::Download() = default;
Download::~Download() = default;

void Download::StopDownload() {
    if (running_) abortRequested_ = true;
}

void Download::StartDownload(const std::string& Source, const std::string& dest,
                             const std::string& Username, const std::string& Password) {
    if (running_) return;
    running_ = true;
    abortRequested_ = false;
    user_ = Username;
    password_ = Password;

    std::uint32_t status = 0;  // 0: success
    std::string detail;
    [&] {
        // A blank (a user name with one, say) is escaped as a browser would;
        // other control characters make the URL invalid.
        const std::string url = EscapeBlanks(Source);
        std::string scheme;
        if (url.find_first_of("\t\r\n") != std::string::npos || !SchemeOf(url, scheme)) {
            status = kInetInvalidUrl;
            return;
        }
        if (scheme != "http" && scheme != "https" && scheme != "ftp" && scheme != "ftps") {
            status = kInetUnknownProtocol;
            return;
        }
        const bool global = net::EnsureCurlGlobal();
        net::CurlMulti multi(global ? curl_multi_init() : nullptr);
        net::CurlEasy curl(multi ? curl_easy_init() : nullptr);
        if (!curl) {
            status = 0x8007000E;
            return;
        }
        try {
            if (DownloadStarted) DownloadStarted();
        } catch (...) {
            status = kAbortedByCaller;
            return;
        }
        if (abortRequested_) {
            status = kAbortedByCaller;
            return;
        }

        Transfer t;
        t.owner = this;
        t.abortRequested = &abortRequested_;
        char errorBuffer[CURL_ERROR_SIZE] = {};
        CURL* h = curl.get();
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, kProtocols);
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols);
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
        curl_easy_setopt(h, CURLOPT_USERAGENT, "Talvane");
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, std::max(1L, connectTimeoutSeconds));
        curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, std::max(1L, idleTimeoutSeconds));
        net::SetLowSpeed(h, lowSpeedBytes, lowSpeedSeconds);
        t.maxBytes = maxBytes;
        // A declared length above the cap is refused before any byte is written.
        if (maxBytes > 0)
            curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes));
        curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnWrite);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));

        bool asked = false;
        for (;;) {
            if (!t.file.Create(dest)) {
                detail = "cannot create a file beside " + dest;
                status = kInetDownloadFailure;
                return;
            }
            // An empty password is handed on as none at all.
            curl_easy_setopt(h, CURLOPT_USERNAME, user_.empty() ? nullptr : user_.c_str());
            curl_easy_setopt(h, CURLOPT_PASSWORD, password_.empty() ? nullptr : password_.c_str());
            errorBuffer[0] = '\0';
            t.lastReported = -1;
            t.received = 0;
            const CURLcode rc = net::Perform(multi.get(), h);
            long httpStatus = 0;
            long redirects = 0;
            char* scheme_used = nullptr;
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &httpStatus);
            curl_easy_getinfo(h, CURLINFO_REDIRECT_COUNT, &redirects);
            curl_easy_getinfo(h, CURLINFO_SCHEME, &scheme_used);
            const bool http = scheme_used && (std::string_view(scheme_used) == "HTTP" ||
                                              std::string_view(scheme_used) == "HTTPS" ||
                                              std::string_view(scheme_used) == "http" ||
                                              std::string_view(scheme_used) == "https");
            if (t.handlerFailed || abortRequested_) {
                status = kAbortedByCaller;
                return;
            }
            if (t.tooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
                detail = "larger than " + std::to_string(maxBytes) + " bytes";
                status = kInetDownloadFailure;
                return;
            }
            if (t.localFailed) {
                detail = "writing beside " + dest + " failed";
                status = kInetDownloadFailure;
                return;
            }
            if (rc != CURLE_OK) {
                detail = errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc);
                status = MapCurlResult(rc, redirects);
                return;
            }
            if (http && httpStatus == 401 && !asked && user_.empty() && password_.empty() &&
                Authenticate) {
                // Ask once; a handler that leaves both empty gets the failure.
                asked = true;
                try {
                    Authenticate(user_, password_);
                } catch (...) {
                    status = kAbortedByCaller;
                    return;
                }
                if (!user_.empty() || !password_.empty()) {
                    t.file.Discard();
                    continue;
                }
            }
            if (http && httpStatus >= 400) {
                detail = "HTTP status " + std::to_string(httpStatus);
                status = MapHttpStatus(httpStatus);
                return;
            }
            if (!t.file.Commit()) {
                detail = "cannot move the download onto " + dest;
                status = kInetDownloadFailure;
                return;
            }
            return;
        }
    }();

    // Everything is released before the last event: a handler may end the program.
    user_.clear();
    password_.clear();
    running_ = false;
    abortRequested_ = false;
    if (status == 0) {
        try {
            if (DownloadComplete) DownloadComplete();
        } catch (...) {
        }
        return;
    }
    DPrint("Download failed: " + StatusCodeText(status) +
           (detail.empty() ? "" : " (" + detail + ")"));
    try {
        if (DownloadAborted)
            DownloadAborted(static_cast<long>(static_cast<std::int32_t>(status)),
                            StatusCodeText(status));
    } catch (...) {
    }
}

}  // namespace talvane
