#include "net/ftp.h"


#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <optional>

#include "net/ftp_curl.h"
#include "net/listing_parser.h"
#include "common/event_pump.h"
#include "common/log.h"
#include "common/strings.h"
#include "common/files.h"
#include "platform/file_io.h"

namespace talvane {

namespace {

using net::CurlEasy;
using net::CurlSlist;

constexpr std::uint32_t kTransferAscii = 1;         // FTP_TRANSFER_TYPE_ASCII
constexpr std::uint32_t kTransferBinary = 2;        // FTP_TRANSFER_TYPE_BINARY
constexpr std::uint32_t kFlagPassive = 0x08000000;  // INTERNET_FLAG_PASSIVE
constexpr std::int64_t kStep = 255;                 // progress step of the chunked transfers

constexpr std::uint32_t kAttrReadOnly = 0x1;
constexpr std::uint32_t kAttrHidden = 0x2;
constexpr std::uint32_t kAttrSystem = 0x4;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrArchive = 0x20;
constexpr std::uint32_t kAttrNormal = 0x80;
constexpr std::uint32_t kAttrTemporary = 0x100;
constexpr std::uint32_t kAttrCompressed = 0x800;
constexpr std::uint32_t kAttrOffline = 0x1000;

// Windows error numbers, which the workflows and messages expect.
constexpr unsigned long kErrInvalidHandle = 6;  // no connection open
constexpr unsigned long kErrNotEnoughMemory = 8;
constexpr unsigned long kErrInvalidParameter = 87;  // empty or unsafe names
constexpr unsigned long kErrTimeout = 12002;
constexpr unsigned long kErrExtended = 12003;  // text = server's last reply
constexpr unsigned long kErrInternal = 12004;
constexpr unsigned long kErrInvalidUrl = 12005;
constexpr unsigned long kErrUnrecognizedScheme = 12006;
constexpr unsigned long kErrNameNotResolved = 12007;
constexpr unsigned long kErrCancelled = 12017;
constexpr unsigned long kErrCannotConnect = 12029;
constexpr unsigned long kErrConnectionAborted = 12030;
constexpr unsigned long kErrTransferInProgress = 12110;

// The texts WinInet's message table holds for the numbers we produce; other
// numbers have none there, so their text stays empty.
std::string_view WinInetText(unsigned long number) {
    switch (number) {
        case 12001:
            return "No more handles could be generated at this time.";
        case kErrTimeout:
            return "The operation timed out";
        case kErrInternal:
            return "An internal error occurred in the Microsoft Internet extensions";
        case kErrInvalidUrl:
            return "The URL is invalid";
        case kErrUnrecognizedScheme:
            return "The URL does not use a recognized protocol";
        case kErrNameNotResolved:
            return "The server name or address could not be resolved";
        case kErrCancelled:
            return "The operation was canceled";
        case kErrCannotConnect:
            return "A connection with the server could not be established";
        case kErrConnectionAborted:
            return "The connection with the server was terminated abnormally";
        case 12031:
            return "The connection with the server was reset";
        case kErrTransferInProgress:
            return "The request cannot be carried out while an FTP transfer is in progress";
        case 12111:
            return "The FTP session was terminated";
        default:
            return {};
    }
}

// libcurl result -> WinInet error number. The FTP server's refusals (login,
// missing file or folder, refused command, failed data connection setup) become
// 12003, whose message is the server's own reply text, as WinInet reports them.
unsigned long MapCurlError(CURLcode rc, int replyCode) {
    switch (rc) {
        case CURLE_OK:
            return 0;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kErrNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kErrCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
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
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return kErrConnectionAborted;
        default:
            return replyCode >= 400 ? kErrExtended : kErrInternal;
    }
}

bool HasUnsafeChars(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Resolves `path` against the folder `cwd` ("/" is the login folder).
std::string ResolvePath(const std::string& cwd, std::string_view path) {
    std::vector<std::string> parts;
    auto push = [&parts](std::string_view text) {
        std::size_t i = 0;
        while (i <= text.size()) {
            auto slash = text.find('/', i);
            std::string_view seg = text.substr(
                i, slash == std::string_view::npos ? std::string_view::npos : slash - i);
            if (seg == "..") {
                if (!parts.empty()) parts.pop_back();
            } else if (!seg.empty() && seg != ".") {
                parts.emplace_back(seg);
            }
            if (slash == std::string_view::npos) break;
            i = slash + 1;
        }
    };
    if (path.empty() || path.front() != '/') push(cwd);
    push(path);
    std::string out;
    for (const auto& p : parts) {
        out += '/';
        out += p;
    }
    return out.empty() ? "/" : out;
}

std::pair<std::string, std::string> SplitFolder(const std::string& absolute) {
    auto slash = absolute.find_last_of('/');
    std::string folder = slash == 0 ? "/" : absolute.substr(0, slash);
    return {folder, absolute.substr(slash + 1)};
}

std::string ToLowerKey(std::string_view s) {
    return ToLower(s);
}

}  // namespace

// ---- cDirList ---------------------------------------------------------------

cDirItem* cDirList::Add(std::uint32_t lAttrib, double dtCreationTime, double dtLastAccessTime,
                        double dtLastWriteTime, std::int32_t lFileSize,
                        const std::string& sFilename) {
    // The name ends at its first NUL; the key is that name too.
    std::string name = sFilename.substr(0, sFilename.find('\0'));
    std::string key = ToLowerKey(name);
    if (index_.count(key)) return nullptr;
    cDirItem item;
    item.ReadOnly = lAttrib & kAttrReadOnly;
    item.Hidden = lAttrib & kAttrHidden;
    item.System = lAttrib & kAttrSystem;
    item.Directory = lAttrib & kAttrDirectory;
    item.Archive = lAttrib & kAttrArchive;
    item.Normal = lAttrib & kAttrNormal;
    item.Temporary = lAttrib & kAttrTemporary;
    item.Compressed = lAttrib & kAttrCompressed;
    item.Offline = lAttrib & kAttrOffline;
    item.CreationTime = dtCreationTime;
    item.LastAccessTime = dtLastAccessTime;
    item.LastWriteTime = dtLastWriteTime;
    item.FileSize = lFileSize;
    item.Filename = std::move(name);
    items_.push_back(std::move(item));
    index_.emplace(std::move(key), items_.size() - 1);
    return &items_.back();
}

const cDirItem* cDirList::Item(long index) const {
    if (index < 1 || index > Count()) return nullptr;
    return &items_[static_cast<std::size_t>(index - 1)];
}

const cDirItem* cDirList::Item(const std::string& key) const {
    auto it = index_.find(ToLowerKey(key));
    return it == index_.end() ? nullptr : &items_[it->second];
}

// ---- cFTP -------------------------------------------------------------------

struct cFTP::Impl {
    explicit Impl(cFTP& o) : owner(o) {}

