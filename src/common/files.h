#pragma once
// File and folder helpers. Paths are absolute ("/..."); relative paths test as absent.
#include <string>
#include <string_view>

namespace talvane {

bool DoesFileExist(std::string_view path);  // a file, not a folder; logs the length past 116
bool DoesDirExist(std::string_view path);
bool MakeSureDirExists(std::string_view folder);  // creates every missing level
// Copy or move a file, a folder, or a wildcard source ("dir/*.db") into a
// destination folder (or onto a file path), merging folders and replacing files.
// Links on the way to the source are followed; a link that is the source or
// lies inside it is carried as a link, never followed.
bool ShellCopy(std::string_view source, std::string_view destination,
               bool renameOnCollision = false);
bool ShellMove(std::string_view source, std::string_view destination,
               bool renameOnCollision = false);
// Moves what an archive was unpacked to: `relative` below `root` (a file, a
// folder, or a wildcard name such as "Ketarin/*.db") into the folder
// `destination`, merging folders and replacing files. Nothing is taken through
// a link: a link on the way to the source refuses the move, a link (or other
// special) entry stays behind, logged; a linked folder is not entered. True
// when all of it moved.
bool MoveFromStaging(std::string_view root, std::string_view relative,
                     std::string_view destination);
// Makes `to` (which must not exist) a copy of the folder `from` whose files are
// second names of the originals where the volume allows, copies elsewhere;
// links are copied as links, never followed. A file replaced in the copy by a
// rename leaves the original as it was. True when every entry was copied.
bool CloneTree(std::string_view from, std::string_view to);
std::string GetPathType(std::string_view path);  // "file", "dir" or "neither"
bool IsSymbolicLink(std::string_view path);      // the path itself, not followed
// Removes temporary parts left by a launcher that was killed (never another
// running one's); logs how many. Links are not followed.
void RemoveStaleParts(std::string_view folder, bool recursive);

// Small conveniences used by the workflows; failures come back as results.
bool DeleteFileQuiet(std::string_view path);  // true when the file is absent afterwards
bool RenameFile(std::string_view from, std::string_view to);
std::string JoinPath(std::string_view folder, std::string_view name);  // one '/' between
// Writes the whole buffer to a temporary file beside `path`, then renames it over `path`.
bool WriteFileAtomic(std::string_view path, std::string_view data, unsigned mode = 0644);
bool ReadWholeFile(std::string_view path, std::string& out);
// Permission bits (e.g. 0644) of an existing path, or -1.
int GetFileMode(std::string_view path);
// True when this process may write to the existing path.
bool IsWritablePath(std::string_view path);
// The path with its symbolic links resolved, or empty when that fails.
std::string ResolveLinks(std::string_view path);
// Makes an existing file executable (a program unpacked from an archive made
// without Unix permissions has none). True when nothing failed.
bool MakeExecutable(std::string_view path);

// Keeps other launchers out of a folder while fixed-name work files are in use
// there. Released when the object goes away or the process ends.
class FolderLock {
  public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    // False when another process holds the lock. A folder that cannot be
    // opened is not locked and counts as free.
    bool TryLock(std::string_view folder);

  private:
    int fd_ = -1;
};

}  // namespace talvane
