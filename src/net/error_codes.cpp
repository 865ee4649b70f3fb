#include "net/error_codes.h"

#include <cerrno>
#include <utility>

namespace talvane::net {

namespace {

template <typename Number>
using TextTable = std::pair<Number, std::string_view>;

// The texts the Windows Internet message table holds for the numbers the FTP
// session produces; other numbers have none there, so their text stays empty.
constexpr TextTable<unsigned long> kFtpTexts[] = {
    {12001, "No more handles could be generated at this time."},
    {kErrTimeout, "The operation timed out"},
    {kErrInternal, "An internal error occurred in the Microsoft Internet extensions"},
    {kErrInvalidUrl, "The URL is invalid"},
    {kErrUnrecognizedScheme, "The URL does not use a recognized protocol"},
    {kErrNameNotResolved, "The server name or address could not be resolved"},
    {kErrCancelled, "The operation was canceled"},
    {kErrCannotConnect, "A connection with the server could not be established"},
    {kErrConnectionAborted, "The connection with the server was terminated abnormally"},
    {12031, "The connection with the server was reset"},
    {kErrInvalidCa, "The certificate authority is invalid or incorrect"},
    {kErrTransferInProgress,
     "The request cannot be carried out while an FTP transfer is in progress"},
    {12111, "The FTP session was terminated"},
    {kErrSecureChannel, "An error occurred in the secure channel support"},
};

constexpr TextTable<std::uint32_t> kStatusTexts[] = {
    {0x800C0002, "Invalid URL."},
    {0x800C0003, "No Session."},
    {0x800C0004, "Cannot Connect"},
    {0x800C0005, "Resource Not Found."},
    {0x800C0006, "File Not Found."},
    {0x800C0007, "Data Not Available."},
    {0x800C0008, "Download Failure."},
    {0x800C0009, "Authentication Failure."},
    {0x800C000A, "No Valid Media."},
    {0x800C000B, "Connection Timeout."},
    {0x800C000C, "Invalid Request."},
    {0x800C000D, "Unknown Protocol."},
    {0x800C000E, "Security Problem."},
    {0x800C000F, "Cannot Load Data."},
    {0x800C0010, "Cannot Instantiate Object."},
    {0x800C0011, "Default Action."},
    {0x800C0013, "QueryOption Unknown."},
    {0x800C0014, "Redirect Failed."},
    {0x800C0015, "Redirect To Dir."},
    {0x800C0016, "Cannot Lock Request."},
    {0x800C0100, "Code Download Declined."},
    {0x800C0200, "Result Dispatched."},
    {0x800C0300, "Cannot Replace SFP File."},
};

template <typename Number, std::size_t N>
std::string_view Lookup(const TextTable<Number> (&table)[N], Number number,
                        std::string_view otherwise) {
    for (const auto& [known, text] : table)
        if (known == number) return text;
    return otherwise;
}

}  // namespace

// The FTP server's refusals (login, missing file or folder, refused command,
// failed data connection setup) become 12003, whose message is the server's
// own reply text.
unsigned long FtpErrorFromCurl(CURLcode rc, int replyCode) {
    switch (rc) {
        case CURLE_OK:
            return 0;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kErrNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kErrCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            // libcurl reports a 421 reply (server full, closing) as a time-out;
            // the user needs the server's own reason.
            return replyCode == 421 ? kErrExtended : kErrTimeout;
        case CURLE_FTP_ACCEPT_TIMEOUT:
            return kErrTimeout;
        case CURLE_URL_MALFORMAT:
            return kErrInvalidUrl;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return kErrUnrecognizedScheme;
        case CURLE_ABORTED_BY_CALLBACK:
            return kErrCancelled;
        case CURLE_OUT_OF_MEMORY:
            return kErrNotEnoughMemory;
        case CURLE_PEER_FAILED_VERIFICATION:
            return kErrInvalidCa;
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CACERT_BADFILE:
            return kErrSecureChannel;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return kErrConnectionAborted;
        default:
            return replyCode >= 400 ? kErrExtended : kErrInternal;
    }
}

Cause FtpErrorCause(unsigned long number) {
    switch (number) {
        case kErrExtended:
            return Cause::ServerRefused;
        case kErrNameNotResolved:
        case kErrCannotConnect:
        case kErrTimeout:
            return Cause::Unreachable;
        case kErrInvalidCa:
        case kErrSecureChannel:
            return Cause::Tls;
        case kErrConnectionAborted:
            return Cause::Interrupted;
        case kErrCancelled:
            return Cause::Cancelled;
        case kErrInvalidParameter:
            return Cause::Policy;
        default:
            return Cause::Other;
    }
}

std::string FtpErrorMessage(std::string_view operation, unsigned long number) {
    return std::string(operation) + " error code: " + std::to_string(number) +
           " Message: " + std::string(Lookup(kFtpTexts, number, {}));
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

std::string StatusCodeText(std::uint32_t code) {
    return std::string(Lookup(kStatusTexts, code, "Unknown Error."));
}

std::uint32_t StatusFromHttp(long status) {
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

// As the Windows URL download reports the same failures: no name -> resource
// not found, refused -> cannot connect, and so on.
std::uint32_t StatusFromCurl(CURLcode rc, long redirects) {
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
            return kOutOfMemory;
        default:
            return kInetDownloadFailure;
    }
}

}  // namespace talvane::net