    cFTP& owner;
    net::CurlMulti multi;  // owns the connection cache; declared first, released last
    CurlEasy curl;
    std::string server;
    std::string cwd = "/";
    std::string entryPath;  // the login folder as the server names it
    std::uint32_t transferType = kTransferAscii;
    std::uint32_t connectionFlags = 0;
    std::string lastError;
    std::optional<cDirList> dir;
    bool busy = false;
    bool cancel = false;
    bool closeWhenIdle = false;
    bool mlsdRefused = false;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    // Server replies of the running operation.
    std::string pendingLines;
    std::string reply;  // last complete reply, without line ends
    int replyCode = 0;
    bool sawPreliminary = false;  // a 1xx reply: the data transfer began
    curl_off_t lastMoved = -1;    // bytes moved at the previous progress call

    // ---- reply tracking ----
    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const size_t n = size * count;
        std::string_view line(data, n);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        const bool coded = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                           std::isdigit(static_cast<unsigned char>(line[1])) &&
                           std::isdigit(static_cast<unsigned char>(line[2]));
        if (coded && (line.size() == 3 || line[3] == ' ')) {
            self->reply = self->pendingLines;
            self->reply += line;
            self->pendingLines.clear();
            self->replyCode = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            if (line[0] == '1') self->sawPreliminary = true;
        } else {
            self->pendingLines += line;
            self->pendingLines += "\n";
        }
        return n;
    }

    // While nothing arrives (a slow or stalled server) the window still gets
    // its turn, so it can be closed; moving transfers pump at their steps.
    static int OnXferInfo(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        auto* self = static_cast<Impl*>(user);
        if (dlnow + ulnow == self->lastMoved) DoEvents();
        self->lastMoved = dlnow + ulnow;
        return self->cancel ? 1 : 0;
    }

    static size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

