#include "net/ftp_connection.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "common/event_pump.h"
#include "common/log.h"
#include "net/error_codes.h"
#include "net/ftp_session.h"
#include "net/listing_parser.h"

namespace talvane::net {

namespace {

constexpr std::string_view kSignIn = "InternetConnect";

size_t DiscardBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

// A listing's text, cut at `max` bytes: a hostile server could send forever.
struct ListingText {
    std::string body;
    std::size_t max = 0;
    bool cut = false;
};

size_t CollectListing(char* data, size_t size, size_t count, void* user) {
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

// MLSD text without facts (a server that answers MLSD with a LIST-style
// listing, or with noise): every MLSD line starts with its facts, "type" among them.
bool MalformedMlsd(std::string_view body) {
    const std::size_t start = body.find_first_not_of("\r\n");
    if (start == std::string_view::npos) return false;
    std::string_view line = body.substr(start, body.find_first_of("\r\n", start) - start);
    std::string facts(line.substr(0, line.find(' ')));
    std::transform(facts.begin(), facts.end(), facts.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return facts.size() == line.size() || facts.find("type=") == std::string::npos;
}

bool IsCodedLine(std::string_view line) {
    return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) &&
           std::isdigit(static_cast<unsigned char>(line[2]));
}

}  // namespace

FtpConnection::BusyGuard::~BusyGuard() {
    connection_.busy = false;
    if (connection_.closeWhenIdle) {
        connection_.closeWhenIdle = false;
        connection_.Release();
    }
}

// ---- reply tracking ----

size_t FtpConnection::OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<FtpConnection*>(user);
    const size_t n = size * count;
    std::string_view line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (IsCodedLine(line) && (line.size() == 3 || line[3] == ' ')) {
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

// While nothing arrives (a slow or stalled server) the window still gets its
// turn, so it can be closed; moving transfers pump at their steps.
int FtpConnection::OnTransferInfo(void* user, curl_off_t, curl_off_t downloaded, curl_off_t,
                                  curl_off_t uploaded) {
    auto* self = static_cast<FtpConnection*>(user);
    if (downloaded + uploaded == self->lastMoved) DoEvents();
    self->lastMoved = downloaded + uploaded;
    return self->cancel ? 1 : 0;
}

// ---- errors ----

void FtpConnection::Record(std::string_view operation, unsigned long number) {
    lastError =
        number == kErrExtended && !reply.empty() ? reply : FtpErrorMessage(operation, number);
    lastNumber = number;
    lastCause = FtpErrorCause(number);
    lastReply = number == kErrExtended ? replyCode : 0;
    std::string line = "FTP " + std::string(operation) + " failed: " + lastError;
    if (errorBuffer[0]) line += std::string(" (") + errorBuffer + ")";
    DPrint(line);
}

void FtpConnection::RecordCurl(std::string_view operation, CURLcode rc) {
    Record(operation, FtpErrorFromCurl(rc, replyCode));
}

bool FtpConnection::Usable(std::string_view operation) {
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

// ---- one operation ----

void FtpConnection::Prepare(const std::string& url) {
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(h, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(h, CURLOPT_DIRLISTONLY, 0L);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &DiscardBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, nullptr);
    curl_easy_setopt(h, CURLOPT_READDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, ascii ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, std::max(1L, session.connectTimeoutSeconds));
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, std::max(1L, session.idleTimeoutSeconds));
    curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS,
                     std::max(1L, session.connectTimeoutSeconds) * 1000L);
    SetLowSpeed(h, session.lowSpeedBytes, session.lowSpeedSeconds);
    pendingLines.clear();
    lastMoved = -1;
    reply.clear();
    replyCode = 0;
    sawPreliminary = false;
    cancel = false;
    errorBuffer[0] = '\0';
}

void FtpConnection::Release() {
    signIn.clear();
    curl.reset();
    multi.reset();  // closes the session (QUIT)
}

CURLcode FtpConnection::Probe(const std::string& absolute) {
    BusyGuard guard(*this);
    Prepare(Url(absolute, true));
    curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
    return Perform();
}

CURLcode FtpConnection::Stat(const std::string& absolute, curl_off_t& size, curl_off_t& modified) {
    BusyGuard guard(*this);
    Prepare(Url(absolute, false));
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_FILETIME, 1L);
    const CURLcode rc = Perform();
    curl_easy_setopt(h, CURLOPT_FILETIME, 0L);
    size = modified = -1;
    if (rc == CURLE_OK) {
        curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
        curl_easy_getinfo(h, CURLINFO_FILETIME_T, &modified);
    }
    return rc;
}

bool FtpConnection::Command(std::string_view operation, const std::string& command) {
    CurlSlist list;
    if (!SlistAppend(list, command)) {
        Record(operation, kErrNotEnoughMemory);
        return false;
    }
    CURLcode rc;
    {
        BusyGuard guard(*this);
        Prepare(Url("/", true));
        curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_QUOTE, list.get());
        rc = Perform();
        curl_easy_setopt(curl.get(), CURLOPT_QUOTE, nullptr);
    }
    if (rc != CURLE_OK) {
        RecordCurl(operation, rc);
        return false;
    }
    return true;
}

// ---- sign-in ----

