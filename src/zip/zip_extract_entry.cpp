#include "zip/zip_extract_entry.h"

#include "common/strings.h"
#include "zip/zip_names.h"

namespace talvane::zipimpl {

Outcome EntryPlacer::Prepare(const CentralEntry& entry, Job& job, const StagedKeys* staged,
                             const WaitFor& waitFor) {
    const auto parts = SplitSafeName(entry.name);
    if (!parts) {
        report_.Error(kZipErrUnsafeName, "Refused the entry " + WithSlashes(entry.name) +
                                             ": its name leads outside " + folder_);
        return Outcome::Refused;
    }
    const std::string& fileName = parts->back();
    std::string shownRel = WithSlashes(entry.name);
    if (!preservePath_) shownRel = fileName;
    const std::string shown = JoinForText(folder_, shownRel);
    const std::size_t depth = preservePath_ ? parts->size() - 1 : 0;
    // A file still on its way must be in place before a folder of that name is made.
    std::string key;
    for (std::size_t i = 0; i < depth; ++i) {
        key += ToLower((*parts)[i]);
        if (!waitFor(key)) return Outcome::Fatal;
        key += '/';
    }
    job.key = key + ToLower(fileName);

    const Outcome entered = EnterFolders(*parts, depth, shownRel, staged);
    if (entered != Outcome::Done) return entered;
    report_.Status("Extracting .../" + shownRel);
    const Outcome clear = CheckTarget(fileName, shown, job.key, staged);
    if (clear != Outcome::Done) return clear;
    return MakePart(entry, fileName, shown, job);
}

Outcome EntryPlacer::EnterFolders(const std::vector<std::string>& parts, std::size_t depth,
                                  const std::string& shownRel, const StagedKeys* staged) {
    std::string failedAt;
    switch (dest_.Enter(parts, depth, failedAt)) {
        case fileio::Destination::FolderResult::Ok:
            break;
        case fileio::Destination::FolderResult::Link:
            report_.Error(kZipErrUnsafeName, "Refused the entry " + shownRel +
                                                 ": it would be written through the link " +
                                                 JoinForText(folder_, failedAt));
            return Outcome::Refused;
        case fileio::Destination::FolderResult::Failed:
            report_.Error(kZipErrWriteFailed,
                          "Can't create the folder " + JoinForText(folder_, failedAt));
            return Outcome::Fatal;
    }
    // A waiting file where this entry has just made a folder would fail its rename:
    // refused now, as the folder would have been with the file in place.
    std::string prefix, shownPrefix;
    for (std::size_t i = 0; staged && i < depth; ++i) {
        prefix += ToLower(parts[i]);
        shownPrefix += (i ? "/" : "") + parts[i];
        const auto [from, to] = staged->equal_range(prefix);
        for (auto it = from; it != to; ++it) {
            if (!it->second->part->IsFolder(it->second->fileName)) continue;
            report_.Error(kZipErrWriteFailed,
                          "Can't create the folder " + JoinForText(folder_, shownPrefix));
            return Outcome::Fatal;
        }
        prefix += '/';
    }
    return Outcome::Done;
}

Outcome EntryPlacer::CheckTarget(const std::string& fileName, const std::string& shown,
                                 const std::string& key, const StagedKeys* staged) {
    // An existing file is never removed first: the checked new one replaces it.
    if (!overwrite_ && dest_.Exists(fileName)) {
        report_.Error(kZipErrExists, "The file " + shown + " already exists");
        return Outcome::Refused;
    }
    // What would stop the rename is found before any rename is made.
    if (staged) {
        if (dest_.IsFolder(fileName)) {
            report_.Error(kZipErrCantRemove, "Can't remove the file " + shown);
            return Outcome::Refused;
        }
        const auto [from, to] = staged->equal_range(key);
        for (auto it = from; !overwrite_ && it != to; ++it) {
            if (it->second->shown != shown) continue;
            report_.Error(kZipErrExists, "The file " + shown + " already exists");
            return Outcome::Refused;
        }
    }
    return Outcome::Done;
}

Outcome EntryPlacer::MakePart(const CentralEntry& entry, const std::string& fileName,
                              const std::string& shown, Job& job) {
    job.part = dest_.CreatePending(FileMode(entry.cr));
    if (!job.part) return WriteFailed(shown);
    const Outcome planned = planner_.Plan(entry, shown, job.plan);
    if (planned != Outcome::Done) {
        job.part.reset();
        return planned;
    }
    job.fileName = fileName;
    job.shown = shown;
    job.needsWork = true;
    return Outcome::Done;
}

Outcome EntryPlacer::WriteFailed(const std::string& shownName) {
    report_.Error(kZipErrWriteFailed, "Can't write the file " + shownName);
    return Outcome::Fatal;
}

Outcome EntryPlacer::Commit(Job& job, bool overwrite) {
    // An entry of the same name earlier in the archive may have landed meanwhile.
    if (!overwrite && job.part->Exists(job.fileName)) {
        report_.Error(kZipErrExists, "The file " + job.shown + " already exists");
        return Outcome::Refused;
    }
    if (!job.part->Commit(job.fileName)) {
        // The new file replaces the old one in a single rename; only something
        // that is not a file (a folder) can stand in its way.
        if (job.part->Exists(job.fileName)) {
            report_.Error(kZipErrCantRemove, "Can't remove the file " + job.shown);
            return Outcome::Refused;
        }
        return WriteFailed(job.shown);
    }
    return Outcome::Done;
}

}  // namespace talvane::zipimpl
