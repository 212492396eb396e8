#include "builder/RunAndWait.h"

#include "TempFolder.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using vornel::builder::RunAndWait;
using vornel::test::ReadBytes;
using vornel::test::TempFolder;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
void ProcessEvents() {
    QCoreApplication::processEvents();
}
} // namespace

TEST(RunAndWait, KeepsEventsFlowingAndReturnsSoonAfterTheEnd) {
    // Only behaviour is asserted: a busy machine stretches every slice, so the bounds are wide.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(50);
    int pumps = 0;
    int ticksBeforeTheEnd = -1;
    Clock::time_point lastPump;
    auto start = Clock::now();
    auto outcome = RunAndWait("/bin/sleep 1", [&] {
        ++pumps;
        lastPump = Clock::now();
        ProcessEvents();
        if (lastPump - start < 900ms)
            ticksBeforeTheEnd = ticks;
    });
    auto end = Clock::now();
    EXPECT_TRUE(outcome.Succeeded());
    EXPECT_GE(end - start, 1000ms);
    EXPECT_LT(end - start, 6000ms); // not a wait for some far longer time-out
    // Events are processed while the program runs, slice by slice, not only at its end: at least
    // a few pumps and timer ticks fall inside the second it sleeps.
    EXPECT_GE(pumps, 3);
    EXPECT_GE(ticksBeforeTheEnd, 2);
    // Slices of 100 ms: never many more pumps than slices.
    EXPECT_LE(pumps, std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count() / 100 + 2);
    // The last pump follows the end of the program.
    EXPECT_GE(lastPump - start, 1000ms);
}

TEST(RunAndWait, AMissingProgramReturnsAtOnceWithoutPumping) {
    int pumps = 0;
    auto start = Clock::now();
    auto outcome =
        RunAndWait("/nonexistent/VnTemp/fbinst.exe G:  format -f -a  -p 8m -e 10m", [&] { ++pumps; });
    EXPECT_LT(Clock::now() - start, 50ms);
    EXPECT_FALSE(outcome.started);
    EXPECT_FALSE(outcome.Succeeded());
    EXPECT_EQ(pumps, 0);
    EXPECT_FALSE(RunAndWait("   ", {}).started);
    EXPECT_FALSE(RunAndWait("/tmp", {}).started);
}

TEST(RunAndWait, ArgumentsReachTheProgramAsSplitWithNoShell) {
    TempFolder folder;
    auto out = folder.path() / "args";
    // $0 is the output file; every further argument is written on a line of its own. Nothing is
    // expanded by a shell on the way: "$HOME" and ";" arrive as they were written.
    std::string line = "/bin/sh -c \"printf '%s\\n' \\\"$@\\\" > \\\"$0\\\"\" " + out.string() +
                       R"( "a b" c\"d "$HOME;x" "C:\dir\\" "")";
    auto outcome = RunAndWait(line, ProcessEvents);
    ASSERT_TRUE(outcome.Succeeded());
    EXPECT_EQ(ReadBytes(out), "a b\nc\"d\n$HOME;x\nC:\\dir\\\n\n");
}

TEST(RunAndWait, TheProgramsStderrStillReachesOursAndItsLastLineIsKept) {
    TempFolder folder;
    const auto passedOn = folder.path() / "stderr";
    // Our stderr goes to a file for the call, to see what was passed on.
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open(passedOn.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    ::dup2(file, STDERR_FILENO);
    // 200 KB before the reason: more than a pipe holds, so it must be read while the program runs.
    const auto script = folder.path() / "say.sh";
    vornel::test::WriteBytes(script, "head -c 200000 /dev/zero | tr '\\0' x >&2\n"
                                     "printf '\\nfirst\\r\\nthe reason\\n\\n' >&2\nexit 3\n");
    auto outcome = RunAndWait("/bin/sh " + script.string(), ProcessEvents);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_EQ(outcome.lastErrorLine, "the reason");
    const std::string passed = ReadBytes(passedOn);
    EXPECT_EQ(std::count(passed.begin(), passed.end(), 'x'), 200000);
    EXPECT_EQ(passed.substr(std::min<size_t>(passed.size(), 200000)), "\nfirst\r\nthe reason\n\n");

    // A last line without its line end counts too; a program that says nothing leaves it empty.
    EXPECT_EQ(RunAndWait("/bin/sh -c \"printf 'cut off' >&2\"", ProcessEvents).lastErrorLine, "cut off");
    EXPECT_EQ(RunAndWait("/bin/true", ProcessEvents).lastErrorLine, "");
}
