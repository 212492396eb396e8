#pragma once
// The disk tool's core: a command line is parsed once and its drive letter resolved once, only
// through the platform's removable set, into the checked target the command then runs on. Who
// runs it, and with which rights, is Rights.h's concern.

#include "disktool/CommandLines.h"
#include "platform/Drives.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace vornel::fbinst {

// The tool works on the command the window and the tool share.
using disktool::Command;
using disktool::Verb;

// The drive a command works on: the letter's target in the removable set, and its path made
// absolute, which the helper programs it is handed to can never take for an option.
struct CheckedTarget {
    platform::DriveTarget drive;
    std::string path;
};

// Throws Failure saying why when `letter` is not a removable drive.
CheckedTarget ResolveTarget(char letter, const platform::LinuxDriveSources& sources);

// A command line parsed and its letter resolved, once.
struct CheckedCommand {
    Command command;
    CheckedTarget target;
};

// Throws disktool::UsageError for a command line that is wrong, Failure for a letter that is not
// a removable drive.
CheckedCommand CheckCommand(const std::vector<std::string>& args, const platform::LinuxDriveSources& sources);

// Opens the target's drive (checked and locked for the whole command), makes sure nothing of it
// is mounted when the command writes, and runs the command. Throws Failure.
void RunCommand(const CheckedCommand& checked, const std::string& sysfsRoot, std::ostream& out);

// Runs `work` and returns its exit code, or reports what it threw on `err` ("fbinst: " and the
// message, the usage text after a UsageError) and returns the exit code for it.
int ExitCodeOf(const std::function<int()>& work, std::ostream& err);

} // namespace vornel::fbinst
