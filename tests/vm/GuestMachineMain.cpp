// vm_machine: the test machine by hand, and the test run's start and stop of it.
//
//   vm_machine start                 boots it (kernel, udev, the host's root) and waits for it
//   vm_machine run [SECONDS] <FILE   runs the script FILE in it as root; prints what it wrote and
//                                    exits with its exit code
//   vm_machine plug NAME IMAGE [OPTS] plugs a USB stick backed by the file IMAGE
//   vm_machine unplug NAME           pulls it out
//   vm_machine monitor COMMAND...    one command of QEMU's monitor
//   vm_machine stop                  powers it off
//
// The machine's folder is $VORNEL_VM_FOLDER, by default the one the tests use.

#include "vm/GuestMachine.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace vornel::vm;

int Usage() {
    std::cerr
        << "usage: vm_machine start | run [SECONDS] <SCRIPT | plug NAME IMAGE [DRIVE_OPTIONS] | unplug NAME"
           " | monitor COMMAND... | stop\n";
    return 2;
}

int Main(const std::vector<std::string>& args) {
    const char* folderVariable = std::getenv("VORNEL_VM_FOLDER");
    const std::string folder = folderVariable ? folderVariable : VORNEL_VM_FOLDER;
    if (args.empty())
        return Usage();
    const std::string& verb = args[0];
    if (verb == "start" && args.size() == 1) {
        MachineSetup setup;
        setup.folder = folder;
        setup.kitFolder = VORNEL_VM_KIT_FOLDER;
        setup.sourceDir = VORNEL_SOURCE_TREE;
        try {
            StartMachine(setup);
        } catch (const GuestKitMissing& missing) {
            // The cases skip themselves when they find this.
            std::ofstream(NoKitMarker(folder)) << missing.what();
            std::cerr << missing.what();
            return kNoKitExitCode;
        }
        std::cout << "the machine runs; its folder is " << folder << "\n";
        return 0;
    }
    if (verb == "stop" && args.size() == 1) {
        StopMachine(folder);
        return 0;
    }
    const GuestMachine machine(folder);
    if (verb == "run" && args.size() <= 2) {
        const std::string script(std::istreambuf_iterator<char>(std::cin), {});
        const GuestRun run =
            machine.Run(script, std::chrono::seconds(args.size() == 2 ? std::stoi(args[1]) : 600));
        std::cout << run.output;
        return run.exitCode;
    }
    if (verb == "plug" && (args.size() == 3 || args.size() == 4)) {
        machine.Plug(args[1], args[2], args.size() == 4 ? args[3] : "");
        return 0;
    }
    if (verb == "unplug" && args.size() == 2) {
        machine.Unplug(args[1]);
        return 0;
    }
    if (verb == "monitor" && args.size() >= 2) {
        std::string command;
        for (std::size_t i = 1; i < args.size(); ++i)
            command += (i > 1 ? " " : "") + args[i];
        std::cout << machine.Monitor(command) << "\n";
        return 0;
    }
    return Usage();
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Main(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::cerr << "vm_machine: " << error.what() << "\n";
        return 1;
    }
}
