#pragma once
// Starting the built or installed program from a test, as a launcher would.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vornel::test {

struct ProgramRun {
    std::vector<std::string> argv;
    std::vector<std::string> extraEnvironment; // NAME=value, ahead of the test's own
    std::string stdoutFile;                    // where standard output goes; empty: inherited
};

// Starts the program in its own process group (the web engine's helpers end with it); its
// process id, or -1.
pid_t StartProgram(const ProgramRun& run);

// Runs the program to its end; its exit code, or -1 (not started, or ended by a signal).
int RunProgram(const ProgramRun& run);

// The exit code once the program has ended within `bound`; -1 when it has not (it runs on) or
// ended by a signal.
int WaitForExit(pid_t program, std::chrono::milliseconds bound);

// Ends the program's process group: politely, then for sure.
void StopProgram(pid_t program);

// A new folder only the user may enter, short enough for a local socket's path; the caller
// removes it.
std::string PrivateRuntimeFolder();

} // namespace vornel::test