    // A listing's text, cut at `max` bytes: a hostile server could send forever.
    struct ListingText {
        std::string body;
        std::size_t max = 0;
        bool cut = false;
    };
    static size_t Collect(char* data, size_t size, size_t count, void* user) {
        auto* text = static_cast<ListingText*>(user);
        const size_t n = size * count;
        const size_t room = text->max - text->body.size();
        if (n <= room) {
            text->body.append(data, n);
            return n;
        }
        text->body.append(data, room);
        text->cut = true;
        return 0;
    }

    // ---- errors ----
    void Record(std::string_view operation, unsigned long number) {
        if (number == kErrExtended && !reply.empty()) {
            lastError = reply;
        } else {
            lastError = std::string(operation) + " error code: " + std::to_string(number) +
                        " Message: " + std::string(WinInetText(number));
        }
        std::string line = "cFTP " + std::string(operation) + " failed: " + lastError;
        if (errorBuffer[0]) line += std::string(" (") + errorBuffer + ")";
        DPrint(line);
    }
    void RecordCurl(std::string_view operation, CURLcode rc) {
        Record(operation, MapCurlError(rc, replyCode));
    }

    // ---- URLs ----
    std::string Url(const std::string& absolute, bool folder) const {
        std::string rel = absolute.substr(1);
        if (folder && !rel.empty()) rel += '/';
        return "ftp://" + server + "/" + net::EncodeUrlPath(rel);
    }
    // Path as the server names it, for raw commands that run outside the
    // folder libcurl moves to.
    std::string ServerPath(const std::string& absolute) const {
        if (entryPath.empty() || entryPath == "/") return absolute;
        std::string base = entryPath;
        if (base.back() == '/') base.pop_back();
        return absolute == "/" ? base : base + absolute;
    }

