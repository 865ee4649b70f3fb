#pragma once
// The file access the zip reader and writer need, behind one narrow interface so the
// platform code lives in one file (zip_io_posix.cpp now, a Windows sibling later).
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace talvane::zipio {

enum class PathKind { None, File, Folder, Other };
// Follows links.
PathKind KindOf(const std::string& path);
// True when anything (a link included) sits at `path`.
bool EntryExists(const std::string& path);
// Creates one level; false when it could not.
bool MakeFolder(const std::string& path);
bool RemoveFile(const std::string& path);
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

// A new file written front to back.
class OutputFile {
  public:
    OutputFile();
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const std::string& path);  // replaces what is there
    bool Write(const void* data, std::size_t len);
    bool Close();  // false when the data may not have reached the file

  private:
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
    bool Remove(const std::string& name);
    bool CreateTemp(unsigned mode);  // the process umask applies
    bool WriteTemp(const void* data, std::size_t len);
    bool CommitTemp(const std::string& name);  // false: nothing was put in place
    void DiscardTemp();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace talvane::zipio
