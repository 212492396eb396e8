#pragma once
// udev's watch on a disk. udev watches block devices for a writer's close: it then re-reads the
// partition table when it can take the disk's lock (which removes every partition and adds it
// again, so desktops see new partitions and may mount them), and only announces a change when a
// program still holds the lock.

#include <chrono>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vornel::fbinst {

// Whether udev watches the disk for closes (systemd's udev keeps a link per watched device
// number under /run/udev/watch/).
bool UdevWatches(dev_t disk, const std::string& udevRoot = "/run/udev");

// udev's answer to a writer's close of a disk it watches, sent while a program holds the disk's
// lock: a "change" of the disk and of each of its partitions, one after the other.
class UdevAnswer {
  public:
    // `devices`: the disk's name and its partitions' ("sda", "sda1", ...).
    explicit UdevAnswer(const std::vector<std::string>& devices);
    // Notes a kernel event message ("ACTION@DEVPATH", then NUL-separated KEY=VALUE fields); true
    // when it is a "change" of one of the devices.
    bool Heard(const std::string& message);
    // Whether every device has been heard changed.
    bool Complete() const { return waiting_.empty(); }

  private:
    std::set<std::string> devices_;
    std::set<std::string> waiting_;
};

// The kernel's device events, heard from its creation on.
class KernelEvents {
  public:
    KernelEvents();
    ~KernelEvents();
    KernelEvents(const KernelEvents&) = delete;
    KernelEvents& operator=(const KernelEvents&) = delete;

    // Waits at most `bound` until `answer` is complete and `quiet` has passed without another of
    // its changes: udev answers closes in order, a helper program's before the tool's own, each
    // answer's changes sent together. False when no complete answer came.
    bool WaitForAnswer(UdevAnswer& answer, std::chrono::milliseconds bound, std::chrono::milliseconds quiet);

  private:
    int socket_ = -1;
};

} // namespace vornel::fbinst
