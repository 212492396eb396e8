#pragma once
// Rights on the device: the window runs as the user, and only this tool needs a stick's block
// device. Run as a user against a block device, the tool runs itself again as root through
// pkexec; image drives never need rights.

#include "platform/Drives.h"

#include <ostream>
#include <string>
#include <vector>

namespace vornel::fbinst {

// First argument of the command line run as root, followed by kProgressMarker when the window
// offered the progress channel, the device path the user's side resolved, its VORNEL_DRIVES
// value, its working folder and then the user's own arguments.
extern const char* const kElevatedMarker;

// How the tool asks for root rights.
struct Elevation {
    std::string launcher = "pkexec"; // looked up on PATH
    std::string tool;                // the executable run as root
};

// The launcher is pkexec; the tool is the installed copy the polkit policy names, when it is
// there and root's own, otherwise this executable.
Elevation SystemElevation();

// Parses the command and resolves its target once. As root: runs it. As a user with a block
// device target: becomes `elevation` (never returns then; the launcher's exit code is the tool's,
// see disktool/ExitCodes.h), or returns disktool::kExitNoRights with a clear message when the
// launcher is missing. Every other case runs the command directly, or reports what is wrong. The
// elevated form (kElevatedMarker first) runs only as root; it parses and resolves for itself, and
// runs the command on that target only when it is the block device the user's side named.
int RunFbinstWithRights(const std::vector<std::string>& args, const platform::LinuxDriveSources& sources,
                        const Elevation& elevation, std::ostream& out, std::ostream& err);

} // namespace vornel::fbinst
