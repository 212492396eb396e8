#include "platform/Process.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using vornel::platform::ChildProcess;
using vornel::platform::ProcessOutcome;
using namespace std::chrono_literals;

// Timing, missing programs and argument passing are tested through the runner (RunAndWait).
namespace {

ProcessOutcome Shell(const std::string& script) {
    ChildProcess child({"/bin/sh", "-c", script});
    while (!child.WaitSlice(100ms)) {
    }
    return child.Outcome();
}

} // namespace

TEST(ChildProcess, ReportsExitCodeAndSignal) {
    EXPECT_TRUE(Shell("exit 0").Succeeded());
    auto failed = Shell("exit 3");
    EXPECT_TRUE(failed.started && failed.exited);
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_FALSE(failed.Succeeded());
    auto killed = Shell("kill -TERM $$");
    EXPECT_TRUE(killed.started);
    EXPECT_FALSE(killed.exited);
    EXPECT_EQ(killed.signal, SIGTERM);
    EXPECT_FALSE(killed.Succeeded());
}

TEST(ChildProcess, RunsWithoutTerminalInputOrOurDescriptors) {
    // Standard input is /dev/null: read sees the end at once.
    EXPECT_TRUE(Shell("read line; test $? -ne 0").Succeeded());
    // Its own session: the shell leads it (field 6 of /proc/<pid>/stat is the session id).
    EXPECT_TRUE(Shell("test \"$(cut -d' ' -f6 /proc/$$/stat)\" = \"$$\"").Succeeded());
    // A descriptor of ours that is open on exec is still not passed on.
    int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    EXPECT_TRUE(Shell("test ! -e /proc/self/fd/" + std::to_string(leaked)).Succeeded());
    ::close(leaked);
}

TEST(ChildProcess, DestroyingARunningChildWaitsForIt) {
    auto mark = std::filesystem::temp_directory_path() / ("vornel-process-" + std::to_string(::getpid()));
    {
        ChildProcess child({"/bin/sh", "-c", "sleep 0.2; touch '" + mark.string() + "'"});
        ASSERT_TRUE(child.Started());
    }
    EXPECT_TRUE(std::filesystem::remove(mark));
}
