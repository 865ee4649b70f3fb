// Downloads of the FTP session: one RETR into a file that only appears under
// its name once every byte is there, with a progress event per 255-byte step;
// a resumable one keeps what arrived in a part file for the next run.
// The transfer ends when the server closes the data connection and confirms;
// the size taken before it only paces the events (and, from SIZE, is checked).
#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "common/event_pump.h"
#include "common/files.h"
#include "common/log.h"
#include "common/strings.h"
#include "net/error_codes.h"
#include "net/ftp_connection.h"
#include "net/ftp_session.h"
#include "net/partial_download.h"
#include "platform/file_io.h"
#include "platform/platform.h"

namespace talvane::net {

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
    const RetrieveRequest* request = nullptr;
    std::int64_t received = 0;  // from the start of the file, an offset included
    std::int64_t steps = 0;     // full steps in the expected size
    std::int64_t stepsDone = 0;
    int localError = 0;    // errno of a failed write
    bool tooLong = false;  // past what a 32-bit count holds
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
            if (session.Progress) session.Progress(r.stepsDone * kStep, r.request->size);
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
    // Past the server's exact size, or the caller's limit, the file is not the one
    // announced: it is not taken in whole first.
    const std::int64_t limit = r->request->exact ? r->request->size : r->connection->maxBytes;
    if (r->received + static_cast<std::int64_t>(n) > (limit > 0 ? limit : INT32_MAX)) {
        r->tooLong = true;
        return 0;
    }
    if (n && (r->localError = r->request->write(data, n)) != 0) return 0;
    r->received += static_cast<std::int64_t>(n);
    if (!ReportSteps(*r)) return 0;
    return n;
}

// Records why an unfinished transfer ended.
void RecordFailure(FtpConnection& c, const Retrieval& r, CURLcode rc, bool started) {
    if (r.localError) {
        c.Record(kLocalFile, Win32ErrorFromErrno(r.localError));
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

RetrieveEnd FtpConnection::Retrieve(const RetrieveRequest& request, std::int64_t& received) {
    Retrieval r;
    r.connection = this;
    r.request = &request;
    r.received = request.offset;
    r.steps = request.size / kStep;
    r.stepsDone = request.offset / kStep;
    BusyGuard guard(*this);
    Prepare(Url(Resolve(request.remote), false));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &OnRetrieve);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &r);
    // Read to the end of the data connection: libcurl would otherwise ask SIZE
    // itself and stop there, taking a longer file for a complete one. It sends
    // REST only after its own SIZE, though; a resumed file was judged by its
    // SIZE and time just before.
    curl_easy_setopt(curl.get(), CURLOPT_IGNORE_CONTENT_LENGTH, request.offset > 0 ? 0L : 1L);
    curl_easy_setopt(curl.get(), CURLOPT_RESUME_FROM_LARGE,
                     static_cast<curl_off_t>(request.offset));
    curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, &FtpConnection::OnTransferInfo);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, this);
    const CURLcode rc = Perform();
    restRefused =
        request.offset > 0 && (rc == CURLE_FTP_COULDNT_USE_REST || rc == CURLE_RANGE_ERROR);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_IGNORE_CONTENT_LENGTH, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(0));

    // A listed size may be a link's own length; SIZE is the file's.
    const bool lengthAgrees = request.exact ? r.received == request.size : r.received > 0;
    if (rc == CURLE_OK && !lengthAgrees)
        DPrint("FTP download of " + request.remote + ": " + std::to_string(r.received) +
               " bytes arrived, the server announced " + std::to_string(request.size));
    received = r.received;
    if (rc == CURLE_OK && lengthAgrees) return RetrieveEnd::Complete;
    RecordFailure(*this, r, rc, sawPreliminary || r.received > request.offset);
    return rc == CURLE_OK ? RetrieveEnd::WrongLength : RetrieveEnd::Cut;
}

