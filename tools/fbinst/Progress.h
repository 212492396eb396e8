#pragma once
// The tool's side of the progress channel (progress/ProgressRecord.h). The channel is the tool's
// standard input, and only when the window offered it: the environment says so (or, through
// pkexec, which clears the environment, an internal argument) and standard input is one end of a
// socket pair.
// Writing to a descriptor the caller gave us never lets a user make root write anywhere the user
// could not: root opens nothing for the channel.

#include "progress/ProgressRecord.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vornel::fbinst {

// The elevated form's internal argument, right after kElevatedMarker, that opens the channel.
extern const char* const kProgressMarker;

// True when the window offered the channel to this process.
bool ProgressOffered();
// Reports from now on, when standard input is one end of a socket pair.
void OpenProgressChannel();

// Sends one record; does nothing without a channel, and never waits for a reader.
void ReportProgress(progress::Phase phase, std::uint64_t done, std::uint64_t total);

// Reports one phase while it runs: a thread of its own samples `probe` every 100 ms and sends
// what rose, so the work itself is never slowed. Complete sends the whole. Without a channel no
// thread is started.
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

// How far a child process of this one has read the file at `path` (its read position, which
// mcopy advances as it copies); 0 until one has it open. Never falls.
std::function<std::uint64_t()> ChildReadPosition(const std::string& path);

} // namespace vornel::fbinst
