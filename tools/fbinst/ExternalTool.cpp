#include "ExternalTool.h"

#include "Failure.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vornel::fbinst {

namespace {

std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    std::string dirs = getenv("PATH") ? getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= dirs.size()) {
        std::size_t end = dirs.find(':', begin);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string candidate = dirs.substr(begin, end - begin) + "/" + name;
        if (end > begin && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        begin = end + 1;
    }
    throw Failure("the program \"" + name + "\" is not installed");
}

std::vector<std::string> ToolEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        if (!entry.starts_with("MTOOLS_SKIP_CHECK=") && !entry.starts_with("LC_ALL=") &&
            !entry.starts_with("MTOOLSRC="))
            env.emplace_back(entry);
    }
    env.emplace_back("MTOOLS_SKIP_CHECK=1");
    env.emplace_back("MTOOLSRC=/dev/null"); // no user settings change what mtools writes
    env.emplace_back("LC_ALL=C.UTF-8");     // exists on every glibc system; C would mangle names
    return env;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() {
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw Failure(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    ~Pipe() {
        CloseEnd(0);
        CloseEnd(1);
    }
    void CloseEnd(int end) {
        if (fds[end] >= 0)
            close(fds[end]);
        fds[end] = -1;
    }
};

constexpr int kChildDriveFd = 3;

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecChild(pid_t parent, const Pipe& in, const Pipe& out, const Pipe& err, int driveFd,
                            char* const* argv, char* const* envp) {
    // Killed with the tool's thread that started it; if the tool died before this line, the
    // parent is already another process and the child must not start.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
        _exit(127);
    if (dup2(in.fds[0], 0) < 0 || dup2(out.fds[1], 1) < 0 || dup2(err.fds[1], 2) < 0)
        _exit(127);
    if (driveFd >= 0 &&
        (driveFd == kChildDriveFd ? fcntl(kChildDriveFd, F_SETFD, 0) : dup2(driveFd, kChildDriveFd)) < 0)
        _exit(127);
    execve(argv[0], argv, envp);
    _exit(127);
}

} // namespace

ToolRun RunTool(const std::vector<std::string>& argv, const std::string& input,
                const std::function<void(std::string_view)>& onOutput, int driveFd) {
    std::vector<std::string> args = argv;
    args[0] = FindProgram(argv[0]);
    std::vector<std::string> env = ToolEnvironment();
    std::vector<char*> cArgs = CStrings(args);
    std::vector<char*> cEnv = CStrings(env);

    Pipe in, out, err;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        throw Failure("cannot start " + argv[0] + ": " + std::strerror(errno));
    if (pid == 0)
        ExecChild(parent, in, out, err, driveFd, cArgs.data(), cEnv.data());
    in.CloseEnd(0);
    out.CloseEnd(1);
    err.CloseEnd(1);

    // A tool that stops reading its input must not kill us with SIGPIPE.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);

    ToolRun run;
    std::size_t written = 0;
    if (input.empty())
        in.CloseEnd(1);
    std::vector<char> buffer(1 << 20);
    while (out.fds[0] >= 0 || err.fds[0] >= 0 || in.fds[1] >= 0) {
        pollfd fds[3] = {{out.fds[0], POLLIN, 0}, {err.fds[0], POLLIN, 0}, {in.fds[1], POLLOUT, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = read(fds[i].fd, buffer.data(), buffer.size());
            if (n <= 0) {
                (i == 0 ? out : err).CloseEnd(0);
            } else if (i == 0) {
                onOutput(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
            } else {
                run.errorText.append(buffer.data(), static_cast<std::size_t>(n));
            }
        }
        if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = write(in.fds[1], input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            if (n <= 0 || written == input.size())
                in.CloseEnd(1);
        }
    }
    sigaction(SIGPIPE, &previous, nullptr);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string RunToolChecked(const std::vector<std::string>& argv, const std::string& input, int driveFd) {
    std::string output;
    const ToolRun run = RunTool(
        argv, input, [&](std::string_view piece) { output.append(piece); }, driveFd);
    if (run.exitCode != 0) {
        std::string text = run.errorText;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        throw Failure(argv[0] + " failed" + (text.empty() ? std::string() : ": " + text));
    }
    return output;
}

} // namespace vornel::fbinst
