#include "zip/zip_reader.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/event_pump.h"
#include "common/files.h"
#include "common/log.h"
#include "common/strings.h"
#include "platform/file_io.h"
#include "zip/zip_format.h"
#include "zip/zip_zlib.h"

namespace talvane {

using zipfmt::CentralRecord;
using zipfmt::EndRecord;
using zipfmt::LocalHeader;

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
// Entries up to this size, packed and unpacked, are inflated whole by libdeflate
// (about twice zlib's speed); larger ones stream through zlib in kBufferSize steps.
// A worker so holds at most 2 * kWholeEntryMax + 2 * kBufferSize.
constexpr long long kWholeEntryMax = 4 * 1024 * 1024;
// Entries an extraction keeps ahead of the one being committed, per worker.
constexpr std::size_t kAheadPerWorker = 4;
constexpr std::size_t kMaxAhead = 16;
// The end record plus the longest comment it can carry.
constexpr long long kTailSize =
    static_cast<long long>(zipfmt::kEndSize) + static_cast<long long>(zipfmt::kMaxComment);
// Deflate cannot expand its input more than about 1032 times, so an archive
// never honestly unpacks to more than this many times its own size.
constexpr long long kMaxExpansion = 1032;

// i / total * 100, rounded to the nearest whole number, halves to even.
long RoundedPercent(long long i, long long total) {
    if (total <= 0) return 0;
    const long long num = i * 100;
    long long q = num / total;
    const long long twice = 2 * (num % total);
    if (twice > total || (twice == total && (q % 2) != 0)) ++q;
    return static_cast<long>(q);
}

std::string JoinForText(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string WithSlashes(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// Splits an entry name at '/' and '\'. Empty and "." components are dropped.
// nullopt for names that could land outside the destination or are no file name:
// a leading separator, a drive letter, a ".." component, a NUL byte, no last component.
std::optional<std::vector<std::string>> SplitSafeName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.front() == '\\') return std::nullopt;
    if (name.size() >= 2 && name[1] == ':') return std::nullopt;
    if (name.find('\0') != std::string::npos) return std::nullopt;
    const char last = name.back();
    if (last == '/' || last == '\\') return std::nullopt;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        start = end + 1;
    }
    if (parts.empty()) return std::nullopt;
    return parts;
}

// Permission bits for a new file: the recorded Unix bits without set-id, sticky or
// group/other write; otherwise the default. The process umask applies on top.
unsigned FileMode(const CentralRecord& cr) {
    const unsigned host = cr.versionMadeBy >> 8;
    const unsigned bits = (cr.externalAttr >> 16) & 0777u;
    if (host == zipfmt::kHostUnix && bits != 0) return bits & ~022u;
    return 0644;
}

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

// A status line (number 0) or an error, held until its entry's turn comes.
struct Event {
    long number;
    std::string text;
};

// Where a checked entry's data lies and what it must yield.
struct EntryPlan {
    long long pos = 0, compSize = 0;
    std::uint32_t declared = 0, crc = 0;
    std::uint16_t method = 0;
};

// Grows only; never zero-fills (every byte used is read or inflated first).
struct Buffer {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
    unsigned char* Reserve(std::size_t n) {
        if (n > size || !data) {
            data.reset(new unsigned char[std::max<std::size_t>(n, 1)]);
            size = n;
        }
        return data.get();
    }
};

// Reads and checks one entry's data after its header was accepted. One per thread:
// it owns its buffers and collects its errors for the caller to raise.
class EntryProducer {
  public:
    EntryProducer(const fileio::ReadOnlyFile& file, const std::string& path)
        : file_(file), path_(path) {}
    ~EntryProducer() {
        if (whole_) libdeflate_free_decompressor(whole_);
    }
    EntryProducer(const EntryProducer&) = delete;
    EntryProducer& operator=(const EntryProducer&) = delete;

    std::vector<Event> events;

    Outcome Produce(const EntryPlan& plan, const std::string& shown, EntrySink* out,
                    bool checkCrc) {
        if (plan.method == zipfmt::kMethodStored)
            return CopyStored(plan.pos, plan.compSize, plan.crc, shown, out, checkCrc);
        if (plan.declared <= kWholeEntryMax && plan.compSize <= kWholeEntryMax) {
            if (auto done = InflateWhole(plan, shown, out)) return *done;
        }
        return InflateStream(plan.pos, plan.compSize, plan.declared, plan.crc, shown, out);
    }

  private:
    Outcome Fail(long number, std::string text, Outcome outcome) {
        events.push_back({number, std::move(text)});
        return outcome;
    }
    Outcome ReadFailed(const std::string& shown) {
        return Fail(kZipErrDamaged, "Can't read the data of " + shown + " from " + path_,
                    Outcome::Refused);
    }
    Outcome WriteFailed(const std::string& shown) {
        return Fail(kZipErrWriteFailed, "Can't write the file " + shown, Outcome::Fatal);
    }
    Outcome ChecksumError(const std::string& shown) {
        return Fail(kZipErrChecksum, "Data checksum error in " + shown, Outcome::Refused);
    }

