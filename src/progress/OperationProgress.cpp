#include "progress/OperationProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vornel::progress {

namespace {

// The speed is measured over this much of the recent past, so it follows a stick that slows down.
constexpr auto kSpeedWindow = std::chrono::seconds(5);
constexpr auto kShortestMeasure = std::chrono::milliseconds(800);

int Percent(double fraction) {
    return static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0);
}

double Fraction(std::uint64_t done, std::uint64_t total) {
    return total == 0 ? 0.0 : static_cast<double>(done) / static_cast<double>(total);
}

} // namespace

// Copying a file and reading it back are both work: each byte counts twice.
OperationProgress::OperationProgress(std::uint64_t totalBytes, std::size_t steps)
    : totalWork_(2 * totalBytes), steps_(steps) {}

void OperationProgress::Begin(const StepInfo& step) {
    step_ = step;
    latest_ = Record{};
    copied_ = checked_ = 0;
    stepFraction_ = capacityFraction_ = 0;
    failed_ = false;
}

void OperationProgress::Apply(const Record& record, Clock::time_point now) {
    if (failed_)
        return;
    // The capacity check is a step of its own: the command's next record ends it.
    if (latest_.phase == Phase::Capacity && record.phase != Phase::Capacity)
        ++stepsDone_;
    latest_ = record;
    switch (record.phase) {
    case Phase::Capacity:
        capacityFraction_ = std::max(capacityFraction_, Fraction(record.done, record.total));
        return;
    case Phase::Step:
        stepFraction_ = std::max(stepFraction_, Fraction(record.done, record.total));
        return;
    case Phase::Copy:
        copied_ = std::max(copied_, std::min(record.done, step_.bytes));
        break;
    case Phase::Check:
        copied_ = step_.bytes;
        checked_ = std::max(checked_, std::min(record.done, step_.bytes));
        break;
    }
    samples_.push_back({now, WorkDone()});
    while (samples_.size() > 2 && now - samples_[1].at > kSpeedWindow)
        samples_.pop_front();
}

void OperationProgress::Finish() {
    finishedWork_ += 2 * step_.bytes;
    copied_ = checked_ = 0;
    step_.bytes = 0;
    stepFraction_ = capacityFraction_ = 0;
    ++stepsDone_;
}

void OperationProgress::Fail() {
    failed_ = true;
}

std::uint64_t OperationProgress::WorkDone() const {
    return std::min(totalWork_, finishedWork_ + copied_ + checked_);
}

ProgressView OperationProgress::View(Clock::time_point now) const {
    ProgressView view;
    const bool checking = latest_.phase == Phase::Check && !step_.checking.empty();
    const bool capacity = latest_.phase == Phase::Capacity && !step_.capacity.empty();
    view.step = (failed_ ? "出错停止：" : "") + (capacity   ? step_.capacity
                                                 : checking ? step_.checking
                                                            : step_.doing);
    const double stepFraction = capacity ? capacityFraction_ : stepFraction_;
    if (step_.bytes > 0)
        view.stepPercent = Percent(Fraction(checking ? checked_ : copied_, step_.bytes));
    else
        view.stepPercent = Percent(stepFraction);
    view.overallPercent = totalWork_ > 0 ? Percent(Fraction(WorkDone(), totalWork_))
                                         : Percent((static_cast<double>(stepsDone_) + stepFraction) /
                                                   static_cast<double>(std::max<std::size_t>(steps_, 1)));
    if (failed_ || samples_.size() < 2 || now - samples_.back().at > kSpeedWindow)
        return view;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const std::chrono::duration<double> span = last.at - first.at;
    if (span < kShortestMeasure || last.work <= first.work)
        return view;
    const double speed = static_cast<double>(last.work - first.work) / span.count();
    view.speed = SpeedText(speed);
    view.timeLeft = TimeLeftText(static_cast<double>(totalWork_ - last.work) / speed);
    return view;
}

std::string SpeedText(double bytesPerSecond) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1048576.0);
    return text;
}

std::string TimeLeftText(double seconds) {
    const long total = std::lround(std::max(seconds, 1.0));
    char text[48];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "约 %ld 小时 %02ld 分", total / 3600, total % 3600 / 60);
    else if (total >= 60)
        std::snprintf(text, sizeof text, "约 %ld 分 %02ld 秒", total / 60, total % 60);
    else
        std::snprintf(text, sizeof text, "约 %ld 秒", total);
    return text;
}

} // namespace vornel::progress
