#include "app/waitpicture/FrameTiming.h"

#include <algorithm>

namespace vornel::app {

int FrameDelayUnits(const GifFrame& frame) {
    if (!frame.hasControl || frame.delay == 0)
        return kDefaultDelayUnits;
    return std::max(frame.delay, kSmallestDelayUnits);
}

std::int64_t NextWaitMs(int pendingUnits, std::int64_t nowMs, WaitTiming& timing) {
    const std::int64_t overrun = nowMs - timing.baseMs - timing.lastWaitMs;
    const std::int64_t wait = std::int64_t{pendingUnits} * kMillisecondsPerDelayUnit - overrun / 2;
    timing.lastWaitMs = wait;
    timing.baseMs = nowMs;
    return wait;
}

std::optional<PassSchedule::Step> PassSchedule::Next() {
    const auto& frames = animation_.frames;
    while (remainingPasses_ != 0) {
        if (index_ < frames.size() && frames[index_].HasImage()) {
            const GifFrame& frame = frames[index_];
            const Step step{index_, pendingUnits_};
            if (!loopSeen_ && frame.loopCount) {
                loopSeen_ = true;
                remainingPasses_ = *frame.loopCount == 0 ? kEndless : *frame.loopCount;
                restart_ = index_;
            }
            pendingUnits_ = FrameDelayUnits(frame);
            ++index_;
            return step;
        }
        // The pass has ended. The restart frame always holds an image, so a new pass paints.
        if (remainingPasses_ > 0)
            --remainingPasses_;
        index_ = restart_;
    }
    return std::nullopt;
}

} // namespace vornel::app
