#pragma once
// File access by handle: archives read at offsets, scratch space, files written
// whole under a temporary name, and the link-safe destination of an extraction.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace talvane::fileio {

enum class PathKind { None, File, Folder, Other };
// Follows links.
PathKind KindOf(const std::string& path);
// True when anything (a link included) sits at `path`.
bool EntryExists(const std::string& path);
// Creates one level; false when it could not.
bool MakeFolder(const std::string& path);
bool RemoveFile(const std::string& path);
// Removes `path` only when it is an empty folder.
bool RemoveEmptyFolder(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);

struct FileFacts {
    unsigned long long size = 0;
    std::time_t modified = 0;
    unsigned mode = 0;  // permission bits
};
// False unless `path` is a regular file (links followed).
bool StatFile(const std::string& path, FileFacts& facts);

// A file read at offsets: the archive, or a file being added.
class ReadOnlyFile {
  public:
    enum class OpenResult { Ok, NotAFile, Failed };
    ReadOnlyFile();
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    OpenResult Open(const std::string& path);  // regular files only
    void Close();
    bool IsOpen() const;
    long long Size() const;
    // Reads up to len bytes; fewer only at the end of the file; -1 on error.
    long long ReadAt(void* buf, std::size_t len, long long offset) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A nameless scratch file in the temporary folder, gone when the object ends.
class ScratchFile {
  public:
    ScratchFile();
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    bool Open();
    bool WriteAt(const void* data, std::size_t len, unsigned long long offset);
    long long ReadAt(void* buf, std::size_t len, unsigned long long offset) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A named file of a fixed size, written at any offsets; what is not written
// reads as zeros (and takes no disk space where the file system allows). What
// an existing file holds stays.
class PlacedFile {
  public:
    PlacedFile();
    ~PlacedFile();
    PlacedFile(const PlacedFile&) = delete;
    PlacedFile& operator=(const PlacedFile&) = delete;

    // Opens (or creates) `path` with `size` bytes; 0 or an error code.
    int Open(const std::string& path, unsigned long long size);
    bool WriteAt(const void* data, std::size_t len, unsigned long long offset);
    // Flushes to disk and closes; 0 or an error code.
    int Close();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A file written under a private name beside its target and renamed over the
// target on Commit, so the target is never missing nor half-written. The part
// is removed when discarded, when the object ends uncommitted and when the
// process is interrupted. Calls return 0 or an error code.
class TempFile {
  public:
    TempFile();
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int Create(const std::string& target, unsigned mode);
    int Write(const void* data, std::size_t len);
    // `sync` flushes the file and its folder to disk first.
    int Commit(bool sync);
    void Discard();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A file kept under its own name and written at its end: what a cut-off
// transfer wrote stays there (a kill included) for the next run to continue.
// Calls return 0 or an error code.
class AppendFile {
  public:
    AppendFile();
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // `fresh`: the file starts empty; otherwise writes go after what it holds.
    int Open(const std::string& path, bool fresh);
    int Write(const void* data, std::size_t len);
    // Flushes to disk when `sync` and closes.
    int Close(bool sync);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A part file in one folder of a Destination, created and committed (or discarded)
// on the thread that owns the Destination, but written and sealed on any one thread
// in between, while the Destination moves on to other folders.
class PendingFile {
  public:
    PendingFile();
    ~PendingFile();  // discards when not committed
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool Write(const void* data, std::size_t len);
    // Ends the writing and lets go of every handle: the part waits under its name, so
    // that thousands of parts can wait for their commit. False when the data may not
    // have reached the file.
    bool Seal();
    bool Commit(const std::string& name);  // false: nothing was put in place
    void Discard();
    // In the part's folder; links are never followed.
    bool Exists(const std::string& name) const;
    // A folder stands at `name`, so no file can be renamed over it (on Windows a link
    // to a folder counts as one).
    bool IsFolder(const std::string& name) const;

  private:
    friend class Destination;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The destination folder of an extraction. Folders below it are entered without
// following links, and files are written through a temporary file beside the target
// that is renamed into place only when committed.
class Destination {
  public:
    enum class FolderResult { Ok, Link, Failed };
    Destination();
    ~Destination();
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    bool Open(const std::string& folder);  // the folder itself may be a link
    void Close();
    // Makes parts[0..count) below the root the current folder, creating what is missing.
    // On failure `failedAt` names the first component that could not be entered.
    FolderResult Enter(const std::vector<std::string>& parts, std::size_t count,
                       std::string& failedAt);
    // In the current folder; links are never followed.
    bool Exists(const std::string& name) const;
    bool IsFolder(const std::string& name) const;  // as PendingFile::IsFolder
    bool Remove(const std::string& name);
    bool CreateTemp(unsigned mode);  // the process umask applies
    bool WriteTemp(const void* data, std::size_t len);
    bool CommitTemp(const std::string& name);  // false: nothing was put in place
    void DiscardTemp();
    // A part file in the current folder that stays there when other folders are entered.
    std::unique_ptr<PendingFile> CreatePending(unsigned mode);  // null on failure
    // Removes the folders Enter created since Open, deepest first, where they are empty.
    void RemoveCreatedFolders();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace talvane::fileio
