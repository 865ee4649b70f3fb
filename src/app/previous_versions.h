#pragma once
// Earlier tool versions: the packages kept on /Redist, and running one of them.
#include <string>
#include <vector>

#include "app/download_run.h"
#include "app/outcome.h"
#include "app/workflow_context.h"

namespace talvane::app {

class PreviousVersions {
  public:
    explicit PreviousVersions(WorkflowContext& context) : context_(context) {}

    // The "Tekmo_*.zip" packages on the redistribution host, in server order.
    std::vector<std::string> List();
    // Deploys and starts `version` with the chosen configuration set.
    Outcome Run(const RunRequest& request, const std::string& version);

  private:
    WorkflowContext& context_;
};

}  // namespace talvane::app