    // The whole entry in one call; nullopt when the data is anything but exactly
    // what was declared: the streaming path then names the fault as it always has.
    std::optional<Outcome> InflateWhole(const EntryPlan& plan, const std::string& shown,
                                        EntrySink* out) {
        if (!whole_ && (whole_ = libdeflate_alloc_decompressor()) == nullptr) return std::nullopt;
        const auto compSize = static_cast<std::size_t>(plan.compSize);
        unsigned char* in = packed_.Reserve(compSize);
        if (file_.ReadAt(in, compSize, plan.pos) != plan.compSize) return std::nullopt;
        unsigned char* data = unpacked_.Reserve(plan.declared);
        std::size_t got = 0;
        if (libdeflate_deflate_decompress(whole_, in, compSize, data, plan.declared, &got) !=
                LIBDEFLATE_SUCCESS ||
            got != plan.declared)
            return std::nullopt;
        if (libdeflate_crc32(0, data, got) != plan.crc) return ChecksumError(shown);
        if (out && !out->Put(data, got)) return WriteFailed(shown);
        return Outcome::Done;
    }

    void EnsureBuffers() {
        inBuf_.Reserve(kBufferSize);
        outBuf_.Reserve(kBufferSize);
    }

    Outcome CopyStored(long long pos, long long size, std::uint32_t expectedCrc,
                       const std::string& shown, EntrySink* out, bool checkCrc) {
        EnsureBuffers();
        std::uint32_t crc = 0;
        while (size > 0) {
            const auto want = static_cast<std::size_t>(
                std::min<long long>(size, static_cast<long long>(kBufferSize)));
            const long long n = file_.ReadAt(inBuf_.data.get(), want, pos);
            if (n != static_cast<long long>(want)) return ReadFailed(shown);
            if (checkCrc) crc = libdeflate_crc32(crc, inBuf_.data.get(), want);
            if (out && !out->Put(inBuf_.data.get(), want)) return WriteFailed(shown);
            pos += n;
            size -= n;
        }
        if (checkCrc && crc != expectedCrc) return ChecksumError(shown);
        return Outcome::Done;
    }

    Outcome InflateStream(long long pos, long long remaining, std::uint32_t declared,
                          std::uint32_t expectedCrc, const std::string& shown, EntrySink* out) {
        zipfmt::RawZStream inf(zipfmt::RawZStream::Mode::Inflate);
        if (!inf.Ok()) return Fail(kZipErrNoZlib, "Zlib is not installed", Outcome::Fatal);
        EnsureBuffers();
        unsigned char* inBuf = inBuf_.data.get();
        unsigned char* outBuf = outBuf_.data.get();
        z_stream& zs = inf.Stream();
        std::uint32_t crc = 0;
        unsigned long long produced = 0;
        for (;;) {
            if (zs.avail_in == 0 && remaining > 0) {
                const auto want = static_cast<std::size_t>(
                    std::min<long long>(remaining, static_cast<long long>(kBufferSize)));
                const long long n = file_.ReadAt(inBuf, want, pos);
                if (n != static_cast<long long>(want)) return ReadFailed(shown);
                pos += n;
                remaining -= n;
                zs.next_in = inBuf;
                zs.avail_in = static_cast<uInt>(n);
            }
            zs.next_out = outBuf;
            zs.avail_out = static_cast<uInt>(kBufferSize);
            const int rc = inflate(&zs, Z_NO_FLUSH);
            const std::size_t have = kBufferSize - zs.avail_out;
            if (have > 0) {
                produced += have;
                if (produced > declared)
                    return Fail(kZipErrSizeMismatch,
                                "The entry " + shown + " inflates to more than its " +
                                    std::to_string(declared) + " bytes",
                                Outcome::Refused);
                crc = libdeflate_crc32(crc, outBuf, have);
                if (out && !out->Put(outBuf, have)) return WriteFailed(shown);
            }
            if (rc == Z_STREAM_END) break;
            if (rc == Z_OK) continue;
            if (rc == Z_BUF_ERROR && (zs.avail_in > 0 || remaining > 0)) continue;
            return ChecksumError(shown);  // corrupt or cut-short deflate data
        }
        if (produced != declared)
            return Fail(kZipErrSizeMismatch,
                        "The entry " + shown + " inflates to " + std::to_string(produced) +
                            " bytes, not " + std::to_string(declared),
                        Outcome::Refused);
        if (crc != expectedCrc) return ChecksumError(shown);
        return Outcome::Done;
    }

    const fileio::ReadOnlyFile& file_;
    const std::string& path_;
    libdeflate_decompressor* whole_ = nullptr;
    Buffer packed_, unpacked_, inBuf_, outBuf_;
};

