#include "app/deploy_transaction.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <map>
#include <sstream>
#include <utility>

#include "common/atomic_file.h"
#include "common/files.h"
#include "common/log.h"
#include "common/strings.h"

namespace talvane::app {

namespace {

using platform::Kind;
using platform::Links;

constexpr const char* kHeader = "talvane-deploy-journal 1";

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

bool Exists(const std::string& path) {
    return platform::PathKind(path, Links::Name) != Kind::None;
}

void RemoveIfThere(const std::string& path) {
    if (!Exists(path)) return;
    if (const int err = platform::RemoveTree(path))
        DPrint("could not remove " + path + ": " + platform::ErrorText(err));
}

std::optional<platform::PathId> IdOf(const std::string& path) {
    platform::PathId id;
    if (platform::IdentifyPath(path, id) != 0) return std::nullopt;
    return id;
}

std::string FormatId(const platform::PathId& id) {
    return std::to_string(id.volume) + " " + std::to_string(id.node);
}

std::optional<platform::PathId> ParseId(const std::string& text) {
    platform::PathId id;
    const char* end = text.data() + text.size();
    auto [mid, ec] = std::from_chars(text.data(), end, id.volume);
    if (ec != std::errc() || mid == end || *mid != ' ') return std::nullopt;
    auto [last, ec2] = std::from_chars(mid + 1, end, id.node);
    if (ec2 != std::errc() || last != end) return std::nullopt;
    return id;
}

// "key value" lines after the header; empty for a journal that is not one.
std::map<std::string, std::string> ReadJournal(const std::string& path) {
    std::string text;
    std::map<std::string, std::string> fields;
    if (!ReadWholeFile(path, text)) return fields;
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kHeader) return fields;
    while (std::getline(in, line)) {
        const std::size_t blank = line.find(' ');
        if (blank != std::string::npos) fields[line.substr(0, blank)] = line.substr(blank + 1);
    }
    return fields;
}

// The stage was complete: it becomes the tree unless it already is.
void FinishCommit(const std::string& tree, const std::string& stage, const std::string& old,
                  const platform::PathId& stageId) {
    if (IdOf(tree) == stageId) {
        DPrint("the deploy cut off last time was complete; its old tree is removed");
    } else if (IdOf(stage) == stageId) {
        DPrint("completing the deploy cut off last time");
        if (Exists(tree)) {
            RemoveIfThere(old);
            platform::RenamePath(tree, old);
        }
        if (const int err = platform::RenamePath(stage, tree))
            DPrint("the new tree could not be put in place: " + platform::ErrorText(err));
    } else if (!Exists(tree) && Exists(old)) {
        DPrint("the deploy cut off last time is undone");
        platform::RenamePath(old, tree);
    }
    if (IdOf(tree) != IdOf(stage)) RemoveIfThere(stage);
    if (Exists(tree)) RemoveIfThere(old);
}

}  // namespace

std::string DeployJournalPath(const std::string& journalFolder) {
    return JoinPath(journalFolder, "Talvane.deploying");
}

DeployTransaction::DeployTransaction(std::string tree, std::string journalFolder)
    : tree_(std::move(tree)),
      journalFolder_(std::move(journalFolder)),
      journal_(DeployJournalPath(journalFolder_)) {
    // The stage is a sibling of the folder the tree really is, on its volume.
    if (IsSymbolicLink(tree_)) {
        if (std::string real = ResolveLinks(tree_); !real.empty()) tree_ = real;
    }
    while (tree_.size() > 1 && tree_.back() == '/') tree_.pop_back();
    const std::size_t slash = tree_.rfind('/');
    const std::string parent = tree_.substr(0, slash == std::string::npos ? 0 : slash);
    const std::string name = tree_.substr(slash == std::string::npos ? 0 : slash + 1);
    stage_ = parent + "/." + name + ".talvane-stage";
    old_ = parent + "/." + name + ".talvane-old";
}

DeployTransaction::~DeployTransaction() {
    Discard();
}

void DeployTransaction::Recover(const std::string& journalFolder) {
    const std::string journal = DeployJournalPath(journalFolder);
    if (!DoesFileExist(journal)) return;
    auto fields = ReadJournal(journal);
    const std::string &tree = fields["tree"], &stage = fields["stage"], &old = fields["old"];
    if (tree.empty() || stage.empty() || old.empty()) {
        DPrint("the deploy journal " + journal + " is damaged; it is removed");
    } else if (fields["state"] == "commit" && ParseId(fields["id"])) {
        FinishCommit(tree, stage, old, *ParseId(fields["id"]));
    } else {
        DPrint("removing the stage of a deploy cut off last time");
        RemoveIfThere(stage);
        if (Exists(tree)) RemoveIfThere(old);
    }
    DeleteFileQuiet(journal);
}

bool DeployTransaction::WriteJournal(const char* state) {
    std::string text = std::string(kHeader) + "\nstate " + state + "\ntree " + tree_ + "\nstage " +
                       stage_ + "\nold " + old_ + "\n";
    if (stageId_) text += "id " + FormatId(*stageId_) + "\n";
    if (const auto written = WriteFileAtomically(journal_, text); !written) {
        DPrint("the deploy journal could not be written: " + written.error().message);
        return false;
    }
    return true;
}

void DeployTransaction::Begin() {
    Recover(journalFolder_);
    const auto start = std::chrono::steady_clock::now();
    if (MakeSureDirExists(tree_.substr(0, tree_.rfind('/'))) && WriteJournal("stage")) {
        open_ = true;
        // Left by a run that was killed before it could write its journal.
        RemoveIfThere(stage_);
        if (Exists(tree_)) RemoveIfThere(old_);
        if (Exists(tree_) ? CloneTree(tree_, stage_) : MakeSureDirExists(stage_)) {
            DPrint("staged the tool tree in " + std::to_string(MillisecondsSince(start)) + " ms");
            return;
        }
        Discard();
    }
    DPrint("no stage could be made beside " + tree_ + "; this deploy writes into the tree itself");
    inPlace_ = true;
    stage_ = tree_;
    MakeSureDirExists(tree_);
}

bool DeployTransaction::Commit(int& error) {
    error = 0;
    if (inPlace_) return true;
    if (!open_) return false;
    const auto start = std::chrono::steady_clock::now();
    stageId_ = IdOf(stage_);
    if (!stageId_ || !WriteJournal("commit")) {
        Discard();
        return false;
    }
    if (!Exists(tree_)) {
        error = platform::RenamePath(stage_, tree_);
    } else if ((error = platform::ExchangePaths(tree_, stage_)) == ENOSYS) {
        // Two renames; a cut between them is finished by the next start.
        error = platform::RenamePath(tree_, old_);
        if (error == 0 && (error = platform::RenamePath(stage_, tree_)) != 0)
            platform::RenamePath(old_, tree_);
    }
    if (error != 0) {
        DPrint("the tool tree " + tree_ + " could not be replaced: " + platform::ErrorText(error));
        stageId_.reset();
        Discard();
        return false;
    }
    open_ = false;
    // After an exchange the stage's name holds the old tree.
    RemoveIfThere(stage_);
    RemoveIfThere(old_);
    DeleteFileQuiet(journal_);
    DPrint("replaced the tool tree and removed the old one in " +
           std::to_string(MillisecondsSince(start)) + " ms");
    return true;
}

void DeployTransaction::Discard() {
    if (!open_) return;
    open_ = false;
    RemoveIfThere(stage_);
    DeleteFileQuiet(journal_);
}

}  // namespace talvane::app
