#pragma once
// The 7-Zip command-line program the configuration sets are decrypted with:
// beside the launcher (fetched when missing, and with a public key fetched and
// checked on every run), else one on the search path.
#include <optional>
#include <string>
#include <vector>

#include "app/workflow_context.h"

namespace talvane::app {

// 7-Zip's arguments to unpack `archive` into `outFolder`. The archive password
// never goes here: 7-Zip reads it from its standard input, where no other user
// can see it (the argument list is public).
std::vector<std::string> SevenZipExtractArguments(const std::string& archive,
                                                  const std::string& outFolder);
// 7-Zip's arguments for the technical listing of `archive` (one block of
// "Name = value" lines per entry); a password is read as for extraction.
std::vector<std::string> SevenZipListArguments(const std::string& archive);

// 7-Zip's archive is about 1 MB; a mirror sending more is not waited for.
inline constexpr long long kMaxSevenZipArchiveSize = 16LL << 20;

class SevenZipSupply {
  public:
    enum class State { Ready, Unobtainable, Refused, Aborted };

    explicit SevenZipSupply(WorkflowContext& context) : context_(context) {}

    // Fetches 7za beside the program when it is not there (with a public key:
    // always, over any left there): from the mirror URL, else from the
    // repository. With a key the mirror's archive is used only when its SHA-256
    // is pinned in the settings and matches. Ready when some 7-Zip can be started.
    State Ensure();
    // The program to start: the one beside the launcher when present, else a
    // 7za, 7z or 7zz on the search path (the bundled path when there is none).
    std::string Program() const;
    // Set when Ensure ended in Aborted.
    const std::optional<DownloadAbort>& Abort() const { return abort_; }

  private:
    enum class Fetch { Got, Missed, Refused, Aborted };
    Fetch FromMirror(const std::string& archive);
    Fetch FromRepository(const std::string& archive);
    void Unpack(const std::string& archive);

    WorkflowContext& context_;
    std::optional<DownloadAbort> abort_;
};

// Tells the user why the configuration cannot be unpacked when Ensure was not
// Ready (a refusal has already been shown by the signature check).
void ReportSevenZipMissing(Frontend& frontend, const SevenZipSupply& supply,
                           SevenZipSupply::State state);

}  // namespace talvane::app
