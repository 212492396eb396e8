#pragma once
// Runs the well-kept tools the disk tool relies on (sfdisk, mkfs.fat, mtools) as child
// processes, with no shell between: the arguments reach them exactly as given. A child dies with
// the tool, so none goes on writing a drive after the tool was killed.

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace vornel::fbinst {

struct ToolRun {
    int exitCode = -1; // -1 when the tool was killed by a signal
    std::string errorText;
};

// The path under which a child reaches the drive descriptor it was handed: the very object the
// tool opened and checked, whatever its name points to by then.
constexpr const char* kChildDrivePath = "/proc/self/fd/3";

// Told the child's process id once it has started, for a look at what it does meanwhile.
using OnToolStarted = std::function<void(pid_t)>;

// Runs argv[0] (found by platform::FindProgram) with `input` on its stdin; its
// stdout is handed to `onOutput` piece by piece as it arrives. `driveFd`, when given, becomes the
// child's descriptor 3 (kChildDrivePath). The environment is this process's, with mtools told to
// skip its geometry checks and read no user settings, in the C.UTF-8 locale, so names keep every
// character and messages stay parseable. Throws Failure when the tool cannot be started.
ToolRun RunTool(const std::vector<std::string>& argv, const std::string& input,
                const std::function<void(std::string_view)>& onOutput, int driveFd = -1,
                const OnToolStarted& onStarted = {});

// RunTool collecting stdout; throws Failure naming the tool and its stderr on a non-zero exit.
std::string RunToolChecked(const std::vector<std::string>& argv, const std::string& input = {},
                           int driveFd = -1, const OnToolStarted& onStarted = {});

} // namespace vornel::fbinst
