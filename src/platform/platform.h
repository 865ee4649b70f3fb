#pragma once
// The operating-system calls the shared library needs, behind plain functions.
// POSIX versions live in *_posix.cpp; a Windows build supplies *_win.cpp with
// the same declarations. Failures come back as an errno-style code (0 = fine).
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvane {
// Where debug lines go: one call per line, without the line break.
class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void Write(std::string_view message) = 0;
};
}  // namespace talvane

namespace talvane::platform {

// ---- log sinks
std::shared_ptr<LogSink> MakeSystemLogSink(const char* identity);
std::shared_ptr<LogSink> MakeStderrSink();
std::shared_ptr<LogSink> MakeFileSink(const std::string& path);  // appends

// ---- the running program
std::string CurrentExecutablePath();  // empty when it cannot be resolved
// True when windows can be shown: an X11 or Wayland display (always on Windows).
bool DisplayAvailable();
// Connects unredirected standard streams to the console of the starting
// process (a Windows program with windows has none of its own); no-op on POSIX.
void UseParentConsole();

// ---- paths and environment
// Length of the root of an absolute path ("/"; on Windows also "C:/" or
// "//server/share/"), 0 for a relative path.
std::size_t RootLength(std::string_view path);
// An environment variable naming a folder, with '/' separators; empty when unset.
std::string FolderFromEnvironment(const char* name);
// The all-users desktop folder as the system's shell names it, '/' separators;
// empty where there is no such shell folder (POSIX).
std::string SharedDesktopFolder();
// Where a program installed in a folder its user may not write keeps its files: the user's
// configuration or cache folder ($XDG_CONFIG_HOME or ~/.config, $XDG_CACHE_HOME or ~/.cache)
// plus "/talvane/". Empty when the program keeps them beside itself: its folder is writable,
// or Windows, where the program folder is the place as always.
enum class UserFolder { Config, Cache };
std::string InstalledProgramFolder(const std::string& programFolder, UserFolder kind);

// ---- error text
std::string ErrorText(int code);

// Caps the receive buffer of `socket` at `bytes`, so that a peer cannot push much
// more than is read before the connection is closed early; 0 or an error code.
int LimitReceiveBuffer(std::intptr_t socket, int bytes);

// ---- file system
enum class Kind { None, File, Dir, Symlink, Other };
enum class Links { Follow, Name };  // a link's target, or the link itself (Kind::Symlink)
Kind PathKind(const std::string& path, Links links);
int MakeOneDir(const std::string& path);  // EEXIST counts as success when it is a folder
int RemoveFile(const std::string& path);  // unlink; a link is removed, not its target
int RemoveEmptyDir(const std::string& path);
int RenamePath(const std::string& from, const std::string& to);  // EXDEV across devices
// Swaps two existing paths in one step; ENOSYS where the system or the file
// system cannot (the caller then renames twice).
int ExchangePaths(const std::string& a, const std::string& b);
// A second name for the file `from` (a hard link); fails where links are refused.
int LinkFile(const std::string& from, const std::string& to);
// What identifies the entry at `path` on its volume; a rename keeps it.
struct PathId {
    std::uint64_t volume = 0;
    std::uint64_t node = 0;
    bool operator==(const PathId&) const = default;
};
int IdentifyPath(const std::string& path, PathId& out, Links links = Links::Name);
// `path` made absolute against the current folder, "." and ".." resolved by name; the path
// as given when that fails.
std::string AbsolutePath(const std::string& path);

struct DirEntry {
    std::string name;
    Kind kind;  // not following links
};
// Sorted by name. A link at `path` itself is followed; entries are not.
int ListDir(const std::string& path, std::vector<DirEntry>& out);
// For content unpacked from an archive into `root`: `relative` ("a/b", "" for
// the root) is reached one level at a time from `root` without following a
// link, and a link at any level refuses the call (ELOOP or ENOTDIR).
int ListDirBelow(const std::string& root, const std::string& relative, std::vector<DirEntry>& out);
// Moves the regular file `relative` below `root` onto the path `to` (across
// devices by copy and removal); a link, or a link on the way to it, is refused.
int MoveFileBelow(const std::string& root, const std::string& relative, const std::string& to);

// Copies one file's bytes and permission bits onto `to`, replacing it atomically.
int CopyFileReplacing(const std::string& from, const std::string& to);
int CopySymlink(const std::string& from, const std::string& to);

// Removes the temporary parts (".~tv<pid>-<n>.part") that a process which is
// no longer running left in `folder` (and below it when `recursive`; links
// are not followed). Returns how many were removed.
int RemoveStaleParts(const std::string& folder, bool recursive);

// Removes a whole tree without following symbolic links. Deletion goes on past
// failures; the first failure's code is returned.
int RemoveTree(const std::string& path);

// Gives the owner read/write (and search on folders) access; with `recurse`,
// over the whole tree below a folder. Never follows links, never adds group or
// other bits.
int GrantOwnerAccess(const std::string& path, bool recurse);
// When running as root on behalf of another user (sudo), hands the path to that
// user. Returns 0 and leaves `newOwner` empty when there is nobody to hand it to.
int HandToInvokingUser(const std::string& path, std::string& newOwner);
std::string CurrentUserName();
// Leaves a folder (not followed when a link) to its owner alone: no group or
// other access. 0 or an error code.
int RestrictToOwner(const std::string& folder);
// The process holds passwords: no core file may carry them to disk.
void DisableCoreDumps();

int ReadFile(const std::string& path, std::string& out);
// Permission bits of an existing file, or -1.
int FileMode(const std::string& path);
// True when this process may write to the existing path.
bool CanWrite(const std::string& path);
// The path with every symbolic link resolved; empty when that fails.
std::string ResolveLinks(const std::string& path);
// Adds execute permission wherever the file grants read permission.
int AddExecutePermission(const std::string& path);
// An exclusive advisory lock on a folder, held while `fd` stays open; the
// descriptor is never inherited by started programs. EWOULDBLOCK when another
// process holds the lock.
int LockFolder(const std::string& path, int& fd);
void UnlockFolder(int fd);

// ---- processes
// A started program, owned. A detached one is nobody's to watch; one that is
// not is watched with PollChild, and an owner that goes before seeing its end
// leaves it running and has it reaped in the background.
class Child {
  public:
    Child() = default;
    ~Child() { Release(); }
    Child(Child&& other) noexcept
        : pid_(std::exchange(other.pid_, 0)),
          handle_(std::exchange(other.handle_, nullptr)),
          watched_(std::exchange(other.watched_, false)) {}
    Child& operator=(Child&& other) noexcept {
        if (this != &other) {
            Release();
            pid_ = std::exchange(other.pid_, 0);
            handle_ = std::exchange(other.handle_, nullptr);
            watched_ = std::exchange(other.watched_, false);
        }
        return *this;
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ != 0; }
    long Id() const { return pid_; }

