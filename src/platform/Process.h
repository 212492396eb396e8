#pragma once
// Starting an outside program without a shell, feeding and reading it through pipes, and waiting
// for its end in slices, so the caller can keep its window serviced between them.

#include "platform/UniqueFd.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace vornel::platform {

// How a program ended, or that it never started.
struct ProcessOutcome {
    bool started = false;
    int startError = 0;  // errno of the failed start
    bool exited = false; // ended by exit(); false when a signal ended it
    int exitCode = 0;
    int signal = 0;
    std::string lastErrorLine; // the last line the program wrote to stderr, when it was captured
    // What it wrote on stdout and stderr, when its runner kept them (RunAndWait does).
    std::string standardOutput;
    std::string standardError;

    bool Succeeded() const { return started && exited && exitCode == 0; }
};

using ChildOutput = std::function<void(std::string_view)>;

// What the caller wants of a program besides its end.
struct ChildOptions {
    // Its stderr is read as it comes and its last line kept. Each piece goes to `onErrors`, or
    // without one (with `captureErrors`) on to our stderr.
    bool captureErrors = false;
    ChildOutput onErrors;
    // Its stdout is handed to `onOutput` piece by piece; without one it goes where ours goes.
    ChildOutput onOutput;
    // Written to its standard input, which then ends.
    std::string input;
    // Standard input becomes one end of a socket pair that reads as empty: the program may write
    // to it, and each piece it writes is handed to `onSideChannel` (`input` is then not used).
    // `sideChannelEnvironment` ("NAME=value") tells the program so.
    ChildOutput onSideChannel;
    std::string sideChannelEnvironment;
    // "NAME=value" entries that replace ours of the same name in the program's environment.
    std::vector<std::string> environment;
    // This descriptor of ours becomes the program's descriptor 3.
    int descriptor3 = -1;
    // A session of its own, so it has no terminal.
    bool ownSession = true;
    // The program is killed when the thread that started it ends, and never starts at all when
    // that thread has already gone, so no helper goes on writing after its caller was killed.
    bool dieWithParent = false;
};

// One started program. argv[0] is the program: a path, or a bare name found by FindProgram.
// Standard input is /dev/null unless given, output goes where ours goes unless read, signals
// have their default handling, and descriptors beyond 2 (or 3) are not passed on.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv, ChildOptions options = {});
    // A program still running when its object goes is waited for, so it is never left a zombie
    // and never cut off in the middle of its work.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return outcome_.started; }
    pid_t Pid() const { return pid_; }

    // Waits at most `slice` for the end, feeding and reading the program meanwhile. True once
    // the program has ended (or never started).
    bool WaitSlice(std::chrono::milliseconds slice);

    // Meaningful once WaitSlice has returned true.
    const ProcessOutcome& Outcome() const { return outcome_; }

  private:
    void Start(const std::vector<std::string>& argv);
    void Reap(int status);
    // Reads what is waiting on the read descriptors and writes what the input pipe takes,
    // without blocking.
    void Serve();
    void TakeErrors(std::string_view bytes);

    ChildOptions options_;
    pid_t pid_ = -1;
    UniqueFd pidFd_;
    UniqueFd errorsFd_;
    UniqueFd outputFd_;
    UniqueFd sideChannelFd_;
    UniqueFd inputFd_;
    std::size_t inputWritten_ = 0;
    std::string errorLine_; // the line being received
    bool ended_ = false;
    ProcessOutcome outcome_;
};

} // namespace vornel::platform