    // Sets every per-operation option so nothing leaks from the previous one.
    void Prepare(const std::string& url) {
        CURL* h = curl.get();
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, nullptr);
        curl_easy_setopt(h, CURLOPT_QUOTE, nullptr);
        curl_easy_setopt(h, CURLOPT_DIRLISTONLY, 0L);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Impl::Discard);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, nullptr);
        curl_easy_setopt(h, CURLOPT_READDATA, nullptr);
        curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, transferType == kTransferAscii ? 1L : 0L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, std::max(1L, owner.connectTimeoutSeconds));
        curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                         std::max(1L, owner.idleTimeoutSeconds));
        curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS,
                         std::max(1L, owner.connectTimeoutSeconds) * 1000L);
        net::SetLowSpeed(h, owner.lowSpeedBytes, owner.lowSpeedSeconds);
        pendingLines.clear();
        lastMoved = -1;
        reply.clear();
        replyCode = 0;
        sawPreliminary = false;
        cancel = false;
        errorBuffer[0] = '\0';
    }

    CURLcode Perform() { return net::Perform(multi.get(), curl.get()); }

    void Release() {
        curl.reset();
        multi.reset();  // closes the session (QUIT)
    }

    // Marks the instance busy for one network operation; a second one started
    // from an event handler in the middle of a transfer is refused.
    struct Busy {
        explicit Busy(Impl& i) : impl(i) { impl.busy = true; }
        ~Busy() {
            impl.busy = false;
            if (impl.closeWhenIdle) {
                impl.closeWhenIdle = false;
                impl.Release();
            }
        }
        Impl& impl;
    };

    // Common entry checks. False (and a recorded error) when the operation cannot run.
    bool Usable(std::string_view operation) {
        if (busy) {
            Record(operation, kErrTransferInProgress);
            return false;
        }
        if (!curl) {
            Record(operation, kErrInvalidHandle);
            return false;
        }
        return true;
    }

    enum class ListResult { Ok, NoFiles, Failed };

    // Lists one folder (MLSD when the server has it, else LIST).
    ListResult ListFolder(const std::string& folder, std::vector<ListingEntry>& out, CURLcode& rc) {
        ListingText text;
        text.max = std::max<std::size_t>(1, owner.maxListingBytes);
        for (;;) {
            const bool mlsd = !mlsdRefused;
            text.body.clear();
            Prepare(Url(folder, true));
            if (mlsd) curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, "MLSD");
            curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Impl::Collect);
            curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &text);
            rc = Perform();
            if (rc == CURLE_OK || text.cut) {
                if (text.cut) {
                    // The last line may be half there.
                    text.body.resize(text.body.find_last_of('\n') + 1);
                    DPrint("cFTP listing of " + folder + " cut at " + std::to_string(text.max) +
                           " bytes");
                }
                const std::size_t maxEntries = std::max<std::size_t>(1, owner.maxListingEntries);
                out = ParseListing(text.body, mlsd, static_cast<std::int64_t>(std::time(nullptr)),
                                   maxEntries);
                if (out.size() == maxEntries)
                    DPrint("cFTP listing of " + folder + " cut at " + std::to_string(maxEntries) +
                           " entries");
                return ListResult::Ok;
            }
            // "Command not understood": fall back to LIST for this connection.
            if (mlsd && replyCode >= 500 && replyCode <= 504 && replyCode != 503) {
                mlsdRefused = true;
                continue;
            }
            // An empty folder ends in "file not found"; a folder that cannot be
            // entered has no files either.
            if (rc == CURLE_REMOTE_FILE_NOT_FOUND || rc == CURLE_REMOTE_ACCESS_DENIED ||
                replyCode == 550 || replyCode == 450)
                return ListResult::NoFiles;
            return ListResult::Failed;
        }
    }

    // One RETR into a temporary file beside `local`; renamed into place only when
    // complete. `limit` > 0 stops after that many bytes and raises 255-byte steps.
    struct Retrieval {
        Impl* impl = nullptr;
        net::PartFile file;
        std::uint64_t limit = 0;  // 0: whole file, no events
        std::int32_t total = 0;
        std::uint64_t received = 0;
        std::uint64_t steps = 0;
        std::uint64_t stepsDone = 0;
        bool overflow = false;
        bool localFailed = false;
        bool handlerFailed = false;
    };

    static size_t OnRetrieve(char* data, size_t size, size_t count, void* user) {
        auto* r = static_cast<Retrieval*>(user);
        const size_t n = size * count;
        if (r->impl->cancel) return 0;
        size_t take = n;
        if (r->limit)
            take = static_cast<size_t>(std::min<std::uint64_t>(n, r->limit - r->received));
        if (take && !r->file.Write(data, take)) {
            r->localFailed = true;
            return 0;
        }
        r->received += take;
        if (r->limit) {
            try {
                cFTP& owner = r->impl->owner;
                while (r->stepsDone < r->steps &&
                       r->received >= (r->stepsDone + 1) * static_cast<std::uint64_t>(kStep)) {
                    ++r->stepsDone;
                    DoEvents();
                    if (owner.FileTransferProgress)
                        owner.FileTransferProgress(static_cast<std::int32_t>(r->stepsDone * kStep),
                                                   r->total);
                    if (r->impl->cancel) return 0;
                }
            } catch (...) {
                r->handlerFailed = true;
                return 0;
            }
            // More data than the size taken before the transfer: keep what was
            // promised and stop reading, as a fixed count of reads would.
            if (take < n) {
                r->overflow = true;
                return 0;
            }
        }
        return n;
    }

    struct Storage {
        Impl* impl = nullptr;
        const fileio::ReadOnlyFile* file = nullptr;
        bool events = false;
        std::int64_t length = 0;
        std::int64_t sent = 0;
        std::int64_t steps = 0;
        std::int64_t stepsDone = 0;
        bool localFailed = false;
        int localErrno = 0;
        bool handlerFailed = false;
    };

    static size_t OnStore(char* buffer, size_t size, size_t count, void* user) {
        auto* s = static_cast<Storage*>(user);
        if (s->impl->cancel) return CURL_READFUNC_ABORT;
        size_t want = size * count;
        if (s->length - s->sent < static_cast<std::int64_t>(want))
            want = static_cast<size_t>(s->length - s->sent);
        if (want == 0) return 0;
        const long long got = s->file->ReadAt(buffer, want, s->sent);
        if (got < 0) {
            s->localFailed = true;
            s->localErrno = errno ? errno : EIO;
            return CURL_READFUNC_ABORT;
        }
        s->sent += got;
        if (s->events) {
            try {
                cFTP& owner = s->impl->owner;
                while (s->stepsDone < s->steps && s->sent >= (s->stepsDone + 1) * kStep) {
                    ++s->stepsDone;
                    DoEvents();
                    if (owner.FileTransferProgress)
                        owner.FileTransferProgress(static_cast<std::int32_t>(s->stepsDone * kStep),
                                                   static_cast<std::int32_t>(s->length));
                    if (s->impl->cancel) return CURL_READFUNC_ABORT;
                }
            } catch (...) {
                s->handlerFailed = true;
                return CURL_READFUNC_ABORT;
            }
        }
        return static_cast<size_t>(got);
    }

    // Downloads sRemote to sLocal. `size` > 0 selects the chunked form with its
    // events; the names recorded follow the form.
    bool Retrieve(const std::string& local, const std::string& remote, std::int32_t size,
                  std::string_view openName, std::string_view readName, std::string_view readName2,
                  std::string_view localName) {
        Retrieval r;
        r.impl = this;
        if (size > 0) {
            r.limit = static_cast<std::uint64_t>(size);
            r.total = size;
            r.steps = r.limit / kStep;
        }
        if (!r.file.Create(local)) {
            Record(localName, net::Win32ErrorFromErrno(r.file.error()));
            return false;
        }
        Busy guard(*this);
        Prepare(Url(ResolvePath(cwd, remote), false));
        curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Impl::OnRetrieve);
        curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &r);
        curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, &Impl::OnXferInfo);
        curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, this);
        CURLcode rc = Perform();
        curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 1L);

        const bool stoppedAtLimit = rc == CURLE_WRITE_ERROR && r.overflow;
        const bool complete = (rc == CURLE_OK || stoppedAtLimit) &&
                              (r.limit == 0 || r.received == r.limit) && !r.localFailed &&
                              !r.handlerFailed;
        if (complete) {
            if (!r.file.Commit()) {
                Record(localName, net::Win32ErrorFromErrno(r.file.error()));
                return false;
            }
            return true;
        }

        const bool started = sawPreliminary || r.received > 0;
        r.file.Discard();
        if (started) {
            // The target was being replaced when the transfer broke off: leave no
            // stale copy that a later step could take for the new file.
            DeleteFileQuiet(local);
        }
        if (r.localFailed) {
            Record(localName, net::Win32ErrorFromErrno(r.file.error()));
        } else if (r.handlerFailed || (rc == CURLE_WRITE_ERROR && cancel)) {
            Record(readName, kErrCancelled);
        } else if (!started) {
            RecordCurl(openName, rc);
        } else {
            const bool inRemainder = r.limit && r.received >= r.steps * kStep;
            const unsigned long number =
                rc == CURLE_OK ? kErrConnectionAborted : MapCurlError(rc, replyCode);
            Record(inRemainder ? readName2 : readName, number);
        }
        return false;
    }

    bool Store(const std::string& local, const std::string& remote, bool events,
               std::string_view openName, std::string_view writeName, std::string_view writeName2,
               std::string_view localName) {
        fileio::ReadOnlyFile file;
        errno = 0;
        if (const auto opened = file.Open(local); opened != fileio::ReadOnlyFile::OpenResult::Ok) {
            const int err = opened == fileio::ReadOnlyFile::OpenResult::NotAFile && errno == 0
                                ? EISDIR
                                : (errno ? errno : EIO);
            Record(localName, net::Win32ErrorFromErrno(err));
            return false;
        }
        Storage s;
        s.impl = this;
        s.file = &file;
        s.events = events;
        s.length = file.Size();
        s.steps = s.length / kStep;
        if (events && s.length > INT32_MAX) {
            // Progress counts are 32-bit; the launcher never sends files that large.
            Record(openName, kErrInvalidParameter);
            return false;
        }
        Busy guard(*this);
        Prepare(Url(ResolvePath(cwd, remote), false));
        curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, &Impl::OnStore);
        curl_easy_setopt(curl.get(), CURLOPT_READDATA, &s);
        curl_easy_setopt(curl.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(s.length));
        curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, &Impl::OnXferInfo);
        curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, this);
        CURLcode rc = Perform();
        curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 1L);
        if (rc == CURLE_OK && s.sent == s.length) {
            if (events && owner.FileTransferProgress) {
                try {
                    const auto length = static_cast<std::int32_t>(s.length);
                    owner.FileTransferProgress(length, length);
                } catch (...) {
                }
            }
            return true;
        }
        const bool started = sawPreliminary || s.sent > 0;
        if (s.localFailed) {
            Record(localName, net::Win32ErrorFromErrno(s.localErrno));
        } else if (s.handlerFailed || cancel) {
            Record(writeName, kErrCancelled);
        } else if (!started) {
            RecordCurl(openName, rc);
        } else {
            const bool inRemainder = s.sent >= s.steps * kStep;
            const unsigned long number =
                rc == CURLE_OK ? kErrConnectionAborted : MapCurlError(rc, replyCode);
            Record(inRemainder && events ? writeName2 : writeName, number);
        }
        return false;
    }

    // Raw commands (rename, delete, folders) on the login connection.
    bool Command(std::string_view operation, std::initializer_list<std::string> commands) {
        CurlSlist list;
        for (const auto& c : commands) {
            if (!net::SlistAppend(list, c)) {
                Record(operation, kErrNotEnoughMemory);
                return false;
            }
        }
        Busy guard(*this);
        Prepare(Url("/", true));
        curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_QUOTE, list.get());
        CURLcode rc = Perform();
        curl_easy_setopt(curl.get(), CURLOPT_QUOTE, nullptr);
        if (rc != CURLE_OK) {
            RecordCurl(operation, rc);
            return false;
        }
        return true;
    }

    // One command on one remote path (MKD, RMD, DELE), refused for unsafe names.
    bool PathCommand(std::string_view operation, const char* verb, const std::string& path) {
        if (!Usable(operation)) return false;
        if (path.empty() || HasUnsafeChars(path)) {
            Record(operation, kErrInvalidParameter);
            return false;
        }
        return Command(operation, {verb + ServerPath(ResolvePath(cwd, path))});
    }
};