namespace {

// The file `remote` when it can be fetched: empty files are not, nor files the
// progress bar's 32-bit counts cannot hold.
std::optional<RemoteFileInfo> Fetchable(FtpSession& session, FtpConnection& c,
                                        const std::string& remote) {
    const std::optional<RemoteFileInfo> info = session.FileInfo(remote);
    if (!info || info->size <= 0 || info->size > INT32_MAX) return std::nullopt;
    if (!c.Usable(kOpen)) return std::nullopt;
    return info;
}

// Into a temporary file that replaces `local` only when complete.
bool RetrieveWhole(FtpConnection& c, const std::string& local, const std::string& remote,
                   const RemoteFileInfo& info, std::int64_t& received) {
    PartFile file;
    if (!file.Create(local)) {
        c.Record(kLocalFile, Win32ErrorFromErrno(file.error()));
        return false;
    }
    // Line ends converted on the way change the length.
    const RetrieveRequest request{remote, info.size, info.sizeFromServer && !c.ascii, 0,
                                  [&file](const char* data, std::size_t n) {
                                      return file.Write(data, n) ? 0 : file.error();
                                  }};
    if (c.Retrieve(request, received) == RetrieveEnd::Complete) {
        if (file.Commit()) return true;
        c.Record(kLocalFile, Win32ErrorFromErrno(file.error()));
        return false;
    }
    file.Discard();
    // The target was being replaced when the transfer broke off: leave no
    // stale copy that a later step could take for the new file.
    if (c.sawPreliminary || received > 0) DeleteFileQuiet(local);
    return false;
}

void ForgetPart(const std::string& local) {
    DeleteFileQuiet(PartPath(local));
    DeleteFileQuiet(OriginPath(local));
}

std::optional<PartOrigin> ReadOrigin(const std::string& path) {
    fileio::FileFacts facts;
    std::string text;
    if (!fileio::StatFile(path, facts) || facts.size > 256 || !ReadWholeFile(path, text))
        return std::nullopt;
    return ParseOrigin(text);
}

std::int64_t PartSize(const std::string& path) {
    fileio::FileFacts facts;
    return fileio::StatFile(path, facts) ? static_cast<std::int64_t>(facts.size) : -1;
}

// Where `local`'s part continues; 0 once a new part is set up (or nothing to continue).
std::optional<std::int64_t> ResumeOffset(FtpConnection& c, const std::string& local,
                                         const std::string& name, const PartOrigin& now) {
    const std::string part = PartPath(local);
    const std::int64_t partSize = PartSize(part);
    const std::string why = WhyStartAfresh(ReadOrigin(OriginPath(local)), partSize, now);
    if (why.empty()) {
        DPrint("resuming " + name + " at " + std::to_string(partSize) + " of " +
               std::to_string(now.size) + " bytes");
        return partSize;
    }
    DPrint("starting " + name + " afresh: " + why);
    DeleteFileQuiet(part);
    // Written before the first byte arrives, so no part outlives its record.
    if (const auto written = WriteFileAtomically(OriginPath(local), FormatOrigin(now)); !written) {
        c.Record(kLocalFile, Win32ErrorFromErrno(written.error().code));
        return std::nullopt;
    }
    return 0;
}

// Puts a complete part in place of `local`. A cut-off part stays for the next
// run; one that ended with the wrong length (recorded) is of no use.
bool Conclude(FtpConnection& c, fileio::AppendFile& file, const std::string& local,
              RetrieveEnd end) {
    if (end == RetrieveEnd::Cut) return false;
    const int closed = file.Close(true);
    if (end == RetrieveEnd::Complete && !closed && fileio::RenameFile(PartPath(local), local)) {
        DeleteFileQuiet(OriginPath(local));
        return true;
    }
    if (end == RetrieveEnd::Complete)
        c.Record(kLocalFile, Win32ErrorFromErrno(closed ? closed : EIO));
    ForgetPart(local);
    return false;
}

// Into `local`.partial from `offset`; a cut-off part stays for the next run.
RetrieveEnd RetrievePart(FtpConnection& c, fileio::AppendFile& file, const std::string& local,
                         const std::string& remote, const PartOrigin& now, std::int64_t offset,
                         std::int64_t& received) {
    if (const int error = file.Open(PartPath(local), offset == 0)) {
        c.Record(kLocalFile, Win32ErrorFromErrno(error));
        return RetrieveEnd::WrongLength;
    }
    std::int64_t end = offset;
    const RetrieveRequest request{remote, now.size, true, offset,
                                  [&](const char* data, std::size_t n) {
                                      const int error = file.Write(data, n);
                                      end += static_cast<std::int64_t>(n);
                                      if (!error && c.session.PartGrew) c.session.PartGrew(end);
                                      return error;
                                  }};
    // A part already whole was cut off between its last byte and its rename.
    received = offset;
    return offset == now.size ? RetrieveEnd::Complete : c.Retrieve(request, received);
}

// Into `local`.partial, continued where an earlier run left it while the
// server's file is the same; renamed to `local` once complete. A server that
// will not continue gets the file from the start, and the part is dropped.
bool RetrieveResumable(FtpConnection& c, const std::string& local, const std::string& remote,
                       const RemoteFileInfo& info, std::int64_t& received) {
    const std::string name = StripPath(remote);
    c.resumedFrom = 0;
    if (!info.sizeFromServer || !info.modified || c.ascii) {
        DPrint("starting " + name + " afresh: the server gives no exact size or no time for it");
        ForgetPart(local);
        return RetrieveWhole(c, local, remote, info, received);
    }
    const PartOrigin now{info.size, info.modified->time_since_epoch().count(), c.server,
                         c.Resolve(remote)};
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto offset = ResumeOffset(c, local, name, now);
        if (!offset) return false;
        c.resumedFrom = *offset;
        fileio::AppendFile file;
        const RetrieveEnd end = RetrievePart(c, file, local, remote, now, *offset, received);
        if (end != RetrieveEnd::Cut || !c.restRefused) return Conclude(c, file, local, end);
        DPrint("the server would not continue " + name + " (REST refused); fetching it whole");
        file.Close(false);
        ForgetPart(local);
    }
    return false;
}

