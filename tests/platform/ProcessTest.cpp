#include "platform/Process.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
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

namespace {

// Starts `sh` (which says its pid, then becomes `sleep 60`) from a process that ends at once,
// and returns the read end of the sleep's stdout: it reads as ended only once the sleep is gone.
int OrphanedSleepOutput(bool dieWithParent) {
    int ends[2];
    if (::pipe(ends) != 0)
        return -1;
    const pid_t starter = ::fork();
    if (starter == 0) {
        ::dup2(ends[1], STDOUT_FILENO);
        vornel::platform::ChildOptions options;
        options.dieWithParent = dieWithParent;
        ChildProcess sleeper({"/bin/sh", "-c", "echo $$; exec sleep 60"}, std::move(options));
        ::_exit(sleeper.Started() ? 0 : 1); // no destructor: nothing waits for the sleep
    }
    ::close(ends[1]);
    int status = 0;
    ::waitpid(starter, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ends[0] : (::close(ends[0]), -1);
}

// Reads what comes until the end, or until nothing has come for `quiet`; true at the end.
bool EndsWithin(int fd, std::chrono::milliseconds quiet, std::string* text = nullptr) {
    char buffer[64];
    pollfd ready{fd, POLLIN, 0};
    while (::poll(&ready, 1, static_cast<int>(quiet.count())) > 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return true;
        if (text)
            text->append(buffer, static_cast<size_t>(n));
        if (text && text->find('\n') != std::string::npos)
            return false; // a whole line is all the caller wants
    }
    return false;
}

} // namespace

TEST(ChildProcess, AChildThatDiesWithItsParentGoesWhenTheParentEnds) {
    // Generous bounds: a busy machine may take long to start a shell, never half a minute.
    const int killed = OrphanedSleepOutput(true);
    ASSERT_GE(killed, 0);
    EXPECT_TRUE(EndsWithin(killed, 30s));
    ::close(killed);

    // Without the option the program outlives the process that started it.
    const int survivor = OrphanedSleepOutput(false);
    ASSERT_GE(survivor, 0);
    std::string pid;
    ASSERT_FALSE(EndsWithin(survivor, 30s, &pid));
    ASSERT_FALSE(pid.empty());
    EXPECT_FALSE(EndsWithin(survivor, 1s));
    ::kill(std::stoi(pid), SIGKILL);
    ::close(survivor);
}
