// fbinst.exe: the disk tool the boot disk maker drives through fixed command lines.

#include "Rights.h"

#include <iostream>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return vornel::fbinst::RunFbinstWithRights(args, vornel::platform::SystemDriveSources(),
                                               vornel::fbinst::SystemElevation(), std::cout, std::cerr);
}
