#pragma once
// One phase's progress reported while it runs, sampled by a thread of its own so the work itself
// is never slowed.

#include "Progress.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace vornel::fbinst {

// Samples `probe` every 100 ms and sends what rose; Complete sends the whole. Without a channel
// no thread is started.
class ProgressWatch {
  public:
    ProgressWatch(progress::Phase phase, std::uint64_t total, std::function<std::uint64_t()> probe);
    ~ProgressWatch();
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

    void Complete();

  private:
    void Stop();

    progress::Phase phase_;
    std::uint64_t total_;
    std::function<std::uint64_t()> probe_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread sampler_;
};

} // namespace vornel::fbinst
