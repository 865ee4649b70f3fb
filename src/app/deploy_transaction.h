#pragma once
// A deploy changes the tool tree in one step: the new tree is put together
// beside the live one (files the run does not change are second names of the
// live ones) and then takes its place. A journal in the program folder lets the
// next start finish or undo a step that was cut off, so the tree is always
// wholly the old or wholly the new version.
#include <optional>
#include <string>

#include "platform/platform.h"

namespace talvane::app {

class DeployTransaction {
  public:
    // `tree`: the live tool tree; `journalFolder`: where the journal is kept.
    DeployTransaction(std::string tree, std::string journalFolder);
    ~DeployTransaction();  // an uncommitted stage is removed
    DeployTransaction(const DeployTransaction&) = delete;
    DeployTransaction& operator=(const DeployTransaction&) = delete;

    // Finishes (or undoes) whatever a cut-off run left, per its journal.
    static void Recover(const std::string& journalFolder);

    // Builds the stage from the live tree. Where none can be made beside it (a
    // folder that takes no new entries), the deploy writes into the tree itself.
    void Begin();
    // Where this run writes the new tree.
    const std::string& Stage() const { return stage_; }
    const std::string& Tree() const { return tree_; }
    // The deploy writes into the live tree (no stage could be made).
    bool InPlace() const { return inPlace_; }
    // Puts the stage in place of the tree; false (the tree as it was) when the
    // tree could not be moved, with the system's error in `error`.
    bool Commit(int& error);
    void Discard();

  private:
    bool WriteJournal(const char* state);

    std::string tree_;
    std::string journalFolder_;
    std::string stage_;
    std::string old_;
    std::string journal_;
    std::optional<platform::PathId> stageId_;
    bool open_ = false;
    bool inPlace_ = false;
};

// The journal's name in the program folder.
std::string DeployJournalPath(const std::string& journalFolder);

}  // namespace talvane::app
