#pragma once
// Every error number the network code reports and its text, in one place: the
// FTP session's Windows Internet numbers ("<operation> error code: <number>
// Message: <text>") and the URL download's status codes, with the libcurl
// results each stands for. Callers and messages expect these exact numbers.
#include <curl/curl.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"

namespace talvane::net {

// ---- FTP session ----

inline constexpr unsigned long kErrInvalidHandle = 6;  // no connection open
inline constexpr unsigned long kErrNotEnoughMemory = 8;
inline constexpr unsigned long kErrInvalidParameter = 87;  // empty or unsafe names
inline constexpr unsigned long kErrTimeout = 12002;
inline constexpr unsigned long kErrExtended = 12003;  // text = server's last reply
inline constexpr unsigned long kErrInternal = 12004;
inline constexpr unsigned long kErrInvalidUrl = 12005;
inline constexpr unsigned long kErrUnrecognizedScheme = 12006;
inline constexpr unsigned long kErrNameNotResolved = 12007;
inline constexpr unsigned long kErrCancelled = 12017;
inline constexpr unsigned long kErrCannotConnect = 12029;
inline constexpr unsigned long kErrConnectionAborted = 12030;
inline constexpr unsigned long kErrInvalidCa = 12045;  // certificate not trusted
inline constexpr unsigned long kErrTransferInProgress = 12110;
inline constexpr unsigned long kErrSecureChannel = 12157;  // TLS refused or failed

// The kind of failure an FTP error number stands for.
Cause FtpErrorCause(unsigned long number);

// libcurl result -> FTP error number; `replyCode` is the server's last reply.
unsigned long FtpErrorFromCurl(CURLcode rc, int replyCode);

// "<operation> error code: <number> Message: <text>" (the text may be empty).
std::string FtpErrorMessage(std::string_view operation, unsigned long number);

// Windows system error number for an errno value from local file work.
unsigned long Win32ErrorFromErrno(int err);

// ---- URL download ----

inline constexpr std::uint32_t kInetInvalidUrl = 0x800C0002;
inline constexpr std::uint32_t kInetNoSession = 0x800C0003;
inline constexpr std::uint32_t kInetCannotConnect = 0x800C0004;
inline constexpr std::uint32_t kInetResourceNotFound = 0x800C0005;
inline constexpr std::uint32_t kInetObjectNotFound = 0x800C0006;
inline constexpr std::uint32_t kInetDataNotAvailable = 0x800C0007;
inline constexpr std::uint32_t kInetDownloadFailure = 0x800C0008;
inline constexpr std::uint32_t kInetAuthenticationRequired = 0x800C0009;
inline constexpr std::uint32_t kInetConnectionTimeout = 0x800C000B;
inline constexpr std::uint32_t kInetInvalidRequest = 0x800C000C;
inline constexpr std::uint32_t kInetUnknownProtocol = 0x800C000D;
inline constexpr std::uint32_t kInetSecurityProblem = 0x800C000E;
inline constexpr std::uint32_t kInetRedirectFailed = 0x800C0014;
inline constexpr std::uint32_t kAbortedByCaller = 0x80004004;  // E_ABORT, after Stop()
inline constexpr std::uint32_t kOutOfMemory = 0x8007000E;      // E_OUTOFMEMORY

std::string StatusCodeText(std::uint32_t code);

// HTTP status of a failed request -> status code.
std::uint32_t StatusFromHttp(long status);

// libcurl result -> status code; `redirects` followed before it ended.
std::uint32_t StatusFromCurl(CURLcode rc, long redirects);

}  // namespace talvane::net
