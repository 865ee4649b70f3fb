#include "zip/zip_extract_pool.h"

namespace talvane::zipimpl {

namespace {
// The part file and the entry's content check see the same bytes.
class CheckedPartSink : public EntrySink {
  public:
    CheckedPartSink(fileio::PendingFile& part, ContentSink* content)
        : part_(part), content_(content) {}
    bool Put(const void* data, std::size_t len) override {
        if (content_) content_->Put(data, len);
        return part_.Write(data, len);
    }

  private:
    fileio::PendingFile& part_;
    ContentSink* content_;
};
}  // namespace

ExtractPool::ExtractPool(const ArchiveFile& file, const std::string& path, unsigned workers) {
    for (unsigned i = 0; i < workers; ++i)
        threads_.emplace_back([this, &file, &path] { Run(file, path); });
}

ExtractPool::~ExtractPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    for (auto& t : threads_) t.join();
}

void ExtractPool::Submit(Job* job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(job);
    }
    work_.notify_one();
}

bool ExtractPool::WaitFor(Job* job, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_.wait_for(lock, wait, [job] { return job->done; });
}

void ExtractPool::DropQueued() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Job* job : queue_) job->done = true;
    queue_.clear();
}

void ExtractPool::Run(const ArchiveFile& file, const std::string& path) {
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
        CheckedPartSink sink(*job->part, job->content.get());
        job->outcome = producer.Produce(job->plan, job->shown, &sink, true);
        for (auto& e : producer.events) job->events.push_back(std::move(e));
        producer.events.clear();
        if (job->content && job->outcome == Outcome::Done && !job->content->Finish()) {
            job->events.push_back(
                {kZipErrChecksum, "The content of " + job->shown + " is not the one expected"});
            job->outcome = Outcome::Fatal;
        }
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

}  // namespace talvane::zipimpl
