#pragma once
// A whole package unpacked while it arrives: its end (central directory and end
// records) is fetched first, then the package in order into its part on a
// transfer thread of its own, while this thread unpacks each entry into the
// stage once its bytes are in the part. Nothing is put in the stage before the
// end that arrived is the one the unpack went by; the caller checks the
// signature before the stage goes live.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/workflow_context.h"
#include "zip/zip_reader.h"

namespace talvane::app {

class StreamedUnpack {
  public:
    explicit StreamedUnpack(WorkflowContext& context) : context_(context) {}

    struct Result {
        bool fetched = false;   // the package is whole at its path
        bool unpacked = false;  // and in the stage
    };
    // `remoteName` (`size` bytes, in the redistribution session's current folder)
    // to `package` and at once into `tree`, leaving the entries `keep` accepts as
    // they are. Nothing for a small package or when the server's end could not
    // be had: the caller fetches the package the usual way.
    std::optional<Result> Run(const std::string& package, const std::string& remoteName,
                              std::int64_t size, const std::string& tree,
                              const std::function<bool(const ZipEntryInfo&)>& keep);

  private:
    std::optional<std::string> FetchEnd(const std::string& package, const std::string& remoteName,
                                        std::int64_t size);
    std::optional<std::string> FetchFrom(const std::string& package, const std::string& remoteName,
                                         std::int64_t size, std::int64_t offset);

    WorkflowContext& context_;
};

}  // namespace talvane::app
