#include "zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>
#include <vector>

#include "common/event_pump.h"
#include "common/files.h"
#include "common/log.h"
#include "common/log_sites.h"
#include "common/strings.h"
#include "platform/file_io.h"
#include "zip/zip_directory.h"
#include "zip/zip_extract_entry.h"
#include "zip/zip_extract_pool.h"
#include "zip/zip_format.h"
#include "zip/zip_inflate.h"
#include "zip/zip_names.h"
#include "zip/zip_report.h"

namespace talvane {

using zipfmt::EndRecord;
using zipimpl::Archive;
using zipimpl::CentralEntry;
using zipimpl::EntryPlacer;
using zipimpl::EntryPlanner;
using zipimpl::EntrySink;
using zipimpl::Event;
using zipimpl::ExtractPool;
using zipimpl::Job;
using zipimpl::Outcome;
using zipimpl::Reporter;
using zipimpl::StagedKeys;

namespace {

ZipEntryInfo DescribeEntry(const CentralEntry& entry) {
    ZipEntryInfo info;
    info.name = entry.name;
    info.size = entry.cr.uncompressedSize;
    info.compressedSize = entry.cr.compressedSize;
    info.crc = entry.cr.crc;
    info.method = entry.cr.method;
    info.mode = zipimpl::RecordedMode(entry.cr);
    info.localOffset = entry.cr.localOffset;
    return info;
}

// Entries an extraction keeps ahead of the one being committed, per worker.
constexpr std::size_t kAheadPerWorker = 4;
constexpr std::size_t kMaxAhead = 16;

// Extracts as the central directory is walked, with the data of up to kMaxAhead entries
// read, inflated and written by workers meanwhile. Names, folders, part files, commits,
// events and progress stay in archive order on this thread. `whole`: the parts are sealed
// and wait until every entry has passed, then are renamed into place in archive order;
// any problem before that removes them and the folders made for them.
class Extraction {
  public:
    Extraction(const Archive& archive, Reporter& report, fileio::Destination& dest,
               EntryPlanner& planner, const std::string& folder, bool preservePath, bool overwrite,
               bool whole, long long total, long long& written,
               const std::function<bool(const ZipEntryInfo&)>& keep, const ContentSinkFor& check)
        : archive_(archive),
          report_(report),
          dest_(dest),
          placer_(report, dest, planner, folder, preservePath, overwrite),
          overwrite_(overwrite),
          whole_(whole),
          total_(total),
          workers_(std::max(1u, std::thread::hardware_concurrency())),
          ahead_(std::min(kMaxAhead, kAheadPerWorker * workers_)),
          pool_(archive.file, archive.path, workers_),
          written_(written),
          keep_(keep),
          check_(check) {}

    // From the central record at `pos`; `completed` when every entry is in place.
    bool Run(long long pos, bool& completed);
    // Once every entry passed, before the first is put in place: false stops.
    std::function<bool()> beforeCommit;

  private:
    void Wait(Job& job);
    bool Add(const CentralEntry& entry);
    bool FinishOldest();
    bool WaitForKey(const std::string& key);
    bool CommitStaged();
    bool Stop();

