// Child processes: posix_spawn (never a shell), stdin from /dev/null, and
// background reaping so that no child is left as a zombie.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/fd_posix.h"
#include "platform/platform.h"

extern char** environ;

namespace talvane::platform {
namespace {

class SpawnAttr {
  public:
    SpawnAttr() { ok_ = ::posix_spawnattr_init(&attr_) == 0; }
    ~SpawnAttr() {
        if (ok_) ::posix_spawnattr_destroy(&attr_);
    }
    SpawnAttr(const SpawnAttr&) = delete;
    SpawnAttr& operator=(const SpawnAttr&) = delete;
    bool ok() const { return ok_; }
    posix_spawnattr_t* get() { return &attr_; }

  private:
    posix_spawnattr_t attr_{};
    bool ok_ = false;
};

class FileActions {
  public:
    FileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
    ~FileActions() {
        if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

// Waits for one child on a thread of its own. The thread blocks in waitpid,
// which costs nothing while the child runs; if the launcher ends first the
// child is adopted by init as usual.
void ReapInBackground(pid_t pid) {
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // No thread available: the child stays a zombie until the launcher ends.
    }
}

}  // namespace

int Spawn(const std::vector<std::string>& argv, bool detached, Child& child,
          const std::string* input, const std::string* outputFile) {
    child = Child();
    if (argv.empty() || argv.front().empty()) return ENOENT;
    SpawnAttr attr;
    FileActions actions;
    if (!attr.ok() || !actions.ok()) return ENOMEM;

    // The child must never read the launcher's input (the console frontend owns
    // it, and 7-Zip would sit waiting for a password): /dev/null or our pipe.
    posix::UniqueFd pipeRead, pipeWrite;
    if (input) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
        pipeRead.Reset(fds[0]);
        pipeWrite.Reset(fds[1]);
        if (int err =
                ::posix_spawn_file_actions_adddup2(actions.get(), pipeRead.Get(), STDIN_FILENO))
            return err;
    } else if (int err = ::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO,
                                                            "/dev/null", O_RDONLY, 0)) {
        return err;
    }
    // A program we wait for (7-Zip, a setup) would have a console window of its
    // own on Windows; here its chatter goes to standard error, so standard
    // output stays the launcher's (the console frontend prints its windows there).
    posix::UniqueFd output;
    if (outputFile) {
        // Opened here, not by the child: a failure is ours to report, and a
        // planted link or file at the name is refused.
        output.Reset(::open(outputFile->c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!output) return errno;
        if (int err =
                ::posix_spawn_file_actions_adddup2(actions.get(), output.Get(), STDOUT_FILENO))
            return err;
    } else if (!detached) {
        if (int err =
                ::posix_spawn_file_actions_adddup2(actions.get(), STDERR_FILENO, STDOUT_FILENO))
            return err;
    }

    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (detached) flags |= POSIX_SPAWN_SETSID;
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    ::posix_spawnattr_setsigmask(attr.get(), &noSignals);
    ::posix_spawnattr_setsigdefault(attr.get(), &defaults);
    if (int err = ::posix_spawnattr_setflags(attr.get(), flags)) return err;

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = 0;
    const bool search = argv.front().find('/') == std::string::npos;
    int err = search
                  ? ::posix_spawnp(&pid, args[0], actions.get(), attr.get(), args.data(), environ)
                  : ::posix_spawn(&pid, args[0], actions.get(), attr.get(), args.data(), environ);
    if (err) return err;
    child.pid_ = pid;
    child.watched_ = !detached;
    if (input) {
        pipeRead.Reset();
        // A child that ends without reading must not kill us with SIGPIPE.
        sigset_t pipeSignal, old;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
        posix::WriteAll(pipeWrite.Get(), input->data(), input->size());
        pipeWrite.Reset();
        timespec none{};
        while (::sigtimedwait(&pipeSignal, nullptr, &none) > 0) {
        }
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    if (detached) ReapInBackground(pid);
    return 0;
}

int PollChild(Child& child, long& exitCode) {
    if (!child.watched_) return ECHILD;
    int status = 0;
    pid_t rc;
    do {
        rc = ::waitpid(static_cast<pid_t>(child.pid_), &status, WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return errno;
    if (rc == 0) return EAGAIN;
    child.watched_ = false;
    if (WIFEXITED(status)) {
        exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        exitCode = 128 + WTERMSIG(status);  // as shells report it
    } else {
        exitCode = 1;
    }
    return 0;
}

void Child::Release() noexcept {
    if (watched_ && pid_ > 0) ReapInBackground(static_cast<pid_t>(pid_));
    watched_ = false;
}

}  // namespace talvane::platform
