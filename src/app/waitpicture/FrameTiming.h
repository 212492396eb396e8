#pragma once
// When the wait picture's frames are painted: how long each frame stays, how a wait makes up
// for the previous one's overrun, and which frames the passes of the animation show.

#include "app/waitpicture/GifAnimation.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vornel::app {

constexpr int kMillisecondsPerDelayUnit = 12;
constexpr int kDefaultDelayUnits = 10; // no graphic control extension, or a delay of 0
constexpr int kSmallestDelayUnits = 3;

// How long the frame stays on screen, in GIF delay units.
int FrameDelayUnits(const GifFrame& frame);

// The time of the last wait computation and the wait it gave.
struct WaitTiming {
    std::int64_t baseMs = 0;
    std::int64_t lastWaitMs = 0;
};

// The wait before the next frame: the pending delay less half of the time by which the
// previous cycle overran its planned wait. Updates `timing` for the next call.
std::int64_t NextWaitMs(int pendingUnits, std::int64_t nowMs, WaitTiming& timing);

// The frames to paint, pass after pass. A pass runs from the restart frame up to the last
// frame or to the first frame without image. The first loop extension met sets the number of
// passes in all (0: without end) and makes its frame the restart frame; without one the
// animation plays once.
class PassSchedule {
  public:
    struct Step {
        std::size_t frame;   // the frame to paint
        int waitUnitsBefore; // the pending wait to keep before painting it (0 at the very start)
    };

    explicit PassSchedule(const GifAnimation& animation) : animation_(animation) {}

    // The next frame, or nothing when the animation has ended.
    std::optional<Step> Next();

  private:
    static constexpr int kEndless = -1;

    const GifAnimation& animation_;
    std::size_t index_ = 0;
    std::size_t restart_ = 0;
    int remainingPasses_ = 1;
    bool loopSeen_ = false;
    int pendingUnits_ = 0;
};

} // namespace vornel::app