cFTP::cFTP() : impl_(std::make_unique<Impl>(*this)) {}

cFTP::~cFTP() = default;

const cDirList& cFTP::Directory() {
    if (!impl_->dir) impl_->dir.emplace();
    return *impl_->dir;
}

std::string cFTP::GetLastErrorMessage() const {
    return impl_->lastError;
}

bool cFTP::Connected() const {
    return impl_->curl != nullptr;
}

bool cFTP::OpenConnection(const std::string& sServer, const std::string& sUser,
                          const std::string& sPassword) {
    Impl& m = *impl_;
    if (m.busy) {
        m.Record("InternetConnect", kErrTransferInProgress);
        return false;
    }
    CloseConnection();
    if (!net::EnsureCurlGlobal()) {
        m.Record("InternetOpen", kErrInternal);
        return false;
    }
    m.multi.reset(curl_multi_init());
    m.curl.reset(m.multi ? curl_easy_init() : nullptr);
    if (!m.curl) {
        m.Release();
        m.Record("InternetOpen", kErrNotEnoughMemory);
        return false;
    }
    // The server text becomes part of a URL: refuse anything that would change
    // its meaning. Credentials go through their own options, never the URL.
    if (sServer.empty() || sServer.find_first_of("/?#@ \t\\") != std::string::npos ||
        HasUnsafeChars(sServer)) {
        m.Release();
        m.Record("InternetConnect", kErrNameNotResolved);
        return false;
    }
    if (HasUnsafeChars(sUser) || HasUnsafeChars(sPassword)) {
        m.Release();
        m.Record("InternetConnect", kErrInvalidParameter);
        return false;
    }
    CURL* h = m.curl.get();
    m.server = sServer;
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, m.errorBuffer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &m);
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 512L * 1024L);
    curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
    if (!sUser.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, sUser.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, sPassword.c_str());
    }
    // Active mode: the server connects back to the address of our control connection.
    const bool passive = (m.connectionFlags & kFlagPassive) != 0;
    curl_easy_setopt(h, CURLOPT_FTPPORT, passive ? nullptr : "-");

    CURLcode rc;
    {
        Impl::Busy guard(m);
        m.Prepare(m.Url("/", true));
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        rc = m.Perform();
    }
    if (rc != CURLE_OK) {
        m.RecordCurl("InternetConnect", rc);
        m.Release();
        return false;
    }
    char* entry = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry)
        m.entryPath = entry;
    else
        m.entryPath.clear();
    m.cwd.assign(1, '/');
    m.mlsdRefused = false;
    return true;
}

