// An archive read while it arrives: entries are unpacked before its last bytes,
// nothing is put in place unless all of it came as the end it was read by.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "zip/zip_reader.h"
#include "zip_test_util.h"

namespace talvane {
namespace {

using namespace ziptest;

// The bytes the test has released; once stopped, no more come.
class Released final : public ArrivingBytes {
  public:
    explicit Released(std::string path) : path_(std::move(path)) {}
    bool WaitFor(std::uint64_t end) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (firstAsked == 0) firstAsked = end;
        grew_.wait(lock, [&] { return end <= released_ || stopped_; });
        return end <= released_;
    }
    std::string File() const override { return path_; }
    void Release(std::uint64_t upTo, bool stop) {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = upTo;
        stopped_ = stop;
        grew_.notify_all();
    }
    std::uint64_t firstAsked = 0;

  private:
    std::string path_;
    std::mutex mutex_;
    std::condition_variable grew_;
    std::uint64_t released_ = 0;
    bool stopped_ = false;
};

TEST(ArrivingZip, UnpacksAsBytesComeAndPutsNothingInPlaceUnlessAllCameAsRead) {
    RawZip z;
    for (int i = 0; i < 40; ++i)
        z.entries.emplace_back("d/" + std::to_string(i), std::string(20000, char('a' + i % 26)), 0);
    const std::string archive = z.Build();
    const std::size_t directory = archive.size() - 22 - 40 * (46 + 4) + (10 * 1);
    struct Case {
        const char* name;
        std::size_t stopAt;       // 0: everything arrives
        std::size_t changedByte;  // a byte of the end as it arrives, 0: none
        const char* error;
    } cases[] = {
        {"all arrives", 0, 0, nullptr},
        {"the transfer breaks at half", archive.size() / 2, 0, "d/"},
        {"the end arrives other than read", 0, archive.size() - 22 - 100 + 4, "changed while"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir tmp;
        std::string onDisk = archive;
        if (c.changedByte) onDisk[c.changedByte] ^= 1;  // a central record's "version made by"
        WriteFile(tmp.file("a.zip"), onDisk);
        Released bytes(tmp.file("a.zip"));
        std::thread feeder([&] {
            const std::size_t last = c.stopAt ? c.stopAt : archive.size();
            for (std::size_t at = 0; at < last; at += 4096) bytes.Release(at, false);
            bytes.Release(last, c.stopAt != 0);
        });
        std::string problem;
        const bool done = ExtractArrivingZip("a.zip", archive.size(), archive.substr(directory),
                                             bytes, tmp.file("out"), &problem, {}, {});
        feeder.join();
        EXPECT_LT(bytes.firstAsked, archive.size() / 2);
        if (!c.error) {
            EXPECT_TRUE(done) << problem;
            EXPECT_EQ(Tree(tmp.file("out")).size(), 40u);
            EXPECT_EQ(Tree(tmp.file("out"))["d/39"], std::string(20000, 'n'));
        } else {
            EXPECT_FALSE(done);
            EXPECT_NE(problem.find(c.error), std::string::npos) << problem;
            EXPECT_FALSE(fs::exists(tmp.file("out")));
        }
    }
}

}  // namespace
}  // namespace talvane
