#pragma once
// Zip reader: stored and deflated entries, streamed, CRC-checked, refusing
// names that would land outside the destination.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace talvane {

// ZipError numbers.
enum ZipErrorNumber : long {
    kZipErrNoZlib = 1,
    kZipErrNotZip = 2,
    kZipErrNoZipOpen = 3,
    kZipErrMethod = 4,
    kZipErrChecksum = 5,
    kZipErrMissing = 10,
    kZipErrExists = 11,
    kZipErrCantRemove = 12,
    kZipErrCantCreateFolder = 13,
    // Refusals that keep damaged or hostile archives out of the tool tree.
    kZipErrUnsafeName = 20,    // name would land outside the destination
    kZipErrDamaged = 21,       // central directory damaged / truncated archive
    kZipErrSizeMismatch = 22,  // entry inflates to more (or less) than declared
    kZipErrWriteFailed = 23,   // target could not be written
    kZipErrEncrypted = 24,     // entry is encrypted; its bytes would be written scrambled
    kZipErrOverlap = 25,       // entries share data: the whole archive is refused
    kZipErrSplit = 26,         // one part of a split or multi-disk archive
};

// One central-directory entry as listed by ListEntries.
struct ZipEntryInfo {
    std::string name;  // decoded to UTF-8
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint32_t crc = 0;
    std::uint16_t method = 0;
    unsigned mode = 0;              // Unix permission bits when the archive recorded them, else 0
    std::uint64_t localOffset = 0;  // where its local header starts
};

// Sees the content of one entry on its way out and judges it after the last
// byte: Finish() false refuses the entry (an extraction then writes nothing).
class ContentSink {
  public:
    virtual ~ContentSink() = default;
    virtual void Put(const void* data, std::size_t len) = 0;
    virtual bool Finish() = 0;
};
using ContentSinkFor = std::function<std::unique_ptr<ContentSink>(const ZipEntryInfo& entry)>;

// An archive whose bytes arrive in order from its start while it is read.
class ArrivingBytes {
  public:
    virtual ~ArrivingBytes() = default;
    // Blocks until the archive's first `end` bytes can be read from File();
    // false when they never will be. Any thread may ask.
    virtual bool WaitFor(std::uint64_t end) = 0;
    // The file that holds them now.
    virtual std::string File() const = 0;
};

// When Extract puts the entries in place.
enum class ZipCommit {
    EachEntry,  // each as soon as it is checked; refused entries are reported and skipped
    Whole,      // none until all are written and checked; on any problem nothing changes
};

class ZipReader {
  public:
    // Events. Progress may set cancel to stop the extraction.
    std::function<void(long& percent, bool& cancel)> Progress;
    std::function<void(const std::string& text)> Status;
    std::function<void(long number, const std::string& description)> ZipError;
    // Asked for each file entry before Extract writes it: true leaves the file
    // already in the folder as it is (the caller knows it holds these bytes).
    std::function<bool(const ZipEntryInfo& entry)> KeepExisting;
    // Asked for each file entry Extract writes: a sink that must accept its
    // content before it is put in place (null: none).
    ContentSinkFor CheckContent;

    ZipReader();
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    bool OpenZip(const std::string& zipPath);
    // An archive of `size` bytes called `name` whose last tail.size() bytes (at
    // least its central directory and end records) are `tail`; the rest is read
    // as `bytes` lets it. Its entries' overlaps are checked once all have arrived.
    bool OpenArriving(const std::string& name, std::uint64_t size, std::string tail,
                      ArrivingBytes& bytes);
    void CloseZip();
    bool Extract(const std::string& folder, bool preservePath, bool overwrite,
                 ZipCommit commit = ZipCommit::EachEntry);
    std::string ZLibVersion();

    // Additions for the command-line tool and tests.
    // Visits the central directory; false when no archive is open or it is damaged.
    bool ListEntries(const std::function<void(const ZipEntryInfo&)>& onEntry);
    // Reads and checks every entry as Extract would (stored ones too), writing nothing.
    // True when the whole directory was walked; bad entries raise ZipError.
    bool TestEntries();
    // Files the last Extract put in place, also when it failed later.
    long long FilesWritten() const;
    // Reads the one entry called `name` (letter case ignored) into memory,
    // checked as Extract checks it; nothing is written. False when it is
    // missing, larger than `maxSize` or damaged.
    bool ReadEntry(const std::string& name, std::size_t maxSize, std::string& out);
    // Streams every file entry's checked content into the sink `sinkFor` gives it
    // (none: the entry is skipped); false when an entry fails or its sink refuses it.
    bool ReadContents(const ContentSinkFor& sinkFor);
    // Where the central directory starts (the rest of the file is directory and
    // end records); nothing without an open, readable archive.
    std::optional<std::uint64_t> DirectoryOffset();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Unpacks a whole archive, paths kept, existing files replaced; errors go to the log.
// All or nothing: false when the archive is missing, unreadable or any entry failed,
// and the destination is then left as it was. `firstError`, when given, receives the
// first problem (it names the entry).
bool ExtractZipFile(const std::string& zipPath, const std::string& destination,
                    std::string* firstError = nullptr,
                    const std::function<bool(const ZipEntryInfo&)>& keepExisting = {},
                    const ContentSinkFor& checkContent = {});

// ExtractZipFile for an archive still arriving (see ZipReader::OpenArriving);
// `advanced` is called after each entry.
bool ExtractArrivingZip(const std::string& name, std::uint64_t size, std::string tail,
                        ArrivingBytes& bytes, const std::string& destination,
                        std::string* firstError,
                        const std::function<bool(const ZipEntryInfo&)>& keepExisting,
                        const std::function<void()>& advanced);

// The CRC-32 of a whole file as a zip records it, read in pieces; empty when the
// file cannot be read.
std::optional<std::uint32_t> FileCrc32(const std::string& path);

// Where an entry called `name` lands below the destination ('/' separators), or
// nothing for a name that is refused or names no file.
std::optional<std::string> ZipEntryPath(const std::string& name);

}  // namespace talvane
