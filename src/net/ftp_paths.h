#pragma once
// Remote paths of the FTP session: absolute paths below the login folder ("/"),
// the URLs libcurl is given for them and the names raw commands use.
#include <string>
#include <string_view>
#include <utility>

namespace talvane::net {

// CR, LF or NUL would end a command early and start another one.
bool HasUnsafeChars(std::string_view text);

// Resolves `path` against the folder `current` ("/" is the login folder);
// "." and ".." are applied, ".." stops at the login folder.
std::string ResolvePath(const std::string& current, std::string_view path);

// An absolute path -> its folder and its last name ("/a/b" -> "/a", "b").
std::pair<std::string, std::string> SplitFolder(const std::string& absolute);

// Percent-encodes everything but unreserved characters and '/'.
std::string EncodeUrlPath(std::string_view path);

// "ftp://server/path", with a closing '/' when `folder` (libcurl then enters it).
std::string FtpUrl(const std::string& server, const std::string& absolute, bool folder);

// The path as the server names it (`entryPath`: its name of the login folder),
// for raw commands that run outside the folder libcurl moves to.
std::string ServerPath(const std::string& entryPath, const std::string& absolute);

}  // namespace talvane::net