void cFTP::CloseConnection() {
    Impl& m = *impl_;
    if (m.busy) {
        // Called from an event handler in the middle of a transfer: stop it and
        // close as soon as the transfer has unwound.
        m.cancel = true;
        m.closeWhenIdle = true;
        return;
    }
    m.Release();
}

bool cFTP::SimpleFTPPutFile(const std::string& sLocal, const std::string& sRemote) {
    Impl& m = *impl_;
    if (!m.Usable("SimpleFtpPutFile")) return false;
    if (sLocal.empty() || sRemote.empty() || HasUnsafeChars(sRemote)) {
        m.Record("SimpleFtpPutFile", kErrInvalidParameter);
        return false;
    }
    return m.Store(sLocal, sRemote, false, "SimpleFtpPutFile", "SimpleFtpPutFile",
                   "SimpleFtpPutFile", "SimpleFtpPutFile");
}

bool cFTP::RenameFTPFile(const std::string& sExisting, const std::string& sNewName) {
    Impl& m = *impl_;
    if (!m.Usable("RenameFTPFile")) return false;
    if (sExisting.empty() || sNewName.empty() || HasUnsafeChars(sExisting) ||
        HasUnsafeChars(sNewName)) {
        m.Record("RenameFTPFile", kErrInvalidParameter);
        return false;
    }
    return m.Command("RenameFTPFile", {"RNFR " + m.ServerPath(ResolvePath(m.cwd, sExisting)),
                                       "RNTO " + m.ServerPath(ResolvePath(m.cwd, sNewName))});
}

