#include "builder/RunAndWait.h"

#include "platform/CommandLine.h"

#include <chrono>

namespace vornel::builder {

namespace {
constexpr std::chrono::milliseconds kWaitSlice{100};
}

platform::ProcessOutcome RunAndWait(const std::string& commandLine,
                                    const std::function<void()>& processEvents,
                                    const ProgressListener& onProgress) {
    platform::ChildOptions options;
    options.captureErrors = true;
    progress::RecordReader reader;
    if (onProgress) {
        options.sideChannelEnvironment = std::string(progress::kProgressEnvironment) + "=1";
        options.onSideChannel = [&](std::string_view bytes) {
            for (const progress::Record& record : reader.Feed(bytes))
                onProgress(record);
        };
    }
    platform::ChildProcess child(platform::SplitCommandLine(commandLine), std::move(options));
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
