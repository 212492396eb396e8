#include "platform/Process.h"

#include "platform/ProgramLookup.h"
#include "platform/ReadWrite.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vornel::platform {

namespace {

// The two ends of a pipe or a socket pair; both invalid when it could not be made, so the
// program then runs as it would without the option that asked for it.
struct Ends {
    UniqueFd read;
    UniqueFd write;
};

Ends MakePipe() {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// For the side channel: `read` stays ours, `write` becomes the program's standard input.
Ends MakeSocketPair() {
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return {};
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Ours, with each "NAME=value" of `entries` replacing any value of that name.
std::vector<char*> EnvironmentWith(const std::vector<std::string>& entries) {
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const std::string& entry : entries)
            replaced = replaced || std::strncmp(*e, entry.c_str(), entry.find('=') + 1) == 0;
        if (!replaced)
            env.push_back(*e);
    }
    for (const std::string& entry : entries)
        env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);
    return env;
}

int OpenPidFd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

void SleepFor(std::chrono::milliseconds span) {
    timespec rest{static_cast<time_t>(span.count() / 1000),
                  static_cast<long>(span.count() % 1000) * 1000000L};
    while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

// What the child needs between fork and exec, all made before the fork.
struct ChildSetup {
    const char* path;
    char* const* argv;
    char* const* envp;
    int targets[4]; // what becomes descriptors 0 to 3; -1 leaves ours (or none, for 3)
    int status;     // written the errno of a failed start
    bool ownSession;
    bool dieWithParent;
    pid_t parent;
};

[[noreturn]] void FailInChild(int status) {
    const int error = errno;
    const ssize_t ignored = ::write(status, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecInChild(const ChildSetup& setup) {
    // A thread that died before this line has left us to another parent: do not start.
    if (setup.dieWithParent && (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != setup.parent))
        ::_exit(127);
    // Each source first moves above the targets, so that no dup2 overwrites one still needed.
    constexpr int kAboveTargets = 10;
    const int status = ::fcntl(setup.status, F_DUPFD_CLOEXEC, kAboveTargets);
    int sources[4];
    int lastTarget = 2;
    for (int target = 0; target < 4; ++target) {
        sources[target] = setup.targets[target];
        if (sources[target] >= 0 &&
            (sources[target] = ::fcntl(sources[target], F_DUPFD_CLOEXEC, kAboveTargets)) < 0)
            FailInChild(status);
    }
    for (int target = 0; target < 4; ++target) {
        if (sources[target] >= 0 && ::dup2(sources[target], target) < 0)
            FailInChild(status);
        if (sources[target] >= 0)
            lastTarget = std::max(lastTarget, target);
    }
    // Nothing else of ours is passed on, whether or not it was opened close-on-exec.
    if (status > lastTarget + 1)
        ::close_range(static_cast<unsigned>(lastTarget + 1), static_cast<unsigned>(status - 1), 0);
    ::close_range(static_cast<unsigned>(std::max(status, lastTarget) + 1), ~0U, 0);
    // Default handling and an empty mask, whatever ours are.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        ::sigaction(signal, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (setup.ownSession)
        ::setsid();
    ::execve(setup.path, setup.argv, setup.envp);
    FailInChild(status);
}

// Writes what the pipe takes now. A reader that is gone raises no SIGPIPE: the signal is held
// back in this thread and taken before it is let through again.
ssize_t WriteWithoutSigpipe(int fd, const char* data, size_t size) {
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const ssize_t n = ::write(fd, data, size);
    const int error = errno;
    if (n < 0 && error == EPIPE) {
        const timespec now{};
        while (::sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return n;
}

// Hands what a non-blocking descriptor holds now to `take`; closes it once the writer is gone.
void ReadWhatIsThere(UniqueFd& fd, const ChildOutput& take) {
    char buffer[65536];
    while (fd.Valid()) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n <= 0) {
            fd.Reset();
            break;
        }
        take(std::string_view(buffer, static_cast<size_t>(n)));
    }
}

void SetNonBlocking(const UniqueFd& fd) {
    if (fd.Valid())
        ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) | O_NONBLOCK);
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, ChildOptions options)
    : options_(std::move(options)) {
    Start(argv);
    if (!outcome_.started)
        ended_ = true;
}

void ChildProcess::Start(const std::vector<std::string>& argv) {
    const std::optional<std::string> path = argv.empty() ? std::nullopt : FindProgram(argv[0]);
    if (!path) {
        outcome_.startError = ENOENT;
        return;
    }
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    const UniqueFd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    Ends errors = options_.captureErrors || options_.onErrors ? MakePipe() : Ends{};
    Ends output = options_.onOutput ? MakePipe() : Ends{};
    Ends channel = options_.onSideChannel ? MakeSocketPair() : Ends{};
    Ends input = !channel.read.Valid() && !options_.input.empty() ? MakePipe() : Ends{};
    Ends status = MakePipe();
    if (!status.read.Valid()) {
        outcome_.startError = errno;
        return;
    }
    const int stdinSource = channel.write.Valid() ? channel.write.Get()
                            : input.read.Valid()  ? input.read.Get()
                                                  : devNull.Get();
    std::vector<std::string> entries = options_.environment;
    if (channel.read.Valid() && !options_.sideChannelEnvironment.empty())
        entries.push_back(options_.sideChannelEnvironment);
    const std::vector<char*> env = EnvironmentWith(entries);
    const ChildSetup setup{path->c_str(),
                           args.data(),
                           env.data(),
                           {stdinSource, output.write.Get(), errors.write.Get(), options_.descriptor3},
                           status.write.Get(),
                           options_.ownSession,
                           options_.dieWithParent,
                           ::getpid()};

    // No handler of ours may run in the child before it has set every signal to its default.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    pid_ = ::fork();
    if (pid_ == 0)
        ExecInChild(setup);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid_ < 0) {
        outcome_.startError = forkError;
        return;
    }
    // The child's ends go; the status pipe then reads its errno, or nothing once exec succeeded.
    status.write.Reset();
    int error = 0;
    ssize_t n = 0;
    while ((n = ::read(status.read.Get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (n == sizeof error) {
        int ignored = 0;
        while (::waitpid(pid_, &ignored, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        outcome_.startError = error;
        return;
    }
    errorsFd_ = std::move(errors.read);
    outputFd_ = std::move(output.read);
    sideChannelFd_ = std::move(channel.read);
    inputFd_ = std::move(input.write);
    for (const UniqueFd* fd : {&errorsFd_, &outputFd_, &sideChannelFd_, &inputFd_})
        SetNonBlocking(*fd);
    // The program reads its standard input as empty, as it would /dev/null.
    if (sideChannelFd_.Valid())
        ::shutdown(sideChannelFd_.Get(), SHUT_WR);
    outcome_.started = true;
    pidFd_.Reset(OpenPidFd(pid_));
}

ChildProcess::~ChildProcess() {
    // Waiting in slices keeps reading its output, so a program with much to say never blocks.
    while (!WaitSlice(std::chrono::milliseconds(100))) {
    }
}

void ChildProcess::TakeErrors(std::string_view bytes) {
    if (options_.onErrors)
        options_.onErrors(bytes);
    else
        WriteAll(STDERR_FILENO, bytes.data(), bytes.size());
    for (const char c : bytes) {
        if (c != '\n' && c != '\r') {
            errorLine_ += c;
        } else if (!errorLine_.empty()) {
            outcome_.lastErrorLine = std::move(errorLine_);
            errorLine_.clear();
        }
    }
}

void ChildProcess::Serve() {
    ReadWhatIsThere(errorsFd_, [this](std::string_view bytes) { TakeErrors(bytes); });
    ReadWhatIsThere(outputFd_, options_.onOutput);
    ReadWhatIsThere(sideChannelFd_, options_.onSideChannel);
    if (inputFd_.Valid()) {
        const std::string& input = options_.input;
        const ssize_t n =
            WriteWithoutSigpipe(inputFd_.Get(), input.data() + inputWritten_, input.size() - inputWritten_);
        if (n > 0)
            inputWritten_ += static_cast<size_t>(n);
        // The input ends when it is all written, or when the program no longer reads it.
        if (inputWritten_ == input.size() || (n < 0 && errno != EAGAIN && errno != EINTR))
            inputFd_.Reset();
    }
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
        pollfd ready[5] = {{pidFd_.Get(), POLLIN, 0},
                           {errorsFd_.Get(), POLLIN, 0},
                           {outputFd_.Get(), POLLIN, 0},
                           {sideChannelFd_.Get(), POLLIN, 0},
                           {inputFd_.Get(), POLLOUT, 0}};
        // A pid descriptor wakes us the moment the program ends; without any descriptor, sleep.
        if (std::none_of(std::begin(ready), std::end(ready), [](const pollfd& p) { return p.fd >= 0; })) {
            SleepFor(remaining);
            break;
        }
        const int events = ::poll(ready, 5, static_cast<int>(remaining.count()));
        Serve();
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
    Serve();
    if (!errorLine_.empty())
        outcome_.lastErrorLine = errorLine_;
    for (UniqueFd* fd : {&pidFd_, &errorsFd_, &outputFd_, &sideChannelFd_, &inputFd_})
        fd->Reset();
    if (WIFEXITED(status)) {
        outcome_.exited = true;
        outcome_.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome_.signal = WTERMSIG(status);
    }
}

} // namespace vornel::platform
