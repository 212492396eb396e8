#pragma once
// Finding the program a command names, as a shell would, without a shell.

#include <optional>
#include <string>

namespace vornel::platform {

// A name holding "/" is its own path. A bare name is looked for in the folders of $PATH, then in
// /usr/sbin, /sbin, /usr/bin and /bin (a desktop's PATH often lacks the sbin folders); the first
// executable found wins. nullopt when there is none.
std::optional<std::string> FindProgram(const std::string& name);

} // namespace vornel::platform
