#pragma once
// What both ways of running the tool share: the program folder claimed, a
// package fetched from /Redist and checked, unpacked whole into the tool tree,
// and the tool started.
#include <optional>
#include <string>
#include <vector>

#include "app/deploy_manifest.h"
#include "app/workflow_context.h"
#include "common/files.h"

namespace talvane::ui {

// The work files beside the program have fixed names; a second launcher
// working in the same folder at once would delete or overwrite them. False
// (after telling the user) when another launcher is at work there.
bool ClaimProgramFolder(Frontend& frontend, FolderLock& lock);

class ToolPackage {
  public:
    // Unchanged: the tool tree already holds the package the server offers.
    enum class Fetch { Fetched, Unreachable, Failed, Unchanged };

    explicit ToolPackage(WorkflowContext& context) : context_(context) {}

    // Fetches `remoteName` from /Redist to `package` and checks its signature.
    // Failed: the download or the check failed (the user was told, with
    // `failureMessage` for a failed download). Unreachable: no connection.
    // `skipDeployed`: first asks whether the tree still holds what the server offers.
    Fetch FetchFromRedist(const std::string& package, const std::string& remoteName,
                          const std::string& failureMessage, bool skipDeployed = false);
    // Unpacks the package whole into the tool tree; false after telling the user
    // which entry failed (the tree then is as it was). No package at all: true.
    bool Unpack(const std::string& package, const std::string& shownName);
    // Starts the tool in the tree with `arguments`; false after telling the user.
    bool StartTool(const std::vector<std::string>& arguments);

  private:
    // Size, time and signature of `remoteName` in the current folder.
    DeployManifest DescribeOnServer(const std::string& remoteName);
    bool StillDeployed(const DeployManifest& onServer);
    // After a complete unpack: what the next run compares with.
    void RecordDeploy(const std::string& package);

    WorkflowContext& context_;
    std::optional<DeployManifest> onServer_;  // set when the deploy is to be recorded
};

// Starts a program unpacked by the launcher, making it executable first.
bool StartUnpacked(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace talvane::ui
