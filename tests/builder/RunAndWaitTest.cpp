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
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(50);
    int pumps = 0;
    Clock::time_point lastPump;
    auto start = Clock::now();
    auto outcome = RunAndWait("/bin/sleep 1", [&] {
        ++pumps;
        lastPump = Clock::now();
        ProcessEvents();
    });
    auto end = Clock::now();
    EXPECT_TRUE(outcome.Succeeded());
    EXPECT_GE(end - start, 1000ms);
    EXPECT_LT(end - start, 1250ms); // a slice past the end, and room for a loaded machine
    // Ten slices of 100 ms, each followed by the events, and the last after the end.
    EXPECT_GE(pumps, 9);
    EXPECT_LE(pumps, 12);
    EXPECT_GE(lastPump - start, 1000ms);
    // The timer kept firing during the wait, at every slice, not only afterwards.
    EXPECT_GE(ticks, 8);
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
