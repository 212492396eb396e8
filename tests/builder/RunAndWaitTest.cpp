#include "builder/RunAndWait.h"

#include "TempFolder.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>

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