    const Archive& archive_;
    Reporter& report_;
    fileio::Destination& dest_;
    EntryPlacer placer_;
    const bool overwrite_, whole_;
    const long long total_;
    const unsigned workers_;
    const std::size_t ahead_;
    ExtractPool pool_;
    std::deque<std::unique_ptr<Job>> inFlight_;
    std::vector<std::unique_ptr<Job>> staged_;  // whole: sealed, in archive order
    StagedKeys stagedKeys_;
    long long finished_ = 0;
    long long& written_;  // files put in place
    const std::function<bool(const ZipEntryInfo&)>& keep_;
    const ContentSinkFor& check_;
};

bool Extraction::Run(long long pos, bool& completed) {
    CentralEntry entry;
    for (long long i = 1; i <= total_; ++i) {
        if (!archive_.ReadCentral(pos, entry)) {
            while (!inFlight_.empty())
                if (!FinishOldest()) return Stop();
            archive_.RaiseDamaged(report_, i);
            return Stop();
        }
        if (!Add(entry)) return false;
    }
    while (!inFlight_.empty())
        if (!FinishOldest()) return Stop();
    if (beforeCommit && !beforeCommit()) return Stop();
    if (!CommitStaged()) return Stop();
    completed = true;
    return true;
}

void Extraction::Wait(Job& job) {
    while (!pool_.WaitFor(&job, std::chrono::milliseconds(15))) DoEvents();
}

// Settles one entry and hands its data to a worker; false once the extraction has
// stopped (Stop has run).
bool Extraction::Add(const CentralEntry& entry) {
    auto job = std::make_unique<Job>();
    Job* current = job.get();
    const bool kept = keep_ && entry.cr.uncompressedSize >= 1 && keep_(DescribeEntry(entry));
    if (entry.cr.uncompressedSize >= 1 && !kept) {  // folders and empty files are skipped
        bool stopped = false;
        const auto earlier = [&](const std::string& key) {
            std::vector<Event>* mine = report_.held;  // earlier entries raise theirs first
            stopped = !WaitForKey(key);
            report_.held = mine;
            return !stopped;
        };
        report_.held = &current->events;
        current->outcome =
            placer_.Prepare(entry, *current, whole_ ? &stagedKeys_ : nullptr, earlier);
        report_.held = nullptr;
        if (stopped) return Stop();
        if (current->needsWork && check_) current->content = check_(DescribeEntry(entry));
    }
    // Read before a worker may write it.
    const bool fatal = current->outcome == Outcome::Fatal;
    current->seal = whole_;
    if (current->needsWork)
        pool_.Submit(current);
    else
        current->done = true;
    inFlight_.push_back(std::move(job));
    while (!inFlight_.empty() && (inFlight_.size() > ahead_ || fatal))
        if (!FinishOldest()) return Stop();
    return true;
}

// Takes the oldest entry back; false: the extraction stops.
bool Extraction::FinishOldest() {
    Job& job = *inFlight_.front();
    Wait(job);
    if (job.needsWork && job.outcome == Outcome::Done && !whole_) {
        report_.held = &job.events;
        job.outcome = placer_.Commit(job, overwrite_);
        report_.held = nullptr;
        if (job.outcome == Outcome::Done) ++written_;
    }
    // A whole extraction fails on any reported problem.
    const bool failed =
        job.outcome == Outcome::Fatal || (whole_ && zipimpl::ReportsError(job.events));
    report_.Raise(job.events);
    if (whole_ && !failed && job.needsWork && job.outcome == Outcome::Done) {
        stagedKeys_.emplace(job.key, &job);
        staged_.push_back(std::move(inFlight_.front()));
    }
    inFlight_.pop_front();
    if (failed) return false;
    return report_.Advance(++finished_, total_);
}

// Takes back every entry still on its way to `key`; false: the extraction stops.
bool Extraction::WaitForKey(const std::string& key) {
    for (;;) {
        const auto hit = std::find_if(inFlight_.begin(), inFlight_.end(),
                                      [&](const auto& j) { return j->key == key; });
        if (hit == inFlight_.end()) return true;
        report_.held = nullptr;
        if (!FinishOldest()) return false;
    }
}

// Every entry passed. Each rename stays within one folder, so only a folder removed
// or put in the way meanwhile can fail one: the one window that cannot be undone,
// as the entries renamed before it stay in place.
bool Extraction::CommitStaged() {
    for (auto& job : staged_) {
        report_.held = &job->events;
        const Outcome outcome = placer_.Commit(*job, true);
        report_.held = nullptr;
        report_.Raise(job->events);
        if (outcome != Outcome::Done) return false;
        ++written_;
    }
    return true;
}

// Workers finish what they started; unfinished parts are removed, and in a
// whole extraction every part and every folder it made (parts first).
bool Extraction::Stop() {
    pool_.DropQueued();
    for (auto& job : inFlight_) Wait(*job);
    inFlight_.clear();
    if (whole_) {
        stagedKeys_.clear();
        staged_.clear();
        dest_.RemoveCreatedFolders();
    }
    return false;
}

}  // namespace

struct ZipReader::Impl {
    explicit Impl(const ZipReader& reader) : owner(reader), report(reader) {}
    const ZipReader& owner;

    Archive archive;
    fileio::Destination dest;
    Reporter report;
    long long written = 0;  // by the last extraction
    EntryPlanner planner{archive, report};
    zipimpl::EntryProducer producer{archive.file, archive.path};  // for entries read here

