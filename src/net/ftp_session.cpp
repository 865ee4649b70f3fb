#include "net/ftp_session.h"

#include <algorithm>
#include <vector>

#include "common/log.h"
#include "common/strings.h"
#include "net/error_codes.h"
#include "net/ftp_connection.h"
#include "net/ftp_paths.h"

namespace talvane::net {

namespace {

constexpr std::string_view kFind = "FtpFindFirstFile";

// The entry named `name`; failing that, the first that matches it ignoring
// letter case, each blank standing for any one character.
const ListingEntry* FindFile(const std::vector<ListingEntry>& entries, const std::string& name) {
    const auto exact = std::find_if(entries.begin(), entries.end(),
                                    [&](const ListingEntry& e) { return e.name == name; });
    if (exact != entries.end()) return &*exact;
    std::string pattern = name;
    std::replace(pattern.begin(), pattern.end(), ' ', '?');
    if (pattern.empty()) pattern.assign(1, '*');
    const auto similar = std::find_if(entries.begin(), entries.end(), [&](const ListingEntry& e) {
        return WildcardMatch(pattern, e.name);
    });
    return similar == entries.end() ? nullptr : &*similar;
}

// The entries that match `pattern`; empty when none does.
std::optional<Listing> Matching(const std::vector<ListingEntry>& entries,
                                const std::string& pattern) {
    std::optional<Listing> listing;
    CappedLog duplicates("FTP listing: duplicate names");
    for (const auto& e : entries) {
        if (!WildcardMatch(pattern, e.name)) continue;
        if (!listing) listing.emplace();
        if (!listing->Add(e)) {
            // A second name that differs only in case (a case-sensitive server)
            // is left out; ending the listing here would hide every later entry,
            // and the callers would take the folder for an empty one.
            duplicates.Print("FTP listing: duplicate name " + e.name + " left out");
        }
    }
    return listing;
}

}  // namespace

FtpSession::FtpSession() : connection_(std::make_unique<FtpConnection>(*this)) {}

FtpSession::~FtpSession() = default;

std::string FtpSession::LastErrorMessage() const {
    return connection_->lastError;
}

Error FtpSession::LastFailure() const {
    return {static_cast<int>(connection_->lastNumber), connection_->lastError,
            connection_->lastCause, connection_->lastReply};
}

bool FtpSession::Connected() const {
    return connection_->curl != nullptr;
}

bool FtpSession::Open(const std::string& host, const std::string& user,
                      const std::string& password) {
    if (connection_->busy) {
        connection_->Record("InternetConnect", kErrTransferInProgress);
        return false;
    }
    // The same sign-in on a connection still open: kept, back in the login folder,
    // rather than a second connection and sign-in.
    if (connection_->curl && connection_->signIn == connection_->SignInKey(host, user, password)) {
        DPrint("FTP: the session to " + host + " is used again");
        connection_->folder.assign(1, '/');
        return true;
    }
    Close();
    return connection_->SignIn(host, user, password);
}

void FtpSession::Close() {
    if (connection_->busy) {
        connection_->cancel = true;
        connection_->closeWhenIdle = true;
        return;
    }
    connection_->Release();
}

bool FtpSession::MakeFolder(const std::string& name) {
    FtpConnection& c = *connection_;
    constexpr std::string_view operation = "CreateFTPDirectory";
    if (!c.Usable(operation)) return false;
    if (name.empty() || HasUnsafeChars(name)) {
        c.Record(operation, kErrInvalidParameter);
        return false;
    }
    return c.Command(operation, "MKD " + ServerPath(c.entryPath, c.Resolve(name)));
}

std::string FtpSession::CurrentFolder() {
    if (!connection_->curl) {
        connection_->Record("FtpGetCurrentDirectory", kErrInvalidHandle);
        return {};
    }
    return connection_->folder;
}

bool FtpSession::ChangeFolder(const std::string& path) {
    FtpConnection& c = *connection_;
    constexpr std::string_view operation = "FtpSetCurrentDirectory";
    if (!c.Usable(operation)) return false;
    if (path.empty() || HasUnsafeChars(path)) {
        c.Record(operation, kErrInvalidParameter);
        return false;
    }
    const std::string target = c.Resolve(path);
    if (const CURLcode rc = c.Probe(target); rc != CURLE_OK) {
        c.RecordCurl(operation, rc);
        return false;
    }
    c.folder = target;
    return true;
}

std::optional<RemoteFileInfo> FtpSession::FileInfo(const std::string& name) {
    FtpConnection& c = *connection_;
    if (!c.Usable(kFind)) return std::nullopt;
    if (HasUnsafeChars(name)) {
        c.Record(kFind, kErrInvalidParameter);
        return std::nullopt;
    }
    const std::string path = c.Resolve(name);
    curl_off_t size = -1;
    curl_off_t modified = -1;
    const CURLcode rc = c.Stat(path, size, modified);
    // A refusal (no such name, no SIZE command) leaves the listing to decide.
    if (rc != CURLE_OK && c.replyCode < 400) {
        c.RecordCurl(kFind, rc);
        return std::nullopt;
    }
    RemoteFileInfo info;
    if (modified >= 0) info.modified = std::chrono::sys_seconds(std::chrono::seconds(modified));
    if (rc == CURLE_OK && size >= 0) {
        info.size = size;
        info.sizeFromServer = true;
        return info;
    }
    // The folder is listed under its own name: servers match patterns in names only.
    const auto [folder, fileName] = SplitFolder(path);
    const auto entries = c.ListFolder(folder);
    if (!entries) return std::nullopt;
    const ListingEntry* found = FindFile(*entries, fileName);
    if (!found) return std::nullopt;
    info.size = found->size;
    if (!info.modified) info.modified = found->modified;
    return info;
}

std::optional<std::int64_t> FtpSession::FileSize(const std::string& name) {
    const auto info = FileInfo(name);
    if (!info) return std::nullopt;
    return info->size;
}

std::optional<Listing> FtpSession::List(const std::string& filter) {
    FtpConnection& c = *connection_;
    if (!c.Usable(kFind)) return std::nullopt;
    if (HasUnsafeChars(filter)) {
        c.Record(kFind, kErrInvalidParameter);
        return std::nullopt;
    }
    std::string folder = c.folder;
    std::string pattern = filter.empty() ? std::string("*") : filter;
    if (pattern.find('/') != std::string::npos) {
        auto split = SplitFolder(c.Resolve(pattern));
        folder = split.first;
        pattern = split.second.empty() ? std::string("*") : split.second;
    }
    const auto entries = c.ListFolder(folder);
    if (!entries) return std::nullopt;
    return Matching(*entries, pattern);
}

void FtpSession::UseActiveMode() {
    connection_->passive = false;
}

void FtpSession::UsePassiveMode() {
    connection_->passive = true;
}

void FtpSession::UseBinary() {
    connection_->ascii = false;
}

}  // namespace talvane::net
