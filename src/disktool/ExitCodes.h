#pragma once
// The exit codes of the disk tool fbinst.exe, which the tool ends with and the window reads: the
// tool's own, and pkexec's, which become the tool's when it asks for rights on a stick.

namespace vornel::disktool {

// 0 is success. The reason for any other code is the last line the tool wrote on standard error.
constexpr int kExitFailure = 1;
// The command line is wrong; the usage text follows the reason.
constexpr int kExitUsage = 2;
// The stick needs administrator rights and they could not be asked for (pkexec is missing, or the
// root-only form was run as a user). Nothing was written.
constexpr int kExitNoRights = 3;
// The capacity check before a boot format found that the stick keeps less than it reports: marks
// written across it came back lost or mixed up. Nothing but the marks was written, and what they
// covered was put back.
constexpr int kExitFakeCapacity = 4;
// A copy read back from the stick's medium differs from its source: the stick does not keep what
// is written to it. The copy was removed.
constexpr int kExitCopyDiffers = 5;

// The tool becomes pkexec to ask for rights, so pkexec's refusals end it: the password dialog was
// dismissed, or the user is not authorized (or there was no authentication agent to ask).
constexpr int kExitRightsDismissed = 126;
constexpr int kExitRightsNotAuthorized = 127;

// True when the tool did not get the rights to write the stick.
constexpr bool GotNoRights(int exitCode) {
    return exitCode == kExitNoRights || exitCode == kExitRightsDismissed ||
           exitCode == kExitRightsNotAuthorized;
}

} // namespace vornel::disktool