void ReportComplete(const FtpSession& session, std::int64_t received) {
    if (!session.Progress) return;
    try {
        session.Progress(received, received);
    } catch (...) {
        DPrint("FTP: the progress handler failed at the end of a transfer; the file is complete");
    }
}

}  // namespace

namespace {

using RetrieveFunction = bool (*)(FtpConnection&, const std::string&, const std::string&,
                                  const RemoteFileInfo&, std::int64_t&);

bool DownloadWith(FtpSession& session, FtpConnection& connection, const std::string& localPath,
                  const std::string& remoteName, RetrieveFunction retrieve) {
    const std::string local = Trim(localPath);
    const std::string remote = Trim(remoteName);
    if (local.empty() || remote.empty()) return false;
    const auto info = Fetchable(session, connection, remote);
    std::int64_t received = 0;
    if (!info || !retrieve(connection, local, remote, *info, received)) return false;
    ReportComplete(session, received);
    return true;
}

}  // namespace

bool FtpSession::Download(const std::string& localPath, const std::string& remoteName,
                          std::int64_t maxBytes) {
    connection_->maxBytes = maxBytes;
    const bool done = DownloadWith(*this, *connection_, localPath, remoteName, RetrieveWhole);
    connection_->maxBytes = 0;
    return done;
}

bool FtpSession::DownloadResumable(const std::string& localPath, const std::string& remoteName) {
    connection_->resumedFrom = 0;
    return DownloadWith(*this, *connection_, localPath, remoteName, RetrieveResumable);
}

