#pragma once
// The FTP session the workflows use, on libcurl: one sign-in at a time, a
// current remote folder, listings and whole-file downloads. Failures return
// false or nothing and leave one readable text in LastErrorMessage().
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/ftp_tls.h"
#include "common/result.h"
#include "net/listing.h"

namespace talvane::net {

struct FtpConnection;

// What the server tells of one remote file.
struct RemoteFileInfo {
    std::int64_t size = 0;
    // The server's SIZE reply (exact) rather than a folder listing, which for a
    // link gives the link's own length.
    bool sizeFromServer = false;
    std::optional<std::chrono::sys_seconds> modified;  // empty when the server gave none
};

// Bytes [offset, offset + length) of a remote file.
struct ByteRange {
    std::int64_t offset = 0;
    std::int64_t length = 0;
};

class FtpSession {
  public:
    // Raised by Download() after every full 255-byte step of the expected size
    // and once more with (received, received) when the file is complete.
    std::function<void(std::int64_t current, std::int64_t total)> Progress;
    // Raised by DownloadResumable() on the transferring thread each time the
    // part holds more of the file: `end` bytes from its start are in it.
    std::function<void(std::int64_t end)> PartGrew;

    FtpSession();
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // `host`: a name or an address, optionally with ":port". An open
    // connection is closed first, unless it signed in to the same host with the
    // same account and mode: that one is kept and starts again in the login folder.
    bool Open(const std::string& host, const std::string& user, const std::string& password);
    // From a handler in the middle of a transfer: stops it and closes once it
    // has unwound.
    void Close();
    bool Connected() const;
    std::string LastErrorMessage() const;
    // The last failure with its kind (empty message: none yet).
    Error LastFailure() const;

    // "/" is the login folder; other paths start at the current folder.
    bool ChangeFolder(const std::string& path);
    std::string CurrentFolder();  // "" without a connection
    bool MakeFolder(const std::string& name);
    // Empty for no such file (no error is recorded then) and for a failure.
    // Asks SIZE and MDTM; lists the folder only when the server has no answer
    // for the exact name (no such commands, or a name that matches only
    // ignoring case or with blanks as wildcards).
    std::optional<RemoteFileInfo> FileInfo(const std::string& name);
    std::optional<std::int64_t> FileSize(const std::string& name);
    // Copies `remoteName` (blanks around both names ignored) to `localPath`,
    // which only appears once the whole file is there: the transfer ends with
    // the data connection and the server's closing reply, and a file whose
    // length differs from the server's SIZE is refused.
    // `maxBytes` > 0: a file that sends more is refused as it arrives.
    bool Download(const std::string& localPath, const std::string& remoteName,
                  std::int64_t maxBytes = 0);
    // As Download, but a transfer cut off keeps its bytes in `localPath`.partial
    // (the server's size and time in .partial.info beside it); the next call
    // continues there while the server's file has the same size and time.
    // A server that refuses REST gets the file from byte 0 in the same call.
    bool DownloadResumable(const std::string& localPath, const std::string& remoteName);
    // Opens (or creates) `localPath` with the remote file's size, `expectedSize`
    // (a file of another size is not fetched), and writes `ranges` of it in their
    // places, one transfer per range (REST, then the data connection closed at
    // the range's end); Progress counts the ranges' bytes. False when a range did
    // not arrive whole (the server refused REST, say).
    bool DownloadRanges(const std::string& localPath, const std::string& remoteName,
                        std::int64_t expectedSize, const std::vector<ByteRange>& ranges);
    // Where the last resumable download continued a part from an earlier run (0: none).
    std::int64_t ResumedFrom() const;
    // The entries that match `filter` (Windows wildcards, optionally after a
    // folder path). Empty when none matched or the folder could not be listed.
    std::optional<Listing> List(const std::string& filter);

    // Who opens data connections: the server (active, the default) or we
    // (passive). Takes effect at the next Open().
    void UseActiveMode();
    void UsePassiveMode();
    // Files arrive as they are stored; until then line ends are converted.
    void UseBinary();

    // Time-outs (seconds); idle: waiting for the server's reply to a command.
    long connectTimeoutSeconds = 20;
    long idleTimeoutSeconds = 30;
    // A transfer that moves fewer than lowSpeedBytes in lowSpeedSeconds is
    // abandoned as a timed-out connection (a server that drips holds no one).
    long lowSpeedBytes = 1024;
    long lowSpeedSeconds = 60;
    // A listing is cut at whichever comes first; a log line says so.
    std::size_t maxListingBytes = 8u << 20;
    std::size_t maxListingEntries = 50000;
    // TLS on the control and data connections (explicit, AUTH TLS), with the
    // certificate verified against `tlsCaFile`, or the system's store when empty.
    // Takes effect at the next Open().
    FtpTls tls = FtpTls::Off;
    std::string tlsCaFile;

  private:
    std::unique_ptr<FtpConnection> connection_;
};

}  // namespace talvane::net
