// fbinst.exe: the disk tool the boot disk maker drives through fixed command lines.

#include "Tool.h"

#include <iostream>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return vornel::fbinst::RunFbinst(args, vornel::platform::SystemDriveSources(), std::cout, std::cerr);
}
