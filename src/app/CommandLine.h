#pragma once
// The program's own command-line options. Everything else on the line is left to Qt, which has
// options of its own (-platform, -display, -style...).

#include <string>

namespace vornel::app {

enum class CommandLineRequest { Run, Help, Version };

// --help (-h, -?) or --version (-v) anywhere on the line; the first one found wins.
CommandLineRequest ReadCommandLine(int argc, const char* const* argv);

// The texts printed for --help and --version, each ending with a line end.
std::string HelpText();
std::string VersionText();

} // namespace vornel::app
