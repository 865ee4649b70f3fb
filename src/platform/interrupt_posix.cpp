#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/interrupt_posix.h"

namespace talvane {

namespace {

// A few temporary files are open at once: one per transfer, and the
// extraction's bounded look-ahead of parts (at most 16).
constexpr int kSlots = 32;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct Slot {
    std::atomic<bool> used{false};
    int folderFd = AT_FDCWD;
    char name[PATH_MAX] = {};
};

Slot gSlots[kSlots];

// Only async-signal-safe calls here.
extern "C" void OnTerminationSignal(int sig) {
    for (Slot& slot : gSlots) {
        if (slot.used.load()) ::unlinkat(slot.folderFd, slot.name, 0);
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

HoldInterrupts::HoldInterrupts() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kSignals) sigaddset(&set, sig);
    ::pthread_sigmask(SIG_BLOCK, &set, &old_);
}

HoldInterrupts::~HoldInterrupts() {
    ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

void InstallInterruptCleanup() {
    for (const int sig : kSignals) {
        struct sigaction current {};
        // A signal ignored by whoever started us (nohup, a background job)
        // stays ignored.
        if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        for (const int other : kSignals) sigaddset(&action.sa_mask, other);
        ::sigaction(sig, &action, nullptr);
    }
}

void RemoveTemporaryPartsNow() {
    HoldInterrupts hold;
    for (Slot& slot : gSlots) {
        if (slot.used.exchange(false)) ::unlinkat(slot.folderFd, slot.name, 0);
    }
}

int RemoveOnInterrupt(int folderFd, const std::string& name) {
    if (name.empty() || name.size() >= PATH_MAX) return -1;
    HoldInterrupts hold;
    for (int i = 0; i < kSlots; ++i) {
        Slot& slot = gSlots[i];
        if (slot.used.load()) continue;
        slot.folderFd = folderFd;
        std::memcpy(slot.name, name.c_str(), name.size() + 1);
        slot.used.store(true);
        return i;
    }
    return -1;
}

void ForgetOnInterrupt(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    HoldInterrupts hold;
    gSlots[slot].used.store(false);
}

}  // namespace talvane