bool FtpConnection::SignIn(const std::string& host, const std::string& user,
                           const std::string& password) {
    if (!EnsureCurlGlobal()) {
        Record("InternetOpen", kErrInternal);
        return false;
    }
    multi.reset(curl_multi_init());
    curl.reset(multi ? curl_easy_init() : nullptr);
    if (!curl) {
        Release();
        Record("InternetOpen", kErrNotEnoughMemory);
        return false;
    }
    // The host text becomes part of a URL: refuse anything that would change
    // its meaning. Credentials go through their own options, never the URL.
    if (host.empty() || host.find_first_of("/?#@ \t\\") != std::string::npos ||
        HasUnsafeChars(host)) {
        Release();
        Record(kSignIn, kErrNameNotResolved);
        return false;
    }
    if (HasUnsafeChars(user) || HasUnsafeChars(password)) {
        Release();
        Record(kSignIn, kErrInvalidParameter);
        return false;
    }
    server = host;
    ConfigureSession(user, password);
    if (const CURLcode rc = Probe("/"); rc != CURLE_OK) {
        RecordCurl(kSignIn, rc);
        ExplainTlsFailure(rc);
        Release();
        return false;
    }
    char* entry = nullptr;
    if (curl_easy_getinfo(curl.get(), CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry)
        entryPath = entry;
    else
        entryPath.clear();
    folder.assign(1, '/');
    mlsdRefused = false;
    signIn = SignInKey(host, user, password);
    return true;
}

std::string FtpConnection::SignInKey(const std::string& host, const std::string& user,
                                     const std::string& password) const {
    std::string key = host + '\n' + user + '\n' + password + '\n';
    key += passive ? 'P' : 'A';
    key += std::to_string(static_cast<int>(session.tls));
    return key;
}

void FtpConnection::ConfigureSession(const std::string& user, const std::string& password) {
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &FtpConnection::OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 512L * 1024L);
    curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
    if (!user.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
    }
    // Active mode: the server connects back to the address of our control connection.
    curl_easy_setopt(h, CURLOPT_FTPPORT, passive ? nullptr : "-");
    ConfigureTls();
}

// A TLS refusal says what happened in the user's terms, or libcurl's reason.
void FtpConnection::ExplainTlsFailure(CURLcode rc) {
    if (rc == CURLE_USE_SSL_FAILED)
        lastError += ". The server " + server +
                     " does not take AUTH TLS or PROT P, which FtpTls=required needs; nothing "
                     "was sent to it in clear text.";
    else if (const auto number = FtpErrorFromCurl(rc, replyCode);
             errorBuffer[0] && (number == kErrInvalidCa || number == kErrSecureChannel))
        lastError += std::string(" (") + errorBuffer + ")";
}

// Explicit TLS keeps the ftp scheme. With ALL libcurl sends AUTH TLS before USER
// and gives up, without falling back, when the server refuses it; the data
// connections are protected too (PROT P).
void FtpConnection::ConfigureTls() {
    CURL* h = curl.get();
    if (session.tls == FtpTls::Off) return;
    curl_easy_setopt(h, CURLOPT_USE_SSL,
                     session.tls == FtpTls::Required ? static_cast<long>(CURLUSESSL_ALL)
                                                     : static_cast<long>(CURLUSESSL_TRY));
    curl_easy_setopt(h, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!session.tlsCaFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, session.tlsCaFile.c_str());
}

// ---- listings ----

std::optional<std::vector<ListingEntry>> FtpConnection::ListFolder(const std::string& absolute) {
    BusyGuard guard(*this);
    ListingText text;
    text.max = std::max<std::size_t>(1, session.maxListingBytes);
    bool listInstead = mlsdRefused;
    for (;;) {
        const bool mlsd = !listInstead;
        text.body.clear();
        text.cut = false;
        Prepare(Url(absolute, true));
        if (mlsd) curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, "MLSD");
        curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &CollectListing);
        curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &text);
        const CURLcode rc = Perform();
        const bool answered = rc == CURLE_OK || text.cut;
        // MLSD refused in any way (not understood, not permitted, or answered
        // without facts): LIST instead, for this connection once LIST works.
        if (mlsd && ((answered && MalformedMlsd(text.body)) ||
                     (!answered && (replyCode >= 400 || rc == CURLE_WEIRD_SERVER_REPLY)))) {
            DPrint("FTP MLSD of " + absolute + " refused (" + reply + "); trying LIST");
            listInstead = true;
            continue;
        }
        if (answered) {
            if (!mlsd && !mlsdRefused) {
                mlsdRefused = true;
                DPrint("FTP: LIST from now on for " + server);
            }
            if (text.cut) {
                // The last line may be half there.
                text.body.resize(text.body.find_last_of('\n') + 1);
                DPrint("FTP listing of " + absolute + " cut at " + std::to_string(text.max) +
                       " bytes");
            }
            const std::size_t maxEntries = std::max<std::size_t>(1, session.maxListingEntries);
            auto entries = ParseListing(text.body, mlsd,
                                        static_cast<std::int64_t>(std::time(nullptr)), maxEntries);
            if (entries.size() == maxEntries)
                DPrint("FTP listing of " + absolute + " cut at " + std::to_string(maxEntries) +
                       " entries");
            return entries;
        }
        // An empty folder ends in "file not found"; a folder that cannot be
        // entered has no files either.
        if (rc == CURLE_REMOTE_FILE_NOT_FOUND || rc == CURLE_REMOTE_ACCESS_DENIED ||
            replyCode == 550 || replyCode == 450)
            return std::vector<ListingEntry>{};
        RecordCurl("FtpFindFirstFile", rc);
        return std::nullopt;
    }
}

}  // namespace talvane::net
