// Downloads of the FTP session: one RETR into a file that only appears under
// its name once every byte is there, with a progress event per 255-byte step.
// The transfer ends when the server closes the data connection and confirms;
// the size taken before it only paces the events (and, from SIZE, is checked).
#include <cstdint>

#include "common/event_pump.h"
#include "common/files.h"
#include "common/log.h"
#include "common/strings.h"
#include "net/error_codes.h"
#include "net/ftp_connection.h"
#include "net/ftp_session.h"

namespace talvane {

namespace net {

namespace {

constexpr std::int64_t kStep = 255;  // bytes per progress event
// Names the failures are recorded under (users read them in messages):
// opening, reading the full steps, reading the last partial step, the local file.
constexpr std::string_view kOpen = "FtpOpenFile:GetFile";
constexpr std::string_view kRead = "InternetReadFile";
constexpr std::string_view kReadRest = "InternetReadFile2";
constexpr std::string_view kLocalFile = "FTPDownloadFile";

struct Retrieval {
    FtpConnection* connection = nullptr;
    PartFile file;
    std::int64_t size = 0;  // expected, taken before the transfer
    std::int64_t received = 0;
    std::int64_t steps = 0;  // full steps in `size`
    std::int64_t stepsDone = 0;
    bool tooLong = false;  // past what a 32-bit count holds
    bool localFailed = false;
    bool handlerFailed = false;
};

// Raises the events of the steps completed so far. False when the handler
// threw or asked for the transfer to stop.
bool ReportSteps(Retrieval& r) {
    const FtpSession& session = r.connection->session;
    try {
        while (r.stepsDone < r.steps && r.received >= (r.stepsDone + 1) * kStep) {
            ++r.stepsDone;
            DoEvents();
            if (session.Progress) session.Progress(r.stepsDone * kStep, r.size);
            if (r.connection->cancel) return false;
        }
    } catch (...) {
        r.handlerFailed = true;
        return false;
    }
    return true;
}

size_t OnRetrieve(char* data, size_t size, size_t count, void* user) {
    auto* r = static_cast<Retrieval*>(user);
    const size_t n = size * count;
    if (r->connection->cancel) return 0;
    if (r->received + static_cast<std::int64_t>(n) > INT32_MAX) {
        r->tooLong = true;
        return 0;
    }
    if (n && !r->file.Write(data, n)) {
        r->localFailed = true;
        return 0;
    }
    r->received += static_cast<std::int64_t>(n);
    if (!ReportSteps(*r)) return 0;
    return n;
}

// Records why an unfinished transfer ended.
void RecordFailure(FtpConnection& c, const Retrieval& r, CURLcode rc, bool started) {
    if (r.localFailed) {
        c.Record(kLocalFile, Win32ErrorFromErrno(r.file.error()));
    } else if (r.handlerFailed || (rc == CURLE_WRITE_ERROR && c.cancel)) {
        c.Record(kRead, kErrCancelled);
    } else if (!started) {
        c.RecordCurl(kOpen, rc);
    } else {
        const bool inRemainder = r.received >= r.steps * kStep;
        const unsigned long number =
            rc == CURLE_OK || r.tooLong ? kErrConnectionAborted : FtpErrorFromCurl(rc, c.replyCode);
        c.Record(inRemainder ? kReadRest : kRead, number);
    }
}

}  // namespace

bool FtpConnection::Retrieve(const std::string& localPath, const std::string& remote,
                             std::int64_t size, bool exact, std::int64_t& received) {
    Retrieval r;
    r.connection = this;
    r.size = size;
    r.steps = size / kStep;
    if (!r.file.Create(localPath)) {
        Record(kLocalFile, Win32ErrorFromErrno(r.file.error()));
        return false;
    }
    BusyGuard guard(*this);
    Prepare(Url(Resolve(remote), false));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &OnRetrieve);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &r);
    // Read to the end of the data connection: libcurl would otherwise ask SIZE
    // itself and stop there, taking a longer file for a complete one.
    curl_easy_setopt(curl.get(), CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, &FtpConnection::OnTransferInfo);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, this);
    const CURLcode rc = Perform();
    curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_IGNORE_CONTENT_LENGTH, 0L);

    // A listed size may be a link's own length; SIZE is the file's.
    const bool lengthAgrees = exact ? r.received == r.size : r.received > 0;
    if (rc == CURLE_OK && !lengthAgrees)
        DPrint("FTP download of " + remote + ": " + std::to_string(r.received) +
               " bytes arrived, the server announced " + std::to_string(r.size));
    received = r.received;
    if (rc == CURLE_OK && lengthAgrees) {
        if (r.file.Commit()) return true;
        Record(kLocalFile, Win32ErrorFromErrno(r.file.error()));
        return false;
    }
    const bool started = sawPreliminary || r.received > 0;
    r.file.Discard();
    // The target was being replaced when the transfer broke off: leave no
    // stale copy that a later step could take for the new file.
    if (started) DeleteFileQuiet(localPath);
    RecordFailure(*this, r, rc, started);
    return false;
}

}  // namespace net

bool FtpSession::Download(const std::string& localPath, const std::string& remoteName) {
    const std::string local = Trim(localPath);
    const std::string remote = Trim(remoteName);
    if (local.empty() || remote.empty()) return false;
    // Empty files are not fetched, nor files the progress bar's 32-bit counts
    // cannot hold.
    const std::optional<RemoteFileInfo> info = FileInfo(remote);
    if (!info || info->size <= 0 || info->size > INT32_MAX) return false;
    if (!connection_->Usable(net::kOpen)) return false;
    // Line ends converted on the way change the length.
    const bool exact = info->sizeFromServer && !connection_->ascii;
    std::int64_t received = 0;
    if (!connection_->Retrieve(local, remote, info->size, exact, received)) return false;
    if (Progress) {
        try {
            Progress(received, received);
        } catch (...) {
        }
    }
    return true;
}

}  // namespace talvane
