#pragma once
// Where a log line comes from, named "<module>\<step>" as the log has always named it: one
// table, so that the names stay stable for those who search the log and lead back to the code.
#include <string>

namespace talvane::logsite {

inline const std::string kAppPath = "CommonModule\\AppPath";
inline const std::string kInitAppSettings = "CommonModule\\InitAppSettings";
inline const std::string kShellX = "CommonModule\\ShellX";
inline const std::string kChangeOwner = "SetOwnerFS\\ChangeOwnerOfFile";
inline const std::string kDeleteTree = "RemoveTree\\DeleteTree";
inline const std::string kRemoveFile = "RemoveTree\\RemoveFile";
inline const std::string kAddFile = "ZipClass\\AddFile";
inline const std::string kWriteZip = "ZipClass\\WriteZip";
inline const std::string kUnzipFile = "modZip\\UnzipFile";

}  // namespace talvane::logsite