    // Streams one entry's data into `out` (or nowhere when out is null), checking what it must.
    Outcome StreamEntry(const CentralEntry& entry, const std::string& shownName, EntrySink* out,
                        bool checkStored) {
        zipimpl::EntryPlan plan;
        Outcome outcome = planner.Plan(entry, shownName, plan);
        if (outcome != Outcome::Done) return outcome;
        outcome = producer.Produce(plan, shownName, out, checkStored);
        report.Raise(producer.events);
        return outcome;
    }

    // The end records of the archive just opened, found and accepted.
    bool Opened() {
        const std::string& zipPath = archive.path;
        archive.fileSize = archive.file.Size();
        const long long position = archive.FindEndRecord();
        if (position == 0) {
            report.Error(kZipErrNotZip, "The file " + zipPath + " is not a Zip file");
            return false;
        }
        // Refused before anything is written: the other parts hold most entries' data.
        EndRecord end;
        archive.endPosition = position;
        if (archive.ReadEnd(end) && Archive::SpansDisks(end)) {
            archive.endPosition = 0;
            report.Error(kZipErrSplit, "The file " + zipPath +
                                           " is one part of a split or multi-disk archive; "
                                           "only single-file archives can be read");
            return false;
        }
        report.Status("Zip Opened");
        return true;
    }

    bool BeginWalk(EndRecord& end) {
        if (!archive.ReadEnd(end)) {
            archive.RaiseDamaged(report, 0);
            return false;
        }
        // An arriving archive's local headers are read as they come, checked at the end.
        if (!archive.file.Arriving() && !archive.RefuseOverlaps(end, report)) return false;
        planner.Reset();
        return true;
    }

    bool ExtractAll(const std::string& folder, bool preservePath, bool overwrite, bool whole,
                    bool& completed) {
        completed = false;
        written = 0;
        EndRecord end;
        if (!BeginWalk(end)) return false;
        Extraction run(archive, report, dest, planner, folder, preservePath, overwrite, whole,
                       static_cast<long long>(end.entriesTotal), written, owner.KeepExisting,
                       owner.CheckContent);
        if (archive.file.Arriving()) run.beforeCommit = [this, end] { return Arrived(end); };
        return run.Run(static_cast<long long>(end.centralOffset), completed);
    }

    // An arriving archive read to its end: the end it was read by is the one that
    // arrived, and no entries overlap.
    bool Arrived(const EndRecord& end) {
        if (!archive.file.EndArrivedUnchanged()) {
            report.Error(kZipErrDamaged, "The central directory of " + archive.path +
                                             " changed while the archive arrived");
            return false;
        }
        return archive.RefuseOverlaps(end, report);
    }

    // Walks the central directory; `visit` returns false to stop (its result is then the
    // walk's). Progress and the message loop run after every entry.
    template <typename Visit>
    bool Walk(Visit&& visit, bool& completed) {
        completed = false;
        EndRecord end;
        if (!BeginWalk(end)) return false;
        const auto total = static_cast<long long>(end.entriesTotal);
        auto pos = static_cast<long long>(end.centralOffset);
        CentralEntry entry;
        for (long long i = 1; i <= total; ++i) {
            if (!archive.ReadCentral(pos, entry)) {
                archive.RaiseDamaged(report, i);
                return false;
            }
            if (!visit(entry)) return false;
            if (!report.Advance(i, total)) return false;
        }
        completed = true;
        return true;
    }

