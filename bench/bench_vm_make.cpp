// The whole make on a stick that behaves like one: the test machine (tests/vm) with its USB stick
// throttled to a real stick's pace, and bench_make --device run in it, which times the make (its
// verifying reads apart) against dd bs=4M oflag=direct of the same bytes to the same stick, and the
// verifying reads against a plain direct read of them, in one run.

#include "vm/GuestMachine.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

using namespace vornel::vm;
using namespace std::chrono_literals;

// A cheap stick's pace: 20 MiB/s written, 80 MiB/s read.
const char* const kThrottle = "throttling.bps-write=20971520,throttling.bps-read=83886080";
constexpr off_t kStickBytes = off_t{1536} << 20;

} // namespace

int main() {
    MachineSetup setup;
    setup.folder = BENCH_VM_FOLDER;
    setup.kitFolder = VORNEL_VM_KIT_FOLDER;
    setup.sourceDir = VORNEL_SOURCE_TREE;
    setup.memoryMiB = 3072; // the 1 GiB custom image lives in the guest's memory
    setup.lifetime = 3600s;
    try {
        StartMachine(setup);
    } catch (const GuestKitMissing& missing) {
        std::printf("bench_vm_make: no test machine here: %s", missing.what());
        return 0;
    } catch (const GuestError& error) {
        std::fprintf(stderr, "bench_vm_make: %s\n", error.what());
        return 1;
    }
    int status = 1;
    try {
        const std::string image = setup.folder + "/stick.img";
        const int fd = ::open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::ftruncate(fd, kStickBytes) != 0)
            throw GuestError("cannot make " + image);
        ::close(fd);
        const GuestMachine machine(setup.folder);
        machine.Plug("bench", image, kThrottle);
        std::printf("the test machine's stick: %lld MiB, %s\n", static_cast<long long>(kStickBytes >> 20), kThrottle);
        std::fflush(stdout);
        const std::string device = "/dev/disk/by-id/usb-QEMU_QEMU_HARDDISK_bench-0:0";
        const GuestRun run = machine.Run("for i in $(seq 300); do [ -b " + device +
                                             " ] && break; sleep 0.2; done\nudevadm settle\n" VORNEL_BUILD_TREE
                                             "/bench/bench_make --device $(readlink -f " +
                                             device + ") 2>&1",
                                         3000s);
        std::printf("%s", run.output.c_str());
        status = run.exitCode;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_vm_make: %s\n", error.what());
    }
    StopMachine(setup.folder);
    std::filesystem::remove_all(setup.folder);
    return status;
}