bool cFTP::CreateFTPDirectory(const std::string& sDirectory) {
    return impl_->PathCommand("CreateFTPDirectory", "MKD ", sDirectory);
}

bool cFTP::RemoveFTPDirectory(const std::string& sDirectory) {
    return impl_->PathCommand("RemoveFTPDirectory", "RMD ", sDirectory);
}

bool cFTP::DeleteFTPFile(const std::string& sRemote) {
    return impl_->PathCommand("DeleteFTPFile", "DELE ", sRemote);
}

bool cFTP::FTPUploadFile(const std::string& sLocal, const std::string& sRemote) {
    Impl& m = *impl_;
    const std::string local = Trim(sLocal);
    const std::string remote = Trim(sRemote);
    if (local.empty() || remote.empty()) return false;
    if (!m.Usable("FtpOpenFile:PutFile")) return false;
    if (HasUnsafeChars(remote)) {
        m.Record("FtpOpenFile:PutFile", kErrInvalidParameter);
        return false;
    }
    return m.Store(local, remote, true, "FtpOpenFile:PutFile", "InternetWriteFile",
                   "InternetWriteFile2", "FTPUploadFile");
}

bool cFTP::FTPDownloadFile(const std::string& sLocal, const std::string& sRemote) {
    Impl& m = *impl_;
    const std::string local = Trim(sLocal);
    const std::string remote = Trim(sRemote);
    if (local.empty() || remote.empty()) return false;
    const std::int32_t size = GetFTPFileSize(remote);
    if (size <= 0) return false;
    if (!m.Usable("FtpOpenFile:GetFile")) return false;
    if (!m.Retrieve(local, remote, size, "FtpOpenFile:GetFile", "InternetReadFile",
                    "InternetReadFile2", "FTPDownloadFile"))
        return false;
    if (FileTransferProgress) {
        try {
            FileTransferProgress(size, size);
        } catch (...) {
        }
    }
    return true;
}

bool cFTP::SimpleFTPGetFile(const std::string& sLocal, const std::string& sRemote) {
    Impl& m = *impl_;
    if (!m.Usable("SimpleFtpGetFile")) return false;
    if (sLocal.empty() || sRemote.empty() || HasUnsafeChars(sRemote)) {
        m.Record("SimpleFtpGetFile", kErrInvalidParameter);
        return false;
    }
    return m.Retrieve(sLocal, sRemote, 0, "SimpleFtpGetFile", "SimpleFtpGetFile",
                      "SimpleFtpGetFile", "SimpleFtpGetFile");
}

std::string cFTP::GetFTPDirectory() {
    Impl& m = *impl_;
    if (!m.curl) {
        m.Record("FtpGetCurrentDirectory", kErrInvalidHandle);
        return {};
    }
    return m.cwd;
}

