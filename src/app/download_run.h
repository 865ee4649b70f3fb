#pragma once
// Download && Run: the newest tool package, the configuration set, the tool
// started. Also the unattended run.
#include <string>
#include <utility>

#include "app/outcome.h"
#include "app/workflow_context.h"
#include "common/files.h"

namespace talvane::app {

// What the main window holds when a run is asked for.
struct RunRequest {
    std::string config;  // the chosen configuration set
    Credentials credentials;
    bool saveDefault = false;  // "Save Config As Default"
    bool deleteMe = false;     // "Delete Me After Download": the tool removes the launcher
};

class DownloadAndRun {
  public:
    DownloadAndRun(WorkflowContext& context, RunRequest request)
        : context_(context), request_(std::move(request)) {}

    // Ends the program once the tool was started or a step failed; Stay when the
    // run could not begin (nothing chosen, folder busy, no package at all).
    Outcome Run();

  private:
    WorkflowContext& context_;
    RunRequest request_;
};

// Saves the chosen set as the default when asked to and takes the program
// folder; false (after telling the user) when no set is chosen or the folder
// is busy.
bool BeginToolRun(WorkflowContext& context, const RunRequest& request, FolderLock& lock);

}  // namespace talvane::app
