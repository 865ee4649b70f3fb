#pragma once
// The workers of an extraction and the jobs they are handed: one per file entry.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/file_io.h"
#include "zip/zip_inflate.h"
#include "zip/zip_reader.h"
#include "zip/zip_report.h"

namespace talvane::zipimpl {

// One file entry of an extraction, from its header checks to its commit.
struct Job {
    std::vector<Event> events;  // raised when the entry's turn comes
    EntryPlan plan;
    std::unique_ptr<fileio::PendingFile> part;
    std::unique_ptr<ContentSink> content;  // must accept the data before the commit
    std::string fileName, shown, key;      // key: lower-case path below the destination
    Outcome outcome = Outcome::Done;
    bool needsWork = false;
    bool seal = false;  // the part waits, handles closed, for the whole archive
    bool done = false;  // guarded by the pool's mutex once submitted
};

// Sealed parts of a whole extraction by key, for the checks later entries need.
using StagedKeys = std::unordered_multimap<std::string, const Job*>;

// One worker per core fills part files; the owner hands jobs over in archive order,
// at most a bounded number ahead, and takes them back in the same order.
class ExtractPool {
  public:
    ExtractPool(const ArchiveFile& file, const std::string& path, unsigned workers);
    ~ExtractPool();
    ExtractPool(const ExtractPool&) = delete;
    ExtractPool& operator=(const ExtractPool&) = delete;

    void Submit(Job* job);
    bool WaitFor(Job* job, std::chrono::milliseconds wait);
    // Jobs not started yet are given back undone.
    void DropQueued();

  private:
    void Run(const ArchiveFile& file, const std::string& path);

    std::mutex mutex_;
    std::condition_variable work_, done_;
    std::deque<Job*> queue_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace talvane::zipimpl