  private:
    friend int Spawn(const std::vector<std::string>& argv, bool detached, Child& child,
                     const std::string* input, const std::string* outputFile);
    friend int PollChild(Child& child, long& exitCode);
    // Lets go of a child whose end was not seen (per operating system).
    void Release() noexcept;

    long pid_ = 0;
    void* handle_ = nullptr;  // the process handle, where the system has one
    bool watched_ = false;    // started, not detached, end not seen yet
};
// Starts argv[0] (searched on PATH when it has no '/') with stdin from /dev/null,
// stdout/stderr inherited. A detached child gets its own session and is reaped
// in the background.
// With `input`, standard input is a pipe that receives those bytes and then
// ends: secrets reach the child there, never through its argument list.
// With `outputFile`, standard output goes to that new file (owner-only; an
// existing one fails the start).
int Spawn(const std::vector<std::string>& argv, bool detached, Child& child,
          const std::string* input = nullptr, const std::string* outputFile = nullptr);
// 0 when the child has ended (exitCode set), EAGAIN while it runs, else an error.
int PollChild(Child& child, long& exitCode);
// The first executable file called `name` (plus the executable suffix) in the
// folders of the search path; empty when there is none.
std::string FindOnSearchPath(const std::string& name);

// ---- clock
// Calendar fields of `t` in local time or in UTC; false when out of range.
bool LocalTime(std::time_t t, std::tm& out);
bool UtcTime(std::time_t t, std::tm& out);

// ---- console
// The program's arguments after its name, in UTF-8 (on Windows from the wide command
// line: argv there is in the ANSI code page, which may not hold the names typed).
std::vector<std::string> ProgramArguments(int argc, char** argv);
// True when the stream (stdout or stderr, by its C handle) is a terminal.
bool IsTerminal(std::FILE* stream);
enum class InputState { Data, Nothing, Ended };
// Reads what is waiting on the input descriptor `fd`, waiting for it when
// `wait`; Ended at end of input or on an error.
InputState ReadInput(int fd, bool wait, std::string& appendTo);

// ---- owners
// True when the entry at `path` (the link itself unless `links` is Follow) belongs to
// the user this process runs as; false when it cannot be told.
bool OwnedByCurrentUser(const std::string& path, Links links);

}  // namespace talvane::platform
