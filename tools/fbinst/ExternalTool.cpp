#include "ExternalTool.h"

#include "Failure.h"
#include "platform/Process.h"

#include <cerrno>
#include <cstring>

namespace vornel::fbinst {

ToolRun RunTool(const std::vector<std::string>& argv, const std::string& input,
                const std::function<void(std::string_view)>& onOutput, int driveFd,
                const OnToolStarted& onStarted) {
    ToolRun run;
    platform::ChildOptions options;
    options.onOutput = onOutput;
    options.onErrors = [&run](std::string_view piece) { run.errorText.append(piece); };
    options.input = input;
    options.environment = {"MTOOLS_SKIP_CHECK=1",
                           "MTOOLSRC=/dev/null", // no user settings change what mtools writes
                           "LC_ALL=C.UTF-8"};    // exists on every glibc system; C would mangle names
    options.descriptor3 = driveFd;
    options.ownSession = false;
    options.dieWithParent = true;
    platform::ChildProcess child(argv, std::move(options));
    const platform::ProcessOutcome& outcome = child.Outcome();
    if (!child.Started()) {
        if (outcome.startError == ENOENT && !argv.empty() && argv[0].find('/') == std::string::npos)
            throw Failure("the program \"" + argv[0] + "\" is not installed");
        throw Failure("cannot start " + (argv.empty() ? std::string() : argv[0]) + ": " +
                      std::strerror(outcome.startError));
    }
    if (onStarted)
        onStarted(child.Pid());
    while (!child.WaitSlice(std::chrono::seconds(1))) {
    }
    run.exitCode = outcome.exited ? outcome.exitCode : -1;
    return run;
}

std::string RunToolChecked(const std::vector<std::string>& argv, const std::string& input, int driveFd,
                           const OnToolStarted& onStarted) {
    std::string output;
    const ToolRun run = RunTool(
        argv, input, [&](std::string_view piece) { output.append(piece); }, driveFd, onStarted);
    if (run.exitCode != 0) {
        std::string text = run.errorText;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        throw Failure(argv[0] + " failed" + (text.empty() ? std::string() : ": " + text));
    }
    return output;
}

} // namespace vornel::fbinst
