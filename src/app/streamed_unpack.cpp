#include "app/streamed_unpack.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "app/frontend.h"
#include "common/event_pump.h"
#include "common/files.h"
#include "common/log.h"
#include "common/strings.h"
#include "net/partial_download.h"
#include "platform/file_io.h"

namespace talvane::app {

namespace {

// The end fetched first: the end record with the longest comment, and the whole
// directory of a small package. These bytes are sent twice.
constexpr std::int64_t kFirstEnd = (64 << 10) + 22;
// A smaller package is fetched, then unpacked: the time to win is less than the
// round trips for its end.
constexpr std::int64_t kLeastStreamed = 4 << 20;
// A larger directory is not held in memory: such a package is fetched the usual way.
constexpr std::int64_t kMostEnd = 64 << 20;
constexpr std::chrono::milliseconds kShowEvery{50};

// The package's bytes as its part grows on the transfer thread. The thread that
// made it shows the download's progress while it waits; other threads only wait.
class ArrivingPackage final : public ArrivingBytes {
  public:
    using Show = std::function<void(long current, long total)>;
    ArrivingPackage(std::string package, std::int64_t size, Show show)
        : package_(std::move(package)), size_(size), show_(std::move(show)) {}

    void Grew(std::int64_t end) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            available_ = std::max(available_, end);
        }
        grew_.notify_all();
    }
    void Finished(bool fetched) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
            fetched_ = fetched;
            if (fetched) available_ = size_;
        }
        grew_.notify_all();
    }
    bool Fetched() {
        std::lock_guard<std::mutex> lock(mutex_);
        return fetched_;
    }

    bool WaitFor(std::uint64_t end) override {
        const bool owner = std::this_thread::get_id() == owner_;
        std::unique_lock<std::mutex> lock(mutex_);
        while (static_cast<std::uint64_t>(available_) < end) {
            if (finished_) return false;
            if (owner) {
                lock.unlock();
                ShowNow();
                DoEvents();
                lock.lock();
            }
            grew_.wait_for(lock, kShowEvery);
        }
        return true;
    }
    std::string File() const override {
        const std::string part = net::PartPath(package_);
        return DoesFileExist(part) ? part : package_;
    }

    // On the owner's thread: the bar follows the download.
    void ShowNow() {
        std::int64_t available = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            available = available_;
        }
        if (show_) show_(static_cast<long>(available), static_cast<long>(size_));
    }

  private:
    const std::string package_;
    const std::int64_t size_;
    const Show show_;
    const std::thread::id owner_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable grew_;
    std::int64_t available_ = 0;
    bool finished_ = false, fetched_ = false;
};

// Stands in for bytes that are not needed: only the end of the package is read.
class NoBytes final : public ArrivingBytes {
  public:
    bool WaitFor(std::uint64_t) override { return false; }
    std::string File() const override { return {}; }
};

}  // namespace

std::optional<std::string> StreamedUnpack::FetchFrom(const std::string& package,
                                                     const std::string& remoteName,
                                                     std::int64_t size, std::int64_t offset) {
    const std::string work = package + ".end";
    std::optional<std::string> bytes;
    if (context_.transfers.FetchRanges(work, remoteName, size, {{offset, size - offset}},
                                       "Fetching the directory of " + StripPath(package))) {
        fileio::ReadOnlyFile file;
        std::string read(static_cast<std::size_t>(size - offset), '\0');
        if (file.Open(work) == fileio::ReadOnlyFile::OpenResult::Ok &&
            file.ReadAt(read.data(), read.size(), offset) == static_cast<long long>(read.size()))
            bytes = std::move(read);
    }
    DeleteFileQuiet(work);
    return bytes;
}

std::optional<std::string> StreamedUnpack::FetchEnd(const std::string& package,
                                                    const std::string& remoteName,
                                                    std::int64_t size) {
    auto end = FetchFrom(package, remoteName, size, size - std::min(size, kFirstEnd));
    if (!end) return std::nullopt;
    NoBytes none;
    ZipReader zip;
    const auto directory =
        zip.OpenArriving(remoteName, static_cast<std::uint64_t>(size), *end, none)
            ? zip.DirectoryOffset()
            : std::nullopt;
    if (!directory) return std::nullopt;
    const auto at = static_cast<std::int64_t>(*directory);
    if (at >= size - static_cast<std::int64_t>(end->size())) return end;
    if (size - at > kMostEnd) return std::nullopt;
    return FetchFrom(package, remoteName, size, at);
}

std::optional<StreamedUnpack::Result> StreamedUnpack::Run(
    const std::string& package, const std::string& remoteName, std::int64_t size,
    const std::string& tree, const std::function<bool(const ZipEntryInfo&)>& keep) {
    if (size < kLeastStreamed) return std::nullopt;
    auto end = FetchEnd(package, remoteName, size);
    if (!end) {
        DPrint("the end of " + remoteName + " could not be fetched first; it is unpacked whole");
        return std::nullopt;
    }
    Transfers& transfers = context_.transfers;
    auto show = std::exchange(transfers.onProgress, nullptr);
    ArrivingPackage arriving(package, size, show);
    const std::string shown = StripPath(package);
    bool extracting = false;
    const std::string step = "Extracting " + shown;
    const auto advanced = [&] {
        if (!arriving.Fetched()) return arriving.ShowNow();
        if (extracting) return;
        extracting = true;  // the rest is the unpack's, shown as after a download
        context_.frontend.SetActivity(step);
        context_.frontend.Status().SetLabel(step);
        context_.frontend.Status().Show();
    };
    auto fetch = transfers.ResumableFetch(package, remoteName);
    transfers.Ftp().PartGrew = [&arriving](std::int64_t bytes) { arriving.Grew(bytes); };
    Result result;
    std::string problem;
    {
        std::jthread transfer([&] { arriving.Finished(fetch()); });
        result.unpacked =
            ExtractArrivingZip(shown, static_cast<std::uint64_t>(size), std::move(*end), arriving,
                               tree, &problem, keep, advanced);
    }
    if (extracting) context_.frontend.Status().Close();
    transfers.Ftp().PartGrew = nullptr;
    transfers.onProgress = std::move(show);
    result.fetched = arriving.Fetched();
    if (result.fetched && !extracting && transfers.onProgress)
        transfers.onProgress(static_cast<long>(size), static_cast<long>(size));
    if (result.unpacked && result.fetched) {
        DPrint("unpacked " + remoteName + " while it arrived");
    } else if (result.fetched) {
        DPrint("unpacking " + remoteName + " while it arrived failed (" + problem +
               "); it is unpacked once more now that it is whole");
    }
    result.unpacked = result.unpacked && result.fetched;
    return result;
}

}  // namespace talvane::app
