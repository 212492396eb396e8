#pragma once
// Runs one command line of the disk tool and returns when it has ended, keeping the window alive.

#include "platform/Process.h"
#include "progress/ProgressRecord.h"

#include <functional>
#include <string>

namespace vornel::builder {

// Called with each progress record the tool sends while it runs.
using ProgressListener = std::function<void(const progress::Record&)>;

// Splits `commandLine` by the Windows command-line rules (platform::SplitCommandLine) and starts
// the program with no shell and no terminal. While it runs, waits in slices of 100 ms and calls
// `processEvents` after each slice and once more after the end, so the caller's window stays
// serviced. A program that cannot be started returns at once, without calling `processEvents`.
// The program's stdout and stderr reach ours as they come, and the outcome keeps them (up to
// 1 MiB each) and stderr's last line. With
// `onProgress`, the program is offered the progress channel, and each record it sends there is
// handed on as it arrives. Shows nothing; the outcome tells whether the program started and how
// it ended.
platform::ProcessOutcome RunAndWait(const std::string& commandLine,
                                    const std::function<void()>& processEvents,
                                    const ProgressListener& onProgress = {});

} // namespace vornel::builder
