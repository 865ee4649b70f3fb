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
bool ShellCopy(std::string_view source, std::string_view destination,
               bool renameOnCollision = false);
bool ShellMove(std::string_view source, std::string_view destination,
               bool renameOnCollision = false);
std::string GetPathType(std::string_view path);  // "file", "dir" or "neither"

// Small conveniences used by the workflows; none of them throws.
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

}  // namespace talvane
