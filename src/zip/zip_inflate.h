#pragma once
// One entry's data: its local header checked and its size charged to the walk's
// budget, then its bytes read, inflated when deflated, sized and CRC-checked on
// their way to a sink.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "zip/zip_directory.h"
#include "zip/zip_format.h"
#include "zip/zip_report.h"

struct libdeflate_decompressor;

namespace talvane::zipimpl {

// What became of one entry.
enum class Outcome { Done, Refused, Fatal };

// Where an entry's bytes go: a file beside its target, or memory.
class EntrySink {
  public:
    virtual ~EntrySink() = default;
    virtual bool Put(const void* data, std::size_t len) = 0;
};

class PartSink : public EntrySink {
  public:
    explicit PartSink(fileio::PendingFile& part) : part_(part) {}
    bool Put(const void* data, std::size_t len) override { return part_.Write(data, len); }

  private:
    fileio::PendingFile& part_;
};

class MemorySink : public EntrySink {
  public:
    explicit MemorySink(std::string& out) : out_(out) {}
    bool Put(const void* data, std::size_t len) override {
        out_.append(static_cast<const char*>(data), len);
        return true;
    }

  private:
    std::string& out_;
};

// Where a checked entry's data lies and what it must yield.
struct EntryPlan {
    long long pos = 0, compSize = 0;
    std::uint64_t declared = 0;
    std::uint32_t crc = 0;
    std::uint16_t method = 0;
};

// Checks each entry's local header before a byte of its data is read, and keeps a
// walk within what the archive's size can honestly unpack to.
class EntryPlanner {
  public:
    EntryPlanner(const Archive& archive, Reporter& report) : archive_(archive), report_(report) {}

    // A new walk starts with the whole budget.
    void Reset();
    Outcome Plan(const CentralEntry& entry, const std::string& shownName, EntryPlan& plan);

  private:
    const Archive& archive_;
    Reporter& report_;
    long long limit_ = 0;   // bytes a walk may produce in all
    long long budget_ = 0;  // bytes the running walk may still produce
};

// Grows only; never zero-fills (every byte used is read or inflated first).
struct Buffer {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
    unsigned char* Reserve(std::size_t n);
};

// Reads and checks one entry's data after its header was accepted. One per thread:
// it owns its buffers and collects its errors for the caller to raise.
class EntryProducer {
  public:
    EntryProducer(const ArchiveFile& file, const std::string& path) : file_(file), path_(path) {}
    EntryProducer(const EntryProducer&) = delete;
    EntryProducer& operator=(const EntryProducer&) = delete;

    std::vector<Event> events;

    Outcome Produce(const EntryPlan& plan, const std::string& shown, EntrySink* out, bool checkCrc);

  private:
    struct DecompressorFree {
        void operator()(libdeflate_decompressor* d) const;
    };

    Outcome Fail(long number, std::string text, Outcome outcome);
    Outcome ReadFailed(const std::string& shown);
    Outcome WriteFailed(const std::string& shown);
    Outcome ChecksumError(const std::string& shown);
    std::optional<Outcome> InflateWhole(const EntryPlan& plan, const std::string& shown,
                                        EntrySink* out);
    void EnsureBuffers();
    Outcome CopyStored(long long pos, long long size, std::uint32_t expectedCrc,
                       const std::string& shown, EntrySink* out, bool checkCrc);
    Outcome InflateStream(long long pos, long long remaining, std::uint64_t declared,
                          std::uint32_t expectedCrc, const std::string& shown, EntrySink* out);

    const ArchiveFile& file_;
    const std::string& path_;
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> whole_;
    Buffer packed_, unpacked_, inBuf_, outBuf_;
};

}  // namespace talvane::zipimpl
