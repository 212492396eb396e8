#pragma once
// The test machine: a QEMU guest (software emulation) running Debian's kernel and udev over the
// host's own root file system (read-only, under a tmpfs overlay), so the guest has the built
// program and every tool of the host, with a USB controller that sticks are plugged into and
// pulled out of like real ones. One boot serves many test cases: the machine runs on its own,
// reached through its folder, and any process can plug sticks and run scripts in it.
//
// The folder holds: machine.pid (the process that bounds QEMU's life), monitor.sock (QEMU's
// monitor), console.log (the guest's console: kernel and agent), qemu.log, and share/ (a
// folder shared with the guest, where tests/vm/guest/agent.sh takes its jobs).

#include <chrono>
#include <stdexcept>
#include <string>

namespace vornel::vm {

// What a script run in the guest wrote (stdout and stderr together) and its exit code (124
// when its time-out ended it).
struct GuestRun {
    int exitCode = -1;
    std::string output;
};

// Thrown when the machine cannot be started or reached.
struct GuestError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct MachineSetup {
    std::string folder;    // the machine's folder (made afresh)
    std::string kitFolder; // kernel, initramfs and udev, made by tests/vm/kit/make-kit.sh (kept)
    std::string sourceDir; // the source tree, for the kit script and the guest agent
    std::chrono::seconds bootBound{240};
    // The machine powers off by itself after this, so none outlives an interrupted test run.
    std::chrono::seconds lifetime{3600};
    int memoryMiB = 1024;
};

// The kit script's exit code when the kit cannot be made here (no kernel or udev package in the
// cache): the machine's tests are skipped rather than failed.
inline constexpr int kNoKitExitCode = 77;

struct GuestKitMissing : GuestError {
    using GuestError::GuestError;
};

// A file in the machine's folder that says why no machine could be started here; test cases
// skip themselves when it is there.
inline std::string NoKitMarker(const std::string& folder) {
    return folder + "/no-kit";
}

// Makes the kit when needed, boots the machine and returns once its agent is ready (udev has
// announced every device). Stops a machine left running in the folder first. Throws GuestError
// with the guest's console on failure, GuestKitMissing when the kit cannot be made here.
void StartMachine(const MachineSetup& setup);

// Powers the machine in `folder` off; nothing when none runs.
void StopMachine(const std::string& folder);

class GuestMachine {
  public:
    explicit GuestMachine(std::string folder);

    // Runs `script` with sh in the guest, as root, from /, after the scripts run before it
    // (one at a time), for at most `bound`. Throws GuestError when the machine is gone.
    GuestRun Run(const std::string& script, std::chrono::seconds bound) const;

    // Plugs a USB stick (usb-storage, removable) backed by the image file `image` into the
    // guest's xhci controller. Its USB serial is `name` (letters, digits, '-'), so a script finds
    // it as /dev/disk/by-id/usb-*_NAME-0:0. `driveOptions` are more QEMU -drive options, for
    // sticks that misbehave on purpose (throttling.bps-write=..., a blkdebug: file, an nbd: one).
    void Plug(const std::string& name, const std::string& image, const std::string& driveOptions = "") const;
    // Pulls the stick out and returns once QEMU has closed its image file.
    void Unplug(const std::string& name) const;

    // One command of QEMU's human monitor, and what it answered.
    std::string Monitor(const std::string& command) const;
    // The guest's console so far (kernel messages, the agent's lines).
    std::string Console() const;

  private:
    std::string folder_;
};

} // namespace vornel::vm
