#pragma once
// What both ways of running the tool share: the program folder claimed, a
// package fetched from /Redist and checked, unpacked whole into the tool tree,
// and the tool started.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/deploy_manifest.h"
#include "app/deploy_transaction.h"
#include "app/workflow_context.h"
#include "common/files.h"
#include "zip/zip_reader.h"

namespace talvane::app {

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
    // `stage`: a whole download is unpacked into it while it arrives (Unpack then
    // has nothing left to do).
    Fetch FetchFromRedist(const std::string& package, const std::string& remoteName,
                          const std::string& failureMessage, bool skipDeployed = false,
                          const std::string& stage = {});
    // Unpacks the package whole into `tree` (the stage of the deploy); false
    // after telling the user which entry failed. No package at all: true. A
    // package continued from a part that fails is fetched whole once more.
    bool Unpack(const std::string& package, const std::string& shownName, const std::string& tree);
    // Whether there is something to unpack: `package`, or the changed entries of one.
    bool HasPackage(const std::string& package) const;
    // Once the configuration set is in `tree` too: what the next run compares with.
    void RecordDeploy(const std::string& tree);
    // Puts the staged tree in place; false after telling the user.
    bool Commit(DeployTransaction& deploy);
    // Starts the tool in the tree with `arguments`; false after telling the user.
    bool StartTool(const std::vector<std::string>& arguments);

  private:
    // Size, time and signature of `remoteName` in the current folder.
    DeployManifest DescribeOnServer(const std::string& remoteName);
    bool StillDeployed(const DeployManifest& onServer);
    // Fetches only the entries the tree does not hold, when the server describes them.
    bool FetchChangedEntries(const std::string& package);
    // Nothing when the package unpacked, else what went wrong (the first entry that failed).
    std::optional<std::string> Extract(const std::string& package, const std::string& tree);
    bool FetchWholeAgain(const std::string& package);
    // The whole package, into `stage` too when it can be unpacked as it arrives.
    bool FetchWhole(const std::string& package, const std::string& stage);
    std::function<bool(const ZipEntryInfo&)> KeepRule(const std::string& tree) const;
    void NoteUnpacked(const std::string& package, const std::string& tree);

    WorkflowContext& context_;
    std::string remoteName_;
    bool resumed_ = false;                    // the package continued an earlier part
    bool unpacked_ = false;                   // a package reached the stage
    bool streamed_ = false;                   // it did so while it arrived
    std::optional<DeployManifest> onServer_;  // set when the deploy is to be recorded
    std::optional<DeployManifest> record_;    // what the stage holds, to be recorded
    // A delta: the file holding the changed entries in their places, the rule
    // that chose them (the unpack keeps the same ones) and the content check.
    std::string delta_;
    std::function<bool(const ZipEntryInfo&)> keepForDelta_;
    ContentSinkFor deltaCheck_;
};

// Removes the parts of downloads other than `keep` (a package's local path)
// from the program folder: a part is continued only by the next run of its file.
void DropOtherParts(const std::string& keep);
// The local name of a package fetched from the server as `remoteName`: its own
// name when that is a plain file name, else `fallback`.
std::string LocalPackageName(const std::string& remoteName, const std::string& fallback);

// Starts a program unpacked by the launcher, making it executable first.
bool StartUnpacked(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace talvane::app
