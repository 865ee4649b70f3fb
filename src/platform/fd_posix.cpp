#include "platform/fd_posix.h"

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/interrupt_posix.h"
#include "platform/portable.h"

namespace talvane::platform::posix {

namespace {
std::atomic<unsigned> g_counter{0};

// Sealed parts can far outnumber the interrupt slots, so they are listed here and
// removed by a handler of this file put in front of whatever handled the signal before.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct SealedPart {
    int baseFd = -1;
    std::string path;  // empty: a free entry
};

struct SealedList {
    std::atomic_flag busy = ATOMIC_FLAG_INIT;
    std::vector<SealedPart> parts;
    std::vector<int> free;
    std::size_t listed = 0;
    struct sigaction before[std::size(kSignals)] = {};
};
SealedList g_sealed;

// The list is taken by threads adding or forgetting parts, and by the handler. A handler
// that finds its own thread in the middle of a change (where it would wait for itself)
// leaves the signal to that thread, which raises it again once the change is done.
thread_local bool t_changing = false;
std::atomic<int> g_deferred{0};

class SealedLock {
  public:
    SealedLock() {
        t_changing = true;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        while (g_sealed.busy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    }
    ~SealedLock() {
        g_sealed.busy.clear(std::memory_order_release);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        t_changing = false;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        if (const int sig = g_deferred.exchange(0)) ::raise(sig);
    }
    SealedLock(const SealedLock&) = delete;
    SealedLock& operator=(const SealedLock&) = delete;
};

void ChainSignal(int sig, siginfo_t* info, void* context) {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (kSignals[i] != sig) continue;
        const struct sigaction& before = g_sealed.before[i];
        if (before.sa_flags & SA_SIGINFO) return before.sa_sigaction(sig, info, context);
        if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN)
            return before.sa_handler(sig);
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);  // delivered, and ends the process, once the handler returns
}

// Only async-signal-safe calls here. The list stays taken while the handler before
// ours removes the open parts: a part being sealed meanwhile is then in one of the two.
extern "C" void RemoveSealedParts(int sig, siginfo_t* info, void* context) {
    if (t_changing) {
        g_deferred.store(sig);
        return;
    }
    while (g_sealed.busy.test_and_set(std::memory_order_acquire)) {
    }
    for (const SealedPart& part : g_sealed.parts)
        if (!part.path.empty()) ::unlinkat(part.baseFd, part.path.c_str(), 0);
    ChainSignal(sig, info, context);
    g_sealed.busy.clear(std::memory_order_release);
}

// Under the lock. Checked again for every extraction: the program's own handlers may
// have been installed after ours.
void PutHandlerInFront() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) != 0) continue;
        const bool info = (current.sa_flags & SA_SIGINFO) != 0;
        if ((info && current.sa_sigaction == RemoveSealedParts) ||
            (!info && current.sa_handler == SIG_IGN))
            continue;
        g_sealed.before[i] = current;
        struct sigaction mine {};
        mine.sa_sigaction = RemoveSealedParts;
        mine.sa_flags = SA_SIGINFO | (current.sa_flags & SA_RESTART);
        sigemptyset(&mine.sa_mask);
        for (const int other : kSignals) sigaddset(&mine.sa_mask, other);
        ::sigaction(kSignals[i], &mine, nullptr);
    }
}

int ListSealed(int baseFd, const std::string& path) {
    SealedLock lock;
    if (g_sealed.listed++ == 0) PutHandlerInFront();
    if (g_sealed.free.empty()) {
        g_sealed.parts.push_back({baseFd, path});
        return static_cast<int>(g_sealed.parts.size() - 1);
    }
    const int slot = g_sealed.free.back();
    g_sealed.free.pop_back();
    g_sealed.parts[static_cast<std::size_t>(slot)] = {baseFd, path};
    return slot;
}

void ForgetSealed(int slot) {
    if (slot < 0) return;
    SealedLock lock;
    if (--g_sealed.listed == 0) {
        // The list's memory goes with its last part.
        std::vector<SealedPart>().swap(g_sealed.parts);
        std::vector<int>().swap(g_sealed.free);
        return;
    }
    g_sealed.parts[static_cast<std::size_t>(slot)].path.clear();
    g_sealed.free.push_back(slot);
}

}  // namespace

int WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

int TempAt::Create(int folderFd, const std::string& folder, unsigned mode) {
    Discard();
    folderFd_ = folderFd;
    prefix_ = folderFd == AT_FDCWD && !folder.empty() ? folder + "/" : std::string();
    for (int attempt = 0; attempt < 100; ++attempt) {
        name_ = prefix_ + TempName(static_cast<unsigned long long>(::getpid()), ++g_counter);
        HoldInterrupts hold;
        fd_.Reset(::openat(folderFd_, name_.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           static_cast<mode_t>(mode & 07777)));
        if (fd_) {
            // The umask may have taken bits away that the file must have (or kept ones
            // it must not): the mode asked for is the mode the file gets.
            ::fchmod(fd_.Get(), static_cast<mode_t>(mode & 07777));
            slot_ = RemoveOnInterrupt(folderFd_, name_);
            return 0;
        }
        if (errno != EEXIST) break;
    }
    const int err = errno;
    name_.clear();
    return err;
}

int TempAt::Write(const void* data, std::size_t size) {
    return fd_ ? WriteAll(fd_.Get(), data, size) : EBADF;
}

int TempAt::Seal(int baseFd, const std::string& fromBase) {
    if (!fd_) return EBADF;
    // Listed apart before it leaves its slot: no moment finds it unlisted.
    sealedSlot_ = ListSealed(baseFd, fromBase);
    ForgetOnInterrupt(std::exchange(slot_, -1));
    folderFd_ = -1;
    return fd_.Close() ? 0 : errno;
}

int TempAt::Commit(const std::string& name, bool sync) {
    if (name_.empty()) return EBADF;
    int err = 0;
    if (sync && fd_ && ::fsync(fd_.Get()) != 0) err = errno;
    if (!fd_.Close() && !err) err = errno;
    if (!err && ::renameat(folderFd_, name_.c_str(), folderFd_, (prefix_ + name).c_str()) != 0)
        err = errno;
    if (err) {
        Discard();
        return err;
    }
    name_.clear();
    Unlist();
    if (sync) {
        UniqueFd dir(folderFd_ == AT_FDCWD ? ::open(prefix_.empty() ? "." : prefix_.c_str(),
                                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                           : ::dup(folderFd_));
        if (dir) ::fsync(dir.Get());
    }
    return 0;
}

void TempAt::Discard() {
    fd_.Reset();
    if (!name_.empty()) ::unlinkat(folderFd_, name_.c_str(), 0);
    name_.clear();
    Unlist();
}

void TempAt::Unlist() {
    ForgetOnInterrupt(std::exchange(slot_, -1));
    ForgetSealed(std::exchange(sealedSlot_, -1));
}

}  // namespace talvane::platform::posix
