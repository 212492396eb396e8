#include "platform/Process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
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

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Ours, with `entry` ("NAME=value") replacing any value of that name.
std::vector<char*> EnvironmentWith(const std::string& entry) {
    std::vector<char*> env;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    for (char** e = environ; *e; ++e)
        if (name.empty() || std::strncmp(*e, name.c_str(), name.size()) != 0)
            env.push_back(*e);
    if (!entry.empty())
        env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);
    return env;
}

void WriteAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
}

// Hands what a non-blocking pipe holds now to `take`; closes it once the writer is gone.
void ReadWhatIsThere(int& fd, const std::function<void(std::string_view)>& take) {
    char buffer[4096];
    while (fd >= 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n <= 0) {
            CloseFd(fd);
            break;
        }
        take(std::string_view(buffer, static_cast<size_t>(n)));
    }
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, ChildOptions options)
    : options_(std::move(options)) {
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
    // Without a pipe or a socket pair the program runs as it would without the option.
    int errors[2] = {-1, -1};
    int channel[2] = {-1, -1};
    if (options_.captureErrors && ::pipe2(errors, O_CLOEXEC) == 0)
        posix_spawn_file_actions_adddup2(&setup.actions, errors[1], STDERR_FILENO);
    if (options_.onSideChannel && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) == 0)
        posix_spawn_file_actions_adddup2(&setup.actions, channel[1], STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);

    const std::string offer = channel[0] >= 0 ? options_.sideChannelEnvironment : std::string();
    std::vector<char*> env = EnvironmentWith(offer);
    int error = ::posix_spawnp(&pid_, args[0], &setup.actions, &setup.attributes, args.data(), env.data());
    CloseFd(errors[1]);
    CloseFd(channel[1]);
    errorsFd_ = errors[0];
    sideChannelFd_ = channel[0];
    if (error != 0) {
        CloseFd(errorsFd_);
        CloseFd(sideChannelFd_);
        pid_ = -1;
        outcome_.startError = error;
        ended_ = true;
        return;
    }
    for (int fd : {errorsFd_, sideChannelFd_})
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // The program reads its standard input as empty, as it would /dev/null.
    if (sideChannelFd_ >= 0)
        ::shutdown(sideChannelFd_, SHUT_WR);
    outcome_.started = true;
    pidFd_ = OpenPidFd(pid_);
}

ChildProcess::~ChildProcess() {
    // Waiting in slices keeps reading its stderr, so a program with much to say never blocks.
    while (!WaitSlice(std::chrono::milliseconds(100))) {
    }
    CloseFd(pidFd_);
    CloseFd(errorsFd_);
    CloseFd(sideChannelFd_);
}

void ChildProcess::Drain() {
    ReadWhatIsThere(errorsFd_, [this](std::string_view bytes) {
        WriteAll(STDERR_FILENO, bytes.data(), bytes.size());
        for (const char c : bytes) {
            if (c != '\n' && c != '\r') {
                errorLine_ += c;
            } else if (!errorLine_.empty()) {
                outcome_.lastErrorLine = std::move(errorLine_);
                errorLine_.clear();
            }
        }
    });
    ReadWhatIsThere(sideChannelFd_, options_.onSideChannel);
}

bool ChildProcess::WaitSlice(std::chrono::milliseconds slice) {
    if (ended_)
        return true;
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    const auto deadline = std::chrono::steady_clock::now() + slice;
    while (done == 0) {
        const auto remaining =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0)
            break;
        // A pid descriptor wakes us the moment the program ends; without any descriptor, sleep.
        if (pidFd_ < 0 && errorsFd_ < 0 && sideChannelFd_ < 0) {
            SleepFor(remaining);
            break;
        }
        pollfd ready[3] = {{pidFd_, POLLIN, 0}, {errorsFd_, POLLIN, 0}, {sideChannelFd_, POLLIN, 0}};
        const int events = ::poll(ready, 3, static_cast<int>(remaining.count()));
        Drain();
        if (events == 0 || ready[0].revents != 0)
            break;
    }
    if (done == 0)
        done = ::waitpid(pid_, &status, WNOHANG);
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
    // What it wrote just before its end is still waiting; a descendant that keeps the
    // descriptors open is not waited for.
    Drain();
    if (!errorLine_.empty())
        outcome_.lastErrorLine = errorLine_;
    CloseFd(errorsFd_);
    CloseFd(sideChannelFd_);
    if (WIFEXITED(status)) {
        outcome_.exited = true;
        outcome_.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome_.signal = WTERMSIG(status);
    }
}

} // namespace vornel::platform
