#pragma once
// What the window shows of a running make or restore: the step, a bar for the step (the copy of
// one file, its read-back, or format's steps), a bar for the whole operation by bytes, the speed
// and the time left. Fed with the steps as the operation starts them and the tool's records.

#include "progress/ProgressRecord.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

namespace vornel::progress {

using Clock = std::chrono::steady_clock;

struct StepInfo {
    std::string doing;       // "正在复制文件 boot/a.img"
    std::string checking;    // shown while the copy is read back; empty for steps without a file
    std::uint64_t bytes = 0; // the file's size; 0 for steps without a file
    std::string capacity;    // shown while the stick's capacity is checked, a step of its own before
                             // the rest of the command; empty for commands without the check
};

struct ProgressView {
    std::string step;
    int stepPercent = 0;
    int overallPercent = 0;
    std::string speed;    // empty until it can be told
    std::string timeLeft; // empty until it can be told
};

class OperationProgress {
  public:
    // `totalBytes`: the sizes of all the files the operation copies; `steps`: how many it runs.
    OperationProgress(std::uint64_t totalBytes, std::size_t steps);

    void Begin(const StepInfo& step);
    void Apply(const Record& record, Clock::time_point now);
    // The step has ended well: its file counts whole.
    void Finish();
    // The step has failed: the view stays where it stopped.
    void Fail();

    ProgressView View(Clock::time_point now) const;

  private:
    std::uint64_t WorkDone() const;

    std::uint64_t totalWork_;
    std::size_t steps_;
    std::size_t stepsDone_ = 0;
    StepInfo step_;
    std::uint64_t finishedWork_ = 0;
    Record latest_;
    std::uint64_t copied_ = 0;
    std::uint64_t checked_ = 0;
    double stepFraction_ = 0;
    double capacityFraction_ = 0;
    bool failed_ = false;
    struct Sample {
        Clock::time_point at;
        std::uint64_t work;
    };
    std::deque<Sample> samples_;
};

// "12.3 MB/s"; "约 1 分 05 秒" and the like.
std::string SpeedText(double bytesPerSecond);
std::string TimeLeftText(double seconds);

} // namespace vornel::progress
