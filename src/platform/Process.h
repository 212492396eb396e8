#pragma once
// Starting an outside program without a shell or a terminal and waiting for its end in slices,
// so the caller can keep its window serviced between them.

#include <chrono>
#include <string>
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

    bool Succeeded() const { return started && exited && exitCode == 0; }
};

// One started program. argv[0] is the program: a path, or a bare name looked up in PATH.
// Standard input is /dev/null, output goes where ours goes, and the program runs in a session of
// its own, so it has no terminal. Descriptors other than 0, 1 and 2 are not passed on.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    // A program still running when its object goes is waited for, so it is never left a zombie
    // and never cut off in the middle of its work.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return outcome_.started; }

    // Waits at most `slice` for the end. True once the program has ended (or never started).
    bool WaitSlice(std::chrono::milliseconds slice);

    // Meaningful once WaitSlice has returned true.
    const ProcessOutcome& Outcome() const { return outcome_; }

  private:
    void Reap(int status);

    pid_t pid_ = -1;
    int pidFd_ = -1;
    bool ended_ = false;
    ProcessOutcome outcome_;
};

} // namespace vornel::platform
