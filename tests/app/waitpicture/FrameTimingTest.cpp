#include "app/waitpicture/FrameTiming.h"

#include "TestGifs.h"

#include <gtest/gtest.h>

#include <vector>

namespace vornel::app {
namespace {

using test::Frame;
using test::PlainFrame;

GifFrame WithDelay(int delay) {
    return Frame(0, 0, 1, 1, test::kRed, delay, 1);
}

TEST(FrameTiming, DelaysInTwelveMillisecondUnitsWithDefaultAndFloor) {
    EXPECT_EQ(FrameDelayUnits(WithDelay(0)), 10);
    EXPECT_EQ(FrameDelayUnits(WithDelay(1)), 3);
    EXPECT_EQ(FrameDelayUnits(WithDelay(2)), 3);
    EXPECT_EQ(FrameDelayUnits(WithDelay(5)), 5);
    EXPECT_EQ(FrameDelayUnits(PlainFrame(0, 0, 1, 1, test::kRed)), 10);

    WaitTiming timing{1000, 0};
    EXPECT_EQ(NextWaitMs(FrameDelayUnits(WithDelay(5)), 1000, timing), 60);
    timing = WaitTiming{1000, 0};
    EXPECT_EQ(NextWaitMs(FrameDelayUnits(WithDelay(1)), 1000, timing), 36);
    timing = WaitTiming{1000, 0};
    EXPECT_EQ(NextWaitMs(FrameDelayUnits(WithDelay(0)), 1000, timing), 120);
}

TEST(FrameTiming, HalfOfTheOverrunIsTakenFromTheNextWait) {
    WaitTiming timing{0, 0};
    // The first wait: 10 ms have passed since the base, all of it overrun.
    EXPECT_EQ(NextWaitMs(10, 10, timing), 120 - 5);
    EXPECT_EQ(timing.baseMs, 10);
    EXPECT_EQ(timing.lastWaitMs, 115);
    // This cycle took 135 ms for a planned 115: 20 ms overrun, 10 taken off.
    EXPECT_EQ(NextWaitMs(10, 145, timing), 110);
    // Exactly on time: no correction.
    EXPECT_EQ(NextWaitMs(3, 255, timing), 36);
    // Woken 10 ms early: the next wait grows by half of it.
    EXPECT_EQ(NextWaitMs(3, 281, timing), 36 + 5);
    // A cycle that overran by far gives a wait of zero or less (no wait at all).
    EXPECT_LE(NextWaitMs(3, 1000, timing), 0);
    // After a wait ended early by a stop, the base is reset to the time after it.
    timing = WaitTiming{2000, 0};
    EXPECT_EQ(NextWaitMs(5, 2000, timing), 60);
}

struct Played {
    std::vector<std::size_t> frames;
    std::vector<int> waits;
};

// Runs the schedule for at most `limit` steps.
Played Play(const GifAnimation& animation, std::size_t limit = 100) {
    PassSchedule schedule(animation);
    Played played;
    while (played.frames.size() < limit) {
        const auto step = schedule.Next();
        if (!step)
            break;
        played.frames.push_back(step->frame);
        played.waits.push_back(step->waitUnitsBefore);
    }
    return played;
}

GifAnimation ThreeFrames(std::optional<int> loopCount, std::size_t loopFrame = 0) {
    GifAnimation animation =
        test::Animation(1, 1, {WithDelay(4), WithDelay(0), Frame(0, 0, 1, 1, test::kBlue, 7, 1)});
    animation.frames[loopFrame].loopCount = loopCount;
    return animation;
}

using Frames = std::vector<std::size_t>;

TEST(PassSchedule, LoopCountsGivePassesInAll) {
    // Without loop extension: one pass.
    Played once = Play(ThreeFrames(std::nullopt));
    EXPECT_EQ(once.frames, (Frames{0, 1, 2}));
    // Each frame's delay is waited before the next; the very first frame comes at once.
    EXPECT_EQ(once.waits, (std::vector<int>{0, 4, 10}));

    EXPECT_EQ(Play(ThreeFrames(1)).frames, (Frames{0, 1, 2}));

    Played thrice = Play(ThreeFrames(3));
    EXPECT_EQ(thrice.frames, (Frames{0, 1, 2, 0, 1, 2, 0, 1, 2}));
    // The last frame's delay is waited before a new pass starts.
    EXPECT_EQ(thrice.waits[3], 7);

    // Zero: without end.
    EXPECT_EQ(Play(ThreeFrames(0), 30).frames.size(), 30u);
}

TEST(PassSchedule, LaterPassesStartAtTheLoopFrameAndOnlyTheFirstLoopBlockCounts) {
    EXPECT_EQ(Play(ThreeFrames(2, 1)).frames, (Frames{0, 1, 2, 1, 2}));

    GifAnimation twoBlocks = ThreeFrames(2, 0);
    twoBlocks.frames[2].loopCount = 0; // met later: ignored, so no endless loop
    EXPECT_EQ(Play(twoBlocks).frames, (Frames{0, 1, 2, 0, 1, 2}));
}

TEST(PassSchedule, AFrameWithoutImageEndsEveryPass) {
    GifAnimation animation = ThreeFrames(2);
    animation.frames[1].pixels.clear();
    EXPECT_EQ(Play(animation).frames, (Frames{0, 0}));

    // A loop block on a frame without image is never read.
    GifAnimation blocked = ThreeFrames(std::nullopt);
    blocked.frames[2].pixels.clear();
    blocked.frames[2].loopCount = 0;
    EXPECT_EQ(Play(blocked).frames, (Frames{0, 1}));

    GifAnimation nothing = ThreeFrames(0);
    nothing.frames[0].pixels.clear();
    EXPECT_TRUE(Play(nothing).frames.empty());
}

} // namespace
} // namespace vornel::app
