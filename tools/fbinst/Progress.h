#pragma once
// The tool's side of the progress channel (progress/ProgressRecord.h). The channel is the tool's
// standard input, and only when the window offered it: the environment says so (or, through
// pkexec, which clears the environment, an internal argument) and standard input is one end of a
// socket pair.
// Writing to a descriptor the caller gave us never lets a user make root write anywhere the user
// could not: root opens nothing for the channel.

#include "progress/ProgressRecord.h"

#include <cstdint>

namespace vornel::fbinst {

// The elevated form's internal argument, right after kElevatedMarker, that opens the channel.
extern const char* const kProgressMarker;

// True when the window offered the channel to this process through the environment.
bool ProgressOffered();
// Reports from now on, when standard input is one end of a socket pair.
void OpenProgressChannel();

// Sends one record; does nothing without a channel, and never waits for a reader.
void ReportProgress(progress::Phase phase, std::uint64_t done, std::uint64_t total);
// True when records go out.
bool ProgressChannelOpen();

} // namespace vornel::fbinst