// One file entry of an extraction, from its header checks to its commit.
struct Job {
    std::vector<Event> events;  // raised when the entry's turn comes
    EntryPlan plan;
    std::unique_ptr<fileio::PendingFile> part;
    std::string fileName, shown, key;  // key: lower-case path below the destination
    Outcome outcome = Outcome::Done;
    bool needsWork = false;
    bool seal = false;  // the part waits, handles closed, for the whole archive
    bool done = false;  // guarded by the pool's mutex once submitted
};

// Sealed parts of a whole extraction by key, for the checks later entries need.
using StagedKeys = std::unordered_multimap<std::string, const Job*>;

bool ReportsError(const std::vector<Event>& events) {
    return std::any_of(events.begin(), events.end(), [](const Event& e) { return e.number != 0; });
}

// One worker per core fills part files; the owner hands jobs over in archive order,
// at most a bounded number ahead, and takes them back in the same order.
class ExtractPool {
  public:
    ExtractPool(const fileio::ReadOnlyFile& file, const std::string& path, unsigned workers) {
        for (unsigned i = 0; i < workers; ++i)
            threads_.emplace_back([this, &file, &path] { Run(file, path); });
    }
    ~ExtractPool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        work_.notify_all();
        for (auto& t : threads_) t.join();
    }
    ExtractPool(const ExtractPool&) = delete;
    ExtractPool& operator=(const ExtractPool&) = delete;

    void Submit(Job* job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(job);
        }
        work_.notify_one();
    }
    bool WaitFor(Job* job, std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        return done_.wait_for(lock, wait, [job] { return job->done; });
    }
    // Jobs not started yet are given back undone.
    void DropQueued() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Job* job : queue_) job->done = true;
        queue_.clear();
    }

  private:
    void Run(const fileio::ReadOnlyFile& file, const std::string& path) {
        EntryProducer producer(file, path);
        for (;;) {
            Job* job = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
                if (queue_.empty()) return;
                job = queue_.front();
                queue_.pop_front();
            }
            PartSink sink(*job->part);
            job->outcome = producer.Produce(job->plan, job->shown, &sink, true);
            for (auto& e : producer.events) job->events.push_back(std::move(e));
            producer.events.clear();
            if (job->seal && job->outcome == Outcome::Done && !job->part->Seal()) {
                job->events.push_back({kZipErrWriteFailed, "Can't write the file " + job->shown});
                job->outcome = Outcome::Fatal;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                job->done = true;
            }
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable work_, done_;
    std::deque<Job*> queue_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace

struct ZipExtractionClass::Impl {
    explicit Impl(ZipExtractionClass& o) : owner(o) {}

    ZipExtractionClass& owner;
    fileio::ReadOnlyFile file;
    fileio::Destination dest;
    std::string path;
    long long endPosition = 0;  // 1-based position of the end record; 0: none open
    long long fileSize = 0;
    long long budget = 0;                // bytes the running walk may still produce
    EntryProducer producer{file, path};  // for entries read on this thread
    std::vector<Event>* held = nullptr;  // when set, events wait here for their turn

    void RaiseStatus(const std::string& text) {
        if (held)
            held->push_back({0, text});
        else if (owner.Status)
            owner.Status(text);
    }
    void RaiseError(long number, const std::string& text) {
        if (held)
            held->push_back({number, text});
        else if (owner.ZipError)
            owner.ZipError(number, text);
    }
    void Raise(std::vector<Event>& events) {
        for (const Event& e : events) {
            if (e.number == 0)
                RaiseStatus(e.text);
            else
                RaiseError(e.number, e.text);
        }
        events.clear();
    }

    // The signature nearest the end whose record ends exactly at the end of the file;
    // when none does, the nearest one at all. 0 when there is none.
    long long FindEndRecord() {
        if (fileSize < 4) return 0;
        const long long tailStart = std::max(0LL, fileSize - kTailSize);
        std::vector<unsigned char> tail(static_cast<std::size_t>(fileSize - tailStart));
        if (file.ReadAt(tail.data(), tail.size(), tailStart) != static_cast<long long>(tail.size()))
            return 0;
        long long nearest = 0;
        for (long long i = static_cast<long long>(tail.size()) - 4; i >= 0; --i) {
            const unsigned char* p = tail.data() + i;
            if (zipfmt::Get32(p) != zipfmt::kEndSig) continue;
            if (nearest == 0) nearest = tailStart + i + 1;
            const long long avail = static_cast<long long>(tail.size()) - i;
            if (avail >= static_cast<long long>(zipfmt::kEndSize) &&
                i + static_cast<long long>(zipfmt::kEndSize) + zipfmt::Get16(p + 20) ==
                    static_cast<long long>(tail.size()))
                return tailStart + i + 1;
        }
        return nearest;
    }

    bool ReadEnd(EndRecord& out) {
        unsigned char b[zipfmt::kEndSize];
        if (file.ReadAt(b, sizeof b, endPosition - 1) != static_cast<long long>(sizeof b))
            return false;
        out = EndRecord::Parse(b);
        return true;
    }

    void RaiseDamaged(long long index) {
        if (index == 0) {
            RaiseError(kZipErrDamaged, "The end record of " + path + " is cut short");
            return;
        }
        RaiseError(kZipErrDamaged, "The central directory of " + path + " is damaged at entry " +
                                       std::to_string(index));
    }

    // Reads the central record at `pos`; false when it is cut short or not a central record.
    bool ReadCentral(long long& pos, CentralRecord& cr, std::string& name) {
        unsigned char b[zipfmt::kCentralSize];
        if (file.ReadAt(b, sizeof b, pos) != static_cast<long long>(sizeof b)) return false;
        cr = CentralRecord::Parse(b);
        if (cr.signature != zipfmt::kCentralSig) return false;
        name.assign(cr.nameLength, '\0');
        if (cr.nameLength > 0 && file.ReadAt(name.data(), name.size(), pos + 46) != cr.nameLength)
            return false;
        pos += static_cast<long long>(zipfmt::kCentralSize) + cr.nameLength + cr.extraLength +
               cr.commentLength;
        return pos <= fileSize;
    }

    // Streams one entry's data into `out` (or nowhere when out is null), checking what it must.
    Outcome StreamEntry(const CentralRecord& cr, const std::string& shownName, EntrySink* out,
                        bool checkStored) {
        EntryPlan plan;
        Outcome outcome = PlanEntry(cr, shownName, plan);
        if (outcome != Outcome::Done) return outcome;
        outcome = producer.Produce(plan, shownName, out, checkStored);
        Raise(producer.events);
        return outcome;
    }

    // Checks an entry's local header and charges the walk's budget.
    Outcome PlanEntry(const CentralRecord& cr, const std::string& shownName, EntryPlan& plan) {
        unsigned char hb[zipfmt::kLocalSize];
        const long long localPos = cr.localOffset;
        const long long got = file.ReadAt(hb, sizeof hb, localPos);
        if (got != static_cast<long long>(sizeof hb)) {
            if (got >= 4 && zipfmt::Get32(hb) != zipfmt::kLocalSig) return Outcome::Refused;
            RaiseError(kZipErrDamaged,
                       "The data of " + shownName + " lies beyond the end of " + path);
            return Outcome::Refused;
        }
        LocalHeader lh = LocalHeader::Parse(hb);
        if (lh.signature != zipfmt::kLocalSig) return Outcome::Refused;  // silently, as ever
        // Streamed archives leave these to the central record.
        if (lh.flags & zipfmt::kFlagDataDescriptor) {
            lh.crc = cr.crc;
            lh.compressedSize = cr.compressedSize;
        }
        const long long dataPos =
            localPos + static_cast<long long>(zipfmt::kLocalSize) + lh.nameLength + lh.extraLength;
        const long long compSize = lh.compressedSize;

        if (cr.method != zipfmt::kMethodStored && cr.method != zipfmt::kMethodDeflated) {
            std::string localName(lh.nameLength, '\0');
            const long long n = file.ReadAt(localName.data(), localName.size(), localPos + 30);
            localName.resize(static_cast<std::size_t>(std::max(0LL, n)));
            RaiseError(kZipErrMethod,
                       "The compression Method for " + localName + " is unsupported");
            return Outcome::Refused;
        }
        // Encrypted data cannot be read without the password: a stored entry would
        // otherwise be written out scrambled, with no check to notice.
        if ((cr.flags | lh.flags) & zipfmt::kFlagEncrypted) {
            RaiseError(kZipErrEncrypted, "The file " + shownName + " is encrypted");
            return Outcome::Refused;
        }
        if (compSize == 0) {
            RaiseError(kZipErrDamaged, "The archive " + path + " holds no data for " + shownName);
            return Outcome::Fatal;
        }
        if (dataPos + compSize > fileSize) {
            RaiseError(kZipErrDamaged,
                       "The data of " + shownName + " lies beyond the end of " + path);
            return Outcome::Refused;
        }
        // Only lies about sizes can exhaust the budget; each entry is charged
        // before a byte of it is produced.
        const long long yield = cr.method == zipfmt::kMethodStored
                                    ? compSize
                                    : static_cast<long long>(cr.uncompressedSize);
        if (yield > budget) {
            RaiseError(kZipErrSizeMismatch,
                       "The entry " + shownName + " would take " + path + " past " +
                           std::to_string(kMaxExpansion * fileSize) +
                           " bytes unpacked, more than its size allows (possible zip bomb)");
            return Outcome::Refused;
        }
        budget -= yield;
        plan = {dataPos, compSize, cr.uncompressedSize, lh.crc, cr.method};
        return Outcome::Done;
    }

    Outcome WriteFailed(const std::string& shownName) {
        RaiseError(kZipErrWriteFailed, "Can't write the file " + shownName);
        return Outcome::Fatal;
    }

    // Puts a filled part in place, or says why it cannot be.
    Outcome CommitPart(Job& job, bool overwrite) {
        // An entry of the same name earlier in the archive may have landed meanwhile.
        if (!overwrite && job.part->Exists(job.fileName)) {
            RaiseError(kZipErrExists, "The file " + job.shown + " already exists");
            return Outcome::Refused;
        }
        if (!job.part->Commit(job.fileName)) {
            // The new file replaces the old one in a single rename; only something
            // that is not a file (a folder) can stand in its way.
            if (job.part->Exists(job.fileName)) {
                RaiseError(kZipErrCantRemove, "Can't remove the file " + job.shown);
                return Outcome::Refused;
            }
            return WriteFailed(job.shown);
        }
        return Outcome::Done;
    }

    // Everything about one entry that must happen in archive order: its name, its
    // folders, its header, its budget and its part file. The data is left to a worker.
    // `waitFor` first takes back every earlier entry written to `key`. `staged`: the
    // parts of a whole extraction still waiting, which nothing may later stand in the
    // way of.
    template <typename WaitFor>
    Outcome PrepareOne(const CentralRecord& cr, const std::string& rawName,
                       const std::string& folder, bool preservePath, bool overwrite, Job& job,
                       const StagedKeys* staged, WaitFor&& waitFor) {
        const auto parts = SplitSafeName(rawName);
        if (!parts) {
            RaiseError(kZipErrUnsafeName, "Refused the entry " + WithSlashes(rawName) +
                                              ": its name leads outside " + folder);
            return Outcome::Refused;
        }
        const std::string& fileName = parts->back();
        std::string shownRel = WithSlashes(rawName);
        if (!preservePath) shownRel = fileName;
        const std::string shown = JoinForText(folder, shownRel);
        const std::size_t depth = preservePath ? parts->size() - 1 : 0;
        // A file still on its way must be in place before a folder of that name is made.
        std::string key;
        for (std::size_t i = 0; i < depth; ++i) {
            key += ToLower((*parts)[i]);
            if (!waitFor(key)) return Outcome::Fatal;
            key += '/';
        }
        job.key = key + ToLower(fileName);

        std::string failedAt;
        switch (dest.Enter(*parts, depth, failedAt)) {
            case fileio::Destination::FolderResult::Ok:
                break;
            case fileio::Destination::FolderResult::Link:
                RaiseError(kZipErrUnsafeName, "Refused the entry " + shownRel +
                                                  ": it would be written through the link " +
                                                  JoinForText(folder, failedAt));
                return Outcome::Refused;
            case fileio::Destination::FolderResult::Failed:
                RaiseError(kZipErrWriteFailed,
                           "Can't create the folder " + JoinForText(folder, failedAt));
                return Outcome::Fatal;
        }
        // A waiting file where this entry has just made a folder would fail its rename:
        // refused now, as the folder would have been with the file in place.
        std::string prefix, shownPrefix;
        for (std::size_t i = 0; staged && i < depth; ++i) {
            prefix += ToLower((*parts)[i]);
            shownPrefix += (i ? "/" : "") + (*parts)[i];
            const auto [from, to] = staged->equal_range(prefix);
            for (auto it = from; it != to; ++it) {
                if (!it->second->part->IsFolder(it->second->fileName)) continue;
                RaiseError(kZipErrWriteFailed,
                           "Can't create the folder " + JoinForText(folder, shownPrefix));
                return Outcome::Fatal;
            }
            prefix += '/';
        }

        RaiseStatus("Extracting .../" + shownRel);
        // An existing file is never removed first: the checked new one replaces it.
        if (!overwrite && dest.Exists(fileName)) {
            RaiseError(kZipErrExists, "The file " + shown + " already exists");
            return Outcome::Refused;
        }
        // What would stop the rename is found before any rename is made.
        if (staged) {
            if (dest.IsFolder(fileName)) {
                RaiseError(kZipErrCantRemove, "Can't remove the file " + shown);
                return Outcome::Refused;
            }
            const auto [from, to] = staged->equal_range(job.key);
            for (auto it = from; !overwrite && it != to; ++it) {
                if (it->second->shown != shown) continue;
                RaiseError(kZipErrExists, "The file " + shown + " already exists");
                return Outcome::Refused;
            }
        }
        job.part = dest.CreatePending(FileMode(cr));
        if (!job.part) return WriteFailed(shown);
        const Outcome planned = PlanEntry(cr, shown, job.plan);
        if (planned != Outcome::Done) {
            job.part.reset();
            return planned;
        }
        job.fileName = fileName;
        job.shown = shown;
        job.needsWork = true;
        return Outcome::Done;
    }

    // Each local header and its data belong to one entry only: records sharing
    // bytes would unpack the same data over and over. Records that cannot be
    // followed are left to the walk, which reports them.
    bool RefuseOverlaps(const EndRecord& end) {
        struct Span {
            long long start, end;
            std::size_t entry;
        };
        std::vector<Span> spans;
        std::vector<std::string> names;
        long long pos = end.centralOffset;
        CentralRecord cr;
        std::string name;
        for (long long i = 1; i <= end.entriesTotal && ReadCentral(pos, cr, name); ++i) {
            unsigned char hb[zipfmt::kLocalSize];
            if (file.ReadAt(hb, sizeof hb, cr.localOffset) != static_cast<long long>(sizeof hb))
                continue;
            const LocalHeader lh = LocalHeader::Parse(hb);
            if (lh.signature != zipfmt::kLocalSig) continue;
            const long long size =
                (lh.flags & zipfmt::kFlagDataDescriptor) ? cr.compressedSize : lh.compressedSize;
            const long long dataEnd = static_cast<long long>(cr.localOffset) +
                                      static_cast<long long>(zipfmt::kLocalSize) + lh.nameLength +
                                      lh.extraLength + size;
            if (dataEnd > fileSize) continue;
            spans.push_back({cr.localOffset, dataEnd, names.size()});
            names.push_back(WithSlashes(name));
        }
        std::sort(spans.begin(), spans.end(),
                  [](const Span& a, const Span& b) { return a.start < b.start; });
        long long reach = -1;
        std::size_t holder = 0;
        for (const Span& s : spans) {
            if (s.start < reach) {
                RaiseError(kZipErrOverlap, "Refused " + path + ": the entry " + names[s.entry] +
                                               " overlaps the entry " + names[holder] +
                                               " (invalid zip file with overlapped components, "
                                               "possible zip bomb)");
                return false;
            }
            reach = s.end;
            holder = s.entry;
        }
        return true;
    }

    bool BeginWalk(EndRecord& end) {
        if (!ReadEnd(end)) {
            RaiseDamaged(0);
            return false;
        }
        if (end.thisDisk != end.centralDisk) {
            RaiseStatus("Extraction Complete");
            return false;
        }
        if (!RefuseOverlaps(end)) return false;
        budget = kMaxExpansion * fileSize;
        return true;
    }

    // Extracts as Walk visits, with the data of up to kMaxAhead entries read, inflated
    // and written by workers meanwhile. Names, folders, part files, commits, events and
    // progress stay in archive order on this thread. `whole`: the parts are sealed and
    // wait until every entry has passed, then are renamed into place in archive order;
    // any problem before that removes them and the folders made for them.
    bool ExtractAll(const std::string& folder, bool preservePath, bool overwrite, bool whole,
                    bool& completed) {
        completed = false;
        EndRecord end;
        if (!BeginWalk(end)) return false;
        const long long total = end.entriesTotal;
        const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
        const std::size_t ahead = std::min(kMaxAhead, kAheadPerWorker * workers);
        ExtractPool pool(file, path, workers);
        std::deque<std::unique_ptr<Job>> inFlight;
        std::vector<std::unique_ptr<Job>> staged;  // whole: sealed, in archive order
        StagedKeys stagedKeys;
        long long finished = 0;
        const auto wait = [&](Job& job) {
            while (!pool.WaitFor(&job, std::chrono::milliseconds(15))) DoEvents();
        };
        // Takes the oldest entry back; false: the extraction stops.
        const auto finishOldest = [&]() -> bool {
            Job& job = *inFlight.front();
            wait(job);
            if (job.needsWork && job.outcome == Outcome::Done && !whole) {
                held = &job.events;
                job.outcome = CommitPart(job, overwrite);
                held = nullptr;
            }
            // A whole extraction fails on any reported problem.
            const bool failed =
                job.outcome == Outcome::Fatal || (whole && ReportsError(job.events));
            Raise(job.events);
            if (whole && !failed && job.needsWork && job.outcome == Outcome::Done) {
                stagedKeys.emplace(job.key, &job);
                staged.push_back(std::move(inFlight.front()));
            }
            inFlight.pop_front();
            if (failed) return false;
            DoEvents();
            long percent = RoundedPercent(++finished, total);
            bool cancel = false;
            if (owner.Progress) owner.Progress(percent, cancel);
            return !cancel;
        };
        // Workers finish what they started; unfinished parts are removed, and in a
        // whole extraction every part and every folder it made (parts first).
        const auto stop = [&] {
            pool.DropQueued();
            for (auto& job : inFlight) wait(*job);
            inFlight.clear();
            if (whole) {
                stagedKeys.clear();
                staged.clear();
                dest.RemoveCreatedFolders();
            }
            return false;
        };
        const auto waitFor = [&](const std::string& key) {
            for (;;) {
                const auto hit = std::find_if(inFlight.begin(), inFlight.end(),
                                              [&](const auto& j) { return j->key == key; });
                if (hit == inFlight.end()) return true;
                held = nullptr;
                if (!finishOldest()) return false;
            }
        };
        long long pos = end.centralOffset;
        CentralRecord cr;
        std::string name;
        for (long long i = 1; i <= total; ++i) {
            if (!ReadCentral(pos, cr, name)) {
                while (!inFlight.empty())
                    if (!finishOldest()) return stop();
                RaiseDamaged(i);
                return stop();
            }
            auto job = std::make_unique<Job>();
            Job* current = job.get();
            if (cr.uncompressedSize >= 1) {  // folders and empty files are skipped
                bool stopped = false;
                const auto earlier = [&](const std::string& key) {
                    std::vector<Event>* mine = held;  // earlier entries raise theirs first
                    stopped = !waitFor(key);
                    held = mine;
                    return !stopped;
                };
                held = &current->events;
                current->outcome = PrepareOne(cr, name, folder, preservePath, overwrite, *current,
                                              whole ? &stagedKeys : nullptr, earlier);
                held = nullptr;
                if (stopped) return stop();
            }
            // Read before a worker may write it.
            const bool fatal = current->outcome == Outcome::Fatal;
            current->seal = whole;
            if (current->needsWork)
                pool.Submit(current);
            else
                current->done = true;
            inFlight.push_back(std::move(job));
            while (!inFlight.empty() && (inFlight.size() > ahead || fatal))
                if (!finishOldest()) return stop();
        }
        while (!inFlight.empty())
            if (!finishOldest()) return stop();
        // Every entry passed. Each rename stays within one folder, so only a folder removed
        // or put in the way meanwhile can fail one: the one window that cannot be undone,
        // as the entries renamed before it stay in place.
        for (auto& job : staged) {
            held = &job->events;
            const Outcome outcome = CommitPart(*job, true);
            held = nullptr;
            Raise(job->events);
            if (outcome != Outcome::Done) return stop();
        }
        completed = true;
        return true;
    }

    // Walks the central directory; `visit` returns false to stop (its result is then the
    // walk's). Progress and the message loop run after every entry.
    template <typename Visit>
    bool Walk(Visit&& visit, bool& completed) {
        completed = false;
        EndRecord end;
        if (!BeginWalk(end)) return false;
        const long long total = end.entriesTotal;
        long long pos = end.centralOffset;
        CentralRecord cr;
        std::string name;
        for (long long i = 1; i <= total; ++i) {
            if (!ReadCentral(pos, cr, name)) {
                RaiseDamaged(i);
                return false;
            }
            if (!visit(cr, name)) return false;
            DoEvents();
            long percent = RoundedPercent(i, total);
            bool cancel = false;
            if (owner.Progress) owner.Progress(percent, cancel);
            if (cancel) return false;
        }
        completed = true;
        return true;
    }
};

ZipExtractionClass::ZipExtractionClass() : impl_(std::make_unique<Impl>(*this)) {}

ZipExtractionClass::~ZipExtractionClass() {
    // The object's end closes the archive without raising events at a half-gone owner.
    impl_->file.Close();
}

bool ZipExtractionClass::OpenZip(const std::string& ZipPath) {
    impl_->RaiseStatus("Opening Zip");
    CloseZip();
    const auto opened = impl_->file.Open(ZipPath);
    impl_->path = ZipPath;
    if (opened == fileio::ReadOnlyFile::OpenResult::NotAFile) {
        impl_->RaiseError(kZipErrMissing, "The file " + ZipPath + " doesn't exist");
        return false;
    }
    if (opened != fileio::ReadOnlyFile::OpenResult::Ok) {
        impl_->RaiseError(kZipErrNotZip, "The file " + ZipPath + " is not a Zip file");
        return false;
    }
    impl_->fileSize = impl_->file.Size();
    const long long position = impl_->FindEndRecord();
    if (position == 0) {
        impl_->RaiseError(kZipErrNotZip, "The file " + ZipPath + " is not a Zip file");
        return false;
    }
    impl_->endPosition = position;
    impl_->RaiseStatus("Zip Opened");
    return true;
}

void ZipExtractionClass::CloseZip() {
    if (impl_->file.IsOpen()) {
        impl_->file.Close();
        impl_->RaiseStatus("Zip Closed");
    }
    impl_->endPosition = 0;
}

std::string ZipExtractionClass::ZLibVersion() {
    const char* v = zlibVersion();
    if (v == nullptr || *v == '\0') {
        impl_->RaiseError(kZipErrNoZlib, "Zlib is not installed");
        return {};
    }
    return v;
}

bool ZipExtractionClass::Extract(const std::string& FolderPath, bool PreservePath, bool Overwrite,
                                 ZipCommit commit) {
    if (ZLibVersion().empty()) return false;
    impl_->RaiseStatus("Extracting Files");
    if (impl_->endPosition == 0) {
        impl_->RaiseError(kZipErrNoZipOpen, "There is no Zip File Open");
        return false;
    }
    const bool whole = commit == ZipCommit::Whole;
    bool madeFolder = false;
    if (fileio::KindOf(FolderPath) == fileio::PathKind::None) {
        madeFolder = fileio::MakeFolder(FolderPath);
        if (!madeFolder) {
            impl_->RaiseError(kZipErrCantCreateFolder, "Can't create the folder " + FolderPath);
            return false;
        }
    }
    bool completed = false;
    bool walked = impl_->dest.Open(FolderPath);
    if (!walked)
        impl_->RaiseError(kZipErrCantCreateFolder, "Can't create the folder " + FolderPath);
    else
        walked = impl_->ExtractAll(FolderPath, PreservePath, Overwrite, whole, completed);
    impl_->dest.Close();
    if (!walked || !completed) {
        // A whole extraction that failed leaves not even its folder behind.
        if (whole && madeFolder) fileio::RemoveEmptyFolder(FolderPath);
        return false;
    }
    impl_->RaiseStatus("Extraction Complete");
    return true;
}

bool ZipExtractionClass::ReadEntry(const std::string& name, std::size_t maxSize, std::string& out) {
    out.clear();
    if (impl_->endPosition == 0) {
        impl_->RaiseError(kZipErrNoZipOpen, "There is no Zip File Open");
        return false;
    }
    bool found = false, ok = false, completed = false;
    impl_->Walk(
        [&](const CentralRecord& cr, const std::string& entryName) {
            if (ToLower(WithSlashes(entryName)) != ToLower(name)) return true;
            found = true;
            if (cr.uncompressedSize > maxSize) {
                impl_->RaiseError(kZipErrSizeMismatch, "The entry " + name + " is larger than " +
                                                           std::to_string(maxSize) + " bytes");
                return false;
            }
            MemorySink sink(out);
            ok = impl_->StreamEntry(cr, name, &sink, true) == Outcome::Done;
            return false;
        },
        completed);
    if (!found) impl_->RaiseError(kZipErrMissing, "The archive holds no " + name);
    if (!ok) out.clear();
    return ok;
}

bool ZipExtractionClass::ListEntries(const std::function<void(const ZipEntryInfo&)>& onEntry) {
    if (impl_->endPosition == 0) {
        impl_->RaiseError(kZipErrNoZipOpen, "There is no Zip File Open");
        return false;
    }
    EndRecord end;
    if (!impl_->ReadEnd(end)) {
        impl_->RaiseDamaged(0);
        return false;
    }
    long long pos = end.centralOffset;
    CentralRecord cr;
    ZipEntryInfo info;
    for (long long i = 1; i <= end.entriesTotal; ++i) {
        if (!impl_->ReadCentral(pos, cr, info.name)) {
            impl_->RaiseDamaged(i);
            return false;
        }
        info.size = cr.uncompressedSize;
        info.compressedSize = cr.compressedSize;
        info.crc = cr.crc;
        info.method = cr.method;
        info.mode =
            (cr.versionMadeBy >> 8) == zipfmt::kHostUnix ? (cr.externalAttr >> 16) & 07777u : 0u;
        if (onEntry) onEntry(info);
    }
    return true;
}

bool ZipExtractionClass::TestEntries() {
    if (impl_->endPosition == 0) {
        impl_->RaiseError(kZipErrNoZipOpen, "There is no Zip File Open");
        return false;
    }
    bool completed = false;
    const bool walked = impl_->Walk(
        [&](const CentralRecord& cr, const std::string& name) {
            if (cr.uncompressedSize < 1) return true;
            const std::string shown = WithSlashes(name);
            if (!SplitSafeName(name)) {
                impl_->RaiseError(kZipErrUnsafeName, "Refused the entry " + shown +
                                                         ": its name leads outside "
                                                         "the destination");
                return true;
            }
            impl_->RaiseStatus("Testing .../" + shown);
            return impl_->StreamEntry(cr, shown, nullptr, true) != Outcome::Fatal;
        },
        completed);
    return walked && completed;
}

bool ExtractZipFile(const std::string& zipPath, const std::string& destination,
                    std::string* firstError) {
    if (!DoesFileExist(zipPath)) {
        if (firstError) *firstError = "The file " + zipPath + " is missing";
        return false;
    }
    ZipExtractionClass zip;
    bool entryFailed = false;
    zip.ZipError = [&](long number, const std::string& text) {
        DPrint("modZip\\UnzipFile ZipError " + std::to_string(number) + ": " + text);
        if (firstError && firstError->empty()) *firstError = text;
        entryFailed = true;
    };
    if (!zip.OpenZip(zipPath)) return false;
    // A package that fails anywhere leaves the tool tree as it was.
    const bool result = zip.Extract(destination, true, true, ZipCommit::Whole) && !entryFailed;
    zip.CloseZip();
    return result;
}

}  // namespace talvane
