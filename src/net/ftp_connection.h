#pragma once
// The libcurl side of an FtpSession: its handles, the current folder, the
// server's replies to the running operation and the last error. Only the
// session's own files use it.
#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "net/ftp_curl.h"
#include "net/ftp_paths.h"
#include "net/listing.h"

namespace talvane::net {

class FtpSession;

// One RETR: `remote` from byte `offset` on, each block handed to `write` (0 or
// an errno), with the session's progress events over the whole expected `size`;
// `exact`: a different length is a failure.
struct RetrieveRequest {
    std::string remote;
    std::int64_t size = 0;
    bool exact = false;
    std::int64_t offset = 0;
    std::function<int(const char*, std::size_t)> write;
};

// Complete; cut off (or refused) before the end; ended with a length that differs.
enum class RetrieveEnd { Complete, Cut, WrongLength };

struct FtpConnection {
    explicit FtpConnection(const FtpSession& owner) : session(owner) {}

    const FtpSession& session;  // its time-outs, limits and progress handler
    CurlMulti multi;            // owns the connection cache; declared first, released last
    CurlEasy curl;
    std::string server;
    std::string signIn;        // the account and mode the open connection signed in with
    std::string folder = "/";  // the current folder
    std::string entryPath;     // the login folder as the server names it
    bool ascii = true;         // line ends converted while transferring
    bool passive = false;
    std::string lastError;
    unsigned long lastNumber = 0;
    Cause lastCause = Cause::Other;
    int lastReply = 0;  // the reply code behind a Cause::ServerRefused
    bool busy = false;
    bool cancel = false;
    bool closeWhenIdle = false;
    bool mlsdRefused = false;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    // Server replies of the running operation.
    std::string pendingLines;
    std::string reply;  // last complete reply, without line ends
    int replyCode = 0;
    bool sawPreliminary = false;   // a 1xx reply: the data transfer began
    bool restRefused = false;      // the server would not start a transfer past byte 0
    std::int64_t resumedFrom = 0;  // where the last resumable download continued its part
    std::int64_t maxBytes = 0;     // a download stops past this many bytes (0: no limit)
    curl_off_t lastMoved = -1;     // bytes moved at the previous progress call

    // Marks the connection busy for one network operation, so that a second
    // one started from an event handler in the middle of a transfer is
    // refused; a Close() asked for meanwhile happens when it ends.
    class BusyGuard {
      public:
        explicit BusyGuard(FtpConnection& c) : connection_(c) { connection_.busy = true; }
        ~BusyGuard();
        BusyGuard(const BusyGuard&) = delete;
        BusyGuard& operator=(const BusyGuard&) = delete;

      private:
        FtpConnection& connection_;
    };

    void Record(std::string_view operation, unsigned long number);
    void RecordCurl(std::string_view operation, CURLcode rc);
    // Common entry checks. False (and a recorded error) when nothing can run.
    bool Usable(std::string_view operation);

    std::string Resolve(std::string_view path) const { return ResolvePath(folder, path); }
    std::string Url(const std::string& absolute, bool isFolder) const {
        return FtpUrl(server, absolute, isFolder);
    }
    // Sets every per-operation option so nothing leaks from the previous one.
    void Prepare(const std::string& url);
    CURLcode Perform() { return net::Perform(multi.get(), curl.get()); }
    void Release();

    // What tells one sign-in from another: the account, the data connection mode, TLS.
    std::string SignInKey(const std::string& host, const std::string& user,
                          const std::string& password) const;
    // Connects and signs in; the handles are released again on failure.
    bool SignIn(const std::string& host, const std::string& user, const std::string& password);
    // The options that hold for the whole connection.
    void ConfigureSession(const std::string& user, const std::string& password);
    void ConfigureTls();
    void ExplainTlsFailure(CURLcode rc);
    // Enters the folder `absolute` without listing it.
    CURLcode Probe(const std::string& absolute);
    // SIZE and MDTM of the file `absolute`; -1 for what the server did not say.
    CURLcode Stat(const std::string& absolute, curl_off_t& size, curl_off_t& modified);
    // One raw command on the login connection.
    bool Command(std::string_view operation, const std::string& command);
    // The entries of the folder `absolute` (MLSD when the server has it, else
    // LIST, which then stays for the connection); none for an empty folder or
    // one that cannot be entered. Empty (and recorded) on failure.
    std::optional<std::vector<ListingEntry>> ListFolder(const std::string& absolute);
    // Defined in ftp_transfer.cpp.
    RetrieveEnd Retrieve(const RetrieveRequest& request, std::int64_t& received);

    // libcurl callbacks.
    static size_t OnHeader(char* data, size_t size, size_t count, void* user);
    static int OnTransferInfo(void* user, curl_off_t, curl_off_t downloaded, curl_off_t,
                              curl_off_t uploaded);
};

}  // namespace talvane::net
