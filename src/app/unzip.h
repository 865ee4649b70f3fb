#pragma once
#include <functional>
#include <string>

#include "zip/zip_reader.h"

namespace talvane::app {

class Frontend;

// The one entry for unpacking in the workflows: the status window names the
// archive while it is unpacked, unless `frontend` is null (a silent run).
// `firstError`, when given, receives the first problem met (it names the entry).
// `keepExisting`: entries whose file in the destination is left as it is;
// `checkContent`: what each written entry's content must pass; `shownName`: the
// archive's name on screen (default: the file's).
bool UnzipFile(Frontend* frontend, const std::string& zipPath, const std::string& destination,
               std::string* firstError = nullptr,
               const std::function<bool(const ZipEntryInfo&)>& keepExisting = {},
               const ContentSinkFor& checkContent = {}, const std::string& shownName = {});

}  // namespace talvane::app
