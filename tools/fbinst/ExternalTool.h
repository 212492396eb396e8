#pragma once
// Runs the well-kept tools the disk tool relies on (sfdisk, mkfs.fat, mtools) as child
// processes, with no shell between: the arguments reach them exactly as given.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::fbinst {

struct ToolRun {
    int exitCode = -1; // -1 when the tool was killed by a signal
    std::string errorText;
};

// Runs argv[0] (looked up in $PATH, then /usr/sbin and /sbin) with `input` on its stdin; its
// stdout is handed to `onOutput` piece by piece as it arrives. The environment is this
// process's, with mtools told to skip its geometry checks and the C locale for parseable output.
// Throws Failure when the tool cannot be started.
ToolRun RunTool(const std::vector<std::string>& argv, const std::string& input,
                const std::function<void(std::string_view)>& onOutput);

// RunTool collecting stdout; throws Failure naming the tool and its stderr on a non-zero exit.
std::string RunToolChecked(const std::vector<std::string>& argv, const std::string& input = {});

} // namespace vornel::fbinst
