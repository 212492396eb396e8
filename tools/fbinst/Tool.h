#pragma once
// The disk tool as a whole: arguments in, exit code out. The drive letter resolves only through
// the platform's removable set.

#include "platform/Drives.h"

#include <ostream>
#include <string>
#include <vector>

namespace vornel::fbinst {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// `args` are the arguments after the program name. Messages go to `err`, prefixed "fbinst: ".
int RunFbinst(const std::vector<std::string>& args, const platform::LinuxDriveSources& sources,
              std::ostream& out, std::ostream& err);

} // namespace vornel::fbinst
