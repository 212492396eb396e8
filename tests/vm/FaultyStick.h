#pragma once
// USB sticks that misbehave on purpose, for the test machine: the machine's QEMU reaches the
// stick's bytes through an NBD server of the test's own, on a unix socket, so the guest sees a
// real removable USB mass-storage device whose flash keeps less than it reports, or garbles a
// block, as counterfeit and dying sticks do.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace vornel::vm {

enum class StickFault {
    // Writes beyond the real capacity land at their place modulo it, over the stick's first part.
    Wraps,
    // Writes beyond the real capacity are lost; reads there give zeros.
    DropsBeyond,
    // Every read of a sector that holds the marker gives the byte after it flipped: a block the
    // stick does not keep, wherever the file holding the marker is written.
    GarblesMarkedSector,
};

struct FaultyStickSetup {
    std::string backing;         // a file of `realBytes`, the stick's flash (made when missing)
    std::uint64_t reportedBytes; // the capacity the stick reports
    std::uint64_t realBytes;     // what its flash holds
    StickFault fault;
    std::string marker; // for GarblesMarkedSector
};

class FaultyStick {
  public:
    // Serves the stick on `socketPath` until destroyed. Throws std::runtime_error when it cannot.
    FaultyStick(std::string socketPath, FaultyStickSetup setup);
    ~FaultyStick();
    FaultyStick(const FaultyStick&) = delete;
    FaultyStick& operator=(const FaultyStick&) = delete;

    // What GuestMachine::Plug takes as the stick's image.
    std::string QemuFile() const { return "nbd:unix:" + socketPath_; }

  private:
    void Serve();
    void Session(int connection);
    void Read(std::uint64_t offset, char* data, std::uint32_t length) const;
    void Write(std::uint64_t offset, const char* data, std::uint32_t length) const;

    std::string socketPath_;
    FaultyStickSetup setup_;
    int backing_ = -1;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::thread server_;
};

} // namespace vornel::vm