    // No archive open: raises the error and says so.
    bool NoneOpen() {
        if (archive.endPosition != 0) return false;
        report.Error(kZipErrNoZipOpen, "There is no Zip File Open");
        return true;
    }
};

ZipReader::ZipReader() : impl_(std::make_unique<Impl>(*this)) {}

ZipReader::~ZipReader() {
    // The object's end closes the archive without raising events at a half-gone owner.
    impl_->archive.file.Close();
}

bool ZipReader::OpenZip(const std::string& zipPath) {
    Reporter& report = impl_->report;
    Archive& archive = impl_->archive;
    report.Status("Opening Zip");
    CloseZip();
    const auto opened = archive.file.Open(zipPath);
    archive.path = zipPath;
    if (opened == fileio::ReadOnlyFile::OpenResult::NotAFile) {
        report.Error(kZipErrMissing, "The file " + zipPath + " doesn't exist");
        return false;
    }
    if (opened != fileio::ReadOnlyFile::OpenResult::Ok) {
        report.Error(kZipErrNotZip, "The file " + zipPath + " is not a Zip file");
        return false;
    }
    return impl_->Opened();
}

bool ZipReader::OpenArriving(const std::string& name, std::uint64_t size, std::string tail,
                             ArrivingBytes& bytes) {
    impl_->report.Status("Opening Zip");
    CloseZip();
    impl_->archive.file.OpenArriving(size, std::move(tail), bytes);
    impl_->archive.path = name;
    return impl_->Opened();
}

void ZipReader::CloseZip() {
    if (impl_->archive.file.IsOpen()) {
        impl_->archive.file.Close();
        impl_->report.Status("Zip Closed");
    }
    impl_->archive.endPosition = 0;
}

std::string ZipReader::ZLibVersion() {
    const char* v = zlibVersion();
    if (v == nullptr || *v == '\0') {
        impl_->report.Error(kZipErrNoZlib, "Zlib is not installed");
        return {};
    }
    return v;
}

bool ZipReader::Extract(const std::string& folder, bool preservePath, bool overwrite,
                        ZipCommit commit) {
    if (ZLibVersion().empty()) return false;
    Reporter& report = impl_->report;
    report.Status("Extracting Files");
    if (impl_->NoneOpen()) return false;
    const bool whole = commit == ZipCommit::Whole;
    bool madeFolder = false;
    if (fileio::KindOf(folder) == fileio::PathKind::None) {
        madeFolder = fileio::MakeFolder(folder);
        if (!madeFolder) {
            report.Error(kZipErrCantCreateFolder, "Can't create the folder " + folder);
            return false;
        }
    }
    bool completed = false;
    bool walked = impl_->dest.Open(folder);
    if (!walked)
        report.Error(kZipErrCantCreateFolder, "Can't create the folder " + folder);
    else
        walked = impl_->ExtractAll(folder, preservePath, overwrite, whole, completed);
    impl_->dest.Close();
    if (!walked || !completed) {
        // A whole extraction that failed leaves not even its folder behind.
        if (whole && madeFolder) fileio::RemoveEmptyFolder(folder);
        return false;
    }
    report.Status("Extraction Complete");
    return true;
}

long long ZipReader::FilesWritten() const {
    return impl_->written;
}

bool ZipReader::ReadEntry(const std::string& name, std::size_t maxSize, std::string& out) {
    out.clear();
    if (impl_->NoneOpen()) return false;
    bool found = false, ok = false, completed = false;
    impl_->Walk(
        [&](const CentralEntry& entry) {
            if (ToLower(zipimpl::WithSlashes(entry.name)) != ToLower(name)) return true;
            found = true;
            if (entry.cr.uncompressedSize > maxSize) {
                impl_->report.Error(kZipErrSizeMismatch, "The entry " + name + " is larger than " +
                                                             std::to_string(maxSize) + " bytes");
                return false;
            }
            zipimpl::MemorySink sink(out);
            ok = impl_->StreamEntry(entry, name, &sink, true) == Outcome::Done;
            return false;
        },
        completed);
    if (!found) impl_->report.Error(kZipErrMissing, "The archive holds no " + name);
    if (!ok) out.clear();
    return ok;
}

namespace {
// Hands an entry's bytes to its content sink.
class ContentAdapter : public EntrySink {
  public:
    explicit ContentAdapter(ContentSink& sink) : sink_(sink) {}
    bool Put(const void* data, std::size_t len) override {
        sink_.Put(data, len);
        return true;
    }

