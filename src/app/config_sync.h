#pragma once
// Configuration sync: fetch the subscriber's set and the definitions, decrypt
// them with 7-Zip beside the program, move their folders into the tool tree,
// clean up.
#include <string>
#include <utility>

#include "app/seven_zip.h"
#include "app/workflow_context.h"

namespace talvane::app {

class ConfigSync {
  public:
    enum class Result {
        Deployed,     // this run's set brought the tool's settings into the tree
        NotDeployed,  // fetched or decrypted nothing usable; the tree's config is as it was
        NoSevenZip,   // no 7-Zip to decrypt with; see SevenZip() for why
    };

    // `tree`: where the set's folders go (the stage of the deploy).
    ConfigSync(WorkflowContext& context, std::string tree)
        : context_(context), tree_(std::move(tree)), sevenZip_(context) {}

    // `configName` empty: the stored default, else "Default".
    Result Run(const Credentials& credentials, std::string configName);
    const SevenZipSupply& SevenZip() const { return sevenZip_; }
    // The tool's whole configuration is in place after a run that gave `result`:
    // the set, and the definitions unless their archive was refused.
    bool Complete(Result result) const {
        return result == Result::Deployed && !definitionsRefused_;
    }
    SevenZipSupply::State SevenZipState() const { return sevenZipState_; }

  private:
    // The name of the set fetched (an account from before sets has one of its own).
    std::string FetchArchives(const Credentials& credentials, std::string configName);
    bool IsEncryptedSet(const std::string& scratch, const std::string& zipPassword,
                        const std::string& configName);
    bool Decrypt(const std::string& scratch, const std::string& zipPassword,
                 const std::string& configName);
    bool MoveIntoTree(const std::string& scratch);
    void DeployDefinitions(const std::string& scratch);
    void ShowStatus(const std::string& label);

    WorkflowContext& context_;
    std::string tree_;
    SevenZipSupply sevenZip_;
    SevenZipSupply::State sevenZipState_ = SevenZipSupply::State::Ready;
    bool refusalShown_ = false;  // a second attempt on the same set only logs it
    bool definitionsRefused_ = false;
};

}  // namespace talvane::app
