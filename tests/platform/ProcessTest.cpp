#include "platform/Process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using vornel::platform::ChildProcess;
using vornel::platform::ProcessOutcome;
using namespace std::chrono_literals;

namespace {

ProcessOutcome RunToEnd(const std::vector<std::string>& argv) {
    ChildProcess child(argv);
    while (!child.WaitSlice(100ms)) {
    }
    return child.Outcome();
}

ProcessOutcome Shell(const std::string& script) {
    return RunToEnd({"/bin/sh", "-c", script});
}

} // namespace

TEST(ChildProcess, ReportsExitCodeAndSignal) {
    auto ok = RunToEnd({"/bin/true"});
    EXPECT_TRUE(ok.started);
    EXPECT_TRUE(ok.exited);
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_TRUE(ok.Succeeded());

    auto failed = Shell("exit 3");
    EXPECT_TRUE(failed.started);
    EXPECT_TRUE(failed.exited);
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_FALSE(failed.Succeeded());

    auto killed = Shell("kill -TERM $$");
    EXPECT_TRUE(killed.started);
    EXPECT_FALSE(killed.exited);
    EXPECT_EQ(killed.signal, SIGTERM);
    EXPECT_FALSE(killed.Succeeded());
}

TEST(ChildProcess, AProgramThatCannotStartSaysSoAtOnce) {
    auto start = std::chrono::steady_clock::now();
    ChildProcess missing({"/nonexistent/folder/fbinst.exe", "G:"});
    EXPECT_FALSE(missing.Started());
    EXPECT_TRUE(missing.WaitSlice(100ms));
    EXPECT_EQ(missing.Outcome().startError, ENOENT);
    EXPECT_FALSE(missing.Outcome().Succeeded());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);

    ChildProcess empty(std::vector<std::string>{});
    EXPECT_FALSE(empty.Started());
    ChildProcess folder({"/tmp"});
    EXPECT_FALSE(folder.Started());
    EXPECT_NE(folder.Outcome().startError, 0);
}

TEST(ChildProcess, BareNamesAreLookedUpInPath) {
    EXPECT_TRUE(RunToEnd({"true"}).Succeeded());
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

TEST(ChildProcess, WaitSliceReturnsSoonAfterTheEnd) {
    ChildProcess child({"/bin/sleep", "0.3"});
    ASSERT_TRUE(child.Started());
    auto start = std::chrono::steady_clock::now();
    int slices = 0;
    while (!child.WaitSlice(100ms))
        ++slices;
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(slices, 2);
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, 420ms);
    EXPECT_TRUE(child.Outcome().Succeeded());
}

TEST(ChildProcess, DestroyingARunningChildWaitsForIt) {
    auto folder = std::filesystem::temp_directory_path() / ("vornel-process-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    auto mark = folder / "done";
    {
        ChildProcess child({"/bin/sh", "-c", "sleep 0.2; touch '" + mark.string() + "'"});
        ASSERT_TRUE(child.Started());
    }
    EXPECT_TRUE(std::filesystem::exists(mark));
    std::filesystem::remove_all(folder);
}