bool cFTP::SetFTPDirectory(const std::string& sDir) {
    Impl& m = *impl_;
    if (!m.Usable("FtpSetCurrentDirectory")) return false;
    if (sDir.empty() || HasUnsafeChars(sDir)) {
        m.Record("FtpSetCurrentDirectory", kErrInvalidParameter);
        return false;
    }
    const std::string target = ResolvePath(m.cwd, sDir);
    CURLcode rc;
    {
        Impl::Busy guard(m);
        m.Prepare(m.Url(target, true));
        curl_easy_setopt(m.curl.get(), CURLOPT_NOBODY, 1L);
        rc = m.Perform();
    }
    if (rc != CURLE_OK) {
        m.RecordCurl("FtpSetCurrentDirectory", rc);
        return false;
    }
    m.cwd = target;
    return true;
}

std::int32_t cFTP::GetFTPFileSize(const std::string& sFile) {
    Impl& m = *impl_;
    if (!m.Usable("FtpFindFirstFile")) return -2;
    if (HasUnsafeChars(sFile)) {
        m.Record("FtpFindFirstFile", kErrInvalidParameter);
        return -2;
    }
    // Blanks in the name become one-character wildcards;
    // the folder is entered under its own name (servers match patterns in names only).
    const auto [folder, exactName] = SplitFolder(ResolvePath(m.cwd, sFile));
    std::string namePattern = exactName;
    std::replace(namePattern.begin(), namePattern.end(), ' ', '?');
    if (namePattern.empty()) namePattern.assign(1, '*');

    std::vector<ListingEntry> entries;
    CURLcode rc = CURLE_OK;
    Impl::ListResult result;
    {
        Impl::Busy guard(m);
        result = m.ListFolder(folder, entries, rc);
    }
    if (result == Impl::ListResult::Failed) {
        m.RecordCurl("FtpFindFirstFile", rc);
        return -2;
    }
    const ListingEntry* found = nullptr;
    for (const auto& e : entries) {
        if (e.name == exactName) {
            found = &e;
            break;
        }
    }
    if (!found) {
        for (const auto& e : entries) {
            if (WildcardMatch(namePattern, e.name)) {
                found = &e;
                break;
            }
        }
    }
    if (!found) return -1;
    // Only the low 32 bits count: 2 GiB up to 4 GiB reads as negative.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(found->size & 0xFFFFFFFFu));
}

const cDirList* cFTP::GetDirectoryListing(const std::string& sFilter) {
    Impl& m = *impl_;
    m.dir.reset();
    if (!m.Usable("FtpFindFirstFile")) return nullptr;
    if (HasUnsafeChars(sFilter)) {
        m.Record("FtpFindFirstFile", kErrInvalidParameter);
        return nullptr;
    }
    std::string folder = m.cwd;
    std::string pattern = sFilter.empty() ? std::string("*") : sFilter;
    if (pattern.find('/') != std::string::npos) {
        auto split = SplitFolder(ResolvePath(m.cwd, pattern));
        folder = split.first;
        pattern = split.second.empty() ? std::string("*") : split.second;
    }
    std::vector<ListingEntry> entries;
    CURLcode rc = CURLE_OK;
    Impl::ListResult result;
    {
        Impl::Busy guard(m);
        result = m.ListFolder(folder, entries, rc);
    }
    if (result == Impl::ListResult::Failed) {
        m.RecordCurl("FtpFindFirstFile", rc);
        return nullptr;
    }
    CappedLog duplicates("cFTP GetDirectoryListing: duplicate names");
    for (const auto& e : entries) {
        if (!WildcardMatch(pattern, e.name)) continue;
        const double written = e.hasTime ? UtcToOleLocal(e.modifiedUtc) : 0.0;
        const double created = e.hasCreated ? UtcToOleLocal(e.createdUtc) : written;
        const auto size =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(e.size & 0xFFFFFFFFu));
        if (!m.dir) m.dir.emplace();
        if (!m.dir->Add(e.isDirectory ? kAttrDirectory : kAttrNormal, created, written, written,
                        size, e.name)) {
            // A second name that differs only in case (a case-sensitive server)
            // is left out; ending the listing here would hide every later entry,
            // and the callers would take the folder for an empty one.
            duplicates.Print("cFTP GetDirectoryListing: duplicate name " + e.name + " left out");
        }
    }
    return m.dir ? &*m.dir : nullptr;
}

void cFTP::SetTransferASCII() {
    impl_->transferType = kTransferAscii;
}
void cFTP::SetTransferBinary() {
    impl_->transferType = kTransferBinary;
}
void cFTP::SetModeActive() {
    impl_->connectionFlags = 0;
}
void cFTP::SetModePassive() {
    impl_->connectionFlags = kFlagPassive;
}

}  // namespace talvane
