#include "builder/RunAndWait.h"

#include "platform/CommandLine.h"

#include <chrono>

namespace vornel::builder {

namespace {
constexpr std::chrono::milliseconds kWaitSlice{100};
}

platform::ProcessOutcome RunAndWait(const std::string& commandLine,
                                    const std::function<void()>& processEvents) {
    platform::ChildProcess child(platform::SplitCommandLine(commandLine));
    if (!child.Started())
        return child.Outcome();
    bool ended = false;
    do {
        ended = child.WaitSlice(kWaitSlice);
        if (processEvents)
            processEvents();
    } while (!ended);
    return child.Outcome();
}

} // namespace vornel::builder
