#pragma once
// Starting an outside program without a shell or a terminal and waiting for its end in slices,
// so the caller can keep its window serviced between them.

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

    bool Succeeded() const { return started && exited && exitCode == 0; }
};

// What the caller wants of a program besides its end.
struct ChildOptions {
    // Its stderr still reaches ours, line by line as it comes, and its last line is kept.
    bool captureErrors = false;
    // Standard input becomes one end of a socket pair that reads as empty: the program may write
    // to it, and each piece it writes is handed to `onSideChannel`. `sideChannelEnvironment`
    // ("NAME=value") tells the program so.
    std::function<void(std::string_view)> onSideChannel;
    std::string sideChannelEnvironment;
};

// One started program. argv[0] is the program: a path, or a bare name looked up in PATH.
// Standard input is /dev/null, output goes where ours goes, and the program runs in a session of
// its own, so it has no terminal. Descriptors other than 0, 1 and 2 are not passed on.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv, ChildOptions options = {});
    // A program still running when its object goes is waited for, so it is never left a zombie
    // and never cut off in the middle of its work.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return outcome_.started; }

    // Waits at most `slice` for the end, reading what the program writes meanwhile. True once
    // the program has ended (or never started).
    bool WaitSlice(std::chrono::milliseconds slice);

    // Meaningful once WaitSlice has returned true.
    const ProcessOutcome& Outcome() const { return outcome_; }

  private:
    void Reap(int status);
    // Reads what is waiting on the capture descriptors, without blocking.
    void Drain();

    ChildOptions options_;
    pid_t pid_ = -1;
    int pidFd_ = -1;
    int errorsFd_ = -1;
    int sideChannelFd_ = -1;
    std::string errorLine_; // the line being received
    bool ended_ = false;
    ProcessOutcome outcome_;
};

} // namespace vornel::platform
