#include "builder/RunAndWait.h"

#include "platform/CommandLine.h"
#include "platform/ReadWrite.h"

#include <chrono>
#include <unistd.h>

namespace vornel::builder {

namespace {

constexpr std::chrono::milliseconds kWaitSlice{100};
// What is kept of each stream for the operation's log; a tool that says more is cut there.
constexpr std::size_t kKeptBytes = 1 << 20;

// Keeps what the program writes on one stream, and passes it on to ours as it comes.
platform::ChildOutput KeepAndPass(std::string& kept, int ours) {
    return [&kept, ours](std::string_view piece) {
        if (kept.size() < kKeptBytes)
            kept.append(piece.substr(0, kKeptBytes - kept.size()));
        platform::WriteAll(ours, piece.data(), piece.size());
    };
}

} // namespace

platform::ProcessOutcome RunAndWait(const std::string& commandLine,
                                    const std::function<void()>& processEvents,
                                    const ProgressListener& onProgress) {
    std::string output, errors;
    platform::ChildOptions options;
    options.captureErrors = true;
    options.onOutput = KeepAndPass(output, STDOUT_FILENO);
    options.onErrors = KeepAndPass(errors, STDERR_FILENO);
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
    platform::ProcessOutcome outcome = child.Outcome();
    outcome.standardOutput = std::move(output);
    outcome.standardError = std::move(errors);
    return outcome;
}

} // namespace vornel::builder
