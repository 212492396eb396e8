#include "platform/Process.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vornel::platform {

namespace {

// Frees the spawn attributes and file actions on every way out.
struct SpawnSetup {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

int OpenPidFd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

void SleepFor(std::chrono::milliseconds span) {
    timespec rest{static_cast<time_t>(span.count() / 1000),
                  static_cast<long>(span.count() % 1000) * 1000000L};
    while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) {
        outcome_.startError = ENOENT;
        ended_ = true;
        return;
    }
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    SpawnSetup setup;
    // The program gets default signal handling and an empty mask, whatever ours are.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setflags(&setup.attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);

    int error = ::posix_spawnp(&pid_, args[0], &setup.actions, &setup.attributes, args.data(), environ);
    if (error != 0) {
        pid_ = -1;
        outcome_.startError = error;
        ended_ = true;
        return;
    }
    outcome_.started = true;
    pidFd_ = OpenPidFd(pid_);
}

ChildProcess::~ChildProcess() {
    if (!ended_) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (pidFd_ >= 0)
        ::close(pidFd_);
}

bool ChildProcess::WaitSlice(std::chrono::milliseconds slice) {
    if (ended_)
        return true;
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == 0) {
        // A pid descriptor wakes us the moment the program ends; without one, sleep the slice.
        if (pidFd_ >= 0) {
            pollfd ready{pidFd_, POLLIN, 0};
            ::poll(&ready, 1, static_cast<int>(slice.count()));
        } else {
            SleepFor(slice);
        }
        done = ::waitpid(pid_, &status, WNOHANG);
    }
    if (done == pid_) {
        Reap(status);
    } else if (done < 0 && errno != EINTR) {
        // The child is gone without a status we can read (someone else reaped it).
        ended_ = true;
        outcome_.exited = false;
    }
    return ended_;
}

void ChildProcess::Reap(int status) {
    ended_ = true;
    if (WIFEXITED(status)) {
        outcome_.exited = true;
        outcome_.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome_.signal = WTERMSIG(status);
    }
}

} // namespace vornel::platform
