#include "ProgressWatch.h"

#include <algorithm>
#include <chrono>

namespace vornel::fbinst {

namespace {

constexpr auto kSampleEvery = std::chrono::milliseconds(100);

} // namespace

ProgressWatch::ProgressWatch(progress::Phase phase, std::uint64_t total, std::function<std::uint64_t()> probe)
    : phase_(phase), total_(total), probe_(std::move(probe)) {
    if (!ProgressChannelOpen())
        return;
    ReportProgress(phase_, 0, total_);
    sampler_ = std::thread([this] {
        std::uint64_t reported = 0;
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, kSampleEvery, [this] { return stopping_; })) {
            const std::uint64_t now = std::min(probe_(), total_);
            if (now > reported)
                ReportProgress(phase_, reported = now, total_);
        }
    });
}

ProgressWatch::~ProgressWatch() {
    Stop();
}

void ProgressWatch::Stop() {
    if (!sampler_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    sampler_.join();
}

void ProgressWatch::Complete() {
    Stop();
    ReportProgress(phase_, total_, total_);
}

} // namespace vornel::fbinst