  private:
    ContentSink& sink_;
};
}  // namespace

bool ZipReader::ReadContents(const ContentSinkFor& sinkFor) {
    if (impl_->NoneOpen()) return false;
    bool completed = false;
    const bool walked = impl_->Walk(
        [&](const CentralEntry& entry) {
            if (entry.cr.uncompressedSize < 1) return true;
            const auto sink = sinkFor(DescribeEntry(entry));
            if (!sink) return true;
            ContentAdapter adapter(*sink);
            const std::string shown = zipimpl::WithSlashes(entry.name);
            return impl_->StreamEntry(entry, shown, &adapter, true) == Outcome::Done &&
                   sink->Finish();
        },
        completed);
    return walked && completed;
}

std::optional<std::uint64_t> ZipReader::DirectoryOffset() {
    EndRecord end;
    if (impl_->NoneOpen() || !impl_->archive.ReadEnd(end)) return std::nullopt;
    return end.centralOffset;
}

bool ZipReader::ListEntries(const std::function<void(const ZipEntryInfo&)>& onEntry) {
    if (impl_->NoneOpen()) return false;
    const Archive& archive = impl_->archive;
    EndRecord end;
    if (!archive.ReadEnd(end)) {
        archive.RaiseDamaged(impl_->report, 0);
        return false;
    }
    auto pos = static_cast<long long>(end.centralOffset);
    CentralEntry entry;
    for (long long i = 1; i <= static_cast<long long>(end.entriesTotal); ++i) {
        if (!archive.ReadCentral(pos, entry)) {
            archive.RaiseDamaged(impl_->report, i);
            return false;
        }
        if (onEntry) onEntry(DescribeEntry(entry));
    }
    return true;
}

bool ZipReader::TestEntries() {
    if (impl_->NoneOpen()) return false;
    bool completed = false;
    const bool walked = impl_->Walk(
        [&](const CentralEntry& entry) {
            if (entry.cr.uncompressedSize < 1) return true;
            const std::string shown = zipimpl::WithSlashes(entry.name);
            if (!zipimpl::SplitSafeName(entry.name)) {
                impl_->report.Error(kZipErrUnsafeName, "Refused the entry " + shown +
                                                           ": its name leads outside "
                                                           "the destination");
                return true;
            }
            impl_->report.Status("Testing .../" + shown);
            return impl_->StreamEntry(entry, shown, nullptr, true) != Outcome::Fatal;
        },
        completed);
    return walked && completed;
}

namespace {
// Opens with `open`, then extracts whole into `destination`.
template <typename Open>
bool ExtractWhole(Open&& open, const std::string& destination, std::string* firstError,
                  const std::function<bool(const ZipEntryInfo&)>& keepExisting,
                  const ContentSinkFor& checkContent) {
    ZipReader zip;
    bool entryFailed = false;
    zip.ZipError = [&](long number, const std::string& text) {
        DPrint(logsite::kUnzipFile + " ZipError " + std::to_string(number) + ": " + text);
        if (firstError && firstError->empty()) *firstError = text;
        entryFailed = true;
    };
    zip.KeepExisting = keepExisting;
    zip.CheckContent = checkContent;
    if (!open(zip)) return false;
    // A package that fails anywhere leaves the tool tree as it was.
    const bool result = zip.Extract(destination, true, true, ZipCommit::Whole) && !entryFailed;
    zip.CloseZip();
    return result;
}
}  // namespace

bool ExtractZipFile(const std::string& zipPath, const std::string& destination,
                    std::string* firstError,
                    const std::function<bool(const ZipEntryInfo&)>& keepExisting,
                    const ContentSinkFor& checkContent) {
    if (!DoesFileExist(zipPath)) {
        if (firstError) *firstError = "The file " + zipPath + " is missing";
        return false;
    }
    return ExtractWhole([&](ZipReader& zip) { return zip.OpenZip(zipPath); }, destination,
                        firstError, keepExisting, checkContent);
}

bool ExtractArrivingZip(const std::string& name, std::uint64_t size, std::string tail,
                        ArrivingBytes& bytes, const std::string& destination,
                        std::string* firstError,
                        const std::function<bool(const ZipEntryInfo&)>& keepExisting,
                        const std::function<void()>& advanced) {
    const auto open = [&](ZipReader& zip) {
        if (advanced) zip.Progress = [&](long&, bool&) { advanced(); };
        return zip.OpenArriving(name, size, std::move(tail), bytes);
    };
    return ExtractWhole(open, destination, firstError, keepExisting, {});
}

std::optional<std::uint32_t> FileCrc32(const std::string& path) {
    fileio::ReadOnlyFile file;
    if (file.Open(path) != fileio::ReadOnlyFile::OpenResult::Ok) return std::nullopt;
    std::vector<unsigned char> buffer(1 << 16);
    uLong crc = crc32(0L, Z_NULL, 0);
    for (long long at = 0;;) {
        const long long n = file.ReadAt(buffer.data(), buffer.size(), at);
        if (n < 0) return std::nullopt;
        if (n == 0) return static_cast<std::uint32_t>(crc);
        crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
        at += n;
    }
}

std::optional<std::string> ZipEntryPath(const std::string& name) {
    const auto parts = zipimpl::SplitSafeName(name);
    if (!parts || parts->empty() || name.ends_with('/') || name.ends_with('\\'))
        return std::nullopt;
    std::string path;
    for (const std::string& part : *parts) path += (path.empty() ? "" : "/") + part;
    return path;
}

}  // namespace talvane
