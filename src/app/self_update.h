#pragma once
// Self-update: the updates index fetched at start, and "Update Me!", which
// replaces the program with the one the index offers.
#include <optional>
#include <string>

#include "app/outcome.h"
#include "app/workflow_context.h"

namespace talvane::app {

// True for http://, https:// and ftp:// URLs (any letter case in the scheme): where an
// update package may come from.
bool IsPackageUrl(const std::string& url);

class SelfUpdate {
  public:
    enum class Check { NotOffered, Offered, Refused, Aborted };

    explicit SelfUpdate(WorkflowContext& context) : context_(context) {}

    // Fetches the index (only the index leaves its archive) and compares its
    // version with this program's. Aborted: the index could not be fetched
    // (Abort() says why). Refused: its signature did not check out.
    Check Fetch();
    const std::optional<DownloadAbort>& Abort() const { return abort_; }
    // Downloads, checks and puts in place the offered program, then starts it.
    // Always ends the program.
    Outcome Apply();

  private:
    Outcome Failed(const std::string& message);
    Outcome Replace(const std::string& package);

    WorkflowContext& context_;
    std::optional<DownloadAbort> abort_;
};

}  // namespace talvane::app
