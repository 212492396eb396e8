#pragma once
// The one kind of error the disk tool reports: its message goes to stderr as it stands and the
// tool exits with its code (disktool/ExitCodes.h), which tells the window what went wrong where
// the message alone would not.

#include "disktool/ExitCodes.h"

#include <stdexcept>
#include <string>

namespace vornel::fbinst {

class Failure : public std::runtime_error {
  public:
    explicit Failure(const std::string& message, int exitCode = disktool::kExitFailure)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int ExitCode() const { return exitCode_; }

  private:
    int exitCode_;
};

} // namespace vornel::fbinst
