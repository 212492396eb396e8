#pragma once
// udev's watch on a disk. udev watches block devices for a writer's close: it then re-reads the
// partition table when it can take the disk's lock (which removes every partition and adds it
// again, so desktops see new partitions and may mount them), and only announces a change when a
// program still holds the lock.

#include <chrono>
#include <string>
#include <sys/types.h>

namespace vornel::fbinst {

// Whether udev watches the disk for closes (systemd's udev keeps a link per watched device
// number under /run/udev/watch/).
bool UdevWatches(dev_t disk, const std::string& udevRoot = "/run/udev");

// The kernel's device events, heard from its creation on.
class KernelEvents {
  public:
    KernelEvents();
    ~KernelEvents();
    KernelEvents(const KernelEvents&) = delete;
    KernelEvents& operator=(const KernelEvents&) = delete;

    // Waits at most `bound` for the "change" events of the block device named `name` ("sda"), as
    // udev sends one when it sees the disk closed while locked: until `quiet` has passed without
    // another (udev answers closes in order, a helper program's before the tool's own). False
    // when none came.
    bool WaitForChange(const std::string& name, std::chrono::milliseconds bound,
                       std::chrono::milliseconds quiet);

  private:
    int socket_ = -1;
};

// Whether a kernel event message ("ACTION@DEVPATH", then NUL-separated KEY=VALUE fields) is a
// "change" of the block device `name`.
bool IsChangeOf(const std::string& message, const std::string& name);

} // namespace vornel::fbinst
