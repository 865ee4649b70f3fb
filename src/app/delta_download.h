#pragma once
// A new version of the package fetched as the entries that changed. With the
// package's entry manifest on the server (signed, when a key is set) and an
// earlier deploy in the tool tree, only the spans of entries the tree does not
// hold arrive, with the central directory, each in its place in a file of the
// package's size; the unpack reads nothing else from it and checks every entry
// it writes against the manifest's hash.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/workflow_context.h"
#include "net/ftp_session.h"
#include "zip/zip_entries.h"

namespace talvane::app {

// What to fetch: the directory, and the spans of the entries `keep` does not
// keep, neighbours closer than a join gap fetched as one.
struct DeltaPlan {
    net::ByteRange directory;
    std::vector<net::ByteRange> ranges;
    std::size_t files = 0;   // entries fetched
    std::int64_t bytes = 0;  // the directory and all ranges
};
DeltaPlan PlanDelta(const EntryManifest& manifest,
                    const std::function<bool(const ZipEntryInfo&)>& keep);

class DeltaDownload {
  public:
    explicit DeltaDownload(WorkflowContext& context) : context_(context) {}

    // In the current folder of the open FTP session: `remoteName` (of
    // `serverSize` bytes, `signature` its .minisig when a key is set) fetched as
    // its changed entries into `target`. False, with `target` removed and the
    // reason logged, when the whole package must be fetched instead.
    bool Fetch(const std::string& remoteName, std::int64_t serverSize, const std::string& signature,
               const std::function<bool(const ZipEntryInfo&)>& keep, const std::string& target);
    // After a Fetch: what each unpacked entry's content must be.
    ContentSinkFor ContentCheck() const;

  private:
    std::optional<EntryManifest> FetchManifest(const std::string& remoteName,
                                               std::int64_t serverSize,
                                               const std::string& signature);

    WorkflowContext& context_;
    std::optional<EntryManifest> manifest_;
};

// Where a delta of `package` is put together.
std::string DeltaPath(const std::string& package);

}  // namespace talvane::app
