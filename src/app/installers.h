#pragma once
// The five companion setups: fetched once from the subscriber's web folder
// into the tool tree, checked, then run.
#include <string>

#include "app/outcome.h"
#include "app/workflow_context.h"

namespace talvane::app {

enum class Installer { Pellam, Harlo, Quorra, Sorvik, Umbrin };

class CompanionInstaller {
  public:
    explicit CompanionInstaller(WorkflowContext& context) : context_(context) {}

    // Runs the setup (with "/silent" when `silent`) and waits for it. Stay, but
    // when its download was aborted: that ends the program.
    Outcome Install(Installer which, const std::string& user, bool silent);

  private:
    WorkflowContext& context_;
};

}  // namespace talvane::app
