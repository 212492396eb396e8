#pragma once
// The one kind of error the disk tool reports: its message goes to stderr as it stands and the
// tool exits non-zero.

#include <stdexcept>
#include <string>

namespace vornel::fbinst {

class Failure : public std::runtime_error {
  public:
    explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

} // namespace vornel::fbinst