namespace {

struct RangeWrite {
    FtpConnection* connection = nullptr;
    fileio::PlacedFile* file = nullptr;
    std::int64_t at = 0;    // where the next byte goes
    std::int64_t left = 0;  // of this range
    std::int64_t done = 0;  // of all ranges
    std::int64_t total = 0;
    bool localFailed = false;
};

size_t OnRange(char* data, size_t size, size_t count, void* user) {
    auto* w = static_cast<RangeWrite*>(user);
    const auto n = static_cast<std::int64_t>(size * count);
    if (w->connection->cancel || n > w->left) return 0;
    if (!w->file->WriteAt(data, static_cast<std::size_t>(n), static_cast<std::uint64_t>(w->at))) {
        w->localFailed = true;
        return 0;
    }
    w->at += n;
    w->left -= n;
    w->done += n;
    DoEvents();
    const FtpSession& session = w->connection->session;
    try {
        if (session.Progress) session.Progress(w->done, w->total);
    } catch (...) {
        return 0;
    }
    return w->connection->cancel ? 0 : static_cast<size_t>(n);
}

// A range's data connection is closed at its end; what the server pushed
// beyond it meanwhile is sent for nothing. A receive window about the range's
// size (the system doubles what it is given) keeps that near the range itself
// while the range still arrives in one round trip.
constexpr std::int64_t kMinRangeBuffer = 4 << 10;
constexpr std::int64_t kMaxRangeBuffer = 512 << 10;

int OnSocketOpened(void* bytes, curl_socket_t socket, curlsocktype purpose) {
    if (purpose == CURLSOCKTYPE_IPCXN)
        platform::LimitReceiveBuffer(static_cast<std::intptr_t>(socket), *static_cast<int*>(bytes));
    return CURL_SOCKOPT_OK;
}

// One range into its place; libcurl sends REST and closes the data connection
// at the range's end.
bool RetrieveRange(FtpConnection& c, const std::string& remote, const ByteRange& range,
                   RangeWrite& write) {
    write.at = range.offset;
    write.left = range.length;
    FtpConnection::BusyGuard guard(c);
    c.Prepare(c.Url(c.Resolve(remote), false));
    const std::string span =
        std::to_string(range.offset) + "-" + std::to_string(range.offset + range.length - 1);
    curl_easy_setopt(c.curl.get(), CURLOPT_RANGE, span.c_str());
    curl_easy_setopt(c.curl.get(), CURLOPT_WRITEFUNCTION, &OnRange);
    curl_easy_setopt(c.curl.get(), CURLOPT_WRITEDATA, &write);
    int buffer = static_cast<int>(std::clamp(range.length / 2, kMinRangeBuffer, kMaxRangeBuffer));
    curl_easy_setopt(c.curl.get(), CURLOPT_SOCKOPTFUNCTION, &OnSocketOpened);
    curl_easy_setopt(c.curl.get(), CURLOPT_SOCKOPTDATA, &buffer);
    const CURLcode rc = c.Perform();
    curl_easy_setopt(c.curl.get(), CURLOPT_SOCKOPTFUNCTION, nullptr);
    curl_easy_setopt(c.curl.get(), CURLOPT_SOCKOPTDATA, nullptr);
    curl_easy_setopt(c.curl.get(), CURLOPT_RANGE, nullptr);
    if (rc == CURLE_OK && write.left == 0) return true;
    if (write.localFailed)
        c.Record(kLocalFile, Win32ErrorFromErrno(EIO));
    else if (rc == CURLE_OK)
        c.Record(kReadRest, kErrConnectionAborted);
    else
        c.RecordCurl(kOpen, rc);
    DPrint("range " + span + " of " + remote + " not fetched whole (" +
           std::to_string(range.length - write.left) + " of " + std::to_string(range.length) +
           " bytes)");
    return false;
}

}  // namespace

bool FtpSession::DownloadRanges(const std::string& localPath, const std::string& remoteName,
                                std::int64_t expectedSize, const std::vector<ByteRange>& ranges) {
    FtpConnection& c = *connection_;
    const std::string remote = Trim(remoteName);
    // Line ends converted on the way would move every offset.
    if (c.ascii) return false;
    const auto info = Fetchable(*this, c, remote);
    if (!info || info->size != expectedSize) return false;
    const auto inside = [&](const ByteRange& r) {
        return r.offset >= 0 && r.length > 0 && r.offset <= info->size - r.length;
    };
    if (!std::all_of(ranges.begin(), ranges.end(), inside)) return false;
    fileio::PlacedFile file;
    if (const int error = file.Open(Trim(localPath), static_cast<std::uint64_t>(info->size))) {
        c.Record(kLocalFile, Win32ErrorFromErrno(error));
        return false;
    }
    RangeWrite write{&c, &file};
    for (const ByteRange& r : ranges) write.total += r.length;
    for (const ByteRange& r : ranges)
        if (!RetrieveRange(c, remote, r, write)) return false;
    if (const int error = file.Close()) {
        c.Record(kLocalFile, Win32ErrorFromErrno(error));
        return false;
    }
    return true;
}

std::int64_t FtpSession::ResumedFrom() const {
    return connection_->resumedFrom;
}

}  // namespace talvane::net
