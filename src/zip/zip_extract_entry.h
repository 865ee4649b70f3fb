#pragma once
// Where one file entry of an extraction lands, settled on the owner's thread in
// archive order: its name, its folders, what stands in its way and its part file;
// once a worker has filled the part, its commit.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "zip/zip_extract_pool.h"
#include "zip/zip_format.h"
#include "zip/zip_inflate.h"
#include "zip/zip_report.h"

namespace talvane::zipimpl {

class EntryPlacer {
  public:
    // Takes back every earlier entry written to `key`; false: the extraction stops.
    using WaitFor = std::function<bool(const std::string& key)>;

    EntryPlacer(Reporter& report, fileio::Destination& dest, EntryPlanner& planner,
                const std::string& folder, bool preservePath, bool overwrite)
        : report_(report),
          dest_(dest),
          planner_(planner),
          folder_(folder),
          preservePath_(preservePath),
          overwrite_(overwrite) {}

    // Everything about one entry that must happen in archive order; the data is left
    // to a worker. `staged`: the parts of a whole extraction still waiting, which
    // nothing may later stand in the way of (null when each entry commits at once).
    Outcome Prepare(const CentralEntry& entry, Job& job, const StagedKeys* staged,
                    const WaitFor& waitFor);
    // Puts a filled part in place, or says why it cannot be.
    Outcome Commit(Job& job, bool overwrite);

  private:
    Outcome EnterFolders(const std::vector<std::string>& parts, std::size_t depth,
                         const std::string& shownRel, const StagedKeys* staged);
    Outcome CheckTarget(const std::string& fileName, const std::string& shown,
                        const std::string& key, const StagedKeys* staged);
    Outcome MakePart(const CentralEntry& entry, const std::string& fileName,
                     const std::string& shown, Job& job);
    Outcome WriteFailed(const std::string& shownName);

    Reporter& report_;
    fileio::Destination& dest_;
    EntryPlanner& planner_;
    const std::string& folder_;
    const bool preservePath_;
    const bool overwrite_;
};

}  // namespace talvane::zipimpl
